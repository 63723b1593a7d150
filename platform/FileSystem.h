// File system services.
//
// Every file, directory and drive operation of the component and the utility goes
// through a `FileSystem`. Paths are Windows-style texts: "\" and "/" both separate,
// "C:\x" names folder x on drive C (drives map to host folders, see the provider),
// "\srv\x" is rooted (absolute on the host), anything else is relative to the
// provider's current directory. Providers:
//   - the real Linux provider, `FileSystem::Default()`;
//   - for tests (the test-support library, tests/support): `MemFileSystem`,
//     everything in memory;
//   - `FaultFileSystem`, a forwarding wrapper that fails the Nth
//     operation of a kind or reports a chosen free space.
//
// Contract kept by every provider:
//   - Opening honours the Windows sharing modes of `FileMode` between all handles of
//     all processes using these services: an open that needs an access another
//     holder denies, or denies an access another holder has, fails with
//     kSharingViolation. No handle grants delete or rename: `DeleteFile` and
//     `RenameFile` fail while the file is open anywhere.
//   - A file with the read-only attribute cannot be opened for writing or created
//     over (kAccessDenied), whatever the process's privileges.
//   - Nothing throws: failures are reported by the return value and `LastError`.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace zw {

// File modes: access in the low two bits, sharing granted to others in bits 4-6,
// or fmCreate (create or truncate, read and write, others nothing).
namespace FileMode {
constexpr uint16_t fmOpenRead = 0x0000;
constexpr uint16_t fmOpenWrite = 0x0001;
constexpr uint16_t fmOpenReadWrite = 0x0002;
constexpr uint16_t fmShareCompat = 0x0000;
constexpr uint16_t fmShareExclusive = 0x0010;
constexpr uint16_t fmShareDenyWrite = 0x0020;
constexpr uint16_t fmShareDenyRead = 0x0030;
constexpr uint16_t fmShareDenyNone = 0x0040;
constexpr uint16_t fmCreate = 0xFFFF;
}  // namespace FileMode

// DOS file attribute bits.
namespace FileAttr {
constexpr int32_t faReadOnly = 0x01;
constexpr int32_t faHidden = 0x02;
constexpr int32_t faSysFile = 0x04;
constexpr int32_t faVolumeID = 0x08;
constexpr int32_t faDirectory = 0x10;
constexpr int32_t faArchive = 0x20;
constexpr int32_t faNormal = 0x80;  // an object with no DOS bit (device, fifo, socket)
}  // namespace FileAttr

// Windows-style system error numbers and their messages.
enum class OsErrorCode : int32_t {
  kNone = 0,
  kFileNotFound = 2,
  kPathNotFound = 3,
  kAccessDenied = 5,
  kInvalidHandle = 6,
  kNotReady = 21,
  kWriteFault = 29,
  kReadFault = 30,
  kSharingViolation = 32,
  kHandleDiskFull = 39,
  kNotSupported = 50,
  kFileExists = 80,
  kInvalidParameter = 87,
  kDiskFull = 112,
  kInvalidName = 123,
  kDirNotEmpty = 145,
  kAlreadyExists = 183,
  kInjectedFault = 1117,  // ERROR_IO_DEVICE: used by the fault-injecting provider
};

struct OsError {
  OsErrorCode code = OsErrorCode::kNone;
  std::string message;
};

std::string OsErrorMessage(OsErrorCode code);
OsError MakeOsError(OsErrorCode code);

enum class SeekOrigin { kBegin = 0, kCurrent = 1, kEnd = 2 };

// An open file. Reads and writes report the byte count done (-1 on failure).
class FileHandle {
 public:
  virtual ~FileHandle() = default;
  virtual int64_t Read(void* buffer, int64_t count) = 0;
  virtual int64_t Write(const void* buffer, int64_t count) = 0;
  // New position, or -1 on failure (position unchanged).
  virtual int64_t Seek(int64_t offset, SeekOrigin origin) = 0;
  virtual bool Truncate(int64_t size) = 0;  // sets the size; position is unchanged
  virtual bool Flush() = 0;
  virtual int64_t Size() = 0;
  virtual OsError LastError() const = 0;
};

// One entry yielded by a directory search.
struct TSearchRec {
  std::string Name;
  int64_t Size = 0;
  int32_t Attr = 0;
  int32_t Time = 0;  // DOS date (high word) and time (low word); 0 when unknown
};

enum class DriveType { kUnknown, kNoRootDir, kRemovable, kFixed, kRemote, kCdRom, kRamDisk };

class FileSystem {
 public:
  virtual ~FileSystem() = default;

  // The process-wide real provider.
  static FileSystem& Default();

  // Opens `path` with a `FileMode` value. Null on failure (see `LastError`).
  virtual std::unique_ptr<FileHandle> Open(const std::string& path, uint16_t mode) = 0;

  virtual bool FileExists(const std::string& path) = 0;       // an existing non-directory
  virtual bool DirectoryExists(const std::string& path) = 0;  // an existing directory
  // DOS attribute bits, or -1 when nothing of that name exists.
  virtual int32_t GetAttributes(const std::string& path) = 0;
  // Last-write time as DOS date-time (date high word); false when unknown (or a directory).
  virtual bool GetFileDate(const std::string& path, int32_t& dosDateTime) = 0;
  virtual bool DeleteFile(const std::string& path) = 0;
  virtual bool RenameFile(const std::string& from, const std::string& to) = 0;
  // Renames `from` to `to`, replacing a file of that name in one step: `to` names
  // either its old file or the new one, never neither (also across a crash). `to` is
  // taken as written, not looked for in another letter case (callers that want that
  // resolve the name first, with FindFiles): a tool writing many new files into one
  // folder then pays no search of the folder per file. Fails like RenameFile for
  // `from`, and with kAccessDenied when `to` is a folder or has the read-only
  // attribute, kSharingViolation when either file is open.
  virtual bool ReplaceFile(const std::string& from, const std::string& to) = 0;
  // Sets the last-write time (local DOS date-time) of an existing file.
  virtual bool SetFileDate(const std::string& path, int32_t dosDateTime) = 0;
  // Sets or clears the read-only attribute of an existing file.
  virtual bool SetReadOnly(const std::string& path, bool readOnly) = 0;
  // Whether `path` itself (not what it leads to) is a symbolic link; false when it is
  // not or does not exist. Providers without links always say false.
  virtual bool IsSymbolicLink(const std::string& path) = 0;
  // Makes the names in the folder that holds `path` durable on the device: files
  // created, deleted or renamed there survive a power cut once this returns true.
  // (File contents become durable through FileHandle::Flush.)
  virtual bool SyncFolderOf(const std::string& path) = 0;
  virtual bool CreateDirectory(const std::string& path) = 0;
  virtual bool RemoveDirectory(const std::string& path) = 0;

  // Entries of the directory part of `pattern` whose names match its last part
  // (Windows search rules: "*" and "?", letters without regard to case, "*.*" and
  // "name.*" also yield names without a dot). Entries with hidden, system,
  // volume-label or directory bits that `attrMask` lacks are left out. "." and ".."
  // are never yielded. Returns false when the directory cannot be read.
  virtual bool FindFiles(const std::string& pattern, int32_t attrMask,
                         std::vector<TSearchRec>& out) = 0;
  // The subdirectories among what FindFiles(`dir` + "*", attrMask | faDirectory)
  // yields; `dir` is empty (the current directory) or ends with a separator. A
  // provider may skip looking at plain files, which makes recursive searches of big
  // folders cheaper.
  virtual bool FindDirectories(const std::string& dir, int32_t attrMask,
                               std::vector<TSearchRec>& out);

  // `path` made absolute and spelled for messages as this host names it. The default
  // keeps the Windows spelling; a host with "/" names turns rooted paths back into them.
  virtual std::string DisplayName(const std::string& path);

  // Current directory, absolute, without trailing separator except at a root.
  virtual std::string GetCurrentDir() = 0;
  virtual bool SetCurrentDir(const std::string& path) = 0;

  // Folder for temporary files, with a trailing "\".
  virtual std::string GetTempDir() = 0;
  // Creates a new empty file "<prefix><hex>.tmp" in `dir` and returns its full path.
  virtual bool CreateTempFile(const std::string& dir, const std::string& prefix,
                              std::string& path) = 0;

  // Bytes available to the caller on the drive or file system holding `path`;
  // -1 when it cannot be told.
  virtual int64_t GetFreeSpace(const std::string& path) = 0;
  virtual DriveType GetDriveType(const std::string& root) = 0;
  virtual bool SetVolumeLabel(const std::string& root, const std::string& label) = 0;

  // The error of the last failed operation of this provider on this thread.
  virtual OsError LastError() const = 0;

  // Whether files may be opened and read on several threads at once, in no fixed
  // order, without changing what the provider does or counts. Only then does the
  // component read sources on worker threads; a provider that counts or orders its
  // operations (fault injection) says no and gets every read on the calling thread.
  virtual bool AllowsConcurrentReads() const { return false; }
};

// Process-wide active provider used by default by the component and the utility.
// Tests swap it; the holder restores the previous one when it goes away.
FileSystem& ActiveFileSystem();
class ScopedFileSystem {
 public:
  explicit ScopedFileSystem(FileSystem& fs);
  ~ScopedFileSystem();
  ScopedFileSystem(const ScopedFileSystem&) = delete;
  ScopedFileSystem& operator=(const ScopedFileSystem&) = delete;

 private:
  FileSystem* previous_;
};

// Forwards every call to another provider; the base of test doubles.
class ForwardingFileSystem : public FileSystem {
 public:
  explicit ForwardingFileSystem(FileSystem& target) : target_(target) {}
  std::unique_ptr<FileHandle> Open(const std::string& path, uint16_t mode) override {
    return target_.Open(path, mode);
  }
  bool FileExists(const std::string& p) override { return target_.FileExists(p); }
  bool DirectoryExists(const std::string& p) override { return target_.DirectoryExists(p); }
  int32_t GetAttributes(const std::string& p) override { return target_.GetAttributes(p); }
  bool GetFileDate(const std::string& p, int32_t& d) override { return target_.GetFileDate(p, d); }
  bool DeleteFile(const std::string& p) override { return target_.DeleteFile(p); }
  bool RenameFile(const std::string& a, const std::string& b) override {
    return target_.RenameFile(a, b);
  }
  bool ReplaceFile(const std::string& a, const std::string& b) override {
    return target_.ReplaceFile(a, b);
  }
  bool SetFileDate(const std::string& p, int32_t d) override { return target_.SetFileDate(p, d); }
  bool SetReadOnly(const std::string& p, bool r) override { return target_.SetReadOnly(p, r); }
  bool IsSymbolicLink(const std::string& p) override { return target_.IsSymbolicLink(p); }
  bool SyncFolderOf(const std::string& p) override { return target_.SyncFolderOf(p); }
  bool CreateDirectory(const std::string& p) override { return target_.CreateDirectory(p); }
  bool RemoveDirectory(const std::string& p) override { return target_.RemoveDirectory(p); }
  bool FindFiles(const std::string& p, int32_t m, std::vector<TSearchRec>& o) override {
    return target_.FindFiles(p, m, o);
  }
  bool FindDirectories(const std::string& d, int32_t m, std::vector<TSearchRec>& o) override {
    return target_.FindDirectories(d, m, o);
  }
  std::string DisplayName(const std::string& p) override { return target_.DisplayName(p); }
  std::string GetCurrentDir() override { return target_.GetCurrentDir(); }
  bool SetCurrentDir(const std::string& p) override { return target_.SetCurrentDir(p); }
  std::string GetTempDir() override { return target_.GetTempDir(); }
  bool CreateTempFile(const std::string& d, const std::string& pre, std::string& p) override {
    return target_.CreateTempFile(d, pre, p);
  }
  int64_t GetFreeSpace(const std::string& p) override { return target_.GetFreeSpace(p); }
  DriveType GetDriveType(const std::string& r) override { return target_.GetDriveType(r); }
  bool SetVolumeLabel(const std::string& r, const std::string& l) override {
    return target_.SetVolumeLabel(r, l);
  }
  OsError LastError() const override { return target_.LastError(); }
  // Not forwarded: a wrapper counts or changes operations unless it says otherwise.

 protected:
  FileSystem& target() { return target_; }
  const FileSystem& target() const { return target_; }

 private:
  FileSystem& target_;
};

}  // namespace zw

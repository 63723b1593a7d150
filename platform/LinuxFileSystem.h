// The real provider of the file system services on Linux.
//
// Drive letters map to the host folders named by ZW_DRIVE_A ... ZW_DRIVE_Z; a path
// on an unmapped drive fails with kPathNotFound, as a missing drive does. Sharing
// modes are kept with open-file-description locks on reserved byte ranges far
// beyond any real data, so they hold between processes and between handles of one
// process alike (only for programs that use these services). A file whose owner may
// not write carries the read-only attribute and is never opened for writing here,
// also under root. The current directory is the provider's own (it starts as the
// process's) and never changes the process's working directory. Searches leave out
// symbolic links to folders (so a recursive search never follows one); links to files
// are found as the files they name, and a path through a linked folder still works.
// Names are found the Windows way: a path that is missing as written reaches the
// entries that differ from it in letter case only (opening, creating, deleting,
// renaming, the existence and attribute queries, folders); several such entries
// yield the one equal in ASCII case first, then the byte-wise smallest. A path that
// exists as written costs nothing more.
#pragma once

#include <memory>
#include <mutex>

#include "FileSystem.h"

namespace zw {

class LinuxFileSystem : public FileSystem {
 public:
  LinuxFileSystem();

  std::unique_ptr<FileHandle> Open(const std::string& path, uint16_t mode) override;
  bool FileExists(const std::string& path) override;
  bool DirectoryExists(const std::string& path) override;
  int32_t GetAttributes(const std::string& path) override;
  bool GetFileDate(const std::string& path, int32_t& dosDateTime) override;
  bool DeleteFile(const std::string& path) override;
  bool RenameFile(const std::string& from, const std::string& to) override;
  bool ReplaceFile(const std::string& from, const std::string& to) override;
  bool SetFileDate(const std::string& path, int32_t dosDateTime) override;
  bool SetReadOnly(const std::string& path, bool readOnly) override;
  bool IsSymbolicLink(const std::string& path) override;
  bool SyncFolderOf(const std::string& path) override;
  std::string DisplayName(const std::string& path) override;
  bool CreateDirectory(const std::string& path) override;
  bool RemoveDirectory(const std::string& path) override;
  bool FindFiles(const std::string& pattern, int32_t attrMask,
                 std::vector<TSearchRec>& out) override;
  bool FindDirectories(const std::string& dir, int32_t attrMask,
                       std::vector<TSearchRec>& out) override;
  std::string GetCurrentDir() override;
  bool SetCurrentDir(const std::string& path) override;
  std::string GetTempDir() override;
  bool CreateTempFile(const std::string& dir, const std::string& prefix,
                      std::string& path) override;
  int64_t GetFreeSpace(const std::string& path) override;
  DriveType GetDriveType(const std::string& root) override;
  bool SetVolumeLabel(const std::string& root, const std::string& label) override;
  bool AllowsConcurrentReads() const override { return true; }
  OsError LastError() const override;

  // Host path of a Windows-style path (expanded against the current directory);
  // false with kPathNotFound when it has none (unmapped drive, UNC).
  bool ToHost(const std::string& path, std::string& host);

 private:
  bool Fail(OsErrorCode code);
  bool FailErrno(int err);
  bool Scan(const std::string& dir, const std::string& mask, int32_t attrMask, bool directoriesOnly,
            std::vector<TSearchRec>& out);
  mutable std::mutex mutex_;
  std::string currentDir_;
};

// Maps an errno value to the Windows-style error the callers expect.
OsErrorCode OsErrorFromErrno(int err);

}  // namespace zw

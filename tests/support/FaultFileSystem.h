// A forwarding provider that fails chosen operations, for fault-injection tests.
//
// Every operation is counted by kind. `FailNth(kind, n)` makes the n-th operation of
// that kind (1-based, counted from the last `Reset`) fail as the system would:
// opens and temp-file creation return nothing, reads and writes report -1 without
// touching the data, seeks and truncates fail and leave the file as it was, rename
// and delete fail and change nothing. `FailFrom` fails that one and every later one.
// `SetFreeSpace` makes GetFreeSpace report a chosen value. `BytesWritten` totals
// the bytes written through handles opened here.
//
// `CrashAt(n)` models the process dying: counting from the call, the n-th mutating
// operation and every operation of any kind after it fail (injected), the n-th
// itself without taking effect. Mutating operations are those that change the
// disk: Write, Truncate and Flush on handles, RenameFile, DeleteFile,
// CreateTempFile, SyncFolderOf, Open with fmCreate, CreateDirectory,
// RemoveDirectory and SetVolumeLabel. Once crashed, queries fail too (FileExists
// false, GetAttributes and GetFreeSpace -1, searches false, GetDriveType kUnknown,
// handle Size -1); only GetCurrentDir and GetTempDir, which cannot fail, still
// answer. A sweep runs an update once to learn `MutatingOps()`, then crashes it at
// each n in 1..that count (with a MemFileSystem target, SimulatePowerCut then
// shows what the disk holds). Reset ends the crash.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "FileSystem.h"

namespace zw {

enum class FaultOp {
  kOpen,
  kRead,
  kWrite,
  kSeek,
  kTruncate,
  kFlush,
  kRename,
  kDelete,
  kTempFile,
  kSyncFolder,
  kCount
};

const char* FaultOpName(FaultOp op);

class FaultFileSystem : public ForwardingFileSystem {
 public:
  explicit FaultFileSystem(FileSystem& target) : ForwardingFileSystem(target) {}

  void Reset();
  void FailNth(FaultOp op, int64_t n) { Arm(op, n, false); }
  void FailFrom(FaultOp op, int64_t n) { Arm(op, n, true); }
  void SetFreeSpace(std::optional<int64_t> bytes) { freeSpace_ = bytes; }
  // n < 1 disarms; an armed crash counts from this call, a crash that happened stays.
  void CrashAt(int64_t n);
  bool Crashed() const { return crashed_; }
  // Mutating operations attempted since the last Reset, up to the crash.
  int64_t MutatingOps() const;
  int64_t Count(FaultOp op) const;
  bool Triggered() const { return triggered_; }
  int64_t BytesWritten() const { return bytesWritten_; }
  std::map<std::string, int64_t> BytesWrittenByFile() const;

  std::unique_ptr<FileHandle> Open(const std::string& path, uint16_t mode) override;
  bool FileExists(const std::string& path) override;
  bool DirectoryExists(const std::string& path) override;
  int32_t GetAttributes(const std::string& path) override;
  bool GetFileDate(const std::string& path, int32_t& dosDateTime) override;
  bool DeleteFile(const std::string& path) override;
  bool RenameFile(const std::string& from, const std::string& to) override;
  bool SyncFolderOf(const std::string& path) override;
  bool CreateDirectory(const std::string& path) override;
  bool RemoveDirectory(const std::string& path) override;
  bool FindFiles(const std::string& pattern, int32_t attrMask,
                 std::vector<TSearchRec>& out) override;
  bool FindDirectories(const std::string& dir, int32_t attrMask,
                       std::vector<TSearchRec>& out) override;
  bool SetCurrentDir(const std::string& path) override;
  bool CreateTempFile(const std::string& dir, const std::string& prefix,
                      std::string& path) override;
  int64_t GetFreeSpace(const std::string& path) override;
  DriveType GetDriveType(const std::string& root) override;
  bool SetVolumeLabel(const std::string& root, const std::string& label) override;
  OsError LastError() const override;

  // Called by the handles: counts the operation and tells whether it must fail.
  bool ShouldFail(FaultOp op);
  void NoteWrite(const std::string& path, int64_t bytes);

 private:
  void Arm(FaultOp op, int64_t n, bool sticky);
  // Counts an operation (`op` kCount: one without a kind of its own) and tells
  // whether it must fail; Injected also makes that the provider's last error.
  bool Decide(FaultOp op, bool mutating);
  bool Injected(FaultOp op, bool mutating);
  bool Down();  // crashed: a query fails with the injected error
  mutable std::mutex mutex_;
  std::array<int64_t, static_cast<size_t>(FaultOp::kCount)> counts_{};
  std::array<int64_t, static_cast<size_t>(FaultOp::kCount)> failAt_{};
  std::array<bool, static_cast<size_t>(FaultOp::kCount)> sticky_{};
  std::optional<int64_t> freeSpace_;
  std::atomic<bool> triggered_{false};
  std::atomic<bool> crashed_{false};
  int64_t mutations_ = 0;
  int64_t crashAt_ = 0;  // value of mutations_ that crashes; 0: none
  std::atomic<int64_t> bytesWritten_{0};
  std::map<std::string, int64_t> writtenByFile_;
};

}  // namespace zw

// A forwarding provider that fails chosen operations, for fault-injection tests.
//
// Every operation is counted by kind. `FailNth(kind, n)` makes the n-th operation of
// that kind (1-based, counted from the last `Reset`) fail as the system would:
// opens and temp-file creation return nothing, reads and writes report -1 without
// touching the data, seeks and truncates fail and leave the file as it was, rename
// and delete fail and change nothing. `FailFrom` fails that one and every later one.
// `SetFreeSpace` makes GetFreeSpace report a chosen value. `BytesWritten` totals
// the bytes written through handles opened here.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>

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
  int64_t Count(FaultOp op) const;
  bool Triggered() const { return triggered_; }
  int64_t BytesWritten() const { return bytesWritten_; }
  std::map<std::string, int64_t> BytesWrittenByFile() const;

  std::unique_ptr<FileHandle> Open(const std::string& path, uint16_t mode) override;
  bool DeleteFile(const std::string& path) override;
  bool RenameFile(const std::string& from, const std::string& to) override;
  bool CreateTempFile(const std::string& dir, const std::string& prefix,
                      std::string& path) override;
  int64_t GetFreeSpace(const std::string& path) override;
  OsError LastError() const override;

  // Called by the handles: counts the operation and tells whether it must fail.
  bool ShouldFail(FaultOp op);
  void NoteWrite(const std::string& path, int64_t bytes);

 private:
  void Arm(FaultOp op, int64_t n, bool sticky);
  bool Injected(FaultOp op);
  mutable std::mutex mutex_;
  std::array<int64_t, static_cast<size_t>(FaultOp::kCount)> counts_{};
  std::array<int64_t, static_cast<size_t>(FaultOp::kCount)> failAt_{};
  std::array<bool, static_cast<size_t>(FaultOp::kCount)> sticky_{};
  std::optional<int64_t> freeSpace_;
  std::atomic<bool> triggered_{false};
  std::atomic<int64_t> bytesWritten_{0};
  std::map<std::string, int64_t> writtenByFile_;
};

}  // namespace zw

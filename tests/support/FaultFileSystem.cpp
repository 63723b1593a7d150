#include "FaultFileSystem.h"

#include "Paths.h"

namespace zw {
namespace {

// Whether the last failure on this thread was an injected one. Like the system's
// own last error, a success leaves it alone; only a real failure replaces it.
thread_local bool tInjected = false;

bool Forwarded(bool ok) {
  if (!ok) tInjected = false;
  return ok;
}

class FaultFileHandle : public FileHandle {
 public:
  FaultFileHandle(FaultFileSystem& owner, std::unique_ptr<FileHandle> inner, std::string path)
      : owner_(owner), inner_(std::move(inner)), path_(std::move(path)) {}

  int64_t Read(void* buffer, int64_t count) override {
    if (owner_.ShouldFail(FaultOp::kRead)) return Fail();
    return Done(inner_->Read(buffer, count));
  }
  int64_t Write(const void* buffer, int64_t count) override {
    if (owner_.ShouldFail(FaultOp::kWrite)) return Fail();
    int64_t n = Done(inner_->Write(buffer, count));
    if (n > 0) owner_.NoteWrite(path_, n);
    return n;
  }
  int64_t Seek(int64_t offset, SeekOrigin origin) override {
    if (owner_.ShouldFail(FaultOp::kSeek)) return Fail();
    return Done(inner_->Seek(offset, origin));
  }
  bool Truncate(int64_t size) override {
    if (owner_.ShouldFail(FaultOp::kTruncate)) return Fail() == 0;
    return Done(inner_->Truncate(size) ? 0 : -1) == 0;
  }
  bool Flush() override {
    if (owner_.ShouldFail(FaultOp::kFlush)) return Fail() == 0;
    return Done(inner_->Flush() ? 0 : -1) == 0;
  }
  int64_t Size() override {
    if (owner_.Crashed()) return Fail();
    return Done(inner_->Size());
  }
  OsError LastError() const override {
    return injected_ ? MakeOsError(OsErrorCode::kInjectedFault) : inner_->LastError();
  }

 private:
  int64_t Fail() {
    injected_ = true;
    return -1;
  }
  // The handle's error is that of its last failure, injected or real, as with the
  // other providers' handles: a success does not clear it.
  int64_t Done(int64_t result) {
    if (result < 0) injected_ = false;
    return result;
  }
  FaultFileSystem& owner_;
  std::unique_ptr<FileHandle> inner_;
  std::string path_;
  bool injected_ = false;
};

}  // namespace

const char* FaultOpName(FaultOp op) {
  static const char* names[] = {"open",  "read",   "write",  "seek",     "truncate",
                                "flush", "rename", "delete", "tempfile", "syncfolder"};
  return op < FaultOp::kCount ? names[static_cast<int>(op)] : "?";
}

void FaultFileSystem::Reset() {
  std::lock_guard<std::mutex> lock(mutex_);
  counts_.fill(0);
  failAt_.fill(0);
  sticky_.fill(false);
  triggered_ = false;
  crashed_ = false;
  mutations_ = 0;
  crashAt_ = 0;
  bytesWritten_ = 0;
  writtenByFile_.clear();
}

void FaultFileSystem::Arm(FaultOp op, int64_t n, bool sticky) {
  std::lock_guard<std::mutex> lock(mutex_);
  size_t i = static_cast<size_t>(op);
  failAt_[i] = n;  // counts run from the last Reset, as the header promises
  sticky_[i] = sticky;
}

void FaultFileSystem::CrashAt(int64_t n) {
  std::lock_guard<std::mutex> lock(mutex_);
  crashAt_ = n > 0 ? mutations_ + n : 0;
}

int64_t FaultFileSystem::MutatingOps() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return mutations_;
}

int64_t FaultFileSystem::Count(FaultOp op) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return counts_[static_cast<size_t>(op)];
}

bool FaultFileSystem::ShouldFail(FaultOp op) {
  // The handles' operations mutate or not by kind alone (an open depends on its
  // mode and is decided by Open itself).
  bool mutating = op == FaultOp::kWrite || op == FaultOp::kTruncate || op == FaultOp::kFlush ||
                  op == FaultOp::kRename || op == FaultOp::kDelete || op == FaultOp::kTempFile ||
                  op == FaultOp::kSyncFolder;
  return Decide(op, mutating);
}

bool FaultFileSystem::Decide(FaultOp op, bool mutating) {
  std::lock_guard<std::mutex> lock(mutex_);
  size_t i = static_cast<size_t>(op);
  int64_t n = op < FaultOp::kCount ? ++counts_[i] : 0;
  if (crashed_) return true;
  if (mutating && ++mutations_ == crashAt_) {
    crashed_ = true;
    triggered_ = true;
    return true;
  }
  if (op == FaultOp::kCount) return false;
  bool fail = failAt_[i] > 0 && (n == failAt_[i] || (sticky_[i] && n > failAt_[i]));
  if (fail) triggered_ = true;
  return fail;
}

void FaultFileSystem::NoteWrite(const std::string& path, int64_t bytes) {
  bytesWritten_ += bytes;
  std::lock_guard<std::mutex> lock(mutex_);
  writtenByFile_[path] += bytes;
}

std::map<std::string, int64_t> FaultFileSystem::BytesWrittenByFile() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return writtenByFile_;
}

bool FaultFileSystem::Injected(FaultOp op, bool mutating) {
  if (!Decide(op, mutating)) return false;
  tInjected = true;
  return true;
}

bool FaultFileSystem::Down() {
  if (!crashed_) return false;
  tInjected = true;
  return true;
}

std::unique_ptr<FileHandle> FaultFileSystem::Open(const std::string& path, uint16_t mode) {
  if (Injected(FaultOp::kOpen, mode == FileMode::fmCreate)) return nullptr;
  auto inner = target().Open(path, mode);
  if (!Forwarded(inner != nullptr)) return nullptr;
  return std::make_unique<FaultFileHandle>(*this, std::move(inner), ExpandFileName(*this, path));
}

bool FaultFileSystem::FileExists(const std::string& path) {
  return !Down() && target().FileExists(path);
}

bool FaultFileSystem::DirectoryExists(const std::string& path) {
  return !Down() && target().DirectoryExists(path);
}

int32_t FaultFileSystem::GetAttributes(const std::string& path) {
  return Down() ? -1 : target().GetAttributes(path);
}

bool FaultFileSystem::GetFileDate(const std::string& path, int32_t& dosDateTime) {
  return !Down() && target().GetFileDate(path, dosDateTime);
}

bool FaultFileSystem::DeleteFile(const std::string& path) {
  return !Injected(FaultOp::kDelete, true) && Forwarded(target().DeleteFile(path));
}

bool FaultFileSystem::RenameFile(const std::string& from, const std::string& to) {
  return !Injected(FaultOp::kRename, true) && Forwarded(target().RenameFile(from, to));
}

bool FaultFileSystem::SyncFolderOf(const std::string& path) {
  return !Injected(FaultOp::kSyncFolder, true) && Forwarded(target().SyncFolderOf(path));
}

bool FaultFileSystem::CreateDirectory(const std::string& path) {
  return !Injected(FaultOp::kCount, true) && target().CreateDirectory(path);
}

bool FaultFileSystem::RemoveDirectory(const std::string& path) {
  return !Injected(FaultOp::kCount, true) && target().RemoveDirectory(path);
}

bool FaultFileSystem::FindFiles(const std::string& pattern, int32_t attrMask,
                                std::vector<TSearchRec>& out) {
  if (Down()) {
    out.clear();
    return false;
  }
  return target().FindFiles(pattern, attrMask, out);
}

bool FaultFileSystem::FindDirectories(const std::string& dir, int32_t attrMask,
                                      std::vector<TSearchRec>& out) {
  if (Down()) {
    out.clear();
    return false;
  }
  return target().FindDirectories(dir, attrMask, out);
}

bool FaultFileSystem::SetCurrentDir(const std::string& path) {
  return !Down() && target().SetCurrentDir(path);
}

bool FaultFileSystem::CreateTempFile(const std::string& dir, const std::string& prefix,
                                     std::string& path) {
  return !Injected(FaultOp::kTempFile, true) &&
         Forwarded(target().CreateTempFile(dir, prefix, path));
}

int64_t FaultFileSystem::GetFreeSpace(const std::string& path) {
  if (Down()) return -1;
  return freeSpace_ ? *freeSpace_ : target().GetFreeSpace(path);
}

DriveType FaultFileSystem::GetDriveType(const std::string& root) {
  return Down() ? DriveType::kUnknown : target().GetDriveType(root);
}

bool FaultFileSystem::SetVolumeLabel(const std::string& root, const std::string& label) {
  return !Injected(FaultOp::kCount, true) && target().SetVolumeLabel(root, label);
}

OsError FaultFileSystem::LastError() const {
  return tInjected ? MakeOsError(OsErrorCode::kInjectedFault) : target().LastError();
}

}  // namespace zw

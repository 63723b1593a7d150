#include "FileSystem.h"

#include <atomic>

#include "LinuxFileSystem.h"
#include "Paths.h"

namespace zw {

bool FileSystem::FindDirectories(const std::string& dir, int32_t attrMask,
                                 std::vector<TSearchRec>& out) {
  if (!FindFiles(dir + "*", attrMask | FileAttr::faDirectory, out)) return false;
  std::erase_if(out, [](const TSearchRec& r) { return !(r.Attr & FileAttr::faDirectory); });
  return true;
}

std::string FileSystem::DisplayName(const std::string& path) { return ExpandFileName(*this, path); }

std::string OsErrorMessage(OsErrorCode code) {
  switch (code) {
    case OsErrorCode::kNone:
      return "The operation completed successfully.";
    case OsErrorCode::kFileNotFound:
      return "The system cannot find the file specified.";
    case OsErrorCode::kPathNotFound:
      return "The system cannot find the path specified.";
    case OsErrorCode::kAccessDenied:
      return "Access is denied.";
    case OsErrorCode::kInvalidHandle:
      return "The handle is invalid.";
    case OsErrorCode::kNotReady:
      return "The device is not ready.";
    case OsErrorCode::kWriteFault:
      return "The system cannot write to the specified device.";
    case OsErrorCode::kReadFault:
      return "The system cannot read from the specified device.";
    case OsErrorCode::kSharingViolation:
      return "The process cannot access the file because it is being used by another process.";
    case OsErrorCode::kHandleDiskFull:
      return "The disk is full.";
    case OsErrorCode::kNotSupported:
      return "The request is not supported.";
    case OsErrorCode::kFileExists:
      return "The file exists.";
    case OsErrorCode::kInvalidParameter:
      return "The parameter is incorrect.";
    case OsErrorCode::kDiskFull:
      return "There is not enough space on the disk.";
    case OsErrorCode::kInvalidName:
      return "The filename, directory name, or volume label syntax is incorrect.";
    case OsErrorCode::kDirNotEmpty:
      return "The directory is not empty.";
    case OsErrorCode::kAlreadyExists:
      return "Cannot create a file when that file already exists.";
    case OsErrorCode::kInjectedFault:
      return "The request could not be performed because of an I/O device error.";
  }
  return "Unknown error.";
}

OsError MakeOsError(OsErrorCode code) { return OsError{code, OsErrorMessage(code)}; }

FileSystem& FileSystem::Default() {
  static LinuxFileSystem* instance = new LinuxFileSystem();
  return *instance;
}

namespace {
std::atomic<FileSystem*> gActive{nullptr};
}

FileSystem& ActiveFileSystem() {
  FileSystem* fs = gActive.load();
  return fs ? *fs : FileSystem::Default();
}

ScopedFileSystem::ScopedFileSystem(FileSystem& fs) : previous_(gActive.exchange(&fs)) {}
ScopedFileSystem::~ScopedFileSystem() { gActive.store(previous_); }

}  // namespace zw

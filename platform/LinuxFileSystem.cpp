#include "LinuxFileSystem.h"

#include <dirent.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <utility>
#include <vector>

#include "CodePage.h"
#include "DosTime.h"
#include "Paths.h"
#include "SearchPattern.h"

namespace zw {
namespace {

thread_local OsError tLastError;

// Reserved lock bytes, far beyond any real data. The order lets one call claim or
// test neighbouring bytes together.
constexpr off_t kLockBase = 0x7FFFFFFF00000000LL;
constexpr off_t kIsOpen = kLockBase + 1;
constexpr off_t kHasRead = kLockBase + 2;
constexpr off_t kHasWrite = kLockBase + 3;
constexpr off_t kDeniesRead = kLockBase + 4;
constexpr off_t kDeniesWrite = kLockBase + 5;

struct Sharing {
  bool read = false, write = false;          // access asked for
  bool denyRead = false, denyWrite = false;  // access denied to others
};

Sharing SharingOf(uint16_t mode) {
  Sharing s;
  if (mode == FileMode::fmCreate) return {true, true, true, true};
  int access = mode & 3;
  s.read = access == 0 || access == 2 || access == 3;
  s.write = access != 0;
  switch (mode & 0xF0) {
    case FileMode::fmShareDenyWrite:
      s.denyWrite = true;
      break;
    case FileMode::fmShareDenyRead:
      s.denyRead = true;
      break;
    case FileMode::fmShareDenyNone:
      break;
    default:
      s.denyRead = s.denyWrite = true;
      break;  // compatible and exclusive
  }
  return s;
}

// Calls `each(start, length)` for every run of consecutive wanted bytes.
template <typename Each>
bool ForEachRun(const std::vector<off_t>& bytes, Each each) {
  for (size_t i = 0; i < bytes.size();) {
    size_t j = i + 1;
    while (j < bytes.size() && bytes[j] == bytes[j - 1] + 1) ++j;
    if (!each(bytes[i], static_cast<off_t>(j - i))) return false;
    i = j;
  }
  return true;
}

// True when another open file description holds a lock within [at, at + length).
bool Held(int fd, off_t at, off_t length) {
  struct flock fl {};
  fl.l_type = F_WRLCK;
  fl.l_whence = SEEK_SET;
  fl.l_start = at;
  fl.l_len = length;
  if (fcntl(fd, F_OFD_GETLK, &fl) != 0) return false;
  return fl.l_type != F_UNLCK;
}

bool SetLock(int fd, short type, off_t at, off_t length) {
  struct flock fl {};
  fl.l_type = type;
  fl.l_whence = SEEK_SET;
  fl.l_start = at;
  fl.l_len = length;
  return fcntl(fd, F_OFD_SETLK, &fl) == 0;
}

// The reserved bytes an open tests (held by another: a sharing violation) and claims.
struct SharingBytes {
  std::vector<off_t> tested, claimed;  // both in ascending order
};

SharingBytes BytesOf(const Sharing& s) {
  SharingBytes b;
  b.claimed.push_back(kIsOpen);
  if (s.denyRead) b.tested.push_back(kHasRead);
  if (s.denyWrite) b.tested.push_back(kHasWrite);
  if (s.read) b.tested.push_back(kDeniesRead);
  if (s.write) b.tested.push_back(kDeniesWrite);
  if (s.read) b.claimed.push_back(kHasRead);
  if (s.write) b.claimed.push_back(kHasWrite);
  if (s.denyRead) b.claimed.push_back(kDeniesRead);
  if (s.denyWrite) b.claimed.push_back(kDeniesWrite);
  return b;
}

bool Claim(int fd, const SharingBytes& b) {
  return ForEachRun(b.claimed, [fd](off_t at, off_t n) { return SetLock(fd, F_RDLCK, at, n); });
}

void DropClaims(int fd) { SetLock(fd, F_UNLCK, kIsOpen, kDeniesWrite - kIsOpen + 1); }

// Every opener claims its bytes before it tests the others': of two openers that
// conflict, the later test sees the earlier claim, so both can never win. The usual
// case, a file nobody else has open, costs two calls: the claim, and one test that
// no other handle holds any reserved byte. Otherwise the claim is dropped and the
// opener retries under flock, which queues such openers: there the claim is tested
// byte by byte, and a refused opener drops its claim before it lets the next one
// in, so of racing openers that conflict exactly one wins.
bool ClaimSharing(int fd, const Sharing& s) {
  SharingBytes b = BytesOf(s);
  if (!Claim(fd, b)) return false;
  if (!Held(fd, kIsOpen, kDeniesWrite - kIsOpen + 1)) return true;
  DropClaims(fd);
  if (flock(fd, LOCK_EX) != 0) return false;
  bool ok =
      Claim(fd, b) && ForEachRun(b.tested, [fd](off_t at, off_t n) { return !Held(fd, at, n); });
  if (!ok) DropClaims(fd);
  flock(fd, LOCK_UN);
  return ok;
}

// True when some handle of these services has the host file open.
bool OpenElsewhere(const std::string& host) {
  int fd = ::open(host.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return false;
  bool held = Held(fd, kIsOpen, 1);
  ::close(fd);
  return held;
}

// ENOENT means a missing folder on the way as well as a missing file; callers
// tell the two apart the Windows way (kPathNotFound / kFileNotFound).
OsErrorCode MissingOrOther(int err, const std::string& host) {
  if (err != ENOENT) return OsErrorFromErrno(err);
  size_t slash = host.rfind('/');
  std::string parent = slash == std::string::npos ? "." : slash == 0 ? "/" : host.substr(0, slash);
  struct stat st {};
  bool folder = ::stat(parent.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
  return folder ? OsErrorCode::kFileNotFound : OsErrorCode::kPathNotFound;
}

int32_t AttributesOf(const struct stat& st, const std::string& name) {
  int32_t attr = 0;
  if (S_ISDIR(st.st_mode))
    attr = FileAttr::faDirectory;
  else if (S_ISREG(st.st_mode))
    attr = FileAttr::faArchive;
  else
    attr = FileAttr::faNormal;
  if (!(st.st_mode & S_IWUSR) && attr != FileAttr::faNormal) attr |= FileAttr::faReadOnly;
  if (!name.empty() && name[0] == '.' && name != "." && name != "..") attr |= FileAttr::faHidden;
  return attr;
}

// Windows finds a name in any letter case. Called only once the exact host path is
// missing: walks it from the root and replaces each component that is not there by
// the entry of its folder that differs from it in case only (ASCII, else the
// locale's case mapping). Several such entries (possible only here) yield the one
// equal in ASCII case first, then the byte-wise smallest, so every run picks the same.
// The components from the first one without a match on are kept as written.
std::string CaseResolved(const std::string& host) {
  std::string out;
  size_t pos = 0;
  if (!host.empty() && host[0] == '/') {
    out = "/";
    pos = 1;
  }
  while (pos < host.size()) {
    size_t end = host.find('/', pos);
    if (end == std::string::npos) end = host.size();
    std::string name = host.substr(pos, end - pos);
    std::string candidate = out + name;
    struct stat st {};
    if (name.empty() || name == "." || name == ".." || ::lstat(candidate.c_str(), &st) == 0 ||
        errno != ENOENT) {
      out = candidate;
    } else {
      DIR* d = ::opendir(out.empty() ? "." : out.c_str());
      std::string best;
      bool bestAscii = false;
      while (d != nullptr) {
        struct dirent* e = ::readdir(d);
        if (e == nullptr) break;
        std::string entry = e->d_name;
        bool ascii = AsciiSameText(entry, name);
        if (!ascii && !AnsiSameText(entry, name)) continue;
        if (best.empty() || (ascii && !bestAscii) || (ascii == bestAscii && entry < best)) {
          best = entry;
          bestAscii = ascii;
        }
      }
      if (d != nullptr) ::closedir(d);
      if (best.empty()) return out + host.substr(pos);  // nothing to match below here
      out += best;
    }
    if (end < host.size()) out += '/';
    pos = end + 1;
  }
  return out;
}

// Stats `host`; when it is missing, stats the entry that differs in case only and
// leaves its path in `host`. 0 or the errno of the failure.
int StatAnyCase(std::string& host, struct stat& st) {
  if (::stat(host.c_str(), &st) == 0) return 0;
  if (errno != ENOENT) return errno;
  std::string resolved = CaseResolved(host);
  if (resolved == host) return ENOENT;
  host = resolved;
  return ::stat(host.c_str(), &st) == 0 ? 0 : errno;
}

// A directory entry that is surely no folder, told without a stat.
bool SurelyNoDirectory(const struct dirent& e) {
  return e.d_type != DT_DIR && e.d_type != DT_LNK && e.d_type != DT_UNKNOWN;
}

class LinuxFileHandle : public FileHandle {
 public:
  // `sizeAtOpen`: the size the opening fstat saw (-1 for none).
  LinuxFileHandle(int fd, int64_t sizeAtOpen) : fd_(fd), sizeAtOpen_(sizeAtOpen) {}
  ~LinuxFileHandle() override { ::close(fd_); }

  int64_t Read(void* buffer, int64_t count) override {
    sizeAtOpen_ = -1;
    int64_t done = 0;
    auto* p = static_cast<char*>(buffer);
    while (done < count) {
      ssize_t n =
          ::read(fd_, p + done, static_cast<size_t>(std::min<int64_t>(count - done, 1 << 30)));
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) {
        position_ = -1;
        return Fail(OsErrorFromErrno(errno));
      }
      if (n == 0) break;
      done += n;
    }
    Advance(done);
    return done;
  }

  int64_t Write(const void* buffer, int64_t count) override {
    sizeAtOpen_ = -1;
    int64_t done = 0;
    auto* p = static_cast<const char*>(buffer);
    while (done < count) {
      ssize_t n =
          ::write(fd_, p + done, static_cast<size_t>(std::min<int64_t>(count - done, 1 << 30)));
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) {
        error_ = MakeOsError(OsErrorFromErrno(errno));
        Advance(done);
        return done > 0 ? done : -1;
      }
      done += n;
    }
    Advance(done);
    StartWriteback();
    return done;
  }

  int64_t Seek(int64_t offset, SeekOrigin origin) override {
    sizeAtOpen_ = -1;
    int whence = origin == SeekOrigin::kBegin     ? SEEK_SET
                 : origin == SeekOrigin::kCurrent ? SEEK_CUR
                                                  : SEEK_END;
    // Streams ask for their position and rewind a lot: answer those without a call.
    if (position_ >= 0 && ((origin == SeekOrigin::kCurrent && offset == 0) ||
                           (origin == SeekOrigin::kBegin && offset == position_)))
      return position_;
    off_t r = ::lseek(fd_, offset, whence);
    if (r < 0) return Fail(OsErrorFromErrno(errno));
    position_ = r;
    return r;
  }

  bool Truncate(int64_t size) override {
    sizeAtOpen_ = -1;
    if (size >= 0 && ::ftruncate(fd_, size) == 0) return true;
    Fail(size < 0 ? OsErrorCode::kInvalidParameter : OsErrorFromErrno(errno));
    return false;
  }

  bool Flush() override {
    if (::fsync(fd_) == 0 || errno == EINVAL || errno == EROFS) return true;  // nothing to sync
    Fail(OsErrorFromErrno(errno));
    return false;
  }

  int64_t Size() override {
    // Asked right after opening (a source measured before it is read), the opening
    // fstat's answer is as fresh as another one.
    if (int64_t known = std::exchange(sizeAtOpen_, -1); known >= 0) return known;
    struct stat st {};
    if (::fstat(fd_, &st) != 0) return Fail(OsErrorFromErrno(errno));
    return st.st_size;
  }

  OsError LastError() const override { return error_; }

 private:
  int64_t Fail(OsErrorCode code) {
    error_ = MakeOsError(code);
    return -1;
  }
  void Advance(int64_t count) {
    if (position_ >= 0) position_ += count;
  }
  // Hands each written stretch of kWritebackStep bytes to the device at once, so the
  // closing sync waits for the last stretch only instead of the whole file. A hint:
  // its failures surface at the next Flush, which every writer checks.
  void StartWriteback() {
    constexpr int64_t kWritebackStep = 8 << 20;
    if (position_ < 0 || position_ < writebackFrom_) {
      writebackFrom_ = std::max<int64_t>(position_, 0);
      return;
    }
    if (position_ - writebackFrom_ < kWritebackStep) return;
    ::sync_file_range(fd_, writebackFrom_, position_ - writebackFrom_, SYNC_FILE_RANGE_WRITE);
    writebackFrom_ = position_;
  }
  int fd_;
  int64_t sizeAtOpen_;         // until the first operation after opening, else -1
  int64_t position_ = 0;       // the file offset of fd_, -1 when a failure left it unknown
  int64_t writebackFrom_ = 0;  // where the written bytes not yet handed to the device begin
  OsError error_;
};

// Walks up from a block device's sysfs node looking for its "removable" flag.
bool IsRemovableDevice(dev_t dev) {
  char link[64];
  std::snprintf(link, sizeof link, "/sys/dev/block/%u:%u", major(dev), minor(dev));
  char resolved[PATH_MAX];
  if (!realpath(link, resolved)) return false;
  std::string node = resolved;
  for (int level = 0; level < 3 && node.size() > 1; ++level) {
    std::ifstream flag(node + "/removable");
    int value = 0;
    if (flag >> value) return value == 1;
    node = node.substr(0, node.rfind('/'));
  }
  return false;
}

bool IsDriveLetterRoot(const std::string& root, char& letter) {
  if (root.size() >= 2 && root[1] == ':' && std::isalpha(static_cast<unsigned char>(root[0]))) {
    letter = static_cast<char>(std::toupper(static_cast<unsigned char>(root[0])));
    return true;
  }
  return false;
}

// A mountinfo path field with its octal escapes ("\040" for a space) undone.
std::string UnescapeMountField(const std::string& field) {
  std::string out;
  for (size_t i = 0; i < field.size(); ++i) {
    auto octal = [&](size_t k) { return k < field.size() && field[k] >= '0' && field[k] <= '7'; };
    if (field[i] == '\\' && octal(i + 1) && octal(i + 2) && octal(i + 3)) {
      out += static_cast<char>((field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 +
                               (field[i + 3] - '0'));
      i += 3;
    } else {
      out += field[i];
    }
  }
  return out;
}

// File system type and source device of the mount that holds `hostPath` (the mount
// point that is its longest leading folder); false when none is found.
bool MountOf(const std::string& hostPath, std::string& type, std::string& device) {
  std::ifstream info("/proc/self/mountinfo");
  std::string line;
  size_t best = 0;
  bool found = false;
  while (std::getline(info, line)) {
    std::istringstream fields(line);
    std::string id, parent, numbers, root, mountPoint, field;
    if (!(fields >> id >> parent >> numbers >> root >> mountPoint)) continue;
    while (fields >> field && field != "-") {
    }
    std::string fsType, source;
    if (!(fields >> fsType >> source)) continue;
    std::string point = UnescapeMountField(mountPoint);
    bool holds = point == "/" || hostPath == point ||
                 (hostPath.rfind(point, 0) == 0 && hostPath.size() > point.size() &&
                  hostPath[point.size()] == '/');
    if (!holds || point.size() < best) continue;
    best = point.size();
    type = fsType;
    device = UnescapeMountField(source);
    found = true;
  }
  return found;
}

// Runs a program with its arguments (no shell), output discarded; true on exit 0.
bool RunQuietly(const std::vector<std::string>& argv) {
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  pid_t pid = 0;
  int rc = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) return false;
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0)
    if (errno != EINTR) return false;
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace

OsErrorCode OsErrorFromErrno(int err) {
  switch (err) {
    case ENOENT:
      return OsErrorCode::kFileNotFound;
    case ENOTDIR:
      return OsErrorCode::kPathNotFound;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
      return OsErrorCode::kAccessDenied;
    case EBUSY:
    case ETXTBSY:
    case EAGAIN:
      return OsErrorCode::kSharingViolation;
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
      return OsErrorCode::kDiskFull;
    case EEXIST:
      return OsErrorCode::kFileExists;
    case ENOTEMPTY:
      return OsErrorCode::kDirNotEmpty;
    case ENAMETOOLONG:
    case EINVAL:
      return OsErrorCode::kInvalidName;
    case ENXIO:
    case ENODEV:
    case ENOMEDIUM:
      return OsErrorCode::kNotReady;
    case EIO:
      return OsErrorCode::kWriteFault;
    default:
      return OsErrorCode::kAccessDenied;
  }
}

LinuxFileSystem::LinuxFileSystem() {
  char buf[PATH_MAX];
  currentDir_ = getcwd(buf, sizeof buf) ? FromHostPath(buf) : "\\";
}

OsError LinuxFileSystem::LastError() const { return tLastError; }

bool LinuxFileSystem::Fail(OsErrorCode code) {
  tLastError = MakeOsError(code);
  return false;
}

bool LinuxFileSystem::FailErrno(int err) { return Fail(OsErrorFromErrno(err)); }

bool LinuxFileSystem::ToHost(const std::string& path, std::string& host) {
  auto mapped = HostPathWithDrives(ExpandFileName(*this, path), DriveFolderFromEnvironment);
  if (!mapped) return Fail(OsErrorCode::kPathNotFound);
  host = *mapped;
  return true;
}

std::unique_ptr<FileHandle> LinuxFileSystem::Open(const std::string& path, uint16_t mode) {
  std::string host;
  if (path.empty()) {
    Fail(OsErrorCode::kFileNotFound);
    return nullptr;
  }
  if (!ToHost(path, host)) return nullptr;
  Sharing sharing = SharingOf(mode);
  bool create = mode == FileMode::fmCreate;
  // O_NONBLOCK: opening a named pipe that a search turned up must not wait for a
  // writer; on regular files it changes nothing.
  int flags = (sharing.write ? O_RDWR : O_RDONLY) | O_CLOEXEC | O_NONBLOCK;
  int fd = ::open(host.c_str(), flags);
  // Missing as written: the name in another case is the same file (also to create,
  // which then truncates that file), and a new file goes into the folders as they are.
  if (fd < 0 && errno == ENOENT) {
    host = CaseResolved(host);
    fd = ::open(host.c_str(), flags | (create ? O_CREAT : 0), 0666);
  }
  if (fd < 0) {
    Fail(errno == EISDIR ? OsErrorCode::kAccessDenied : MissingOrOther(errno, host));
    return nullptr;
  }
  struct stat st {};
  // The read-only attribute refuses writing also for root, whom permissions do not stop.
  if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode) || (sharing.write && !(st.st_mode & S_IWUSR))) {
    ::close(fd);
    Fail(OsErrorCode::kAccessDenied);
    return nullptr;
  }
  if (!ClaimSharing(fd, sharing)) {
    ::close(fd);
    Fail(OsErrorCode::kSharingViolation);
    return nullptr;
  }
  if (create && ::ftruncate(fd, 0) != 0) {  // truncate only once nobody else holds it
    int err = errno;
    ::close(fd);
    FailErrno(err);
    return nullptr;
  }
  return std::make_unique<LinuxFileHandle>(fd, create ? 0 : static_cast<int64_t>(st.st_size));
}

bool LinuxFileSystem::FileExists(const std::string& path) {
  std::string host;
  struct stat st {};
  return ToHost(path, host) && StatAnyCase(host, st) == 0 && !S_ISDIR(st.st_mode);
}

bool LinuxFileSystem::DirectoryExists(const std::string& path) {
  std::string host;
  struct stat st {};
  return ToHost(path, host) && StatAnyCase(host, st) == 0 && S_ISDIR(st.st_mode);
}

int32_t LinuxFileSystem::GetAttributes(const std::string& path) {
  std::string host;
  struct stat st {};
  if (!ToHost(path, host)) return -1;
  if (int err = StatAnyCase(host, st); err != 0) {
    FailErrno(err);
    return -1;
  }
  return AttributesOf(st, ExtractFileName(ExcludeTrailingPathDelimiter(path)));
}

bool LinuxFileSystem::GetFileDate(const std::string& path, int32_t& dosDateTime) {
  std::string host;
  struct stat st {};
  if (!ToHost(path, host)) return false;
  if (int err = StatAnyCase(host, st); err != 0) return FailErrno(err);
  if (S_ISDIR(st.st_mode)) return Fail(OsErrorCode::kAccessDenied);
  return UnixToDosDateTime(st.st_mtime, dosDateTime) || Fail(OsErrorCode::kInvalidParameter);
}

bool LinuxFileSystem::DeleteFile(const std::string& path) {
  std::string host;
  if (!ToHost(path, host)) return false;
  struct stat st {};
  if (int err = StatAnyCase(host, st); err != 0) return FailErrno(err);
  if (S_ISDIR(st.st_mode)) return Fail(OsErrorCode::kAccessDenied);
  if (OpenElsewhere(host)) return Fail(OsErrorCode::kSharingViolation);
  return ::unlink(host.c_str()) == 0 || FailErrno(errno);
}

bool LinuxFileSystem::RenameFile(const std::string& from, const std::string& to) {
  std::string a, b;
  if (!ToHost(from, a) || !ToHost(to, b)) return false;
  struct stat st {};
  std::string given = a;
  if (int err = StatAnyCase(a, st); err != 0) return FailErrno(err);
  if (::lstat(b.c_str(), &st) == 0) {
    // The source named in another case and the target as it is: nothing to change.
    return (b == a && given != a) || Fail(OsErrorCode::kAlreadyExists);
  }
  if (errno == ENOENT) {
    // A target there in another case exists as on Windows, unless it is the source
    // itself (a change of case only); the new name keeps the case asked for, in the
    // folders as they are.
    std::string resolved = CaseResolved(b);
    if (resolved != b && resolved != a && ::lstat(resolved.c_str(), &st) == 0)
      return Fail(OsErrorCode::kAlreadyExists);
    size_t cut = b.rfind('/'), resolvedCut = resolved.rfind('/');
    if (cut != std::string::npos && resolvedCut != std::string::npos)
      b = resolved.substr(0, resolvedCut) + b.substr(cut);
  }
  if (OpenElsewhere(a)) return Fail(OsErrorCode::kSharingViolation);
  return ::rename(a.c_str(), b.c_str()) == 0 || FailErrno(errno);
}

// A rooted path ("\tmp\a.dat") came from a host path and is shown as one; drive
// and UNC paths are kept as the user wrote them.
std::string LinuxFileSystem::DisplayName(const std::string& path) {
  std::string expanded = ExpandFileName(*this, path);
  if (expanded.size() > 1 && IsPathDelimiter(expanded[1])) return expanded;  // UNC
  if (expanded.empty() || !IsPathDelimiter(expanded[0])) return expanded;
  std::replace(expanded.begin(), expanded.end(), '\\', '/');
  return expanded;
}

bool LinuxFileSystem::ReplaceFile(const std::string& from, const std::string& to) {
  std::string a, b;
  if (!ToHost(from, a) || !ToHost(to, b)) return false;
  struct stat st {};
  if (int err = StatAnyCase(a, st); err != 0) return FailErrno(err);
  if (S_ISDIR(st.st_mode)) return Fail(OsErrorCode::kAccessDenied);
  if (::lstat(b.c_str(), &st) == 0) {
    if (S_ISDIR(st.st_mode) || !(st.st_mode & S_IWUSR)) return Fail(OsErrorCode::kAccessDenied);
    if (OpenElsewhere(b)) return Fail(OsErrorCode::kSharingViolation);
  }
  if (OpenElsewhere(a)) return Fail(OsErrorCode::kSharingViolation);
  return ::rename(a.c_str(), b.c_str()) == 0 || FailErrno(errno);
}

bool LinuxFileSystem::SetFileDate(const std::string& path, int32_t dosDateTime) {
  std::string host;
  struct stat st {};
  std::time_t t = 0;
  if (!ToHost(path, host)) return false;
  if (int err = StatAnyCase(host, st); err != 0) return FailErrno(err);
  if (!DosDateTimeToUnix(dosDateTime, t)) return Fail(OsErrorCode::kInvalidParameter);
  struct timespec times[2] = {{t, 0}, {t, 0}};
  return ::utimensat(AT_FDCWD, host.c_str(), times, 0) == 0 || FailErrno(errno);
}

bool LinuxFileSystem::SetReadOnly(const std::string& path, bool readOnly) {
  std::string host;
  struct stat st {};
  if (!ToHost(path, host)) return false;
  if (int err = StatAnyCase(host, st); err != 0) return FailErrno(err);
  // Read-only means the owner may not write (see GetAttributes); nobody else may then.
  mode_t mode = readOnly ? (st.st_mode & ~static_cast<mode_t>(S_IWUSR | S_IWGRP | S_IWOTH))
                         : (st.st_mode | S_IWUSR);
  return ::chmod(host.c_str(), mode & 07777) == 0 || FailErrno(errno);
}

bool LinuxFileSystem::IsSymbolicLink(const std::string& path) {
  std::string host;
  struct stat st {};
  if (!ToHost(path, host)) return false;
  if (::lstat(host.c_str(), &st) != 0) {
    host = CaseResolved(host);
    if (::lstat(host.c_str(), &st) != 0) return false;
  }
  return S_ISLNK(st.st_mode);
}

bool LinuxFileSystem::SyncFolderOf(const std::string& path) {
  std::string host;
  if (!ToHost(path, host)) return false;
  size_t slash = host.rfind('/');
  std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : host.substr(0, slash);
  int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0 && errno == ENOENT)
    fd = ::open(CaseResolved(folder).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return FailErrno(errno);
  // Some file systems cannot sync a folder (EINVAL): their names are written at once.
  bool ok = ::fsync(fd) == 0 || errno == EINVAL || errno == EROFS;
  int err = errno;
  ::close(fd);
  return ok || FailErrno(err);
}

bool LinuxFileSystem::CreateDirectory(const std::string& path) {
  std::string host;
  if (!ToHost(path, host)) return false;
  // A folder there in another case already exists (creating is the miss path anyway).
  host = CaseResolved(host);
  if (::mkdir(host.c_str(), 0777) == 0) return true;
  // A folder that is already there is "already exists", not "file exists".
  return Fail(errno == EEXIST ? OsErrorCode::kAlreadyExists : MissingOrOther(errno, host));
}

bool LinuxFileSystem::RemoveDirectory(const std::string& path) {
  std::string host;
  if (!ToHost(path, host)) return false;
  if (::rmdir(host.c_str()) == 0) return true;
  return (errno == ENOENT && ::rmdir(CaseResolved(host).c_str()) == 0) || FailErrno(errno);
}

bool LinuxFileSystem::FindFiles(const std::string& pattern, int32_t attrMask,
                                std::vector<TSearchRec>& out) {
  return Scan(ExtractFilePath(pattern), ExtractFileName(pattern), attrMask, false, out);
}

bool LinuxFileSystem::FindDirectories(const std::string& dir, int32_t attrMask,
                                      std::vector<TSearchRec>& out) {
  return Scan(dir, "*", attrMask | FileAttr::faDirectory, true, out);
}

bool LinuxFileSystem::Scan(const std::string& dir, const std::string& mask, int32_t attrMask,
                           bool directoriesOnly, std::vector<TSearchRec>& out) {
  out.clear();
  std::string host;
  if (!ToHost(dir.empty() ? "." : dir, host)) return false;
  DIR* d = ::opendir(host.c_str());
  if (!d && errno == ENOENT) d = ::opendir(CaseResolved(host).c_str());
  if (!d) return FailErrno(errno);
  constexpr int32_t kFiltered =
      FileAttr::faHidden | FileAttr::faSysFile | FileAttr::faVolumeID | FileAttr::faDirectory;
  while (struct dirent* e = ::readdir(d)) {
    std::string name = e->d_name;
    if (name == "." || name == ".." || !SearchPatternMatches(mask, name)) continue;
    if (directoriesOnly && SurelyNoDirectory(*e)) continue;
    struct stat st {};
    // Relative to the open directory: no walk of the whole path per entry.
    bool link = e->d_type == DT_LNK;
    if (e->d_type == DT_UNKNOWN)
      link = ::fstatat(::dirfd(d), e->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode);
    if (::fstatat(::dirfd(d), e->d_name, &st, 0) != 0) continue;  // dangling link
    // A linked folder is left out, so a recursive search never loops through one (a
    // link to "/" or to a parent); Windows' search does not follow them either.
    if (link && S_ISDIR(st.st_mode)) continue;
    TSearchRec rec;
    rec.Name = name;
    rec.Attr = AttributesOf(st, name);
    if ((rec.Attr & kFiltered) & ~attrMask) continue;
    if (directoriesOnly && !(rec.Attr & FileAttr::faDirectory)) continue;
    rec.Size = S_ISREG(st.st_mode) ? st.st_size : 0;
    if (!UnixToDosDateTime(st.st_mtime, rec.Time)) rec.Time = 0;
    out.push_back(std::move(rec));
  }
  ::closedir(d);
  // NTFS yields names in case-insensitive order; keep that order for reproducible runs.
  SortSearchResults(out);
  return true;
}

std::string LinuxFileSystem::GetCurrentDir() {
  std::lock_guard<std::mutex> lock(mutex_);
  return currentDir_;
}

bool LinuxFileSystem::SetCurrentDir(const std::string& path) {
  if (!DirectoryExists(path)) return Fail(OsErrorCode::kPathNotFound);
  std::string expanded = ExpandFileName(*this, path);
  if (expanded.size() > 1 && expanded.back() == '\\' && expanded[expanded.size() - 2] != ':')
    expanded.pop_back();
  std::lock_guard<std::mutex> lock(mutex_);
  currentDir_ = expanded;
  return true;
}

std::string LinuxFileSystem::GetTempDir() {
  const char* tmp = std::getenv("TMPDIR");
  std::string dir = tmp && *tmp ? tmp : "/tmp";
  return IncludeTrailingPathDelimiter(FromHostPath(dir));
}

bool LinuxFileSystem::CreateTempFile(const std::string& dir, const std::string& prefix,
                                     std::string& path) {
  std::string folder = IncludeTrailingPathDelimiter(ExpandFileName(*this, dir));
  std::string host;
  if (!ToHost(folder, host)) return false;
  if (!DirectoryExists(folder)) return Fail(OsErrorCode::kPathNotFound);
  static std::mt19937 rng{std::random_device{}()};
  static std::mutex rngMutex;
  std::string stem = prefix.substr(0, 3);
  for (int attempt = 0; attempt < 65536; ++attempt) {
    unsigned number;
    {
      std::lock_guard<std::mutex> lock(rngMutex);
      number = (rng() % 0xFFFF) + 1;
    }
    char name[32];
    std::snprintf(name, sizeof name, "%04X.tmp", number);  // always four digits
    std::string candidate = folder + stem + name;
    std::string hostCandidate;
    if (!ToHost(candidate, hostCandidate)) return false;
    int fd = ::open(hostCandidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) {
      ::close(fd);
      path = candidate;
      return true;
    }
    if (errno != EEXIST) return FailErrno(errno);
  }
  return Fail(OsErrorCode::kFileExists);
}

int64_t LinuxFileSystem::GetFreeSpace(const std::string& path) {
  std::string host;
  if (!ToHost(path, host)) return -1;
  while (!host.empty()) {
    struct statvfs vfs {};
    if (::statvfs(host.c_str(), &vfs) == 0)
      return static_cast<int64_t>(vfs.f_bavail) * static_cast<int64_t>(vfs.f_frsize);
    size_t slash = host.rfind('/');
    if (slash == std::string::npos || host == "/") break;
    host = slash == 0 ? "/" : host.substr(0, slash);
  }
  Fail(OsErrorCode::kPathNotFound);
  return -1;
}

DriveType LinuxFileSystem::GetDriveType(const std::string& root) {
  char letter = 0;
  bool drive = IsDriveLetterRoot(root, letter);
  if (drive && (letter == 'A' || letter == 'B')) return DriveType::kRemovable;
  std::string host;
  if (!ToHost(drive ? std::string(1, letter) + ":\\" : root, host)) return DriveType::kNoRootDir;
  struct stat st {};
  if (::stat(host.c_str(), &st) != 0) return DriveType::kNoRootDir;
  return IsRemovableDevice(st.st_dev) ? DriveType::kRemovable : DriveType::kFixed;
}

// Only a FAT medium gets a label, through fatlabel (dosfstools); anything else, and
// any failure on the way, reports kNotSupported.
bool LinuxFileSystem::SetVolumeLabel(const std::string& root, const std::string& label) {
  std::string host;
  if (!ToHost(root, host)) return false;
  char resolved[PATH_MAX];
  if (!realpath(host.c_str(), resolved)) return FailErrno(errno);
  std::string type, device;
  if (!MountOf(resolved, type, device) || type != "vfat" || device.rfind("/dev/", 0) != 0 ||
      !RunQuietly({"fatlabel", device, label}))
    return Fail(OsErrorCode::kNotSupported);
  return true;
}

}  // namespace zw

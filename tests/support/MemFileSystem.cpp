#include "MemFileSystem.h"

#include <algorithm>
#include <cstring>
#include <iterator>

#include "CodePage.h"
#include "DosTime.h"
#include "Paths.h"
#include "SearchPattern.h"

namespace zw {

namespace {

// What a name refers to (an inode): the bytes and attributes, and the bytes as of
// the last Flush, which are what a power cut leaves. A rename moves the name, not
// this, so durable content follows the file under whatever name it has.
struct FileData {
  std::vector<uint8_t> bytes;
  std::vector<uint8_t> durable;
  bool readOnly = false;
  bool hidden = false;
  int32_t dosTime = 0;
};

struct Node {
  bool directory = false;
  std::shared_ptr<FileData> file = std::make_shared<FileData>();
};

Node NewDirectory() {
  Node dir;
  dir.directory = true;
  return dir;
}

struct OpenRecord {
  uint64_t id;
  bool read, write, denyRead, denyWrite;
};

thread_local OsError tMemError;

bool Fail(OsErrorCode code) {
  tMemError = MakeOsError(code);
  return false;
}

std::string ParentOf(const std::string& host) {
  size_t slash = host.rfind('/');
  if (slash == std::string::npos || slash == 0) return "/";
  return host.substr(0, slash);
}

std::string LeafOf(const std::string& host) { return host.substr(host.rfind('/') + 1); }

bool Below(const std::string& host, const std::string& folder) {
  if (folder == "/") return host.size() > 1 && host[0] == '/';  // the root is not below itself
  return host.size() > folder.size() && host.compare(0, folder.size(), folder) == 0 &&
         host[folder.size()] == '/';
}

}  // namespace

struct MemFileSystem::State {
  std::mutex mutex;
  std::map<std::string, Node> nodes;  // host path -> node
  std::map<std::string, std::vector<OpenRecord>> opens;
  std::map<char, std::optional<std::string>> drives;
  std::map<char, DriveType> driveTypes;
  std::map<std::string, int64_t> capacities;  // host folder -> bytes
  std::map<char, std::string> labels;
  std::string currentDir = "\\";
  uint64_t nextId = 1;
  uint32_t nextTemp = 1;
  // File names as of the last sync of their folder, and the file each named then.
  // Folders are not tracked: creating or removing one is durable at once.
  std::map<std::string, std::shared_ptr<FileData>> durableNames;
  uint64_t powerCuts = 0;  // handles opened before the last cut are stale

  // Capacity left below the tightest limited folder holding `host` (-1: unlimited).
  int64_t Room(const std::string& host) {
    int64_t best = -1;
    for (const auto& [folder, capacity] : capacities) {
      if (!Below(host, folder) && host != folder) continue;
      int64_t used = 0;
      for (const auto& [path, node] : nodes)
        if (!node.directory && Below(path, folder))
          used += static_cast<int64_t>(node.file->bytes.size());
      int64_t room = std::max<int64_t>(0, capacity - used);
      if (best < 0 || room < best) best = room;
    }
    return best;
  }

  void SyncFolder(const std::string& folder) {
    for (auto it = durableNames.begin(); it != durableNames.end();)
      it = ParentOf(it->first) == folder ? durableNames.erase(it) : std::next(it);
    for (const auto& [path, node] : nodes)
      if (!node.directory && ParentOf(path) == folder) durableNames[path] = node.file;
  }

  void PowerCut() {
    std::map<std::string, Node> kept;
    for (const auto& [path, node] : nodes)
      if (node.directory) kept.emplace(path, node);
    std::vector<const FileData*> seen;
    for (auto& [path, file] : durableNames) {
      // A folder made under that name since then is durable already and wins.
      if (kept.count(path)) continue;
      // The folder may have been removed after its files were deleted unsynced.
      for (std::string folder = ParentOf(path); !kept.count(folder); folder = ParentOf(folder))
        kept.emplace(folder, NewDirectory());
      // Two durable names of one file (a rename between folders, synced on one side
      // only) become two files, so that writing one does not change the other.
      if (std::find(seen.begin(), seen.end(), file.get()) != seen.end())
        file = std::make_shared<FileData>(*file);
      seen.push_back(file.get());
      file->bytes = file->durable;
      Node node;
      node.file = file;
      kept.emplace(path, node);
    }
    nodes.swap(kept);
    opens.clear();
    ++powerCuts;
  }
};

namespace {

class MemFileHandle : public FileHandle {
 public:
  MemFileHandle(std::shared_ptr<MemFileSystem::State> state, std::string host, uint64_t id,
                std::shared_ptr<FileData> file, bool writable)
      : state_(std::move(state)),
        host_(std::move(host)),
        id_(id),
        file_(std::move(file)),
        writable_(writable),
        powerCuts_(state_->powerCuts) {}
  ~MemFileHandle() override {
    std::lock_guard<std::mutex> lock(state_->mutex);
    if (Stale()) return;  // the power cut dropped its sharing record already
    auto& list = state_->opens[host_];
    list.erase(
        std::remove_if(list.begin(), list.end(), [&](const OpenRecord& r) { return r.id == id_; }),
        list.end());
    if (list.empty()) state_->opens.erase(host_);
  }

  int64_t Read(void* buffer, int64_t count) override {
    std::lock_guard<std::mutex> lock(state_->mutex);
    if (Stale()) return Gone();
    int64_t size = static_cast<int64_t>(file_->bytes.size());
    if (count <= 0 || position_ >= size) return 0;
    int64_t n = std::min(count, size - position_);
    std::memcpy(buffer, file_->bytes.data() + position_, static_cast<size_t>(n));
    position_ += n;
    return n;
  }

  int64_t Write(const void* buffer, int64_t count) override {
    std::lock_guard<std::mutex> lock(state_->mutex);
    if (Stale()) return Gone();
    if (!writable_) return Refuse();
    if (count <= 0) return 0;
    int64_t end = position_ + count;
    int64_t grow = end - static_cast<int64_t>(file_->bytes.size());
    if (grow > 0) {
      int64_t room = state_->Room(host_);
      if (room >= 0 && grow > room) {
        error_ = MakeOsError(OsErrorCode::kDiskFull);
        count -= grow - room;  // write what fits, as a full disk does
        if (count <= 0) return -1;
        end = position_ + count;
      }
      if (end > static_cast<int64_t>(file_->bytes.size()))
        file_->bytes.resize(static_cast<size_t>(end));
    }
    std::memcpy(file_->bytes.data() + position_, buffer, static_cast<size_t>(count));
    position_ = end;
    return count;
  }

  int64_t Seek(int64_t offset, SeekOrigin origin) override {
    std::lock_guard<std::mutex> lock(state_->mutex);
    if (Stale()) return Gone();
    int64_t base = origin == SeekOrigin::kBegin     ? 0
                   : origin == SeekOrigin::kCurrent ? position_
                                                    : static_cast<int64_t>(file_->bytes.size());
    if (base + offset < 0) {
      error_ = MakeOsError(OsErrorCode::kInvalidParameter);
      return -1;
    }
    position_ = base + offset;
    return position_;
  }

  bool Truncate(int64_t size) override {
    std::lock_guard<std::mutex> lock(state_->mutex);
    if (Stale()) return Gone() == 0;
    if (!writable_) return Refuse() == 0;
    int64_t grow = size - static_cast<int64_t>(file_->bytes.size());
    int64_t room = grow > 0 ? state_->Room(host_) : -1;
    if (size < 0 || (room >= 0 && grow > room)) {
      error_ = MakeOsError(size < 0 ? OsErrorCode::kInvalidParameter : OsErrorCode::kDiskFull);
      return false;
    }
    file_->bytes.resize(static_cast<size_t>(size));
    return true;
  }

  // Any handle can flush (as fsync on Linux): the file's bytes reach the device.
  bool Flush() override {
    std::lock_guard<std::mutex> lock(state_->mutex);
    if (Stale()) return Gone() == 0;
    file_->durable = file_->bytes;
    return true;
  }
  int64_t Size() override {
    std::lock_guard<std::mutex> lock(state_->mutex);
    if (Stale()) return Gone();
    return static_cast<int64_t>(file_->bytes.size());
  }
  OsError LastError() const override { return error_; }

 private:
  // A handle opened for reading only takes no writes, as a read-only descriptor.
  int64_t Refuse() {
    error_ = MakeOsError(OsErrorCode::kAccessDenied);
    return -1;
  }
  // Opened before the last power cut: the handle no longer refers to anything.
  bool Stale() const { return powerCuts_ != state_->powerCuts; }
  int64_t Gone() {
    error_ = MakeOsError(OsErrorCode::kInvalidHandle);
    return -1;
  }
  std::shared_ptr<MemFileSystem::State> state_;
  std::string host_;
  uint64_t id_;
  std::shared_ptr<FileData> file_;
  bool writable_;
  uint64_t powerCuts_;
  int64_t position_ = 0;
  OsError error_;
};

}  // namespace

MemFileSystem::MemFileSystem() : state_(std::make_shared<State>()) {
  state_->nodes["/"] = NewDirectory();
  state_->nodes["/tmp"] = NewDirectory();
  for (char c = 'A'; c <= 'Z'; ++c) state_->drives[c] = std::string("/") + c;
}

MemFileSystem::~MemFileSystem() = default;

OsError MemFileSystem::LastError() const { return tMemError; }

bool MemFileSystem::ToHost(const std::string& path, std::string& host) {
  std::string expanded = ExpandFileName(*this, path);
  if (expanded.size() >= 2 && IsPathDelimiter(expanded[0]) && IsPathDelimiter(expanded[1]))
    return Fail(OsErrorCode::kPathNotFound);
  std::string rest = expanded;
  std::string prefix;
  if (expanded.size() >= 2 && expanded[1] == ':') {
    std::optional<std::string> folder;
    {
      std::lock_guard<std::mutex> lock(state_->mutex);
      folder =
          state_->drives[static_cast<char>(std::toupper(static_cast<unsigned char>(expanded[0])))];
    }
    if (!folder) return Fail(OsErrorCode::kPathNotFound);
    prefix = *folder;
    rest = expanded.substr(2);
    // A mapped drive root exists as soon as it is used.
    std::lock_guard<std::mutex> lock(state_->mutex);
    if (!state_->nodes.count(prefix)) state_->nodes[prefix] = NewDirectory();
  }
  for (char& c : rest)
    if (c == '\\') c = '/';
  while (rest.size() > 1 && rest.back() == '/') rest.pop_back();
  if (prefix.empty() || prefix == "/") {
    host = rest.empty() ? "/" : rest;
  } else {
    host = rest == "/" || rest.empty() ? prefix : prefix + rest;
  }
  return true;
}

void MemFileSystem::MapDrive(char letter, const std::string& hostFolder) {
  // "/data/" and "/data" are one folder; node keys never end with a slash.
  std::string folder = hostFolder;
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  std::lock_guard<std::mutex> lock(state_->mutex);
  state_->drives[static_cast<char>(std::toupper(static_cast<unsigned char>(letter)))] = folder;
}

void MemFileSystem::UnmapDrive(char letter) {
  std::lock_guard<std::mutex> lock(state_->mutex);
  state_->drives[static_cast<char>(std::toupper(static_cast<unsigned char>(letter)))] =
      std::nullopt;
}

void MemFileSystem::SetDriveType(char letter, DriveType type) {
  std::lock_guard<std::mutex> lock(state_->mutex);
  state_->driveTypes[static_cast<char>(std::toupper(static_cast<unsigned char>(letter)))] = type;
}

bool MemFileSystem::WriteWholeFile(const std::string& path, const std::string& bytes) {
  std::string host;
  if (!ToHost(path, host)) return false;
  auto handle = Open(path, FileMode::fmCreate);
  if (!handle) return false;
  if (handle->Write(bytes.data(), static_cast<int64_t>(bytes.size())) !=
      static_cast<int64_t>(bytes.size()))
    return false;
  std::lock_guard<std::mutex> lock(state_->mutex);
  const std::shared_ptr<FileData>& file = state_->nodes.at(host).file;
  file->durable = file->bytes;
  state_->durableNames[host] = file;
  return true;
}

void MemFileSystem::MarkAllDurable() {
  std::lock_guard<std::mutex> lock(state_->mutex);
  state_->durableNames.clear();
  for (const auto& [path, node] : state_->nodes) {
    if (node.directory) continue;
    node.file->durable = node.file->bytes;
    state_->durableNames[path] = node.file;
  }
}

void MemFileSystem::SimulatePowerCut() {
  std::lock_guard<std::mutex> lock(state_->mutex);
  state_->PowerCut();
}

std::optional<std::string> MemFileSystem::ReadWholeFile(const std::string& path) {
  std::string host;
  if (!ToHost(path, host)) return std::nullopt;
  std::lock_guard<std::mutex> lock(state_->mutex);
  auto it = state_->nodes.find(host);
  if (it == state_->nodes.end() || it->second.directory) return std::nullopt;
  return std::string(it->second.file->bytes.begin(), it->second.file->bytes.end());
}

bool MemFileSystem::SetReadOnly(const std::string& path, bool readOnly) {
  std::string host;
  if (!ToHost(path, host)) return false;
  std::lock_guard<std::mutex> lock(state_->mutex);
  auto it = state_->nodes.find(host);
  if (it == state_->nodes.end()) return Fail(OsErrorCode::kFileNotFound);
  it->second.file->readOnly = readOnly;
  return true;
}

bool MemFileSystem::SetHidden(const std::string& path, bool hidden) {
  std::string host;
  if (!ToHost(path, host)) return false;
  std::lock_guard<std::mutex> lock(state_->mutex);
  auto it = state_->nodes.find(host);
  if (it == state_->nodes.end()) return Fail(OsErrorCode::kFileNotFound);
  it->second.file->hidden = hidden;
  return true;
}

bool MemFileSystem::SetFileDate(const std::string& path, int32_t dosDateTime) {
  std::string host;
  if (!ToHost(path, host)) return false;
  std::lock_guard<std::mutex> lock(state_->mutex);
  auto it = state_->nodes.find(host);
  if (it == state_->nodes.end()) return Fail(OsErrorCode::kFileNotFound);
  it->second.file->dosTime = dosDateTime;
  return true;
}

void MemFileSystem::SetCapacity(const std::string& folder, int64_t bytes) {
  std::string host;
  if (!ToHost(folder, host)) return;
  std::lock_guard<std::mutex> lock(state_->mutex);
  state_->capacities[host] = bytes;
}

std::vector<std::string> MemFileSystem::AllFiles() {
  std::lock_guard<std::mutex> lock(state_->mutex);
  std::vector<std::string> out;
  for (const auto& [path, node] : state_->nodes)
    if (!node.directory) out.push_back(path);
  return out;
}

std::map<char, std::string> MemFileSystem::Labels() {
  std::lock_guard<std::mutex> lock(state_->mutex);
  return state_->labels;
}

std::unique_ptr<FileHandle> MemFileSystem::Open(const std::string& path, uint16_t mode) {
  std::string host;
  if (path.empty()) {
    Fail(OsErrorCode::kFileNotFound);
    return nullptr;
  }
  if (!ToHost(path, host)) return nullptr;
  bool create = mode == FileMode::fmCreate;
  OpenRecord rec{};
  if (create) {
    rec = {0, true, true, true, true};
  } else {
    int access = mode & 3;
    rec.read = access != 1;
    rec.write = access != 0;
    int share = mode & 0xF0;
    rec.denyRead = share == FileMode::fmShareDenyRead || share == FileMode::fmShareCompat ||
                   share == FileMode::fmShareExclusive;
    rec.denyWrite = share == FileMode::fmShareDenyWrite || share == FileMode::fmShareCompat ||
                    share == FileMode::fmShareExclusive;
  }
  std::lock_guard<std::mutex> lock(state_->mutex);
  auto parent = state_->nodes.find(ParentOf(host));
  if (parent == state_->nodes.end() || !parent->second.directory) {
    Fail(OsErrorCode::kPathNotFound);
    return nullptr;
  }
  auto it = state_->nodes.find(host);
  if (it == state_->nodes.end() && !create) {
    Fail(OsErrorCode::kFileNotFound);
    return nullptr;
  }
  if (it != state_->nodes.end() &&
      (it->second.directory || (rec.write && it->second.file->readOnly))) {
    Fail(OsErrorCode::kAccessDenied);
    return nullptr;
  }
  for (const OpenRecord& other : state_->opens[host]) {
    if ((rec.read && other.denyRead) || (rec.write && other.denyWrite) ||
        (rec.denyRead && other.read) || (rec.denyWrite && other.write)) {
      Fail(OsErrorCode::kSharingViolation);
      return nullptr;
    }
  }
  if (it == state_->nodes.end()) {
    Node node;
    node.file->dosTime = CurrentDosDateTime();
    it = state_->nodes.emplace(host, node).first;
  } else if (create) {
    // The same file, emptied: its durable bytes stay until a Flush.
    it->second.file->bytes.clear();
    it->second.file->dosTime = CurrentDosDateTime();
  }
  rec.id = state_->nextId++;
  state_->opens[host].push_back(rec);
  return std::make_unique<MemFileHandle>(state_, host, rec.id, it->second.file, rec.write);
}

bool MemFileSystem::FileExists(const std::string& path) {
  std::string host;
  if (!ToHost(path, host)) return false;
  std::lock_guard<std::mutex> lock(state_->mutex);
  auto it = state_->nodes.find(host);
  return it != state_->nodes.end() && !it->second.directory;
}

bool MemFileSystem::DirectoryExists(const std::string& path) {
  std::string host;
  if (!ToHost(path, host)) return false;
  std::lock_guard<std::mutex> lock(state_->mutex);
  auto it = state_->nodes.find(host);
  return it != state_->nodes.end() && it->second.directory;
}

int32_t MemFileSystem::GetAttributes(const std::string& path) {
  std::string host;
  if (!ToHost(path, host)) return -1;
  std::lock_guard<std::mutex> lock(state_->mutex);
  auto it = state_->nodes.find(host);
  if (it == state_->nodes.end()) {
    Fail(OsErrorCode::kFileNotFound);
    return -1;
  }
  const Node& n = it->second;
  std::string leaf = LeafOf(host);
  int32_t attr = n.directory ? FileAttr::faDirectory : FileAttr::faArchive;
  if (n.file->readOnly) attr |= FileAttr::faReadOnly;
  if (n.file->hidden || (!leaf.empty() && leaf[0] == '.')) attr |= FileAttr::faHidden;
  return attr;
}

bool MemFileSystem::GetFileDate(const std::string& path, int32_t& dosDateTime) {
  std::string host;
  if (!ToHost(path, host)) return false;
  std::lock_guard<std::mutex> lock(state_->mutex);
  auto it = state_->nodes.find(host);
  if (it == state_->nodes.end()) return Fail(OsErrorCode::kFileNotFound);
  if (it->second.directory) return Fail(OsErrorCode::kAccessDenied);
  dosDateTime = it->second.file->dosTime;
  return true;
}

bool MemFileSystem::DeleteFile(const std::string& path) {
  std::string host;
  if (!ToHost(path, host)) return false;
  std::lock_guard<std::mutex> lock(state_->mutex);
  auto it = state_->nodes.find(host);
  if (it == state_->nodes.end()) return Fail(OsErrorCode::kFileNotFound);
  if (it->second.directory) return Fail(OsErrorCode::kAccessDenied);
  if (state_->opens.count(host)) return Fail(OsErrorCode::kSharingViolation);
  state_->nodes.erase(it);
  return true;
}

bool MemFileSystem::SyncFolderOf(const std::string& path) {
  std::string host;
  if (!ToHost(path, host)) return false;
  std::string folder = ParentOf(host);
  std::lock_guard<std::mutex> lock(state_->mutex);
  auto it = state_->nodes.find(folder);
  if (it == state_->nodes.end() || !it->second.directory) return Fail(OsErrorCode::kPathNotFound);
  state_->SyncFolder(folder);
  return true;
}

bool MemFileSystem::RenameFile(const std::string& from, const std::string& to) {
  std::string a, b;
  if (!ToHost(from, a) || !ToHost(to, b)) return false;
  std::lock_guard<std::mutex> lock(state_->mutex);
  auto it = state_->nodes.find(a);
  if (it == state_->nodes.end()) return Fail(OsErrorCode::kFileNotFound);
  if (state_->nodes.count(b)) return Fail(OsErrorCode::kAlreadyExists);
  auto parent = state_->nodes.find(ParentOf(b));
  if (parent == state_->nodes.end() || !parent->second.directory)
    return Fail(OsErrorCode::kPathNotFound);
  if (it->second.directory) return Fail(OsErrorCode::kAccessDenied);
  if (state_->opens.count(a)) return Fail(OsErrorCode::kSharingViolation);
  Node node = it->second;
  state_->nodes.erase(it);
  state_->nodes[b] = node;
  return true;
}

bool MemFileSystem::ReplaceFile(const std::string& from, const std::string& to) {
  std::string a, b;
  if (!ToHost(from, a) || !ToHost(to, b)) return false;
  {
    std::lock_guard<std::mutex> lock(state_->mutex);
    auto target = state_->nodes.find(b);
    if (target != state_->nodes.end() && a != b) {
      if (target->second.directory || target->second.file->readOnly)
        return Fail(OsErrorCode::kAccessDenied);
      if (state_->opens.count(b)) return Fail(OsErrorCode::kSharingViolation);
      auto source = state_->nodes.find(a);
      if (source == state_->nodes.end()) return Fail(OsErrorCode::kFileNotFound);
      if (source->second.directory) return Fail(OsErrorCode::kAccessDenied);
      if (state_->opens.count(a)) return Fail(OsErrorCode::kSharingViolation);
      // The replaced file's durable name stays until a sync, as for RenameFile.
      state_->nodes.erase(target);
    }
  }
  return RenameFile(from, to);
}

bool MemFileSystem::CreateDirectory(const std::string& path) {
  std::string host;
  if (!ToHost(path, host)) return false;
  std::lock_guard<std::mutex> lock(state_->mutex);
  if (state_->nodes.count(host)) return Fail(OsErrorCode::kAlreadyExists);
  auto parent = state_->nodes.find(ParentOf(host));
  if (parent == state_->nodes.end() || !parent->second.directory)
    return Fail(OsErrorCode::kPathNotFound);
  state_->nodes[host] = NewDirectory();
  return true;
}

bool MemFileSystem::RemoveDirectory(const std::string& path) {
  std::string host;
  if (!ToHost(path, host)) return false;
  std::lock_guard<std::mutex> lock(state_->mutex);
  auto it = state_->nodes.find(host);
  if (it == state_->nodes.end() || !it->second.directory) return Fail(OsErrorCode::kPathNotFound);
  for (const auto& [p, n] : state_->nodes)
    if (Below(p, host)) return Fail(OsErrorCode::kDirNotEmpty);
  state_->nodes.erase(it);
  return true;
}

bool MemFileSystem::FindFiles(const std::string& pattern, int32_t attrMask,
                              std::vector<TSearchRec>& out) {
  out.clear();
  std::string dir = ExtractFilePath(pattern);
  std::string mask = ExtractFileName(pattern);
  std::string host;
  if (!ToHost(dir.empty() ? "." : dir, host)) return false;
  std::vector<std::string> names;
  {
    std::lock_guard<std::mutex> lock(state_->mutex);
    auto it = state_->nodes.find(host);
    if (it == state_->nodes.end() || !it->second.directory) return Fail(OsErrorCode::kPathNotFound);
    for (const auto& [p, n] : state_->nodes)
      if (Below(p, host) && ParentOf(p) == host && SearchPatternMatches(mask, LeafOf(p)))
        names.push_back(LeafOf(p));
  }
  constexpr int32_t kFiltered =
      FileAttr::faHidden | FileAttr::faSysFile | FileAttr::faVolumeID | FileAttr::faDirectory;
  std::string prefix = IncludeTrailingPathDelimiter(dir.empty() ? "." : dir);
  for (const std::string& name : names) {
    TSearchRec rec;
    rec.Name = name;
    rec.Attr = GetAttributes(prefix + name);
    if (rec.Attr < 0 || ((rec.Attr & kFiltered) & ~attrMask)) continue;
    GetFileDate(prefix + name, rec.Time);
    std::lock_guard<std::mutex> lock(state_->mutex);
    const Node& n = state_->nodes[host == "/" ? "/" + name : host + "/" + name];
    rec.Size = n.directory ? 0 : static_cast<int64_t>(n.file->bytes.size());
    out.push_back(rec);
  }
  SortSearchResults(out);
  return true;
}

std::string MemFileSystem::GetCurrentDir() {
  std::lock_guard<std::mutex> lock(state_->mutex);
  return state_->currentDir;
}

bool MemFileSystem::SetCurrentDir(const std::string& path) {
  if (!DirectoryExists(path)) return Fail(OsErrorCode::kPathNotFound);
  std::string expanded = ExpandFileName(*this, path);
  if (expanded.size() > 1 && expanded.back() == '\\' && expanded[expanded.size() - 2] != ':')
    expanded.pop_back();
  std::lock_guard<std::mutex> lock(state_->mutex);
  state_->currentDir = expanded;
  return true;
}

std::string MemFileSystem::GetTempDir() { return "\\tmp\\"; }

bool MemFileSystem::CreateTempFile(const std::string& dir, const std::string& prefix,
                                   std::string& path) {
  std::string folder = IncludeTrailingPathDelimiter(ExpandFileName(*this, dir));
  if (!DirectoryExists(folder)) return Fail(OsErrorCode::kPathNotFound);
  for (int attempt = 0; attempt < 65536; ++attempt) {
    uint32_t number;
    {
      std::lock_guard<std::mutex> lock(state_->mutex);
      number = state_->nextTemp++;
    }
    if ((number & 0xFFFF) == 0) continue;  // the system never hands out number 0
    char name[32];
    std::snprintf(name, sizeof name, "%04X.tmp", number & 0xFFFF);
    std::string candidate = folder + prefix.substr(0, 3) + name;
    if (FileExists(candidate)) continue;
    auto handle = Open(candidate, FileMode::fmCreate);
    if (!handle) return false;
    path = candidate;
    return true;
  }
  return Fail(OsErrorCode::kFileExists);
}

int64_t MemFileSystem::GetFreeSpace(const std::string& path) {
  std::string host;
  if (!ToHost(path, host)) return -1;
  std::lock_guard<std::mutex> lock(state_->mutex);
  int64_t room = state_->Room(host);
  return room < 0 ? (int64_t{1} << 40) : room;
}

DriveType MemFileSystem::GetDriveType(const std::string& root) {
  if (root.size() >= 2 && root[1] == ':') {
    char letter = static_cast<char>(std::toupper(static_cast<unsigned char>(root[0])));
    std::lock_guard<std::mutex> lock(state_->mutex);
    auto type = state_->driveTypes.find(letter);
    if (type != state_->driveTypes.end()) return type->second;
    if (letter == 'A' || letter == 'B') return DriveType::kRemovable;
    return state_->drives[letter] ? DriveType::kFixed : DriveType::kNoRootDir;
  }
  return DriveType::kFixed;
}

bool MemFileSystem::SetVolumeLabel(const std::string& root, const std::string& label) {
  if (root.size() < 2 || root[1] != ':') return Fail(OsErrorCode::kInvalidName);
  std::lock_guard<std::mutex> lock(state_->mutex);
  state_->labels[static_cast<char>(std::toupper(static_cast<unsigned char>(root[0])))] = label;
  return true;
}

}  // namespace zw

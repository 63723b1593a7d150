// Adding files: search by mask and attributes, exclusions, stored names, and queueing
// new or replacing entries for the update engine.
#include <mutex>

#include "ArchiverState.h"
#include "CodePage.h"
#include "DirManager.h"
#include "DosTime.h"
#include "FileSystem.h"
#include "Journal.h"
#include "Paths.h"
#include "ZWExcept.h"
#include "ZWMasks.h"
#include "ZWStrFunc.h"
#include "ZipWriter.h"

namespace zw {

namespace {

// The search changes the file system's current directory: one search at a time.
std::mutex& SearchLock() {
  static std::mutex lock;
  return lock;
}

constexpr int32_t kDirectoryBit = FileAttr::faDirectory;

class FileSearch {
 public:
  FileSearch(TZWBaseArchiver& a, int32_t attributes, std::vector<std::string> exclusions)
      : a_(a),
        s_(ArchiverAccess::S(a)),
        fs_(a.Files()),
        attributes_(attributes),
        exclusions_(std::move(exclusions)) {}
  void Run(const std::string& mask);

 private:
  void SearchDirectory(const std::string& directory, const std::string& mask, bool recurse);
  void SearchSubdirectories(const std::string& directory, const std::string& mask,
                            const ExpandedMask& expanded, bool recurse);
  bool CheckExclusionsAndQueue(const TSearchRec& entry, const std::string& directory);
  bool Excluded(const std::string& path, bool isDirectory);
  void QueueFoundFile(const std::string& fullPath, const TSearchRec& entry);
  int32_t QueueFile(const std::string& diskPath, const TSearchRec& entry);
  bool Replaces(int32_t index, const std::string& diskPath, const TSearchRec& entry,
                std::string& stored);
  void InitNewItem(TDirItem& item, const std::string& diskPath, const TSearchRec& entry);
  // The DOS date-time of a found entry: the search's, or asked for when it had none.
  bool FileDate(const std::string& diskPath, const TSearchRec& entry, int32_t& dosTime);
  const std::string& Resolved(const std::string& directory);

  TZWBaseArchiver& a_;
  TZWBaseArchiver::State& s_;
  FileSystem& fs_;
  int32_t attributes_;
  std::vector<std::string> exclusions_;
  std::string base_;  // BaseDir resolved against the current folder at the start
  // The last directory resolved, and what it resolved to: every entry of one folder
  // needs it, and resolving asks the file system.
  std::string resolvedFrom_, resolvedTo_;
};

void FileSearch::Run(const std::string& mask) {
  std::lock_guard<std::mutex> lock(SearchLock());
  std::string saved = fs_.GetCurrentDir();
  struct Restore {
    FileSystem& fs;
    std::string dir;
    ~Restore() { fs.SetCurrentDir(dir); }
  } restore{fs_, saved};
  base_ = ResolveDirectory(fs_, s_.baseDir);
  fs_.SetCurrentDir(base_);
  SearchDirectory(base_, mask, s_.options.Recurse);
}

bool HasWildcard(const std::string& text) {
  return text.find('*') != std::string::npos || text.find('?') != std::string::npos;
}

void FileSearch::SearchDirectory(const std::string& directory, const std::string& mask,
                                 bool recurse) {
  ExpandedMask expanded = ExpandMask(fs_, mask, directory);
  if (expanded.pattern.empty()) return;
  if (expanded.pattern == mask && !HasWildcard(mask) && fs_.FileExists(mask)) {
    TSearchRec single;  // no search ran: its time is asked for when needed
    single.Name = ExtractFileName(mask);
    single.Attr = fs_.GetAttributes(mask);
    CheckExclusionsAndQueue(single, ExtractFilePath(expanded.pattern));
    return;
  }
  int32_t searchMask = attributes_ & ~kDirectoryBit;
  constexpr int32_t kAllFileBits =
      FileAttr::faArchive | FileAttr::faReadOnly | FileAttr::faHidden | FileAttr::faSysFile;
  std::vector<TSearchRec> found;
  fs_.FindFiles(expanded.pattern, searchMask, found);
  for (const TSearchRec& entry : found) {
    if ((entry.Attr & kDirectoryBit) != 0) continue;
    bool taken = (entry.Attr & searchMask) != 0 ||
                 (entry.Attr == 0 && (searchMask & kAllFileBits) == kAllFileBits);
    if (taken) CheckExclusionsAndQueue(entry, ExtractFilePath(expanded.pattern));
  }
  if ((attributes_ & kDirectoryBit) || recurse)
    SearchSubdirectories(directory, mask, expanded, recurse);
}

void FileSearch::SearchSubdirectories(const std::string& directory, const std::string& mask,
                                      const ExpandedMask& expanded, bool recurse) {
  std::string dir = ExtractFilePath(expanded.pattern);
  // Compared in resolved form, so "/" and "\" in the caller's texts do not differ.
  std::string resolved = ResolveDirectory(fs_, directory);
  if (expanded.relative && ResolveDirectory(fs_, dir).find(resolved) == std::string::npos)
    dir = IncludeTrailingPathDelimiter(resolved);
  std::vector<TSearchRec> subdirs;
  fs_.FindDirectories(dir, FileAttr::faHidden | FileAttr::faSysFile, subdirs);
  for (const TSearchRec& sub : subdirs) {
    if (!(sub.Attr & kDirectoryBit) || sub.Name == "." || sub.Name == "..") continue;
    std::string path = dir + sub.Name;
    if (Excluded(path, true)) continue;
    TMask pattern(expanded.pattern);
    if ((attributes_ & kDirectoryBit) &&
        (pattern.MatchText(path) || pattern.MatchText(path + "."))) {
      if (CheckExclusionsAndQueue(sub, dir)) SearchDirectory(path, "*.*", true);
    } else if (recurse) {
      if (mask.find('/') == std::string::npos && mask.find('\\') == std::string::npos)
        SearchDirectory(path, mask, true);
      else if (HasWildcard(mask))
        SearchDirectory(path, ExtractFileName(expanded.pattern), true);
    }
  }
}

bool FileSearch::Excluded(const std::string& path, bool isDirectory) {
  for (const std::string& mask : exclusions_)
    if (PathMatchesMask(fs_, path, mask, isDirectory)) return true;
  return false;
}

const std::string& FileSearch::Resolved(const std::string& directory) {
  if (resolvedFrom_ != directory || resolvedTo_.empty()) {
    resolvedTo_ = ResolveDirectory(fs_, directory);
    resolvedFrom_ = directory;
  }
  return resolvedTo_;
}

bool FileSearch::CheckExclusionsAndQueue(const TSearchRec& entry, const std::string& directory) {
  bool isDirectory = (entry.Attr & kDirectoryBit) != 0;
  std::string full =
      IncludeTrailingPathDelimiter(Resolved(directory)) + entry.Name + (isDirectory ? "\\" : "");
  if (Excluded(full, isDirectory)) return false;
  QueueFoundFile(full, entry);
  return true;
}

void FileSearch::QueueFoundFile(const std::string& fullPath, const TSearchRec& entry) {
  bool isDirectory = (entry.Attr & kDirectoryBit) != 0;
  bool confirm = true;
  ArchiverAccess::ConfirmProcessFile(a_, fullPath, poAdd, confirm);
  if (!confirm) return;
  int32_t index = QueueFile(fullPath, entry);
  if (index < 0) return;
  for (const std::string& mask : s_.noCompressionMasks) {
    if (!PathMatchesMask(fs_, fullPath, mask, isDirectory)) continue;
    TDirItem& item = s_.dirManager->WorkingDirectory.ItemPtr(index);
    item.CompressionMode = 0;
    item.CompressionMethod = 0;
    break;
  }
}

// The found entry's attributes are those the file system reports for the path (the
// search just read them), so the file is not asked again.
int32_t FileSearch::QueueFile(const std::string& diskPath, const TSearchRec& entry) {
  TZWDirArray& working = s_.dirManager->WorkingDirectory;
  // The base resolved before the search moved into it: a relative BaseDir read again
  // now would name a folder inside itself.
  std::string stored = MakeStoredNameInResolved(fs_, diskPath, base_, s_.options.StorePath);
  bool isDirectory = entry.Attr >= 0 && (entry.Attr & kDirectoryBit) != 0;
  if (isDirectory && (stored.empty() || stored.back() != '/')) stored += '/';
  uint32_t attributes =
      entry.Attr >= 0 ? static_cast<uint32_t>(entry.Attr) : (isDirectory ? 0x10u : 0x20u);
  std::string comment;
  ArchiverAccess::StoreFile(a_, stored, attributes, comment);
  // With OEM names, a name CP437 holds is stored in CP437 as before; any other is
  // stored in UTF-8 with the language-encoding flag (bit 11), bytes that are not UTF-8
  // escaped one to one (Utf8Name), so distinct files keep distinct names and a file
  // gets the same name on every run. The directory keeps bit-11 names as stored, so
  // the lookup below compares the same form it reads back.
  bool utf8Name = s_.options.OEMFileNames && OemToAnsi(AnsiToOem(stored)) != stored;
  if (utf8Name) stored = Utf8Name(stored);
  int32_t index = -1;
  if (working.FindByName(stored, index)) {
    if (!Replaces(index, diskPath, entry, stored)) return -1;
    TDirItem& item = working.ItemPtr(index);
    InitNewItem(item, diskPath, entry);
    item.Operation = poUpdate;
  } else {
    index = working.Add();
    InitNewItem(working.ItemPtr(index), diskPath, entry);
    working.ItemPtr(index).Operation = poAdd;
  }
  TDirItem& item = working.ItemPtr(index);
  item.FileName = stored;
  if (utf8Name) item.Flags |= kFlagUtf8Name;
  item.FileNameLength = static_cast<uint16_t>(std::min<size_t>(stored.size(), 0xFFFF));
  item.ExternalAttributes = attributes;
  // The handler's comment is written with the entry (none when it sets none).
  item.FileComment = comment;
  item.FileCommentLength = static_cast<uint16_t>(std::min<size_t>(comment.size(), 0xFFFF));
  working.NameChanged(index);
  return index;
}

bool FileSearch::FileDate(const std::string& diskPath, const TSearchRec& entry, int32_t& dosTime) {
  if (entry.Attr >= 0 && (entry.Attr & kDirectoryBit)) return false;  // a folder has none
  if (entry.Time != 0) {
    dosTime = entry.Time;
    return true;
  }
  return fs_.GetFileDate(diskPath, dosTime);
}

bool FileSearch::Replaces(int32_t index, const std::string& diskPath, const TSearchRec& entry,
                          std::string& stored) {
  const TDirItem& existing = s_.dirManager->WorkingDirectory.ItemPtr(index);
  switch (s_.options.OverwriteMode) {
    case omPrompt: {
      bool confirm = false;
      s_.events.ConfirmOverwrite(diskPath, stored, confirm);
      return confirm;
    }
    case omAlways:
      return true;
    case omNever:
      return false;
    case omIfNewer:
    case omIfOlder: {
      int32_t entryTime = static_cast<int32_t>((static_cast<uint32_t>(existing.LastModDate) << 16) |
                                               existing.LastModTime);
      int32_t fileTime = -1;
      if (!FileDate(diskPath, entry, fileTime)) fileTime = -1;
      return s_.options.OverwriteMode == omIfNewer ? fileTime > entryTime : fileTime < entryTime;
    }
  }
  return false;
}

void FileSearch::InitNewItem(TDirItem& item, const std::string& diskPath, const TSearchRec& entry) {
  bool isDirectory = entry.Attr >= 0 && (entry.Attr & kDirectoryBit) != 0;
  int32_t dosTime = 0;
  if (!FileDate(diskPath, entry, dosTime)) dosTime = CurrentDosDateTime();
  std::string name = item.FileName;
  item = TDirItem();
  item.FileName = name;
  item.Modified = true;
  item.Password = s_.password;
  item.SourceFileName = diskPath;
  item.CompressionMode = isDirectory ? 0 : s_.compressionMode;
  item.CompressionMethod =
      ArchiverAccess::Method(a_) == kMethodDeflated ? kMethodDeflated : kMethodStored;
  item.Signature = kCentralHeaderSignature;
  item.VersionNeeded = item.VersionMadeBy = EntryVersion(false, s_.options.OEMFileNames);
  item.Flags = s_.password.empty() ? 0 : kFlagEncrypted;
  item.LastModTime = static_cast<uint16_t>(dosTime & 0xFFFF);
  item.LastModDate = static_cast<uint16_t>((static_cast<uint32_t>(dosTime) >> 16) & 0xFFFF);
  item.Crc32 = 0xFFFFFFFF;
  if (isDirectory) {
    item.CompressionMethod = 0;
    item.Crc32 = 0;
    item.Flags = kFlagDirectoryEntry;
  }
}

}  // namespace

void TZWBaseArchiver::AddFilesByMask(const std::string& fileMask, int32_t searchAttr,
                                     const std::string& exclusionMask) {
  CheckArchiveOpen();
  CheckMultiVolumeChange();
  State& s = *d_;
  // Neither the archive nor its rollback journal is ever taken into it.
  std::vector<std::string> exclusions{
      exclusionMask, ExpandInDirectory(Files(), "", s.fileName),
      ExpandInDirectory(Files(), "", TZWJournal::PathFor(s.fileName))};
  if (!s.currentVolumeFileName.empty() && s.currentVolumeFileName != s.fileName)
    exclusions.push_back(ExpandInDirectory(Files(), "", s.currentVolumeFileName));
  BeginUpdate();
  try {
    FileSearch(*this, searchAttr, exclusions).Run(fileMask);
    EndUpdate();
  } catch (...) {
    ResetUpdateCounter();
    throw;
  }
}

}  // namespace zw

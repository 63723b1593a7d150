#include "Restore.h"

#include <zlib.h>

#include <algorithm>
#include <memory>

#include "ArchiverState.h"
#include "CodePage.h"
#include "DirItem.h"
#include "DirManager.h"
#include "EngineEvents.h"
#include "FileSystem.h"
#include "Paths.h"
#include "RestoreContext.h"
#include "Streams.h"
#include "ZWExcept.h"
#include "ZWMasks.h"
#include "ZipRecords.h"

namespace zw {

TZWRestorer::TZWRestorer(const TZWRestoreContext& context)
    : c_(std::make_unique<TZWRestoreContext>(context)) {}

TZWRestorer::~TZWRestorer() = default;

namespace {

constexpr uint16_t kUnicodePathExtraId = 0x7075;
constexpr uint32_t kDosReadOnly = 0x01;
constexpr uint8_t kHostUnix = 3;
constexpr uint8_t kHostDarwin = 19;
constexpr uint32_t kDosDirectory = 0x10;

// The name's bytes as stored in the archive.
std::string StoredName(const TDirItem& item) {
  if (!item.StoredNameBytes.empty()) return item.StoredNameBytes;
  return (item.Flags & kFlagUtf8Name) ? item.FileName : AnsiToOem(item.FileName);
}

// The UTF-8 name of a Unicode path extra field (version 1) whose CRC-32 is that of
// the stored name; empty when there is none that fits.
std::string UnicodePathName(const TDirItem& item) {
  for (const TExtraField& block : item.ExtraFields) {
    if (block.HeaderID != kUnicodePathExtraId || block.Data.size() < 5 || block.Data[0] != 1)
      continue;
    std::string stored = StoredName(item);
    uint32_t crc = static_cast<uint32_t>(
        crc32(0, reinterpret_cast<const Bytef*>(stored.data()), static_cast<uInt>(stored.size())));
    if (GetU32(block.Data.data() + 1) != crc) continue;
    return std::string(block.Data.begin() + 5, block.Data.end());
  }
  return {};
}

bool IsSeparator(char c) { return c == '/' || c == '\\'; }

bool EndsAsFolder(const TDirItem& item, const std::string& name) {
  return (!name.empty() && IsSeparator(name.back())) ||
         ((item.ExternalAttributes & kDosDirectory) && item.RealUncompressedSize() == 0);
}

void AddChange(std::string& changes, const std::string& text) {
  changes += (changes.empty() ? "" : "; ") + text;
}

// The entry's name as the host should see it (UTF-8, or the original bytes).
std::string HostName(const TDirItem& item) {
  if (item.Flags & kFlagUtf8Name) return Utf8NameBytes(item.FileName);
  std::string unicode = UnicodePathName(item);
  if (!unicode.empty()) return Utf8NameBytes(unicode);
  // Unix hosts store names in their own bytes, UTF-8 nowadays, without bit 11: taken
  // as they are (as Info-ZIP's unzip does). The directory decoded every other name
  // from CP437 already.
  uint8_t host = static_cast<uint8_t>(item.VersionMadeBy >> 8);
  if (host == kHostUnix || host == kHostDarwin) return StoredName(item);
  return item.FileName;
}

}  // namespace

bool TZWRestorer::SafeRelativePath(const std::string& name, std::string& relative,
                                   std::string& changes) {
  relative.clear();
  changes.clear();
  std::string_view rest = name;
  if (rest.find('\\') != std::string_view::npos)
    AddChange(changes, "backslashes taken as folder separators");
  if (rest.size() >= 2 && rest[1] == ':' &&
      ((rest[0] >= 'A' && rest[0] <= 'Z') || (rest[0] >= 'a' && rest[0] <= 'z'))) {
    AddChange(changes, "drive letter " + std::string(rest.substr(0, 2)) + " dropped");
    rest.remove_prefix(2);
  }
  if (!rest.empty() && IsSeparator(rest.front())) AddChange(changes, "leading separator dropped");
  size_t at = 0;
  while (at <= rest.size()) {
    size_t end = at;
    while (end < rest.size() && !IsSeparator(rest[end])) ++end;
    std::string_view part = rest.substr(at, end - at);
    at = end + 1;
    if (part.empty() || part == ".") continue;
    if (part == "..") {
      changes = "its name climbs out of the target folder with \"..\"";
      return false;
    }
    if (!relative.empty()) relative += '/';
    relative.append(part);
  }
  if (relative.empty()) {
    changes = "its name holds no file name";
    return false;
  }
  return true;
}

void TZWRestorer::Note(TZWRestoreNote::Kind kind, const std::string& name,
                       const std::string& text) {
  if (OnNote) OnNote(TZWRestoreNote{kind, name, text});
}

void TZWRestorer::Progress(uint64_t bytes) {
  done_ += bytes;
  if (OnProgress) OnProgress(done_, total_);
}

std::vector<int32_t> TZWRestorer::Selection(TZWRestoreTotals& totals) {
  const TZWDirManager* dm = c_->read.session.dirManager.get();
  std::vector<int32_t> chosen;
  total_ = done_ = 0;
  if (!dm) return chosen;
  std::vector<TMask> masks;
  for (const std::string& mask : Masks) masks.emplace_back(mask);
  std::vector<bool> used(masks.size());
  const TZWDirArray& dir = dm->WorkingDirectory;
  for (int32_t i = 0; i < dir.Count(); ++i) {
    const TDirItem& item = dir.ItemPtr(i);
    bool wanted = masks.empty();
    std::string name = HostName(item);
    for (size_t m = 0; m < masks.size(); ++m)
      if (masks[m].MatchText(name)) wanted = used[m] = true;
    if (!wanted) continue;
    chosen.push_back(i);
    total_ += item.RealUncompressedSize();
  }
  for (size_t m = 0; m < masks.size(); ++m)
    if (!used[m]) totals.UnmatchedMasks.push_back(Masks[m]);
  return chosen;
}

TZWRestoreTotals TZWRestorer::Test() {
  TZWRestoreTotals totals;
  std::vector<int32_t> chosen = Selection(totals);
  TZWEntryReader reader(c_->read);
  for (int32_t index : chosen) {
    ++totals.Selected;
    TZWEntryResult result = reader.Read(index, [this](const uint8_t*, size_t n) { Progress(n); });
    if (result.Ok()) {
      ++totals.Passed;
      continue;
    }
    ++totals.Failed;
    Note(TZWRestoreNote::kFailed,
         HostName(c_->read.session.dirManager.get()->WorkingDirectory.ItemPtr(index)),
         result.Reason);
  }
  return totals;
}

TZWRestoreTotals TZWRestorer::Extract(const std::string& folder) {
  TZWRestoreTotals totals;
  std::vector<int32_t> chosen = Selection(totals);
  TZWEntryReader reader(c_->read);
  std::string root = IncludeTrailingPathDelimiter(folder);
  for (int32_t index : chosen) {
    ++totals.Selected;
    int32_t keptBefore = kept_;
    if (!ExtractOne(reader, index, root))
      ++totals.Failed;
    else if (kept_ > keptBefore)
      ++totals.Kept;
    else
      ++totals.Passed;
  }
  return totals;
}

bool TZWRestorer::ExtractOne(TZWEntryReader& reader, int32_t index, const std::string& root) {
  const TDirItem& item = c_->read.session.dirManager.get()->WorkingDirectory.ItemPtr(index);
  std::string host = HostName(item);
  const std::string& name = host;
  std::string relative, changes;
  if (!SafeRelativePath(host, relative, changes)) {
    Note(TZWRestoreNote::kRefused, name, changes);
    return false;
  }
  bool folderEntry = EndsAsFolder(item, host);
  if (!PrepareFolders(root, relative, name, folderEntry)) return false;
  if (!changes.empty()) Note(TZWRestoreNote::kRenamed, name, changes + ": " + relative);
  if (folderEntry) return true;
  size_t slash = relative.rfind('/');
  std::string folder = root + relative.substr(0, slash == std::string::npos ? 0 : slash + 1);
  std::string leaf = relative.substr(slash == std::string::npos ? 0 : slash + 1);
  std::string existing = ExistingName(folder, leaf);
  bool exists = !existing.empty();
  std::string target = folder + (exists ? existing : leaf);
  // A link in the file's own place is replaced, never followed (the rename takes the
  // name); it is refused all the same, as its owner may have meant something by it.
  if (exists && c_->read.files.IsSymbolicLink(target)) {
    Note(TZWRestoreNote::kRefused, name, "it would replace the symbolic link " + relative);
    return false;
  }
  if (exists && !ShouldReplace(item, target, name)) {
    ++kept_;
    Note(TZWRestoreNote::kKept, name, "an existing file was kept");
    return true;
  }
  if (!WriteEntry(reader, index, target, name, exists)) return false;
  folders_[folder][FoldName(leaf)] = exists ? existing : leaf;
  return true;
}

std::string TZWRestorer::ExistingName(const std::string& folder, const std::string& leaf) {
  auto known = folders_.find(folder);
  if (known == folders_.end()) {
    auto& names = folders_[folder];
    std::vector<TSearchRec> found;
    constexpr int32_t kEverything = FileAttr::faReadOnly | FileAttr::faHidden |
                                    FileAttr::faSysFile | FileAttr::faDirectory |
                                    FileAttr::faArchive;
    if (c_->read.files.FindFiles(folder + "*", kEverything, found))
      for (const TSearchRec& rec : found) names.emplace(FoldName(rec.Name), rec.Name);
    known = folders_.find(folder);
  }
  auto it = known->second.find(FoldName(leaf));
  return it == known->second.end() ? std::string() : it->second;
}

// Creates the folders of `relative` below `root` (the last part too for a folder
// entry), refusing any part that is a symbolic link: writing through it could reach
// anywhere.
bool TZWRestorer::PrepareFolders(const std::string& root, const std::string& relative,
                                 const std::string& name, bool leafIsFolder) {
  FileSystem& fs = c_->read.files;
  size_t at = 0;
  while (true) {
    size_t slash = relative.find('/', at);
    bool leaf = slash == std::string::npos;
    if (leaf && !leafIsFolder) return true;  // the file's own place: see ExtractOne
    std::string path = root + relative.substr(0, leaf ? relative.size() : slash);
    if (fs.IsSymbolicLink(path)) {
      Note(TZWRestoreNote::kRefused, name,
           "its path leads through the symbolic link " + path.substr(root.size()));
      return false;
    }
    if (!fs.DirectoryExists(path)) {
      if (!fs.CreateDirectory(path)) {
        Note(TZWRestoreNote::kFailed, name,
             "cannot create the folder " + path + ": " + fs.LastError().message);
        return false;
      }
      folders_[path + "/"];  // new and empty: nothing to search
    }
    if (leaf) return true;
    at = slash + 1;
  }
}

bool TZWRestorer::ShouldReplace(const TDirItem& item, const std::string& target,
                                const std::string& name) {
  const TZWOptions& options = c_->read.settings.options;
  int32_t fileTime = 0;
  int32_t entryTime = static_cast<int32_t>((uint32_t{item.LastModDate} << 16) | item.LastModTime);
  switch (options.OverwriteMode) {
    case omAlways:
      return true;
    case omNever:
      return false;
    case omIfNewer:
    case omIfOlder:
      // A file whose time cannot be told is kept: nothing is lost by keeping it.
      if (!c_->read.files.GetFileDate(target, fileTime)) return false;
      return options.OverwriteMode == omIfNewer ? entryTime > fileTime : entryTime < fileTime;
    case omPrompt: {
      bool confirm = false;
      std::string dest = target;
      c_->overwrite.ConfirmOverwrite(name, dest, confirm);
      return confirm;
    }
  }
  return false;
}

bool TZWRestorer::WriteEntry(TZWEntryReader& reader, int32_t index, const std::string& target,
                             const std::string& name, bool replacing) {
  FileSystem& fs = c_->read.files;
  const TDirItem& item = c_->read.session.dirManager.get()->WorkingDirectory.ItemPtr(index);
  std::string temp;
  if (!fs.CreateTempFile(ExtractFilePath(target), "~zw", temp)) {
    Note(TZWRestoreNote::kFailed, name,
         "cannot create a file in " + ExtractFilePath(target) + ": " + fs.LastError().message);
    return false;
  }
  auto fail = [&](const std::string& why) {
    fs.DeleteFile(temp);
    Note(TZWRestoreNote::kFailed, name, why);
    return false;
  };
  try {
    TFileStream out(fs, temp, FileMode::fmOpenReadWrite | FileMode::fmShareExclusive);
    TZWEntryResult result = reader.Read(index, [&](const uint8_t* data, size_t n) {
      out.WriteBuffer(data, static_cast<int64_t>(n));
      Progress(n);
    });
    if (!result.Ok()) {
      Progress(item.RealUncompressedSize() - std::min(result.Size, item.RealUncompressedSize()));
      throw Exception(result.Reason);
    }
    // The old file goes only once the new one is on the device.
    if (replacing && FlushFiles && !out.Flush())
      throw Exception("cannot write " + temp + ": " + fs.LastError().message);
  } catch (const EZWException&) {
    fs.DeleteFile(temp);
    throw;
  } catch (const std::exception& e) {
    return fail(e.what());
  }
  int32_t dosTime = static_cast<int32_t>((uint32_t{item.LastModDate} << 16) | item.LastModTime);
  fs.SetFileDate(temp, dosTime);  // a time DOS cannot hold leaves the file's own
  if ((item.ExternalAttributes & kDosReadOnly) && !fs.SetReadOnly(temp, true))
    return fail("cannot make it read-only: " + fs.LastError().message);
  if (!fs.ReplaceFile(temp, target)) {
    std::string why = fs.LastError().message;
    if (item.ExternalAttributes & kDosReadOnly) fs.SetReadOnly(temp, false);
    return fail("cannot write " + target + ": " + why);
  }
  return true;
}

}  // namespace zw

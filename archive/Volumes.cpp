#include "Volumes.h"

#include <algorithm>
#include <vector>

#include "ArchiverState.h"
#include "CodePage.h"
#include "DirectoryReader.h"
#include "FileSystem.h"
#include "Format.h"
#include "Journal.h"
#include "Paths.h"
#include "Streams.h"
#include "ZWExcept.h"

namespace zw {

namespace {

struct NameParts {
  std::string folder, base, ext;
};

NameParts Split(const std::string& name) {
  NameParts p;
  p.folder = ExtractFilePath(name);
  std::string file = ExtractFileName(name);
  p.ext = ExtractFileExt(file);
  p.base = file.substr(0, file.size() - p.ext.size());
  return p;
}

bool SelfExtracting(const TZWVolumeContext& v, const std::string& name) {
  return LeadingDataSize(v.session) != 0 || !v.settings.sfxStub.empty() || IsExeFileName(name);
}

std::string Numbered(const NameParts& p, int32_t n, const std::string& ext) {
  return p.folder + p.base + Format("_%.3u", {n + 1}) + ext;
}

std::string DriveRoot(const std::string& path) {
  std::string drive = ExtractFileDrive(path);
  if (!drive.empty()) return IncludeTrailingPathDelimiter(drive);
  return ExtractFilePath(path);
}

}  // namespace

int64_t GetVolumeSizeLimit(const TZWSettings& settings, const TZWVolumeNumberInfo& volume) {
  const TZWSpanningOptions& o = settings.spanningOptions;
  if (volume.IsFirst() && o.FirstVolumeSize > 0) return o.FirstVolumeSize;
  switch (o.VolumeSize) {
    case vsAutoDetect:
      return -1;
    case vsCustom:
      return o.CustomVolumeSize();
    case vs1_44MB:
      return 1457664;
    case vs100MB:
      return 104857600;
    case vs200MB:
      return 209715200;
    case vs250MB:
      return 262144000;
    case vs600MB:
      return 629145600;
    case vs650MB:
      return 681574400;
    case vs700MB:
      return 734003200;
  }
  return -1;
}

namespace {

// The letter of classic volume names: lower case for a lower-case extension
// ("x.zip" -> x.z01), upper case otherwise, matching the last volume's name.
char ClassicLetter(const std::string& ext) {
  bool lower = false, upper = false;
  for (char c : ext) {
    lower = lower || (c >= 'a' && c <= 'z');
    upper = upper || (c >= 'A' && c <= 'Z');
  }
  return lower && !upper ? 'z' : 'Z';
}

}  // namespace

std::string GetVolumeFileName(const TZWVolumeContext& v, const std::string& name, int32_t n,
                              bool check) {
  NameParts p = Split(name);
  bool sfx = SelfExtracting(v, name);
  if (n == -1) {
    if (sfx && v.settings.spanningMode == smSplitting) return p.folder + p.base + ".ZIP";
    return name;
  }
  if (v.settings.spanningMode == smSpanning) {
    std::string ext = sfx ? ".exe" : p.ext;
    std::string withNumber = Numbered(p, n, ext);
    std::string plain = p.folder + p.base + ext;
    std::string first = v.settings.spanningOptions.AdvancedNaming ? withNumber : plain;
    std::string other = v.settings.spanningOptions.AdvancedNaming ? plain : withNumber;
    if (check && !v.files.FileExists(first) && v.files.FileExists(other)) return other;
    return first;
  }
  if (v.settings.spanningMode == smSplitting) {
    if (n == 0 && sfx) return p.folder + p.base + ".exe";
    if (v.settings.spanningOptions.AdvancedNaming) return Numbered(p, n, p.ext);
    char letter = sfx ? 'Z' : ClassicLetter(p.ext);
    return p.folder + p.base + "." + letter + Format("%.2d", {n + 1});
  }
  return name;
}

TZWVolumeNaming SplitVolumeNaming(const TZWVolumeContext& v, const std::string& name) {
  NameParts p = Split(name);
  TZWVolumeNaming naming;
  if (v.settings.spanningOptions.AdvancedNaming) {
    naming.prefix = p.base + "_";
    naming.width = 3;
    naming.suffix = p.ext;
  } else {
    naming.prefix = p.base + "." + (SelfExtracting(v, name) ? 'Z' : ClassicLetter(p.ext));
    naming.width = 2;
  }
  return naming;
}

bool IsExeFileName(const std::string& name) {
  return AsciiLowerCase(ExtractFileExt(name)).find(".exe") != std::string::npos;
}

bool IsRemovableDrive(FileSystem& files, const std::string& path) {
  std::string drive = AsciiUpperCase(ExtractFileDrive(path));
  if (drive == "A:" || drive == "B:") return true;
  std::string root = drive.empty() ? ExpandFileName(files, path) : drive + "\\";
  return files.GetDriveType(root) == DriveType::kRemovable;
}

int64_t GetDriveFreeSpace(FileSystem& files, const std::string& path) {
  return files.GetFreeSpace(DriveRoot(ExpandFileName(files, path)));
}

namespace {

constexpr int64_t kNoBound = INT64_MAX / 4;
constexpr int64_t kMinimumDiskFree = 65536;

void OpenVolumeFileWithMode(const TZWVolumeContext& v, const std::string& name, uint16_t mode) {
  TZWSession& s = v.session;
  s.archiveStream.reset();
  s.archiveStream = std::make_unique<TFileStream>(v.files, name, mode);
  s.currentVolumeFileName = name;
}

// A blank volume for writing: asks for it, checks the disk, creates the file (also
// while an existing archive is being continued) and labels a spanned disk.
void OpenNewVolume(const TZWVolumeContext& v, TZWVolumeNumberInfo& volume) {
  TZWSession& s = v.session;
  s.archiveStream.reset();
  int64_t limit = GetVolumeSizeLimit(v.settings, volume);
  std::string name;
  bool cancel = false;
  while (true) {
    name = v.settings.fileName;
    v.events.RequestBlankVolume(volume.VolumeNumber, name, cancel);
    if (cancel) break;
    int64_t free = GetDriveFreeSpace(v.files, name);
    bool unknown = free < 0;  // the disk sets no bound of its own
    if (unknown || (free > kMinimumDiskFree && (limit <= 0 || free >= limit))) break;
    v.events.ReportDiskFull(volume.VolumeNumber, name, cancel);
    if (cancel) break;
  }
  if (cancel) throw EZWException(ecVolumeRequestCancelled, v.sender);
  OpenVolumeFileWithMode(v, name, FileMode::fmCreate);
  s.currentVolume.SetVolumeNumber(volume.VolumeNumber);
  s.currentVolume.VolumeKind = volume.VolumeKind;
  if (v.settings.spanningMode == smSpanning)  // labelling is best effort
    v.files.SetVolumeLabel(DriveRoot(ExpandFileName(v.files, name)),
                           Format("pkback# %.3d", {volume.VolumeNumber + 1}));
}

void OpenExistingVolume(const TZWVolumeContext& v, TZWVolumeNumberInfo& volume) {
  TZWSession& s = v.session;
  if (s.archiveStream && s.currentVolume.SameVolume(volume)) return;
  while (true) {
    std::string name = v.settings.fileName;
    bool cancel = true;
    if (volume.IsFirst())
      v.events.RequestFirstVolume(name, cancel);
    else if (volume.IsLast())
      v.events.RequestLastVolume(name, cancel);
    else
      v.events.RequestMiddleVolume(volume.VolumeNumber, name, cancel);
    if (cancel) throw EZWException(ecVolumeRequestCancelled, v.sender);
    if (name.empty() && v.settings.spanningMode != smSpanning) return;
    if (v.files.FileExists(name) || s.fileMode == -1) {
      OpenVolumeFile(v, name);
      s.currentVolume.LastVolumeNumber = volume.LastVolumeNumber;
      s.currentVolume.SetVolumeNumber(volume.VolumeNumber);
      s.currentVolume.VolumeKind = volume.VolumeKind;
      return;
    }
  }
}

// Bytes the current volume can still take: the drive's free space and the size
// limit's room, both less what the collecting buffer already holds for it.
int64_t RoomOnVolume(const TZWVolumeContext& v, const TZWVolumeNumberInfo& volume,
                     TMemoryStream* buffer) {
  TZWSession& s = v.session;
  int64_t pending = buffer ? buffer->GetSize() : 0;
  int64_t disk = GetDriveFreeSpace(v.files, s.currentVolumeFileName);
  int64_t room = disk < 0 ? kNoBound : disk - pending;
  int64_t limit = GetVolumeSizeLimit(v.settings, volume);
  if (limit > 0) room = std::min(room, limit - s.archiveStream->GetSize() - pending);
  return std::max<int64_t>(room, 0);
}

// Completes the current volume: the collected bytes go to it, and a spanned disk's
// buffers reach the disk before the next one is asked for.
void FinishVolume(const TZWVolumeContext& v, TMemoryStream* buffer) {
  TZWSession& s = v.session;
  TStream& volume = *s.archiveStream;
  if (buffer && buffer->GetSize() > 0) {
    buffer->SetPosition(0);
    volume.CopyFrom(*buffer, -1);
    buffer->Clear();
  }
  // A finished volume must reach the device before the update's journal is removed
  // (and a spanned disk before the next one is asked for).
  FlushToDevice(volume, v.settings.spanningMode == smSpanning || v.settings.options.FlushBuffers);
}

void NextVolume(const TZWVolumeContext& v, TZWVolumeNumberInfo& volume, TMemoryStream* buffer) {
  FinishVolume(v, buffer);
  volume.SetVolumeNumber(volume.VolumeNumber + 1);
  OpenNewVolume(v, volume);
}

}  // namespace

void OpenVolumeFile(const TZWVolumeContext& v, const std::string& name) {
  TZWSession& s = v.session;
  uint16_t mode = s.fileMode == -1 ? FileMode::fmCreate : static_cast<uint16_t>(s.fileMode);
  OpenVolumeFileWithMode(v, name, mode);
}

void OpenVolume(const TZWVolumeContext& v, TZWVolumeNumberInfo& volume) {
  TZWSession& s = v.session;
  if (v.settings.spanningMode == smNone) {
    if (!s.archiveStream) OpenVolumeFile(v, v.settings.fileName);
    s.currentVolume.SetVolumeNumber(volume.VolumeNumber);
    s.currentVolume.VolumeKind = volume.VolumeKind;
    return;
  }
  if (s.fileMode == -1)
    OpenNewVolume(v, volume);
  else
    OpenExistingVolume(v, volume);
}

int64_t WriteToVolumes(const TZWVolumeContext& v, const void* data, int64_t count,
                       TZWVolumeNumberInfo& volume, int32_t mustFollow, TMemoryStream* buffer) {
  TZWSession& s = v.session;
  const auto* bytes = static_cast<const uint8_t*>(data);
  if (v.settings.spanningMode == smNone) return s.archiveStream->Write(data, count);
  int64_t written = 0;
  bool freshVolume = false;
  while (written < count) {
    int64_t room = RoomOnVolume(v, volume, buffer);
    int64_t placed = 0;
    if (mustFollow < 0 || mustFollow + (count - written) <= room) {
      int64_t n = std::min(room, count - written);
      if (n > 0)
        placed =
            buffer ? buffer->Write(bytes + written, n) : s.archiveStream->Write(bytes + written, n);
      written += placed;
    }
    if (written >= count) break;
    // A volume begun for these bytes that takes none of them (a group larger than a
    // whole volume, or a write the system refuses) ends the call instead of opening
    // volume after volume.
    if (freshVolume && placed == 0) break;
    NextVolume(v, volume, buffer);
    freshVolume = true;
  }
  return written;
}

void WriteBufferToVolumes(const TZWVolumeContext& v, const void* data, int64_t count,
                          TZWVolumeNumberInfo& volume, int32_t mustFollow, TMemoryStream* buffer) {
  if (WriteToVolumes(v, data, count, volume, mustFollow, buffer) != count)
    throw EZWException(ecVolumeWriteFailed, v.sender);
}

void CopyStreamToVolumes(const TZWVolumeContext& v, TStream& source, TMemoryStream* buffer,
                         int32_t mustFollow, int64_t count, TZWVolumeNumberInfo& volume) {
  constexpr int64_t kBlock = 1000000;
  if (count == -1) count = source.GetSize() - source.GetPosition();
  std::vector<uint8_t> block(static_cast<size_t>(std::min(kBlock, std::max<int64_t>(count, 1))));
  int64_t copied = 0;
  while (copied < count) {
    int64_t n = source.Read(block.data(), std::min<int64_t>(kBlock, count - copied));
    if (n <= 0) throw EZWException(ecVolumeWriteFailed, v.sender);
    int64_t placed = WriteToVolumes(v, block.data(), n, volume, mustFollow, buffer);
    copied += placed;
    if (placed < n) throw EZWException(ecVolumeWriteFailed, v.sender);
  }
}

void ReopenVolumeForWriting(const TZWVolumeContext& v, const std::string& name, int32_t number) {
  TZWSession& s = v.session;
  OpenVolumeFileWithMode(v, name, FileMode::fmOpenReadWrite | FileMode::fmShareDenyWrite);
  if (number == 0)
    s.currentVolume.SetFirst(true);
  else
    s.currentVolume.SetVolumeNumber(number);
}

void EnsureRoomOnVolume(const TZWVolumeContext& v, TZWVolumeNumberInfo& volume, int64_t bytes) {
  if (v.settings.spanningMode == smNone || RoomOnVolume(v, volume, nullptr) >= bytes) return;
  NextVolume(v, volume, nullptr);
}

void RenameLastVolume(const TZWVolumeContext& v) {
  TZWSession& s = v.session;
  std::string last = GetVolumeFileName(v, v.settings.fileName, -1, false);
  if (s.currentVolumeFileName == last) return;
  std::string current = s.currentVolumeFileName;
  s.archiveStream.reset();
  if (v.files.FileExists(last)) v.files.DeleteFile(last);
  bool renamed = v.files.RenameFile(current, last);
  std::string name = renamed ? last : current;
  s.archiveStream = std::make_unique<TFileStream>(
      v.files, name, FileMode::fmOpenReadWrite | FileMode::fmShareDenyNone);
  s.archiveStream->Seek(0, SeekOrigin::kEnd);
  s.currentVolumeFileName = name;
  // Without its own name the archive cannot be found: that is no success.
  if (!renamed) throw EZWException(ecCannotRenameVolume, {v.files.DisplayName(last)}, v.sender);
}

// ---------------------------------------------------------------------------
// One update run.

namespace {

struct DirectoryPlace {
  int64_t volume, last;
  uint64_t offset;
};

// Where the directory last read or written lies. The end record's own fields serve
// unless they defer to the Zip64 record.
DirectoryPlace WrittenDirectory(const TZWDirectory& dm) {
  const TEndOfCentralDir& e = dm.EndRecord;
  bool wide =
      dm.HasZip64 && (e.NumberOfThisDisk == kAllOnes16 || e.DiskWithCentralDir == kAllOnes16 ||
                      e.CentralDirOffset == kAllOnes32);
  if (wide)
    return {dm.Zip64EndRecord.DiskWithCentralDir, dm.Zip64EndRecord.NumberOfThisDisk,
            dm.Zip64EndRecord.CentralDirOffset};
  return {e.DiskWithCentralDir, e.NumberOfThisDisk, e.CentralDirOffset};
}

// Cuts a volume back to `at` bytes (creating it when `at` is 0).
void CutVolume(const TZWVolumeContext& v, const std::string& name, uint64_t at) {
  uint16_t mode =
      at == 0 ? FileMode::fmCreate : FileMode::fmOpenReadWrite | FileMode::fmShareExclusive;
  TFileStream file(v.files, name, mode);
  file.SetSize(static_cast<int64_t>(at));
  FlushToDevice(file, v.settings.options.FlushBuffers);
}

void DeleteIfPresent(const TZWVolumeContext& v, const std::string& name) {
  if (v.files.FileExists(name)) v.files.DeleteFile(name);
}

}  // namespace

std::string TZWVolumeUpdate::VolumeName(int32_t n) const {
  return GetVolumeFileName(v_, v_.settings.fileName, n, false);
}

uint64_t TZWVolumeUpdate::Begin(bool appendOnly, const TZWDirectory& dm) {
  TZWSession& s = v_.session;
  if (!s.archiveStream) throw EZWException(ecVolumeRequestCancelled, v_.sender);
  fresh_ = s.directoryPending;
  if (fresh_) {
    startVolume_ = lastVolume_ = 0;
    startOffset_ = dm.StartOffset;
    s.currentVolume.Reset();
    s.currentVolume.SetFirst(true);
    begun_ = true;
    return startOffset_;
  }
  if (v_.settings.spanningMode == smSpanning || !appendOnly)
    throw EZWException(ecMultiVolumeChange, v_.sender);
  DirectoryPlace place = WrittenDirectory(dm);
  if (place.volume > place.last || place.last > 0xFFFF)
    throw EZWException(ecArchiveDamaged, v_.sender);
  startVolume_ = static_cast<int32_t>(place.volume);
  lastVolume_ = static_cast<int32_t>(place.last);
  startOffset_ = place.offset;
  std::string lastName = VolumeName(-1);
  // While the run goes on, the start volume carries its number's name; the last
  // volume takes the archive's name when the new directory is complete. A stray file
  // of that name is no part of the archive: it goes before the journal is written, so
  // a recovery never takes it for the start volume. Everything that is going to change
  // is saved in the journal first: a volume that cannot be read leaves the archive as
  // it is.
  std::string startName = VolumeName(startVolume_);
  if (startVolume_ == lastVolume_) DeleteIfPresent(v_, startName);
  WriteJournal(startName, lastName);
  begun_ = true;
  try {
    s.archiveStream.reset();
    if (startVolume_ == lastVolume_) {
      if (!v_.files.RenameFile(lastName, startName))
        throw EZWException(ecCannotRenameVolume, {v_.files.DisplayName(startName)}, v_.sender);
    }
    for (int32_t n = startVolume_ + 1; n <= lastVolume_; ++n)
      DeleteIfPresent(v_, n == lastVolume_ ? lastName : VolumeName(n));
    OpenVolumeFileWithMode(v_, startName, FileMode::fmOpenReadWrite | FileMode::fmShareDenyWrite);
    s.archiveStream->SetSize(static_cast<int64_t>(startOffset_));
    s.archiveStream->SetPosition(static_cast<int64_t>(startOffset_));
    s.currentVolume.Reset();
    s.currentVolume.SetVolumeNumber(startVolume_);
  } catch (...) {
    RollBack();
    throw;
  }
  return startOffset_;
}

// What puts the set back: the volumes the run may add go, the start volume is cut
// back to its old length with its old directory bytes, and the volumes after it come
// back whole.
void TZWVolumeUpdate::WriteJournal(const std::string& startName, const std::string& lastName) {
  TZWSession& s = v_.session;
  auto journal = std::make_unique<TZWJournal>(v_.files, v_.settings.fileName,
                                              v_.settings.options.FlushBuffers);
  // Copied from the volume files as they are (streamed, whatever the volume size) and
  // packed: only an append is run on a set, so nothing reads them back but a rollback.
  auto save = [&](const std::string& name, const std::string& alternate, uint64_t from) {
    TFileStream volume(v_.files, name, FileMode::fmOpenRead | FileMode::fmShareDenyNone);
    if (from > static_cast<uint64_t>(volume.GetSize()))
      throw EZWException(ecArchiveDamaged, v_.sender);
    volume.SetPosition(static_cast<int64_t>(from));
    journal->AddRestore(name, alternate, from, volume, -1, true);
  };
  journal->AddRemoveVolumes(SplitVolumeNaming(v_, v_.settings.fileName), startVolume_ + 1);
  bool single = startVolume_ == lastVolume_;
  save(single ? lastName : startName, single ? startName : "", startOffset_);
  for (int32_t n = startVolume_ + 1; n <= lastVolume_; ++n)
    save(n == lastVolume_ ? lastName : VolumeName(n), "", 0);
  journal->Seal();
  s.journal = std::move(journal);
  s.journalForNewArchive = false;
}

void TZWVolumeUpdate::Reopen(const std::string& name, int32_t number, int32_t last) {
  TZWSession& s = v_.session;
  uint16_t mode = s.fileMode == -1 ? FileMode::fmOpenReadWrite | FileMode::fmShareExclusive
                                   : static_cast<uint16_t>(s.fileMode);
  OpenVolumeFileWithMode(v_, name, mode);
  s.archiveStream->Seek(0, SeekOrigin::kEnd);
  s.currentVolume.Reset();
  s.currentVolume.LastVolumeNumber = last;
  if (number == 0)
    s.currentVolume.SetFirst(true);
  else
    s.currentVolume.SetVolumeNumber(number);
}

void TZWVolumeUpdate::RestoreFresh(const std::string& current, int32_t reached, bool abandon) {
  TZWSession& s = v_.session;
  std::string lastName = VolumeName(-1);
  std::string first = VolumeName(0);
  if (abandon && v_.settings.spanningMode == smSplitting) {
    // A volume was refused or could not be made: the new archive is given up whole.
    for (int32_t n = 0; n <= reached; ++n) DeleteIfPresent(v_, VolumeName(n));
    if (current == lastName) DeleteIfPresent(v_, lastName);
    s.isOpen = false;
    return;
  }
  if (v_.settings.spanningMode == smSpanning && (reached > 0 || abandon)) {
    // The earlier disks are out of reach: the volume on this one goes, and the
    // archive, which can no longer be completed, is closed.
    DeleteIfPresent(v_, current);
    s.isOpen = false;
    return;
  }
  if (v_.settings.spanningMode == smSplitting)
    for (int32_t n = 1; n <= reached; ++n) DeleteIfPresent(v_, VolumeName(n));
  if (current == lastName && lastName != first) {
    if (reached > 0)
      DeleteIfPresent(v_, lastName);
    else
      v_.files.RenameFile(lastName, first);
  }
  CutVolume(v_, first, startOffset_);
  Reopen(first, 0, -1);
  s.directoryPending = true;
}

// The journal knows how to put the set back, from whatever point the run reached.
void TZWVolumeUpdate::RestoreAppended() {
  TZWSession& s = v_.session;
  try {
    s.journal->Replay();
  } catch (...) {
    s.journalHeld = true;
    throw;
  }
  s.journal.reset();
  Reopen(VolumeName(-1), lastVolume_, lastVolume_);
}

void TZWVolumeUpdate::RollBack() {
  if (!begun_) return;
  begun_ = false;
  TZWSession& s = v_.session;
  std::string current = s.currentVolumeFileName;
  int32_t reached = std::max(s.currentVolume.VolumeNumber, startVolume_);
  bool streamGone = !s.archiveStream;
  s.archiveStream.reset();
  if (fresh_)
    RestoreFresh(current, reached, streamGone);
  else
    RestoreAppended();
}

}  // namespace zw

#include "Volumes.h"

#include <algorithm>
#include <vector>

#include "ArchiverState.h"
#include "CodePage.h"
#include "DirManager.h"
#include "FileSystem.h"
#include "Format.h"
#include "Paths.h"
#include "Streams.h"
#include "ZWExcept.h"

namespace zw {

namespace {

using S = TZWBaseArchiver::State;

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

bool SelfExtracting(TZWBaseArchiver& a, const std::string& name) {
  S& s = ArchiverAccess::S(a);
  return (s.dirManager && s.dirManager->StartOffset != 0) || !s.sfxStub.empty() ||
         IsExeFileName(name);
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

int64_t GetVolumeSizeLimit(const TZWBaseArchiver& a, const TZWVolumeNumberInfo& volume) {
  const S& s = ArchiverAccess::S(a);
  const TZWSpanningOptions& o = s.spanningOptions;
  if (volume.IsFirst() && o.FirstVolumeSize > 0) return o.FirstVolumeSize;
  switch (o.VolumeSize) {
    case vsAutoDetect: return -1;
    case vsCustom: return o.CustomVolumeSize();
    case vs1_44MB: return 1457664;
    case vs100MB: return 104857600;
    case vs200MB: return 209715200;
    case vs250MB: return 262144000;
    case vs600MB: return 629145600;
    case vs650MB: return 681574400;
    case vs700MB: return 734003200;
  }
  return -1;
}

std::string GetVolumeFileName(TZWBaseArchiver& a, const std::string& name, int32_t n,
                              bool check) {
  S& s = ArchiverAccess::S(a);
  NameParts p = Split(name);
  bool sfx = SelfExtracting(a, name);
  if (n == -1) {
    if (sfx && s.spanningMode == smSplitting) return p.folder + p.base + ".ZIP";
    return name;
  }
  if (s.spanningMode == smSpanning) {
    std::string ext = sfx ? ".exe" : p.ext;
    std::string withNumber = Numbered(p, n, ext);
    std::string plain = p.folder + p.base + ext;
    std::string first = s.spanningOptions.AdvancedNaming ? withNumber : plain;
    std::string other = s.spanningOptions.AdvancedNaming ? plain : withNumber;
    if (check && !a.Files().FileExists(first) && a.Files().FileExists(other)) return other;
    return first;
  }
  if (s.spanningMode == smSplitting) {
    if (n == 0 && sfx) return p.folder + p.base + ".exe";
    if (s.spanningOptions.AdvancedNaming) return Numbered(p, n, p.ext);
    return p.folder + p.base + Format(".Z%.2d", {n + 1});
  }
  return name;
}

bool IsExeFileName(const std::string& name) {
  return AsciiLowerCase(ExtractFileExt(name)).find(".exe") != std::string::npos;
}

bool IsRemovableDrive(TZWBaseArchiver& a, const std::string& path) {
  std::string drive = AsciiUpperCase(ExtractFileDrive(path));
  if (drive == "A:" || drive == "B:") return true;
  std::string root = drive.empty() ? ExpandFileName(a.Files(), path) : drive + "\\";
  return a.Files().GetDriveType(root) == DriveType::kRemovable;
}

int64_t GetDriveFreeSpace(TZWBaseArchiver& a, const std::string& path) {
  return a.Files().GetFreeSpace(DriveRoot(ExpandFileName(a.Files(), path)));
}

void OpenVolumeFile(TZWBaseArchiver& a, const std::string& name) {
  S& s = ArchiverAccess::S(a);
  s.archiveStream.reset();
  uint16_t mode = s.fileMode == -1 ? FileMode::fmCreate : static_cast<uint16_t>(s.fileMode);
  s.archiveStream = std::make_unique<TFileStream>(a.Files(), name, mode);
  s.currentVolumeFileName = name;
}

namespace {

void OpenNewVolume(TZWBaseArchiver& a, TZWVolumeNumberInfo& volume) {
  S& s = ArchiverAccess::S(a);
  s.archiveStream.reset();
  int64_t limit = GetVolumeSizeLimit(a, volume);
  std::string name;
  bool cancel = false;
  while (true) {
    name = s.fileName;
    ArchiverAccess::RequestBlankVolume(a, volume.VolumeNumber, name, cancel);
    if (cancel) break;
    int64_t free = GetDriveFreeSpace(a, name);
    if (free > 65536 && (limit <= 0 || free >= limit)) break;
    ArchiverAccess::ReportDiskFull(a, volume.VolumeNumber, name, cancel);
    if (cancel) break;
  }
  if (cancel) throw EZWException(45, &a);
  OpenVolumeFile(a, name);
  s.currentVolume.SetVolumeNumber(volume.VolumeNumber);
  s.currentVolume.VolumeKind = volume.VolumeKind;
  if (s.spanningMode == smSpanning)  // labelling is best effort
    a.Files().SetVolumeLabel(DriveRoot(ExpandFileName(a.Files(), name)),
                             Format("pkback# %.3d", {volume.VolumeNumber + 1}));
}

void OpenExistingVolume(TZWBaseArchiver& a, TZWVolumeNumberInfo& volume) {
  S& s = ArchiverAccess::S(a);
  if (s.archiveStream && s.currentVolume.SameVolume(volume)) return;
  while (true) {
    std::string name = s.fileName;
    bool cancel = true;
    if (volume.IsFirst())
      ArchiverAccess::RequestFirstVolume(a, name, cancel);
    else if (volume.IsLast())
      ArchiverAccess::RequestLastVolume(a, name, cancel);
    else
      ArchiverAccess::RequestMiddleVolume(a, volume.VolumeNumber, name, cancel);
    if (cancel) throw EZWException(45, &a);
    if (name.empty() && s.spanningMode != smSpanning) return;
    if (a.Files().FileExists(name) || s.fileMode == -1) {
      OpenVolumeFile(a, name);
      s.currentVolume.LastVolumeNumber = volume.LastVolumeNumber;
      s.currentVolume.SetVolumeNumber(volume.VolumeNumber);
      s.currentVolume.VolumeKind = volume.VolumeKind;
      return;
    }
  }
}

}  // namespace

void OpenVolume(TZWBaseArchiver& a, TZWVolumeNumberInfo& volume) {
  S& s = ArchiverAccess::S(a);
  if (s.spanningMode == smNone) {
    if (!s.archiveStream) OpenVolumeFile(a, s.fileName);
    s.currentVolume.SetVolumeNumber(volume.VolumeNumber);
    s.currentVolume.VolumeKind = volume.VolumeKind;
    return;
  }
  if (s.fileMode == -1)
    OpenNewVolume(a, volume);
  else
    OpenExistingVolume(a, volume);
}

int64_t WriteToVolumes(TZWBaseArchiver& a, const void* data, int64_t count,
                       TZWVolumeNumberInfo& volume, int32_t mustFollow, TMemoryStream* buffer) {
  S& s = ArchiverAccess::S(a);
  const auto* bytes = static_cast<const uint8_t*>(data);
  if (s.spanningMode == smNone) return s.archiveStream->Write(data, count);
  int64_t written = 0;
  while (written < count) {
    TStream& v = *s.archiveStream;
    int64_t pending = buffer ? buffer->GetSize() : 0;
    int64_t free = GetDriveFreeSpace(a, s.currentVolumeFileName);
    if (free >= 0) free -= pending;
    int64_t limit = GetVolumeSizeLimit(a, volume);
    if (limit != -1) {
      int64_t room = limit - v.GetSize() - pending;
      free = free < 0 ? room : std::min(free, room);
    }
    if (free < 0) return written;
    bool fits = mustFollow == -1 || mustFollow + (count - written) <= free;
    if (fits) {
      int64_t n = std::min(free, count - written);
      if (n > 0) written += buffer ? buffer->Write(bytes + written, n) : v.Write(bytes + written, n);
    }
    if (written >= count) break;
    if (buffer && buffer->GetSize() > 0) {
      buffer->SetPosition(0);
      v.CopyFrom(*buffer, -1);
      buffer->Clear();
    }
    if (s.spanningMode == smSpanning)
      if (auto* file = dynamic_cast<TFileStream*>(&v)) file->Flush();
    volume.SetVolumeNumber(volume.VolumeNumber + 1);
    OpenVolume(a, volume);
  }
  return written;
}

void WriteBufferToVolumes(TZWBaseArchiver& a, const void* data, int64_t count,
                          TZWVolumeNumberInfo& volume, int32_t mustFollow, TMemoryStream* buffer) {
  if (WriteToVolumes(a, data, count, volume, mustFollow, buffer) != count)
    throw EZWException(46, &a);
}

void CopyStreamToVolumes(TZWBaseArchiver& a, TStream& source, TMemoryStream* buffer,
                         int32_t mustFollow, int64_t count, TZWVolumeNumberInfo& volume) {
  constexpr int64_t kBlock = 1000000;
  if (count == -1) count = source.GetSize() - source.GetPosition();
  std::vector<uint8_t> block(static_cast<size_t>(std::min(kBlock, std::max<int64_t>(count, 1))));
  int64_t copied = 0;
  while (copied < count) {
    int64_t n = source.Read(block.data(), std::min<int64_t>(kBlock, count - copied));
    if (n <= 0) throw EZWException(46, &a);
    int64_t placed = WriteToVolumes(a, block.data(), n, volume, mustFollow, buffer);
    copied += placed;
    if (placed < n) throw EZWException(46, &a);
  }
}

void RenameLastVolume(TZWBaseArchiver& a) {
  S& s = ArchiverAccess::S(a);
  std::string last = GetVolumeFileName(a, s.fileName, -1, false);
  if (s.currentVolumeFileName == last) return;
  std::string current = s.currentVolumeFileName;
  s.archiveStream.reset();
  if (a.Files().FileExists(last)) a.Files().DeleteFile(last);
  std::string name = a.Files().RenameFile(current, last) ? last : current;
  s.archiveStream = std::make_unique<TFileStream>(
      a.Files(), name, FileMode::fmOpenReadWrite | FileMode::fmShareDenyNone);
  s.archiveStream->Seek(0, SeekOrigin::kEnd);
  s.currentVolumeFileName = name;
  if (s.dirManager) s.dirManager->Stream = s.archiveStream.get();
}

void DetectSpanningMode(TZWBaseArchiver& a) {
  S& s = ArchiverAccess::S(a);
  TZWDirManager& dm = *s.dirManager;
  if (dm.EndRecord.Signature != kEndRecordSignature) {
    s.spanningMode = IsRemovableDrive(a, s.fileName) ? smSpanning : smNone;
    return;
  }
  bool probingSaved = s.volumeProbing;
  s.volumeProbing = true;
  bool found = dm.ProbeEndRecord();
  s.volumeProbing = probingSaved;
  int32_t disk = dm.EndRecord.NumberOfThisDisk;
  if (found && disk == 0) {
    s.spanningMode = smNone;
    return;
  }
  s.spanningMode = smSplitting;
  if (a.Files().FileExists(GetVolumeFileName(a, s.fileName, disk - 1, false))) {
    if (disk == 0) s.spanningMode = smNone;
    return;
  }
  s.spanningOptions.AdvancedNaming = !s.spanningOptions.AdvancedNaming;
  if (a.Files().FileExists(GetVolumeFileName(a, s.fileName, disk - 1, false))) return;
  s.spanningOptions.AdvancedNaming = !s.spanningOptions.AdvancedNaming;
  s.spanningMode = (disk != 0 || IsRemovableDrive(a, s.fileName)) ? smSpanning : smNone;
}

namespace {

struct ProbingScope {
  S& s;
  bool saved;
  explicit ProbingScope(S& state) : s(state), saved(state.volumeProbing) { s.volumeProbing = true; }
  ~ProbingScope() { s.volumeProbing = saved; }
};

void DetectLoop(TZWBaseArchiver& a, bool removableStep) {
  S& s = ArchiverAccess::S(a);
  TZWVolumeNumberInfo volume;
  bool found = false;
  do {
    s.dirManager.reset();
    s.currentVolume.Reset();
    volume.Reset();
    volume.SetLast(true);
    if (removableStep && !a.Files().FileExists(s.fileName) && IsRemovableDrive(a, s.fileName))
      s.spanningMode = smSpanning;
    OpenVolume(a, volume);
    s.dirManager = std::make_unique<TZWDirManager>(s.archiveStream.get(), a, false);
    found = s.dirManager->ProbeEndRecord();
    DetectSpanningMode(a);
  } while (!found && s.spanningMode != smNone);
}

}  // namespace

void DetectVolumes(TZWBaseArchiver& a) {
  ProbingScope probing(ArchiverAccess::S(a));
  DetectLoop(a, true);
}

void DetectExeVolumes(TZWBaseArchiver& a) {
  S& s = ArchiverAccess::S(a);
  TZWVolumeNumberInfo volume;
  volume.SetLast(true);
  OpenVolume(a, volume);
  s.dirManager = std::make_unique<TZWDirManager>(s.archiveStream.get(), a, false);
  ProbingScope probing(s);
  if (s.dirManager->ProbeEndRecord()) {
    DetectSpanningMode(a);
    return;
  }
  s.dirManager.reset();
  s.spanningMode = smSplitting;
  if (a.Files().FileExists(GetVolumeFileName(a, s.fileName, -1, false))) {
    s.currentVolume.Reset();
    volume.Reset();
    volume.SetLast(true);
    OpenVolume(a, volume);
  }
  s.spanningMode = smNone;
  s.dirManager = std::make_unique<TZWDirManager>(s.archiveStream.get(), a, false);
  DetectLoop(a, false);
}

}  // namespace zw

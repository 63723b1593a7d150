#include "VolumeDetection.h"

#include "ArchiverState.h"
#include "DirManager.h"
#include "Volumes.h"
#include "ZipWriter.h"

namespace zw {

namespace {

using S = TZWBaseArchiver::State;

// A directory manager on the archive's current volume; the directory reader may move
// on to other volumes through it.
std::unique_ptr<TZWDirManager> ManagerOnVolumes(TZWBaseArchiver& a) {
  S& s = ArchiverAccess::S(a);
  auto dm = std::make_unique<TZWDirManager>(s.archiveStream.get(), s, s, a.Files(), false);
  TZWBaseArchiver* archiver = &a;
  dm->OpenVolume = [archiver](TZWVolumeNumberInfo& volume) {
    OpenVolume(TZWArchiverVolumes(*archiver), volume);
    return ArchiverAccess::S(*archiver).archiveStream.get();
  };
  return dm;
}

}  // namespace

void DetectSpanningMode(TZWBaseArchiver& a) {
  S& s = ArchiverAccess::S(a);
  TZWDirManager& dm = *s.dirManager;
  if (dm.EndRecord.Signature != kEndRecordSignature) {
    s.spanningMode = IsRemovableDrive(a.Files(), s.fileName) ? smSpanning : smNone;
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
  if (a.Files().FileExists(GetVolumeFileName(TZWArchiverVolumes(a), s.fileName, disk - 1, false))) {
    if (disk == 0) s.spanningMode = smNone;
    return;
  }
  s.spanningOptions.AdvancedNaming = !s.spanningOptions.AdvancedNaming;
  if (a.Files().FileExists(GetVolumeFileName(TZWArchiverVolumes(a), s.fileName, disk - 1, false)))
    return;
  s.spanningOptions.AdvancedNaming = !s.spanningOptions.AdvancedNaming;
  s.spanningMode = (disk != 0 || IsRemovableDrive(a.Files(), s.fileName)) ? smSpanning : smNone;
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
    if (removableStep && !a.Files().FileExists(s.fileName) &&
        IsRemovableDrive(a.Files(), s.fileName))
      s.spanningMode = smSpanning;
    OpenVolume(TZWArchiverVolumes(a), volume);
    s.dirManager = ManagerOnVolumes(a);
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
  OpenVolume(TZWArchiverVolumes(a), volume);
  s.dirManager = ManagerOnVolumes(a);
  ProbingScope probing(s);
  if (s.dirManager->ProbeEndRecord()) {
    DetectSpanningMode(a);
    return;
  }
  s.dirManager.reset();
  s.spanningMode = smSplitting;
  if (a.Files().FileExists(GetVolumeFileName(TZWArchiverVolumes(a), s.fileName, -1, false))) {
    s.currentVolume.Reset();
    volume.Reset();
    volume.SetLast(true);
    OpenVolume(TZWArchiverVolumes(a), volume);
  }
  s.spanningMode = smNone;
  s.dirManager = ManagerOnVolumes(a);
  DetectLoop(a, false);
}

}  // namespace zw

#include "VolumeDetection.h"

#include "ArchiverState.h"
#include "DirManager.h"
#include "Volumes.h"

namespace zw {

namespace {

class Detection {
 public:
  Detection(TZWSettings& settings, const TZWVolumeContext& volumes, const TZWVolumeOpener& opener)
      : settings_(settings), v_(volumes), s_(volumes.session), opener_(opener) {}

  void Volumes();
  void ExeVolumes();

 private:
  std::unique_ptr<TZWDirManager> ManagerOnVolumes() const;
  bool VolumeExists(int32_t n) const {
    return v_.files.FileExists(GetVolumeFileName(v_, settings_.fileName, n, false));
  }
  void SpanningMode();
  void Loop(bool removableStep);

  TZWSettings& settings_;
  const TZWVolumeContext& v_;
  TZWSession& s_;
  const TZWVolumeOpener& opener_;
};

// A directory manager on the archive's current volume; the directory reader may move
// on to other volumes through it.
std::unique_ptr<TZWDirManager> Detection::ManagerOnVolumes() const {
  auto dm = std::make_unique<TZWDirManager>(s_.archiveStream.get(), settings_, s_, v_.files, false);
  dm->OpenVolume = opener_;
  return dm;
}

void Detection::SpanningMode() {
  TZWDirManager& dm = *s_.dirManager;
  if (dm.EndRecord.Signature != kEndRecordSignature) {
    settings_.spanningMode = IsRemovableDrive(v_.files, settings_.fileName) ? smSpanning : smNone;
    return;
  }
  bool probingSaved = s_.volumeProbing;
  s_.volumeProbing = true;
  bool found = dm.ProbeEndRecord();
  s_.volumeProbing = probingSaved;
  int32_t disk = dm.EndRecord.NumberOfThisDisk;
  if (found && disk == 0) {
    settings_.spanningMode = smNone;
    return;
  }
  settings_.spanningMode = smSplitting;
  if (VolumeExists(disk - 1)) {
    if (disk == 0) settings_.spanningMode = smNone;
    return;
  }
  TZWSpanningOptions& o = settings_.spanningOptions;
  o.AdvancedNaming = !o.AdvancedNaming;
  if (VolumeExists(disk - 1)) return;
  o.AdvancedNaming = !o.AdvancedNaming;
  settings_.spanningMode =
      (disk != 0 || IsRemovableDrive(v_.files, settings_.fileName)) ? smSpanning : smNone;
}

struct ProbingScope {
  TZWSession& s;
  bool saved;
  explicit ProbingScope(TZWSession& session) : s(session), saved(session.volumeProbing) {
    s.volumeProbing = true;
  }
  ~ProbingScope() { s.volumeProbing = saved; }
};

void Detection::Loop(bool removableStep) {
  TZWVolumeNumberInfo volume;
  bool found = false;
  do {
    s_.dirManager.reset();
    s_.currentVolume.Reset();
    volume.Reset();
    volume.SetLast(true);
    if (removableStep && !v_.files.FileExists(settings_.fileName) &&
        IsRemovableDrive(v_.files, settings_.fileName))
      settings_.spanningMode = smSpanning;
    OpenVolume(v_, volume);
    s_.dirManager = ManagerOnVolumes();
    found = s_.dirManager->ProbeEndRecord();
    SpanningMode();
  } while (!found && settings_.spanningMode != smNone);
}

void Detection::Volumes() {
  ProbingScope probing(s_);
  Loop(true);
}

void Detection::ExeVolumes() {
  TZWVolumeNumberInfo volume;
  volume.SetLast(true);
  OpenVolume(v_, volume);
  s_.dirManager = ManagerOnVolumes();
  ProbingScope probing(s_);
  if (s_.dirManager->ProbeEndRecord()) {
    SpanningMode();
    return;
  }
  s_.dirManager.reset();
  settings_.spanningMode = smSplitting;
  if (VolumeExists(-1)) {
    s_.currentVolume.Reset();
    volume.Reset();
    volume.SetLast(true);
    OpenVolume(v_, volume);
  }
  settings_.spanningMode = smNone;
  s_.dirManager = ManagerOnVolumes();
  Loop(false);
}

}  // namespace

void DetectVolumes(TZWSettings& settings, const TZWVolumeContext& volumes,
                   const TZWVolumeOpener& opener) {
  Detection(settings, volumes, opener).Volumes();
}

void DetectExeVolumes(TZWSettings& settings, const TZWVolumeContext& volumes,
                      const TZWVolumeOpener& opener) {
  Detection(settings, volumes, opener).ExeVolumes();
}

}  // namespace zw

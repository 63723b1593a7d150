// Opening, creating, holding and closing an archive, and the update batches.
#include <memory>
#include <utility>

#include "ArchiveSink.h"
#include "ArchiverState.h"
#include "DirManager.h"
#include "FileSystem.h"
#include "Journal.h"
#include "Paths.h"
#include "UpdateEngine.h"
#include "VolumeDetection.h"
#include "Volumes.h"
#include "ZWExcept.h"
#include "ZipRecords.h"
#include "ZipWriter.h"

namespace zw {

namespace {

bool HasFileNamePart(const std::string& name) { return !ExtractFileName(name).empty(); }

// Releases what an opening left behind.
void ReleaseArchive(TZWBaseArchiver::State& s) {
  s.dirManager.reset();
  s.archiveStream.reset();
  s.isOpen = false;
  // A journal still held here guards a change that was not completed: it stays on
  // disk for the next opening.
  s.journal.reset();
  s.journalForNewArchive = false;
  s.journalHeld = false;
}

// Undoes an interrupted update of the archive before it is opened (see Journal.h).
void RecoverInterruptedUpdate(TZWBaseArchiver& a) {
  auto& s = ArchiverAccess::S(a);
  s.lastOpenRestored = false;
  s.lastOpenDropped = 0;
  if (s.inMemory) return;
  s.lastOpenRestored =
      TZWJournal::Recover(a.Files(), s.fileName, true) == TZWJournal::Outcome::kRestored;
}

// An interrupted update may have left the archive's last volume under another name:
// the archive is put back before anything asks whether it exists. Reopening the
// archive we hold commits and releases it first, so neither our journal nor our
// handle is in the way (and the mode probe keeps write access).
void RecoverBeforeOpening(TZWBaseArchiver& a) {
  auto& s = ArchiverAccess::S(a);
  if (s.isOpen &&
      ExpandFileName(a.Files(), s.currentVolumeFileName) == ExpandFileName(a.Files(), s.fileName))
    a.CloseArchiveFile();
  RecoverInterruptedUpdate(a);
}

// A new single-file archive holds nothing the user could lose until its first
// directory is written; should it be interrupted before then, it becomes the empty
// archive (`keep` bytes of stub and an end record) rather than a file nobody can open.
void StartNewArchiveJournal(TZWBaseArchiver& a, uint64_t keep) {
  auto& s = ArchiverAccess::S(a);
  TEndOfCentralDir end;
  end.CentralDirOffset = static_cast<uint32_t>(keep);
  std::vector<uint8_t> bytes(TEndOfCentralDir::kSize);
  end.Encode(bytes.data());
  auto journal = std::make_unique<TZWJournal>(a.Files(), s.fileName, s.options.FlushBuffers);
  journal->AddRestore(s.fileName, keep, bytes);
  journal->Seal();
  s.journal = std::move(journal);
  s.journalForNewArchive = true;
}

// The stub of a new multi-volume archive must fit its first volume.
void CheckStubFitsFirstVolume(TZWBaseArchiver& a) {
  auto& s = ArchiverAccess::S(a);
  if (s.spanningMode == smNone || s.sfxStub.empty()) return;
  TFileStream stub(a.Files(), s.sfxStub, FileMode::fmOpenRead | FileMode::fmShareDenyNone);
  TZWVolumeNumberInfo first;
  first.SetFirst(true);
  int64_t limit = GetVolumeSizeLimit(s, first);
  if (limit > 0 && limit < stub.GetSize()) throw EZWException(ecStubExceedsVolume, &a);
}

void CreateArchiveFile(TZWBaseArchiver& a) {
  auto& s = ArchiverAccess::S(a);
  bool journaled = s.spanningMode == smNone;
  if (journaled && s.sfxStub.empty()) StartNewArchiveJournal(a, 0);
  TZWVolumeNumberInfo first;
  first.SetFirst(true);
  try {
    OpenVolume(VolumeContextOf(a), first);
  } catch (...) {
    // Nothing was created: the journal has nothing to guard.
    if (s.journal && s.journal->Remove()) s.journal.reset();
    throw;
  }
  CheckStubFitsFirstVolume(a);
  s.dirManager = std::make_unique<TZWDirManager>(s.archiveStream.get(), s, s, a.Files(), true);
  if (journaled && !s.sfxStub.empty()) {
    FlushToDevice(*s.archiveStream, s.options.FlushBuffers);
    StartNewArchiveJournal(a, s.dirManager->StartOffset);
  }
}

// Writes the directory of a new archive that received no entries, so it ends as a
// valid empty archive; then its journal has nothing left to guard.
void FinishNewArchive(TZWBaseArchiver& a) {
  auto& s = ArchiverAccess::S(a);
  s.archiveStream->Seek(0, SeekOrigin::kEnd);
  TZWVolumeContext volumes = VolumeContextOf(a);
  s.dirManager->WriteDirectory(*MakeArchiveSink(volumes));
  s.directoryPending = false;
  FlushToDevice(*s.archiveStream, s.options.FlushBuffers);
  if (s.journal && s.journalForNewArchive && s.journal->Remove()) s.journal.reset();
}

// How the directory managers of an opened set reach its other volumes: through the
// archiver's requests, for as long as the archive is open.
TZWVolumeOpener VolumeOpener(TZWBaseArchiver& a) {
  TZWBaseArchiver* archiver = &a;
  return [archiver](TZWVolumeNumberInfo& volume) {
    OpenVolume(VolumeContextOf(*archiver), volume);
    return ArchiverAccess::S(*archiver).archiveStream.get();
  };
}

void OpenOrCreateArchive(TZWBaseArchiver& a) {
  auto& s = ArchiverAccess::S(a);
  if (s.fileMode == -1 || s.inMemory) {
    if (s.inMemory) {
      s.archiveStream = std::make_unique<TMemoryStream>();
      s.dirManager = std::make_unique<TZWDirManager>(s.archiveStream.get(), s, s, a.Files(), true);
    } else {
      CreateArchiveFile(a);
    }
    s.directoryPending = true;
  } else {
    s.spanningMode = smNone;
    s.currentVolume.Reset();
    TZWVolumeContext volumes = VolumeContextOf(a);
    if (IsExeFileName(s.fileName))
      DetectExeVolumes(s, volumes, VolumeOpener(a));
    else
      DetectVolumes(s, volumes, VolumeOpener(a));
    s.dirManager->ReadDirectory();
    s.directoryPending = false;
  }
  s.isOpen = true;
  ArchiverAccess::AfterOpen(a);
}

}  // namespace

void TZWBaseArchiver::OpenArchiveFile() {
  State& s = *d_;
  if (!s.inMemory && !HasFileNamePart(s.fileName)) throw EZWException(ecOpenWithoutFileName, this);
  int mode = -1;
  if (!s.inMemory) RecoverBeforeOpening(*this);
  bool restored = s.lastOpenRestored;
  if (!s.inMemory && Files().FileExists(s.fileName)) mode = Files().Open(s.fileName, 34) ? 34 : 64;
  s.fileMode = mode;
  OpenArchiveFileWithMode(static_cast<uint16_t>(mode));
  s.lastOpenRestored = s.lastOpenRestored || restored;
}

void TZWBaseArchiver::OpenArchiveFileWithMode(uint16_t mode) {
  State& s = *d_;
  int32_t fileMode = mode == 0xFFFF ? -1 : mode;
  if (!s.inMemory && !HasFileNamePart(s.fileName))
    throw EZWException(ecOpenModeWithoutFileName, this);
  if (!s.inMemory) RecoverBeforeOpening(*this);
  if (fileMode != -1 && !Files().FileExists(s.fileName) && s.spanningMode != smSpanning &&
      !IsRemovableDrive(Files(), s.fileName))
    throw EZWException(ecArchiveNotFound, {Files().DisplayName(s.fileName)}, this);
  if (fileMode != -1 && s.inMemory)
    throw EZWException(ecInMemoryCreateOnly, {Files().DisplayName(s.fileName)}, this);
  CloseArchiveFile();
  s.fileMode = fileMode;
  try {
    OpenOrCreateArchive(*this);
  } catch (...) {
    ReleaseArchive(s);  // a failed opening holds nothing
    throw;
  }
}

void TZWBaseArchiver::CloseArchiveFile() noexcept {
  State& s = *d_;
  if (s.isOpen) {
    try {
      ApplyUpdate(*this);
      if (s.archiveStream && !s.journalHeld &&
          (s.archiveStream->GetSize() == 0 || s.directoryPending))
        FinishNewArchive(*this);
    } catch (...) {
      // Closing never fails; the update engine has already restored what it could.
    }
  }
  s.updateLevel = 0;
  s.batchPending = false;
  ReleaseArchive(s);
}

void TZWBaseArchiver::BeginUpdate() {
  State& s = *d_;
  if (s.updateLevel == 0) {
    SetArchiveOpen(true);
    if (s.fileMode != -1 && (s.fileMode & 3) == 0) throw EZWException(ecReadOnlyArchive, this);
    TZWDirArray& working = s.dirManager->WorkingDirectory;
    // Read before written: the saved directory shares the items the batch leaves alone.
    for (int32_t i = 0; i < working.Count(); ++i)
      if (std::as_const(working).ItemPtr(i).Modified) working.ItemPtr(i).Modified = false;
    s.dirManager->SavedDirectory.Assign(working);
    s.batchPending = true;
  }
  ++s.updateLevel;
}

void TZWBaseArchiver::EndUpdate() {
  State& s = *d_;
  if (s.updateLevel <= 0) return;
  if (s.updateLevel == 1)
    ApplyUpdate(*this);
  else
    --s.updateLevel;
}

void TZWBaseArchiver::ResetUpdateCounter() {
  State& s = *d_;
  if (s.updateLevel > 0) s.updateLevel = 0;
  // Queued entries of an abandoned batch are not in the file: drop them, or a later
  // batch would take them for stored entries.
  if (s.batchPending && s.dirManager)
    s.dirManager->WorkingDirectory.Assign(s.dirManager->SavedDirectory);
  s.batchPending = false;
}

void TZWBaseArchiver::SetArchiveOpen(bool open) {
  if (d_->isOpen == open) return;
  if (open)
    OpenArchiveFile();
  else
    CloseArchiveFile();
}

void TZWBaseArchiver::CheckArchiveOpen() const {
  if (!d_->isOpen) throw EZWException(ecArchiveNotOpen, this);
}

void TZWBaseArchiver::CheckMultiVolumeChange() const {
  const State& s = *d_;
  if (s.updateLevel == 0 && s.dirManager && s.dirManager->WorkingDirectory.Count() >= 1 &&
      s.spanningMode != smNone)
    throw EZWException(ecMultiVolumeChange, this);
}

void TZWBaseArchiver::SetInMemory(bool value) {
  State& s = *d_;
  if (value == s.inMemory) return;
  if (s.isOpen && s.inMemory) {
    if (s.fileName.empty()) throw EZWException(ecInMemoryWithoutFileName, this);
    ApplyUpdate(*this);
    if (s.archiveStream->GetSize() == 0 || s.directoryPending) {
      s.archiveStream->Seek(0, SeekOrigin::kEnd);
      TZWVolumeContext volumes = VolumeContextOf(*this);
      s.dirManager->WriteDirectory(*MakeArchiveSink(volumes));
      s.directoryPending = false;
    }
    {
      TFileStream file(Files(), s.fileName, FileMode::fmCreate);
      s.archiveStream->SetPosition(0);
      file.CopyFrom(*s.archiveStream, -1);
    }
    CloseArchiveFile();
    s.inMemory = false;
    OpenArchiveFile();
  } else if (s.isOpen) {
    CloseArchiveFile();
    s.inMemory = true;
    OpenArchiveFile();
  }
  s.inMemory = value;
}

}  // namespace zw

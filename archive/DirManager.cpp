#include "DirManager.h"

#include "ArchiverState.h"
#include "DirectoryWriter.h"
#include "Streams.h"
#include "Volumes.h"
#include "ZWExcept.h"
#include "ZipWriter.h"

namespace zw {

TZWDirManager::TZWDirManager(TStream* stream, TZWBaseArchiver& archiver, bool newArchive)
    : Stream(stream), NewArchive(newArchive), Archiver(archiver) {
  auto& s = ArchiverAccess::S(archiver);
  FixedStream = stream != s.archiveStream.get();
  ResetDirectory();
  if (newArchive) {
    s.currentVolume.SetFirst(true);
    if (!s.sfxStub.empty()) CopySFXStub();
  }
}

void TZWDirManager::ResetDirectory() {
  WorkingDirectory.SetCount(0);
  EndRecord = TEndOfCentralDir();
}

void TZWDirManager::CopySFXStub() {
  auto& s = ArchiverAccess::S(Archiver);
  TFileStream stub(Archiver.Files(), s.sfxStub, FileMode::fmOpenRead | FileMode::fmShareDenyNone);
  if (s.spanningMode != smNone) {
    TZWVolumeNumberInfo first;
    first.SetFirst(true);
    int64_t limit = GetVolumeSizeLimit(Archiver, first);
    if (limit > 0 && limit < stub.GetSize()) throw EZWException(ecStubExceedsVolume, &Archiver);
  }
  Stream->SetSize(0);
  Stream->SetPosition(0);
  Stream->CopyFrom(stub, -1);
  StartOffset = static_cast<uint64_t>(stub.GetSize());
}

TZWDirReadOptions TZWDirManager::ReadOptions() const {
  const auto& s = ArchiverAccess::S(Archiver);
  TZWDirReadOptions options;
  options.OemNames = s.options.OEMFileNames;
  options.MultiVolume = s.spanningMode != smNone;
  if (!FixedStream) {
    TZWBaseArchiver* archiver = &Archiver;
    options.OpenVolume = [archiver](TZWVolumeNumberInfo& volume) {
      OpenVolume(*archiver, volume);
      return ArchiverAccess::S(*archiver).archiveStream.get();
    };
  }
  return options;
}

bool TZWDirManager::ProbeEndRecord() {
  int64_t position = -1;
  bool found = TZWDirReader(*Stream, ReadOptions()).FindEndRecord(*this, position);
  return ArchiverAccess::S(Archiver).volumeProbing ? found : true;
}

void TZWDirManager::ReadDirectory() {
  auto& s = ArchiverAccess::S(Archiver);
  s.lastOpenDropped = 0;
  TZWDirReader reader(*Stream, ReadOptions());
  try {
    reader.Read(*this);
  } catch (...) {
    Stream = &reader.Stream();
    throw;
  }
  Stream = &reader.Stream();
  s.lastOpenDropped = DroppedEntries;
}

void TZWDirManager::WriteDirectory(TStream* stream) {
  auto& s = ArchiverAccess::S(Archiver);
  if (stream) Stream = stream;
  TZWBaseArchiver* volumes = s.spanningMode != smNone ? &Archiver : nullptr;
  Stream = TZWDirWriter(*this, s.options.OEMFileNames, volumes).Write(Stream);
}

}  // namespace zw

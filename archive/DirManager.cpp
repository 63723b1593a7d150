#include "DirManager.h"

#include "ArchiveSink.h"
#include "ArchiverState.h"
#include "DirectoryWriter.h"
#include "Streams.h"
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
  if (!FixedStream) options.OpenVolume = OpenVolume;
  return options;
}

TStream& TZWDirManager::Current() const {
  return FixedStream ? *Stream : *ArchiverAccess::S(Archiver).archiveStream;
}

bool TZWDirManager::ProbeEndRecord() {
  int64_t position = -1;
  bool found = TZWDirReader(Current(), ReadOptions()).FindEndRecord(*this, position);
  return ArchiverAccess::S(Archiver).volumeProbing ? found : true;
}

void TZWDirManager::ReadDirectory() {
  auto& s = ArchiverAccess::S(Archiver);
  s.lastOpenDropped = 0;
  TZWDirReader reader(Current(), ReadOptions());
  try {
    reader.Read(*this);
  } catch (...) {
    Stream = &reader.Stream();
    throw;
  }
  Stream = &reader.Stream();
  s.lastOpenDropped = DroppedEntries;
}

void TZWDirManager::WriteDirectory(TZWArchiveSink& sink) {
  TZWDirWriter(*this, ArchiverAccess::S(Archiver).options.OEMFileNames).Write(sink);
}

void TZWDirManager::WriteDirectory(TStream* stream) {
  if (stream) Stream = stream;
  TZWDirWriter(*this, ArchiverAccess::S(Archiver).options.OEMFileNames)
      .Write(stream ? stream : &Current());
}

uint64_t LeadingDataSize(const TZWArchiverState& s) {
  return s.dirManager ? s.dirManager->StartOffset : 0;
}

}  // namespace zw

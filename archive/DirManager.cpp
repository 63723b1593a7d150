#include "DirManager.h"

#include "ArchiveSink.h"
#include "ArchiverState.h"
#include "DirectoryWriter.h"
#include "Streams.h"

namespace zw {

TZWDirManager::TZWDirManager(TStream* stream, const TZWSettings& settings, TZWSession& session,
                             FileSystem& files, bool newArchive)
    : Stream(stream),
      NewArchive(newArchive),
      settings_(settings),
      session_(session),
      files_(files) {
  FixedStream = stream != session.archiveStream.get();
  ResetDirectory();
  if (newArchive) {
    session.currentVolume.SetFirst(true);
    if (!settings.sfxStub.empty()) CopySFXStub();
  }
}

void TZWDirManager::ResetDirectory() {
  WorkingDirectory.SetCount(0);
  EndRecord = TEndOfCentralDir();
}

void TZWDirManager::CopySFXStub() {
  TFileStream stub(files_, settings_.sfxStub, FileMode::fmOpenRead | FileMode::fmShareDenyNone);
  Stream->SetSize(0);
  Stream->SetPosition(0);
  Stream->CopyFrom(stub, -1);
  StartOffset = static_cast<uint64_t>(stub.GetSize());
}

TZWDirReadOptions TZWDirManager::ReadOptions() const {
  TZWDirReadOptions options;
  options.OemNames = settings_.options.OEMFileNames;
  options.MultiVolume = settings_.spanningMode != smNone;
  if (!FixedStream) options.OpenVolume = OpenVolume;
  return options;
}

TStream& TZWDirManager::Current() const { return FixedStream ? *Stream : *session_.archiveStream; }

bool TZWDirManager::ProbeEndRecord() {
  int64_t position = -1;
  bool found = TZWDirReader(Current(), ReadOptions()).FindEndRecord(*this, position);
  return session_.volumeProbing ? found : true;
}

void TZWDirManager::ReadDirectory() {
  session_.lastOpenDropped = 0;
  TZWDirReader reader(Current(), ReadOptions());
  try {
    reader.Read(*this);
  } catch (...) {
    Stream = &reader.Stream();
    throw;
  }
  Stream = &reader.Stream();
  session_.lastOpenDropped = DroppedEntries;
}

void TZWDirManager::WriteDirectory(TZWArchiveSink& sink) {
  TZWDirWriter(*this, settings_.options.OEMFileNames).Write(sink);
}

void TZWDirManager::WriteDirectory(TStream* stream) {
  if (stream) Stream = stream;
  TZWDirWriter(*this, settings_.options.OEMFileNames).Write(stream ? stream : &Current());
}

uint64_t LeadingDataSize(const TZWSession& s) {
  return s.dirManager ? s.dirManager->StartOffset : 0;
}

}  // namespace zw

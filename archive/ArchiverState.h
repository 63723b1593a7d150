// Internal state of an archiver, shared by the units of the component and the storage
// engine (lifecycle, adding files, update engine, directory, compression, volumes).
// Not part of the component's public surface, and it does not include it: the engine
// depends on the surface only where a unit calls the archiver itself.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "EngineEvents.h"
#include "Streams.h"
#include "ZWTypes.h"

namespace zw {

class FileSystem;
class UserInterface;
class TZWBaseArchiver;
class TZWCompressor;
class TZWDeflatePool;
class TZWDirManager;
struct TZWChunkJob;
class TZWJournal;

// The published settings: written by the component's setters (the spanning mode also
// by opening, which detects it); the engine reads them during a run.
struct TZWSettings {
  bool extractCorruptedFiles = false;
  TZWCompressionLevel compressionLevel = clFastest;
  uint8_t compressionMode = 1;
  std::string password, fileName, baseDir, tempDir, sfxStub;
  TZWSpanningMode spanningMode = smNone;
  TZWSpanningOptions spanningOptions;
  TZWOptions options;
  std::vector<std::string> fileMasks, exclusionMasks, noCompressionMasks;
  bool inMemory = false;
  int32_t threads = 0;  // 0: as many as the process may run on
};

// The open archive: its stream, directory, current volume and journal, from opening
// to closing.
struct TZWSession {
  int32_t updateLevel = 0;
  bool isOpen = false;
  std::string currentVolumeFileName;
  int32_t fileMode = 0;  // 34, 64 or -1 (create)
  std::unique_ptr<TStream> archiveStream;
  std::unique_ptr<TZWDirManager> dirManager;
  TZWVolumeNumberInfo currentVolume;
  bool volumeProbing = false;

  // A batch has queued changes that are not yet applied (or discarded).
  bool batchPending = false;
  // A new archive whose directory has not been written yet (written at the latest
  // when it is closed, so even a stub-only archive ends as a valid one).
  bool directoryPending = false;
  // The rollback journal in effect: a new archive's until its first directory is
  // written (it restores the empty archive), or an update run's. `journalHeld`: a
  // rollback failed and left it for the next opening; nothing more is committed.
  std::unique_ptr<TZWJournal> journal;
  bool journalForNewArchive = false;
  bool journalHeld = false;
  // What the last opening found (see TZWBaseArchiver::LastOpenRestored).
  bool lastOpenRestored = false;
  int32_t lastOpenDropped = 0;

  TZWSession();
  ~TZWSession();
};

// The counters of one update run.
struct TZWRunCounters {
  int32_t filesToProcess = 0;
  int32_t filesProcessed = 0;
  bool cancelled = false;
  bool progressOn = false;
};

// What the archiver works with: its file system and user interaction, and the
// compression state kept across entries.
struct TZWServices {
  FileSystem* fs = nullptr;
  UserInterface* ui = nullptr;
  TZWSeedSource seedSource;
  std::unique_ptr<TZWCompressor> compressor;    // zlib stream and buffers, reused per entry
  std::unique_ptr<TZWDeflatePool> deflatePool;  // workers, made on demand
  // The deflated data of the entry being written, when it was deflated ahead.
  const TZWChunkJob* deflatedAhead = nullptr;

  TZWServices();
  ~TZWServices();
};

// The whole state, for the units that still take all of it (ArchiverAccess::S); a
// unit that needs less is handed only its parts.
struct TZWArchiverState : TZWSettings, TZWSession, TZWRunCounters, TZWServices {
  explicit TZWArchiverState(TZWBaseArchiver& archiver);
  ~TZWArchiverState();

  // The archiver's events, for the units handed its parts: they live as long as the
  // archiver does, as long as anything made from its parts.
  TZWArchiverEvents events;
};

// Size of the leading data (a stub) of the open archive; 0 when none is open.
uint64_t LeadingDataSize(const TZWSession& s);

// Access to the internals for the component's own units (defined with the component,
// which grants it; this header does not need the component's class).
struct ArchiverAccess {
  static TZWArchiverState& S(TZWBaseArchiver& a);
  static const TZWArchiverState& S(const TZWBaseArchiver& a);
  static TZip64Mode Zip64(const TZWBaseArchiver& a);
  static uint16_t Method(const TZWBaseArchiver& a);

  static void ConfirmProcessFile(TZWBaseArchiver& a, const std::string& name,
                                 TZWProcessOperation op, bool& confirm);
  static void StoreFile(TZWBaseArchiver& a, std::string& name, uint32_t& attr,
                        std::string& comment);
  static void AfterOpen(TZWBaseArchiver& a);
};

}  // namespace zw

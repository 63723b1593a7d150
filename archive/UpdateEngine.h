// The update engine: turns the changes collected in a batch into the archive on disk,
// in place.
//
// Entries in front of the first change stay where they are, untouched. From the first
// change on, the run's archive sink saves the rest of the old archive (in the journal),
// cuts the archive there, and the entries are written again in directory order:
// unchanged ones copied byte for byte (with their data descriptors), changed ones
// written fresh, then a new central directory. A failure, cancel or abort puts the
// saved bytes back, so the archive again holds exactly its previous entries.
// Per-entry failures go to OnProcessFileFailure (retry, ignore or abort).
#pragma once

#include "ZWTypes.h"

namespace zw {

class FileSystem;
class TComponent;
class TZWBaseArchiver;
class TZWFailureEvents;
class TZWProgressEvents;
class TZWVolumeEvents;
struct TZWRunCounters;
struct TZWServices;
struct TZWSession;
struct TZWSettings;

// What an update run is handed instead of the archiver: the settings (read only), the
// open-archive session (its directory, stream, journal and batch level), the run's
// counters, the services (compressor, workers, data deflated ahead), the file system,
// the events it fires (progress, volume requests, an entry's failure), the Zip64 mode,
// and the component named in what it raises.
struct TZWUpdateContext {
  const TZWSettings& settings;
  TZWSession& session;
  TZWRunCounters& run;
  TZWServices& services;
  FileSystem& files;
  TZWProgressEvents& progress;
  TZWVolumeEvents& volumeRequests;
  TZWFailureEvents& failures;
  TZip64Mode zip64;
  const TComponent* sender;
};

// Applies the batch when one is open (UpdateLevel > 0); returns normally after
// success, cancel and abort; raises after restoring the archive otherwise.
void ApplyUpdate(const TZWUpdateContext& context);
// The same with the parts and events of `archiver` (defined with the component, ZipWriter.cpp).
void ApplyUpdate(TZWBaseArchiver& archiver);

}  // namespace zw

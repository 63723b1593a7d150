// What the entry reader works on instead of the archiver (EntryReader.h): the settings
// (the password, which an answer that fits replaces, and the spanning mode), the
// open-archive session (its stream, directory and current volume), the file system,
// the volume requests and the password event, and the component named in what it
// raises. The events must outlive the reader.
#pragma once

namespace zw {

class FileSystem;
class TComponent;
class TZWPasswordEvents;
class TZWVolumeEvents;
struct TZWSession;
struct TZWSettings;

struct TZWEntryReadContext {
  TZWSettings& settings;
  TZWSession& session;
  FileSystem& files;
  TZWVolumeEvents& volumeRequests;
  TZWPasswordEvents& passwords;
  const TComponent* sender;
};

}  // namespace zw

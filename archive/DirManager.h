// The directory of the archive an archiver has open: it reads the directory when the
// archive is opened (DirectoryReader.h, with the archiver's name and volume settings),
// writes it at the end of an update (DirectoryWriter.h, through the archive sink of
// the run), and keeps the directory as it was before the
// update under way (SavedDirectory). A new archive starts with the SFX stub copied.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "DirectoryReader.h"

namespace zw {

class FileSystem;
class TStream;
class TZWArchiveSink;
struct TZWSession;
struct TZWSettings;

class TZWDirManager : public TZWDirectory {
 public:
  // Reads the settings (names, spanning mode, SFX stub) and the open-archive session
  // (its current stream and volume, volume probing); tells the session what an
  // opening dropped. `files` opens the SFX stub.
  TZWDirManager(TStream* stream, const TZWSettings& settings, TZWSession& session,
                FileSystem& files, bool newArchive);
  TZWDirManager(const TZWDirManager&) = delete;
  TZWDirManager& operator=(const TZWDirManager&) = delete;

  // True when the end record was found; outside volume probing always true, so that
  // opening goes on to ReadDirectory.
  bool ProbeEndRecord();
  // Reads the directory; the entries a local-header scan left out are also given to
  // the archiver as what its opening dropped.
  void ReadDirectory();
  // Writes the directory where `sink` stands.
  void WriteDirectory(TZWArchiveSink& sink);
  // Writes the directory at the end of `stream` (or of the archive's stream when null).
  void WriteDirectory(TStream* stream = nullptr);
  void ResetDirectory();

  // The stream read: a fixed one, or (FixedStream false) the archive's current
  // volume, which the volume unit may replace.
  TStream* Stream;
  bool NewArchive;
  bool FixedStream;
  TZWDirArray SavedDirectory;
  // Opens another volume for the reader (set by whoever reads a multi-volume archive).
  std::function<TStream*(TZWVolumeNumberInfo& volume)> OpenVolume;

 private:
  TZWDirReadOptions ReadOptions() const;
  TStream& Current() const;
  void CopySFXStub();

  const TZWSettings& settings_;
  TZWSession& session_;
  FileSystem& files_;
};

}  // namespace zw

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

class TStream;
class TZWArchiveSink;
class TZWBaseArchiver;

class TZWDirManager : public TZWDirectory {
 public:
  TZWDirManager(TStream* stream, TZWBaseArchiver& archiver, bool newArchive);
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
  TZWBaseArchiver& Archiver;
  TZWDirArray SavedDirectory;
  // Opens another volume for the reader (set by whoever reads a multi-volume archive).
  std::function<TStream*(TZWVolumeNumberInfo& volume)> OpenVolume;

 private:
  TZWDirReadOptions ReadOptions() const;
  TStream& Current() const;
  void CopySFXStub();
};

}  // namespace zw

// Reading the central directory of one archive stream.
//
// `TZWDirReader::Read` locates the end record (the last "PK\5\6" whose comment
// reaches exactly to the end of the stream), follows a Zip64 locator, and reads
// central headers until the directory's bytes end (the entry counts are not trusted).
// The directory is found at the end record's position minus its size, or at its
// stored offset when only that holds a central header. Leading data such as a
// self-extractor stub is found by looking for entry 0's local header from its stored
// position on; when the stored positions leave the leading data out, every entry is
// moved by its size (`StartOffset`). Without an end record the local headers are
// scanned (RecoveryScan.h).
// Everything read is checked against the bytes really present: a record, name, extra
// block or comment that would run past its bounds gives a clean error (EZWException
// ecInvalidArchive or ecZip64EndRecordMissing, or EReadError), and no allocation is
// sized by a count the file could not back. Names and comments are kept whole,
// whatever their length.
//
// The reader knows nothing of the archiver: what it needs comes in a
// `TZWDirReadOptions` value, so any stream can be read (the fuzz target, a listing,
// an extraction).
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "DirItem.h"
#include "Directory.h"
#include "ZipRecords.h"

namespace zw {

class TStream;

struct TZWDirReadOptions {
  // Names not flagged UTF-8 are stored in CP437 (read into the ANSI code page).
  bool OemNames = false;
  // The archive spreads over volumes: the directory is read from the volume the end
  // record names, at its stored offset, and a missing end record is an error.
  bool MultiVolume = false;
  // Opens `volume` for reading and returns its stream; unset when the stream read is
  // the only one (a directory cannot then go on to another volume).
  std::function<TStream*(TZWVolumeNumberInfo& volume)> OpenVolume;
};

class TZWDirReader {
 public:
  TZWDirReader(TStream& stream, TZWDirReadOptions options);

  // Reads the whole directory into `dir`: its entries, comment, end records, start
  // offset and directory start (Zip64 records are kept as the last ones read).
  void Read(TZWDirectory& dir);
  // Looks for the end record only; on success `dir` gets it and the archive comment
  // and `position` its place (else -1, and the comment is cleared).
  bool FindEndRecord(TZWDirectory& dir, int64_t& position);
  // The stream read last: another volume's after a multi-volume directory.
  TStream& Stream() const { return *stream_; }

 private:
  void SwitchVolume(TZWVolumeNumberInfo& volume);
  void ReadZip64Records(TZWDirectory& dir, int64_t& position);
  // The Zip64 end record for the locator before `position`; moves `position` to it.
  bool FindZip64EndRecord(TZWDirectory& dir, int64_t& position);
  void LocateDirectory(const TZWDirectory& dir, int64_t endPosition, int64_t& start, int64_t& end);
  // Whether central headers read from `from` follow one another exactly to `target`.
  bool ChainReaches(int64_t from, int64_t target);
  void ReadCentralHeaders(TZWDirectory& dir, int64_t start, int64_t end,
                          TZWVolumeNumberInfo& volume);
  void ReadCentralHeader(class BoundedReader& in, TDirItem& item);
  void FindStartOffset(TZWDirectory& dir, int64_t position);
  void ApplyStartOffset(TZWDirectory& dir, uint64_t shift);

  TStream* stream_;
  TZWDirReadOptions options_;
};

}  // namespace zw

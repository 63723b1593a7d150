// Reading and writing the central directory of one archive stream.
//
// `ReadDirectory` locates the end record (the last "PK\5\6" whose comment reaches
// exactly to the end of the stream), follows a Zip64 locator, and reads central
// headers into `WorkingDirectory` until the directory's bytes end (the entry counts
// are not trusted). The directory is found at the end record's position minus its
// size, or at its stored offset when only that holds a central header. Leading data
// such as a self-extractor stub is found by looking for entry 0's local header from
// its stored position on; when the stored positions leave the leading data out,
// every entry is moved by its size (`StartOffset`). Without an end record, local
// headers are scanned; an entry is taken only when its data lies inside the file and
// was completed: a header still holding the values written before its data (CRC all
// ones, compressed size 0, data behind it) is left out, and so is stored or deflated
// data whose CRC-32 or size disagrees with the header (encrypted data and other
// methods cannot be checked here and are taken). The scan then goes on at the next
// local header signature; `DroppedEntries` counts the entries left out.
// Everything read is checked against the bytes really present: a record, name,
// extra block or comment that would run past its bounds gives a clean error
// (EZWException or "Stream read error"), and no allocation is sized by a count the
// file could not back. Names and comments are kept whole, whatever their length.
// `WriteDirectory` writes the central directory, the Zip64 end records when needed,
// and the end record with the archive comment.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "DirItem.h"
#include "ZipRecords.h"

namespace zw {

class TStream;
class TZWBaseArchiver;

class TZWDirManager {
 public:
  TZWDirManager(TStream* stream, TZWBaseArchiver& archiver, bool newArchive);
  TZWDirManager(const TZWDirManager&) = delete;
  TZWDirManager& operator=(const TZWDirManager&) = delete;

  // True when the end record was found; outside volume probing always true, so that
  // opening goes on to ReadDirectory.
  bool ProbeEndRecord();
  void ReadDirectory();
  // Writes the directory at the end of `stream` (or of Stream when null).
  void WriteDirectory(TStream* stream = nullptr);
  void ResetDirectory();

  TStream* Stream;
  bool NewArchive;
  bool FixedStream;
  TZWBaseArchiver& Archiver;
  TZWDirArray SavedDirectory;
  TZWDirArray WorkingDirectory;
  std::string ArchiveComment;
  TZip64Locator Zip64Locator;
  TZip64EndRecord Zip64EndRecord;
  TEndOfCentralDir EndRecord;
  uint64_t StartOffset = 0;
  bool HasZip64 = false;
  // Where the central directory read or last written begins; -1 when unknown (the
  // entries were found by scanning local headers).
  int64_t DirectoryStart = -1;
  // Entries the last local-header scan left out (cut off by the end of the file, never
  // completed, or failing their check); also given to the archiver as what its
  // opening dropped.
  int32_t DroppedEntries = 0;

 private:
  bool FindEndRecord(uint32_t signature, int64_t& position);
  // First position >= start holding `signature`, or -1; the stream position is kept.
  int64_t FindSignature(int64_t start, uint32_t signature, int64_t chunkSize);
  void SwitchReadVolume(TZWVolumeNumberInfo& volume);
  void ReadZip64Records(int64_t& position);
  // The Zip64 end record for the locator before `position`; moves `position` to it.
  bool FindZip64EndRecord(int64_t& position);
  void LocateDirectory(int64_t endPosition, int64_t& start, int64_t& end);
  // Whether central headers read from `from` follow one another exactly to `target`.
  bool ChainReaches(int64_t from, int64_t target);
  void ReadCentralHeaders(int64_t start, int64_t end, TZWVolumeNumberInfo& volume, bool multi);
  void ReadCentralHeader(class BoundedReader& in, TDirItem& item);
  void FindStartOffset(int64_t position);
  void ApplyStartOffset(uint64_t shift);
  void ScanLocalHeaders();
  // The end of the entry's data when the header at `at` is taken as an entry, else -1.
  int64_t ScanOneLocalHeader(int64_t at, int64_t size);
  bool ApplyDataDescriptor(int64_t dataStart, TDirItem& item, bool zip64Local);
  // Whether the entry's data at `dataStart` gives its CRC-32 and size (read in
  // bounded chunks); true for what cannot be checked without a password or a codec.
  bool DataVerifies(int64_t dataStart, const TDirItem& item);
  bool InflatedDataVerifies(int64_t dataStart, const TDirItem& item);
  void ReadForCheck(int64_t at, uint8_t* out, size_t n);
  void CopySFXStub();
  void WriteCentralHeader(TDirItem& item, std::vector<uint8_t>& out);
  void FinishDirectory(int64_t dirStart, uint32_t dirVolume, uint64_t dirSize);
  void EmitEndRecords(const std::vector<uint8_t>& bytes);
  std::string EncodeName(const TDirItem& item) const;
  std::string DecodeName(const std::string& raw, uint16_t flags) const;

  // The chunk FindSignature read last, and where it came from; one for data
  // descriptors and one for every other signature, so that the two searches of a
  // local-header scan do not read each other's chunks again and again.
  struct ScanCache {
    std::vector<uint8_t> chunk;
    int64_t at = 0;
    const TStream* stream = nullptr;
    int64_t size = -1;
  };
  ScanCache scanCaches_[2];
  // The last data descriptor search: from where, and what it found (-1: none).
  int64_t descriptorFrom_ = -1;
  int64_t descriptorFound_ = -1;
  // Buffers of the data check, kept across the entries of one scan.
  std::vector<uint8_t> verifyIn_, verifyOut_;
  // Bytes the data checks of one scan may still read.
  uint64_t checkBudget_ = 0;
};

}  // namespace zw

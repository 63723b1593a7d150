// Recovering the entries of an archive that has no end record, by scanning its local
// headers, and the signature search that scan (and the start offset search) uses.
//
// An entry is taken only when its data lies inside the file and was completed: a
// header still holding the values written before its data (CRC all ones, compressed
// size 0, data behind it) is left out, and so is stored or deflated data whose CRC-32
// or size disagrees with the header (encrypted data and other methods cannot be
// checked here and are taken). The scan then goes on at the next local header
// signature; `DroppedEntries` counts the entries left out. Reads are bounded by a
// multiple of the file size, beyond which the file is refused (ecInvalidArchive).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "DirItem.h"

namespace zw {

class TStream;
struct TZWDirectory;

// Finds signatures in a stream. The last chunk read is kept, so that searches for
// consecutive records read each byte of the file once, not once per record.
class TZWSignatureSearch {
 public:
  explicit TZWSignatureSearch(TStream& stream) : stream_(stream) {}
  // First position >= start holding `signature`, or -1; the stream position is kept.
  int64_t Find(int64_t start, uint32_t signature, int64_t chunkSize);

 private:
  TStream& stream_;
  std::vector<uint8_t> chunk_;
  int64_t at_ = 0;
  int64_t size_ = -1;
};

class TZWRecoveryScan {
 public:
  TZWRecoveryScan(TStream& stream, bool oemNames);
  // Appends the entries found to dir.WorkingDirectory and counts those left out in
  // dir.DroppedEntries. Raises ecInvalidArchive when no entry can be taken: taking
  // such a file for an empty archive would let the next update cut it to nothing.
  void Run(TZWDirectory& dir);

 private:
  // The end of the entry's data when the header at `at` is taken as an entry, else -1.
  int64_t ScanOneLocalHeader(TZWDirectory& dir, int64_t at, int64_t size);
  bool ApplyDataDescriptor(int64_t dataStart, TDirItem& item, bool zip64Local);
  // Whether the entry's data at `dataStart` gives its CRC-32 and size (read in
  // bounded chunks); true for what cannot be checked without a password or a codec.
  bool DataVerifies(int64_t dataStart, const TDirItem& item);
  bool InflatedDataVerifies(int64_t dataStart, const TDirItem& item);
  void ReadForCheck(int64_t at, uint8_t* out, size_t n);

  TStream& stream_;
  bool oemNames_;
  // One search for data descriptors and one for local headers, so that the two
  // searches of a scan do not read each other's chunks again and again.
  TZWSignatureSearch headers_;
  TZWSignatureSearch descriptors_;
  // The last data descriptor search: from where, and what it found (-1: none).
  int64_t descriptorFrom_ = -1;
  int64_t descriptorFound_ = -1;
  // Buffers of the data check, kept across the entries of one scan.
  std::vector<uint8_t> verifyIn_, verifyOut_;
  // Bytes the data checks of one scan may still read.
  uint64_t checkBudget_ = 0;
};

}  // namespace zw

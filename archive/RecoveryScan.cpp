#include "RecoveryScan.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <utility>

#include "Directory.h"
#include "Streams.h"
#include "ZWExcept.h"
#include "ZWZlib.h"
#include "ZipRecords.h"

namespace zw {

int64_t TZWSignatureSearch::Find(int64_t start, uint32_t signature, int64_t chunkSize) {
  int64_t saved = stream_.GetPosition();
  int64_t size = stream_.GetSize();
  uint8_t sig[4];
  PutU32(sig, signature);
  if (size_ != size) {
    chunk_.clear();
    size_ = size;
  }
  int64_t found = -1;
  for (int64_t at = std::max<int64_t>(start, 0); at + 4 <= size && found < 0;) {
    int64_t chunkEnd = at_ + static_cast<int64_t>(chunk_.size());
    if (chunk_.empty() || at < at_ || at + 4 > chunkEnd) {
      int64_t n = std::min(chunkSize, size - at);
      chunk_.resize(static_cast<size_t>(n));
      stream_.SetPosition(at);
      stream_.ReadBuffer(chunk_.data(), n);
      at_ = at;
      chunkEnd = at + n;
    }
    const uint8_t* begin = chunk_.data();
    const uint8_t* last = begin + (chunkEnd - at_) - 4;  // last place a signature fits
    for (const uint8_t* p = begin + (at - at_); p <= last; ++p) {
      p = static_cast<const uint8_t*>(std::memchr(p, sig[0], static_cast<size_t>(last - p) + 1));
      if (!p) break;
      if (std::memcmp(p, sig, 4) == 0) {
        found = at_ + (p - begin);
        break;
      }
    }
    if (chunkEnd >= size) break;
    at = chunkEnd - 3;  // a signature across two chunks is still found
  }
  stream_.SetPosition(saved);
  return found;
}

TZWRecoveryScan::TZWRecoveryScan(TStream& stream, bool oemNames)
    : stream_(stream), oemNames_(oemNames), headers_(stream), descriptors_(stream) {}

namespace {

constexpr int64_t kVerifyChunk = 65536;

// A raw inflate stream, ended however the check ends.
struct InflateStream {
  z_stream zs{};
  bool open = false;
  InflateStream() = default;
  InflateStream(const InflateStream&) = delete;
  InflateStream& operator=(const InflateStream&) = delete;
  ~InflateStream() {
    if (open) inflateEnd(&zs);
  }
};

}  // namespace

// Takes CRC and sizes of a streamed entry (flag bit 3) from the data descriptor that
// follows its data: the first descriptor signature after the data start. The Zip64
// form (8-byte sizes) is taken when the local header has a Zip64 extra, or when a
// record signature follows the 24-byte form but not the 16-byte one. False when the
// data would reach past the end of the file.
bool TZWRecoveryScan::ApplyDataDescriptor(int64_t dataStart, TDirItem& item, bool zip64Local) {
  int64_t size = stream_.GetSize();
  // A search from further on finds what an earlier one found, if that lies after the
  // new start (or nothing, if the earlier one found nothing): headers that keep
  // missing their descriptors then cost one search, not one each.
  int64_t found = descriptorFrom_ >= 0 && dataStart >= descriptorFrom_ &&
                          (descriptorFound_ < 0 || descriptorFound_ >= dataStart)
                      ? descriptorFound_
                      : descriptors_.Find(dataStart, kDataDescriptorSignature, 65535);
  descriptorFrom_ = dataStart;
  descriptorFound_ = found;
  if (found < 0 || found + static_cast<int64_t>(TDataDescriptor::SizeOf(true, false)) >
                       size)  // no descriptor: the header's values stay
    return item.RealCompressedSize() <= static_cast<uint64_t>(size - dataStart);
  uint8_t raw[TDataDescriptor::kMaxSize + 4] = {};
  int64_t available = std::min<int64_t>(sizeof raw, size - found);
  stream_.SetPosition(found);
  stream_.ReadBuffer(raw, available);
  TDataDescriptor d = TDataDescriptor::Scanned(raw, static_cast<size_t>(available), zip64Local);
  uint64_t compressed = d.CompressedSize;
  uint64_t uncompressed = d.UncompressedSize;
  if (compressed > static_cast<uint64_t>(size - dataStart)) return false;
  item.Crc32 = d.Crc32;
  item.Zip64CompressedSize = compressed;
  item.Zip64UncompressedSize = uncompressed;
  auto narrow = [](uint64_t v) { return v >= kAllOnes32 ? kAllOnes32 : static_cast<uint32_t>(v); };
  item.CompressedSize = narrow(compressed);
  item.UncompressedSize = narrow(uncompressed);
  item.NeedsZip64 = item.CompressedSize == kAllOnes32 || item.UncompressedSize == kAllOnes32;
  return true;
}

// The data of the entries taken lies apart, and that of an entry that fails its check
// usually does too; headers nested inside the data of one another would have the same
// bytes read again for each of them. Reads are bounded by a multiple of the file
// size, beyond which the file is refused.
void TZWRecoveryScan::ReadForCheck(int64_t at, uint8_t* out, size_t n) {
  if (n > checkBudget_) throw EZWException(ecInvalidArchive);
  checkBudget_ -= n;
  stream_.SetPosition(at);
  stream_.ReadBuffer(out, static_cast<int64_t>(n));
}

bool TZWRecoveryScan::DataVerifies(int64_t dataStart, const TDirItem& item) {
  if ((item.Flags & kFlagEncrypted) ||
      (item.CompressionMethod != kMethodStored && item.CompressionMethod != kMethodDeflated))
    return true;
  uint64_t compressed = item.RealCompressedSize();
  uint64_t expected = item.RealUncompressedSize();
  // Empty data of any method (some writers mark empty entries deflated).
  if (compressed == 0 && expected == 0) return item.Crc32 == 0;
  if (item.CompressionMethod == kMethodDeflated) return InflatedDataVerifies(dataStart, item);
  if (compressed != expected) return false;
  verifyIn_.resize(kVerifyChunk);
  uLong crc = crc32(0, nullptr, 0);
  int64_t at = dataStart;
  for (uint64_t left = compressed; left > 0;) {
    auto n = static_cast<uInt>(std::min<uint64_t>(left, kVerifyChunk));
    ReadForCheck(at, verifyIn_.data(), n);
    crc = crc32(crc, verifyIn_.data(), n);
    at += n;
    left -= n;
  }
  return static_cast<uint32_t>(crc) == item.Crc32;
}

bool TZWRecoveryScan::InflatedDataVerifies(int64_t dataStart, const TDirItem& item) {
  uint64_t expected = item.RealUncompressedSize();
  verifyIn_.resize(kVerifyChunk);
  verifyOut_.resize(kVerifyChunk);
  InflateStream inflater;
  z_stream& zs = inflater.zs;
  CheckZlibResult(inflateInit2(&zs, -MAX_WBITS));
  inflater.open = true;
  uLong crc = crc32(0, nullptr, 0);
  uint64_t produced = 0;
  uint64_t left = item.RealCompressedSize();
  int64_t at = dataStart;
  for (int result = Z_OK; result != Z_STREAM_END;) {
    if (zs.avail_in == 0) {
      if (left == 0) return false;  // the deflate stream never ends
      auto n = static_cast<uInt>(std::min<uint64_t>(left, kVerifyChunk));
      ReadForCheck(at, verifyIn_.data(), n);
      at += n;
      left -= n;
      zs.next_in = verifyIn_.data();
      zs.avail_in = n;
    }
    zs.next_out = verifyOut_.data();
    zs.avail_out = static_cast<uInt>(kVerifyChunk);
    result = inflate(&zs, Z_NO_FLUSH);
    if (result == Z_DATA_ERROR || result == Z_NEED_DICT) return false;
    // With input and a free output buffer, no progress means a broken stream.
    if (result == Z_BUF_ERROR && zs.avail_in > 0) return false;
    if (result != Z_BUF_ERROR) CheckZlibResult(result);  // memory: the opening fails
    uInt out = static_cast<uInt>(kVerifyChunk) - zs.avail_out;
    produced += out;
    // Stopping here keeps the cost bounded by the size the header states.
    if (produced > expected) return false;
    crc = crc32(crc, verifyOut_.data(), out);
  }
  return produced == expected && static_cast<uint32_t>(crc) == item.Crc32;
}

// Takes the local header at `at` as an entry when it, its name, its extra field and
// its data lie inside the file and the data was completed (see the header). Counts
// the headers left out for their data in DroppedEntries.
int64_t TZWRecoveryScan::ScanOneLocalHeader(TZWDirectory& dir, int64_t at, int64_t size) {
  uint8_t raw[TLocalFileHeader::kSize];
  stream_.SetPosition(at);
  stream_.ReadBuffer(raw, sizeof raw);
  TLocalFileHeader h = TLocalFileHeader::Decode(raw);
  int64_t nameStart = at + static_cast<int64_t>(TLocalFileHeader::kSize);
  int64_t dataStart = nameStart + h.FileNameLength + h.ExtraFieldLength;
  bool streamed = h.Flags & kFlagDataDescriptor;
  if (h.ExtraFieldLength > 260) return -1;
  auto drop = [&dir] {
    ++dir.DroppedEntries;
    return int64_t{-1};
  };
  if (dataStart > size) return drop();
  std::string rawName(h.FileNameLength, '\0'), extra(h.ExtraFieldLength, '\0');
  if (h.FileNameLength) stream_.ReadBuffer(rawName.data(), h.FileNameLength);
  if (h.ExtraFieldLength) stream_.ReadBuffer(extra.data(), h.ExtraFieldLength);
  TDirItem item;
  item.Signature = kCentralHeaderSignature;
  item.VersionMadeBy = item.VersionNeeded = h.VersionNeeded;
  item.Flags = h.Flags;
  item.CompressionMethod = h.CompressionMethod;
  item.LastModTime = h.LastModTime;
  item.LastModDate = h.LastModDate;
  item.Crc32 = h.Crc32;
  item.CompressedSize = h.CompressedSize;
  item.UncompressedSize = h.UncompressedSize;
  item.TakeAllOnesLiterally();
  // All-ones sizes of a local header come from its Zip64 extra.
  TZip64Extra wide;
  bool zip64Local = wide.DecodeLocal(extra);
  if (zip64Local && item.UncompressedSize == kAllOnes32)
    item.Zip64UncompressedSize = wide.UncompressedSize;
  if (zip64Local && item.CompressedSize == kAllOnes32)
    item.Zip64CompressedSize = wide.CompressedSize;
  item.NeedsZip64 = item.CompressedSize == kAllOnes32 || item.UncompressedSize == kAllOnes32;
  if (!streamed && item.RealCompressedSize() > static_cast<uint64_t>(size - dataStart))
    return drop();
  // Our writer puts the header down with CRC all ones and compressed size 0 and fills
  // both in once the data is written: such a header followed by bytes that are not
  // the next record is an update that ended inside this entry. Checked apart from the
  // data, as it holds for encrypted entries too.
  if (!streamed && h.Crc32 == kAllOnes32 && h.CompressedSize == 0 && dataStart < size) {
    uint8_t next[4] = {};
    bool record = size - dataStart >= 4;
    if (record) {
      stream_.SetPosition(dataStart);
      stream_.ReadBuffer(next, sizeof next);
      record = IsRecordSignature(next);
    }
    if (!record) return drop();
  }
  item.ExternalAttributes = (h.UncompressedSize != 0 || streamed) ? 0x20 : 0x10;
  item.SetLocalHeaderOffset(static_cast<uint64_t>(at), false);
  // The whole name is kept, as for names read from a central directory.
  item.FileName = DecodeEntryName(rawName, h.Flags, oemNames_);
  if (EncodeEntryName(item.FileName, item.Flags, oemNames_) != rawName)
    item.StoredNameBytes = rawName;
  item.FileNameLength = static_cast<uint16_t>(rawName.size());
  if (streamed && !ApplyDataDescriptor(dataStart, item, zip64Local)) return drop();
  if (!DataVerifies(dataStart, item)) return drop();
  int64_t dataEnd = dataStart + static_cast<int64_t>(item.RealCompressedSize());
  TDirItem& stored = dir.WorkingDirectory.ItemPtr(dir.WorkingDirectory.Add());
  stored = std::move(item);
  return dataEnd;
}

void TZWRecoveryScan::Run(TZWDirectory& dir) {
  int64_t size = stream_.GetSize();
  int64_t at = headers_.Find(0, kLocalHeaderSignature, 65535);
  if (at < 0 || at + static_cast<int64_t>(TLocalFileHeader::kSize) > size)
    throw EZWException(ecInvalidArchive);
  checkBudget_ = 4 * static_cast<uint64_t>(size) + (uint64_t{1} << 20);
  while (at >= 0 && at + static_cast<int64_t>(TLocalFileHeader::kSize) <= size) {
    // The search goes on behind an entry's data: a header-like signature inside
    // it (a stored archive, or a crafted overlap) is not an entry of this one.
    int64_t dataEnd = ScanOneLocalHeader(dir, at, size);
    at = headers_.Find(std::max(at + 4, dataEnd), kLocalHeaderSignature, 65535);
  }
  std::vector<uint8_t>().swap(verifyIn_);
  std::vector<uint8_t>().swap(verifyOut_);
  // Signatures without one plausible entry: not an archive. Taking it for an empty
  // one would let the next update cut the file down to nothing.
  if (dir.WorkingDirectory.Count() == 0) throw EZWException(ecInvalidArchive);
}

}  // namespace zw

#include "JournalPacking.h"

#include <zlib.h>

#include <cstring>

#include "Exceptions.h"
#include "Format.h"
#include "ZipRecords.h"

namespace zw {

namespace {

constexpr int kPackLevel = 6;
constexpr size_t kHeader = TCentralFileHeader::kSize;

// The whole central headers `raw` begins with; `end` is where they end.
size_t LeadingHeaders(const uint8_t* raw, size_t size, size_t& end) {
  size_t count = 0;
  end = 0;
  while (size - end >= kHeader) {
    TCentralFileHeader h = TCentralFileHeader::Decode(raw + end);
    size_t length = kHeader + h.FileNameLength + h.ExtraFieldLength + h.FileCommentLength;
    if (h.Signature != kCentralHeaderSignature || length > size - end) break;
    end += length;
    ++count;
  }
  return count;
}

// Where the local header after this entry's is expected (modulo 2^32).
uint32_t NextOffset(const TCentralFileHeader& h) {
  return h.LocalHeaderOffset + static_cast<uint32_t>(TLocalFileHeader::kSize) + h.FileNameLength +
         h.CompressedSize;
}

size_t VariableLength(const TCentralFileHeader& h) {
  return static_cast<size_t>(h.FileNameLength) + h.ExtraFieldLength + h.FileCommentLength;
}

// `out` gets size + 4 bytes.
void Regroup(const uint8_t* raw, size_t size, std::vector<uint8_t>& out) {
  size_t end = 0;
  size_t count = LeadingHeaders(raw, size, end);
  out.assign(size + 4, 0);
  PutU32(out.data(), static_cast<uint32_t>(count));
  uint8_t* columns = out.data() + 4;
  uint8_t* variable = columns + count * kHeader;
  uint32_t expected = 0;
  for (size_t j = 0, at = 0; j < count; ++j) {
    TCentralFileHeader h = TCentralFileHeader::Decode(raw + at);
    uint32_t next = NextOffset(h);
    h.LocalHeaderOffset -= expected;
    expected = next;
    uint8_t fixed[kHeader];
    h.Encode(fixed);
    for (size_t k = 0; k < kHeader; ++k) columns[k * count + j] = fixed[k];
    size_t length = VariableLength(h);
    std::memcpy(variable, raw + at + kHeader, length);
    variable += length;
    at += kHeader + length;
  }
  std::memcpy(variable, raw + end, size - end);
}

// The inverse of Regroup: `in` of size + 4 bytes back into `raw` of size bytes. False
// when `in` cannot be a regrouping of that many bytes.
bool Ungroup(const uint8_t* in, size_t size, uint8_t* raw) {
  size_t count = GetU32(in);
  if (count > size / kHeader) return false;
  const uint8_t* columns = in + 4;
  const uint8_t* variable = columns + count * kHeader;
  const uint8_t* limit = in + 4 + size;
  uint32_t expected = 0;
  size_t at = 0;
  for (size_t j = 0; j < count; ++j) {
    uint8_t fixed[kHeader];
    for (size_t k = 0; k < kHeader; ++k) fixed[k] = columns[k * count + j];
    TCentralFileHeader h = TCentralFileHeader::Decode(fixed);
    h.LocalHeaderOffset += expected;
    expected = NextOffset(h);
    h.Encode(raw + at);
    size_t length = VariableLength(h);
    if (length > static_cast<size_t>(limit - variable)) return false;
    std::memcpy(raw + at + kHeader, variable, length);
    variable += length;
    at += kHeader + length;
  }
  std::memcpy(raw + at, variable, static_cast<size_t>(limit - variable));
  return true;
}

}  // namespace

uint32_t MaxPackedLength() { return static_cast<uint32_t>(compressBound(kPackChunk + 4)); }

size_t NextChunkLength(const uint8_t* raw, size_t filled) {
  size_t end = 0;
  return LeadingHeaders(raw, filled, end) > 0 ? end : filled;
}

struct TZWChunkPacker::Stream {
  z_stream z{};
};

TZWChunkPacker::TZWChunkPacker() : z_(std::make_unique<Stream>()) {
  if (deflateInit2(&z_->z, kPackLevel, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK)
    throw EStreamError("Cannot deflate the journal");
  packed_.resize(deflateBound(&z_->z, kPackChunk + 4));
}

TZWChunkPacker::~TZWChunkPacker() { deflateEnd(&z_->z); }

const uint8_t* TZWChunkPacker::Pack(const uint8_t* raw, size_t n, TZWPackedChunk& chunk) {
  Regroup(raw, n, regrouped_);
  z_stream& z = z_->z;
  deflateReset(&z);
  z.next_in = regrouped_.data();
  z.avail_in = static_cast<uInt>(regrouped_.size());
  z.next_out = packed_.data();
  z.avail_out = static_cast<uInt>(packed_.size());
  if (deflate(&z, Z_FINISH) != Z_STREAM_END) throw EStreamError("Cannot deflate the journal");
  chunk.rawLength = static_cast<uint32_t>(n);
  chunk.packedLength = static_cast<uint32_t>(packed_.size() - z.avail_out);
  chunk.rawCrc = static_cast<uint32_t>(crc32(0, raw, static_cast<uInt>(n)));
  chunk.regrouped = true;
  return packed_.data();
}

void UnpackChunk(const uint8_t* packed, const TZWPackedChunk& c, std::vector<uint8_t>& raw) {
  std::vector<uint8_t> regrouped(c.regrouped ? c.rawLength + 4 : 0);
  raw.resize(c.rawLength);
  uint8_t* out = c.regrouped ? regrouped.data() : raw.data();
  uint32_t outLength = c.rawLength + (c.regrouped ? 4 : 0);
  z_stream z{};
  if (inflateInit2(&z, -MAX_WBITS) != Z_OK) throw EStreamError("Cannot inflate the journal");
  z.next_in = const_cast<uint8_t*>(packed);
  z.avail_in = c.packedLength;
  z.next_out = out;
  z.avail_out = outLength;
  bool whole = inflate(&z, Z_FINISH) == Z_STREAM_END && z.avail_out == 0 && z.avail_in == 0;
  inflateEnd(&z);
  if (whole && c.regrouped) whole = Ungroup(regrouped.data(), c.rawLength, raw.data());
  if (!whole || crc32(0, raw.data(), c.rawLength) != c.rawCrc)
    throw EStreamError("The saved bytes in the journal are damaged");
}

}  // namespace zw

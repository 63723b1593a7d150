// ZIP record layouts, little-endian, and the bounds-checked byte reader used to
// parse untrusted input.
//
// Each record type encodes to and decodes from its exact on-disk bytes. Decoding
// never reads outside the given block; `ByteReader` turns every short read into a
// sticky failure (zeros are returned) that the caller checks once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace zw {

constexpr uint32_t kLocalHeaderSignature = 0x04034B50;
constexpr uint32_t kCentralHeaderSignature = 0x02014B50;
constexpr uint32_t kEndRecordSignature = 0x06054B50;
constexpr uint32_t kZip64EndRecordSignature = 0x06064B50;
constexpr uint32_t kZip64LocatorSignature = 0x07064B50;
constexpr uint32_t kDataDescriptorSignature = 0x08074B50;
constexpr uint16_t kZip64ExtraId = 0x0001;

constexpr uint16_t kAllOnes16 = 0xFFFF;
constexpr uint32_t kAllOnes32 = 0xFFFFFFFF;

inline void PutU16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
inline void PutU32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
inline void PutU64(uint8_t* p, uint64_t v) {
  for (int i = 0; i < 8; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
inline uint16_t GetU16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
inline uint32_t GetU32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
inline uint64_t GetU64(const uint8_t* p) {
  return static_cast<uint64_t>(GetU32(p)) | (static_cast<uint64_t>(GetU32(p + 4)) << 32);
}

// Reads little-endian values from a block; a read past its end fails (sticky) and
// yields zeros.
class ByteReader {
 public:
  ByteReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  uint8_t U8();
  uint16_t U16();
  uint32_t U32();
  uint64_t U64();
  // The next `n` bytes, or an empty view (and failure) when fewer remain.
  std::string_view Bytes(size_t n);
  void Skip(size_t n);
  size_t Remaining() const { return ok_ ? size_ - pos_ : 0; }
  size_t Offset() const { return pos_; }
  bool Ok() const { return ok_; }

 private:
  bool Take(size_t n);
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
  bool ok_ = true;
};

// Appends little-endian values to a byte vector.
class ByteWriter {
 public:
  explicit ByteWriter(std::vector<uint8_t>& out) : out_(out) {}
  void U16(uint16_t v);
  void U32(uint32_t v);
  void U64(uint64_t v);
  void Bytes(std::string_view bytes);
  void Bytes(const uint8_t* p, size_t n);

 private:
  std::vector<uint8_t>& out_;
};

// Local file header, 30 bytes (name and extra field follow).
struct TLocalFileHeader {
  static constexpr size_t kSize = 30;
  uint32_t Signature = kLocalHeaderSignature;
  uint16_t VersionNeeded = 0;
  uint16_t Flags = 0;
  uint16_t CompressionMethod = 0;
  uint16_t LastModTime = 0;
  uint16_t LastModDate = 0;
  uint32_t Crc32 = 0;
  uint32_t CompressedSize = 0;
  uint32_t UncompressedSize = 0;
  uint16_t FileNameLength = 0;
  uint16_t ExtraFieldLength = 0;

  void Encode(uint8_t out[kSize]) const;
  static TLocalFileHeader Decode(const uint8_t in[kSize]);
};

// End of central directory record, 22 bytes (the comment follows).
struct TEndOfCentralDir {
  static constexpr size_t kSize = 22;
  uint32_t Signature = kEndRecordSignature;
  uint16_t NumberOfThisDisk = 0;
  uint16_t DiskWithCentralDir = 0;
  uint16_t EntriesOnThisDisk = 0;
  uint16_t TotalEntries = 0;
  uint32_t CentralDirSize = 0;
  uint32_t CentralDirOffset = 0;
  uint16_t CommentLength = 0;

  void Encode(uint8_t out[kSize]) const;
  static TEndOfCentralDir Decode(const uint8_t in[kSize]);
};

// Zip64 end of central directory record, 56 bytes (no extensible data).
struct TZip64EndRecord {
  static constexpr size_t kSize = 56;
  uint32_t Signature = kZip64EndRecordSignature;
  uint64_t SizeOfRecord = 44;
  uint16_t VersionMadeBy = 45;
  uint16_t VersionNeeded = 45;
  uint32_t NumberOfThisDisk = 0;
  uint32_t DiskWithCentralDir = 0;
  uint64_t EntriesOnThisDisk = 0;
  uint64_t TotalEntries = 0;
  uint64_t CentralDirSize = 0;
  uint64_t CentralDirOffset = 0;

  void Encode(uint8_t out[kSize]) const;
  static TZip64EndRecord Decode(const uint8_t in[kSize]);
};

// Zip64 end of central directory locator, 20 bytes.
struct TZip64Locator {
  static constexpr size_t kSize = 20;
  uint32_t Signature = kZip64LocatorSignature;
  uint32_t DiskWithZip64End = 0;
  uint64_t Zip64EndOffset = 0;
  uint32_t TotalDisks = 1;

  void Encode(uint8_t out[kSize]) const;
  static TZip64Locator Decode(const uint8_t in[kSize]);
};

}  // namespace zw

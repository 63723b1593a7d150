// ZIP record layouts, little-endian, and the bounds-checked byte reader used to
// parse untrusted input. This is the one home of the format's records: the fixed
// records (local and central headers, end records, Zip64 end record and locator), the
// Zip64 extra block in both directions, the data descriptor, the flag bits, and the
// rules for stored names and versions. No other unit reads or writes a record's bytes
// by offset.
//
// Each record type encodes to and decodes from its exact on-disk bytes. Decoding
// never reads outside the given block; `ByteReader` turns every short read into a
// sticky failure (zeros are returned) that the caller checks once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <tuple>
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

// General purpose flag bits.
constexpr uint16_t kFlagEncrypted = 0x0001;
// Set on directory entries, in the local and the central header alike.
constexpr uint16_t kFlagDirectoryEntry = 0x0002;
// CRC and sizes follow the data in a data descriptor; the local header's are void.
constexpr uint16_t kFlagDataDescriptor = 0x0008;
// The name (and comment) are UTF-8 (the language-encoding flag, bit 11).
constexpr uint16_t kFlagUtf8Name = 0x0800;

constexpr uint16_t kMethodStored = 0;
constexpr uint16_t kMethodDeflated = 8;

// Versions written. New entries need 2.0, or 4.5 when they carry Zip64 values; the
// host byte of "made by" is FAT (0) for OEM names and NTFS (0x0B) otherwise.
constexpr uint16_t kVersionDefault = 20;
constexpr uint16_t kVersionZip64 = 45;
constexpr uint16_t kHostNtfs = 0x0B00;

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

// A record of fixed size lists its fields once, in on-disk order, in a static
// `Fields(record)` that ties them; each field is as wide as its type. Encoding and
// decoding both follow that one list.
template <class Record>
struct TFixedRecord {
  void Encode(uint8_t* out) const {
    static_assert(FieldBytes() == Record::kSize);
    std::apply([&out](const auto&... field) { (Put(out, field), ...); },
               Record::Fields(static_cast<const Record&>(*this)));
  }
  static Record Decode(const uint8_t* in) {
    Record record;
    std::apply([&in](auto&... field) { (Get(in, field), ...); }, Record::Fields(record));
    return record;
  }

 private:
  static constexpr size_t FieldBytes() {
    Record record{};
    return std::apply([](auto&... field) { return (sizeof field + ...); }, Record::Fields(record));
  }
  template <class T>
  static void Put(uint8_t*& out, T value) {
    for (size_t i = 0; i < sizeof value; ++i) *out++ = static_cast<uint8_t>(value >> (8 * i));
  }
  template <class T>
  static void Get(const uint8_t*& in, T& value) {
    value = 0;
    for (size_t i = 0; i < sizeof value; ++i)
      value |= static_cast<T>(static_cast<T>(*in++) << (8 * i));
  }
};

// The fields a local header and its central header share, in the order both hold them.
struct TEntryHeaderFields {
  uint16_t VersionNeeded = 0, Flags = 0, CompressionMethod = 0;
  uint16_t LastModTime = 0, LastModDate = 0;
  uint32_t Crc32 = 0, CompressedSize = 0, UncompressedSize = 0;
  uint16_t FileNameLength = 0, ExtraFieldLength = 0;

  static constexpr auto Fields(auto& r) {
    return std::tie(r.VersionNeeded, r.Flags, r.CompressionMethod, r.LastModTime, r.LastModDate,
                    r.Crc32, r.CompressedSize, r.UncompressedSize, r.FileNameLength,
                    r.ExtraFieldLength);
  }
};

// Local file header, 30 bytes (name and extra field follow).
struct TLocalFileHeader : TFixedRecord<TLocalFileHeader>, TEntryHeaderFields {
  static constexpr size_t kSize = 30;
  uint32_t Signature = kLocalHeaderSignature;

  static constexpr auto Fields(auto& r) {
    return std::tuple_cat(std::tie(r.Signature), TEntryHeaderFields::Fields(r));
  }
};

// Central directory file header, 46 bytes (name, extra field and comment follow).
struct TCentralFileHeader : TFixedRecord<TCentralFileHeader>, TEntryHeaderFields {
  static constexpr size_t kSize = 46;
  uint32_t Signature = 0;
  uint16_t VersionMadeBy = 0;
  uint16_t FileCommentLength = 0, DiskNumberStart = 0, InternalAttributes = 0;
  uint32_t ExternalAttributes = 0, LocalHeaderOffset = 0;

  static constexpr auto Fields(auto& r) {
    return std::tuple_cat(std::tie(r.Signature, r.VersionMadeBy), TEntryHeaderFields::Fields(r),
                          std::tie(r.FileCommentLength, r.DiskNumberStart, r.InternalAttributes,
                                   r.ExternalAttributes, r.LocalHeaderOffset));
  }
  // The whole record's size: the header and what follows it.
  uint64_t RecordSize() const {
    return kSize + uint64_t{FileNameLength} + ExtraFieldLength + FileCommentLength;
  }
  // Fields that hold all ones leave their value to the Zip64 extra block.
  bool HasZip64Markers() const {
    return UncompressedSize == kAllOnes32 || CompressedSize == kAllOnes32 ||
           LocalHeaderOffset == kAllOnes32 || DiskNumberStart == kAllOnes16;
  }
};

// The Zip64 extended information extra block (id 0x0001). In a central header it
// holds the 64-bit value of each field that holds all ones, in the order below; in a
// local header both sizes (kLocalBlockSize bytes with its 4-byte block header).
struct TZip64Extra {
  static constexpr size_t kLocalBlockSize = 20;
  bool HasUncompressed = false, HasCompressed = false, HasOffset = false, HasDisk = false;
  uint64_t UncompressedSize = 0;
  uint64_t CompressedSize = 0;
  uint64_t LocalHeaderOffset = 0;
  uint32_t DiskNumberStart = 0;

  // The values a central header asks for (its all-ones fields).
  static TZip64Extra ForCentral(const TCentralFileHeader& h);
  // Both sizes, as a local header carries them.
  static TZip64Extra ForLocal(uint64_t uncompressed, uint64_t compressed);
  // The whole block: id, data size and the values present.
  void Encode(std::vector<uint8_t>& out) const;
  // Reads the values marked present from a central block's data; false when the data
  // ends before one of them.
  bool DecodeCentral(const std::vector<uint8_t>& data);
  // The sizes of a local extra field's Zip64 block. False without such a block; a
  // block too short for both sizes counts as present and leaves them unset.
  bool DecodeLocal(std::string_view extraField);
};

// A data descriptor behind an entry's data: an optional signature, the CRC-32 and
// both sizes in 4 bytes (narrow) or, for Zip64 entries, 8 bytes (wide).
struct TDataDescriptor {
  static constexpr size_t kMaxSize = 24;
  bool Signed = false;
  bool Wide = false;
  uint32_t Crc32 = 0;
  uint64_t CompressedSize = 0;
  uint64_t UncompressedSize = 0;

  static constexpr size_t SizeOf(bool isSigned, bool wide) {
    return (isSigned ? 4 : 0) + (wide ? 20 : 12);
  }
  size_t Size() const { return SizeOf(Signed, Wide); }
  // Decodes the form given by `isSigned` and `wide` from `available` bytes at `p`;
  // false when fewer bytes than that form are available.
  bool Decode(const uint8_t* p, size_t available, bool isSigned, bool wide);

  // How the form is told, where the descriptor's bytes are at `p` (`available` of
  // them, up to kMaxSize + 4):
  // - behind the data of an entry whose CRC and compressed size are known (an entry
  //   copied from its directory): signed when the signature is there, wide when only
  //   the wide form's compressed size matches. Gives its length, or 0 when its CRC
  //   does not match (no descriptor is there);
  static size_t LengthBehind(const uint8_t* p, size_t available, uint32_t crc,
                             uint64_t compressedSize);
  // - found by its signature in a scan without a directory (at least 16 bytes
  //   available): wide when the local header had a Zip64 extra, or when a record
  //   signature follows the wide form but not the narrow one.
  static TDataDescriptor Scanned(const uint8_t* p, size_t available, bool zip64Local);
};

// A record signature ("PK" and one of the known pairs) at `p` (4 bytes).
bool IsRecordSignature(const uint8_t* p);

// The bytes a name is stored as: in CP437 with OEM names unless it is flagged UTF-8,
// else as it is.
std::string EncodeEntryName(const std::string& name, uint16_t flags, bool oemNames);
// The name as the directory holds it: up to its first NUL, from CP437 with OEM names
// unless flagged UTF-8, "\" turned into "/".
std::string DecodeEntryName(const std::string& raw, uint16_t flags, bool oemNames);
// Version needed (and made by) of a new entry.
uint16_t EntryVersion(bool zip64, bool oemNames);
// Version made by of an entry written with `version`: a UTF-8 name made on a FAT host
// is turned into CP437 by some readers (Info-ZIP's unzip); an NTFS host makes them
// take the name as it is flagged.
uint16_t MadeByVersion(uint16_t version, uint16_t flags);

// End of central directory record, 22 bytes (the comment follows).
struct TEndOfCentralDir : TFixedRecord<TEndOfCentralDir> {
  static constexpr size_t kSize = 22;
  uint32_t Signature = kEndRecordSignature;
  uint16_t NumberOfThisDisk = 0, DiskWithCentralDir = 0;
  uint16_t EntriesOnThisDisk = 0, TotalEntries = 0;
  uint32_t CentralDirSize = 0, CentralDirOffset = 0;
  uint16_t CommentLength = 0;

  static constexpr auto Fields(auto& r) {
    return std::tie(r.Signature, r.NumberOfThisDisk, r.DiskWithCentralDir, r.EntriesOnThisDisk,
                    r.TotalEntries, r.CentralDirSize, r.CentralDirOffset, r.CommentLength);
  }
  // Fields that hold all ones leave their value to the Zip64 end record.
  bool HasZip64Markers() const {
    return NumberOfThisDisk == kAllOnes16 || DiskWithCentralDir == kAllOnes16 ||
           EntriesOnThisDisk == kAllOnes16 || TotalEntries == kAllOnes16 ||
           CentralDirSize == kAllOnes32 || CentralDirOffset == kAllOnes32;
  }
};

// Zip64 end of central directory record, 56 bytes (no extensible data).
struct TZip64EndRecord : TFixedRecord<TZip64EndRecord> {
  static constexpr size_t kSize = 56;
  uint32_t Signature = kZip64EndRecordSignature;
  uint64_t SizeOfRecord = 44;
  uint16_t VersionMadeBy = kVersionZip64;
  uint16_t VersionNeeded = kVersionZip64;
  uint32_t NumberOfThisDisk = 0, DiskWithCentralDir = 0;
  uint64_t EntriesOnThisDisk = 0, TotalEntries = 0;
  uint64_t CentralDirSize = 0, CentralDirOffset = 0;

  static constexpr auto Fields(auto& r) {
    return std::tie(r.Signature, r.SizeOfRecord, r.VersionMadeBy, r.VersionNeeded,
                    r.NumberOfThisDisk, r.DiskWithCentralDir, r.EntriesOnThisDisk, r.TotalEntries,
                    r.CentralDirSize, r.CentralDirOffset);
  }
};

// Zip64 end of central directory locator, 20 bytes.
struct TZip64Locator : TFixedRecord<TZip64Locator> {
  static constexpr size_t kSize = 20;
  uint32_t Signature = kZip64LocatorSignature;
  uint32_t DiskWithZip64End = 0;
  uint64_t Zip64EndOffset = 0;
  uint32_t TotalDisks = 1;

  static constexpr auto Fields(auto& r) {
    return std::tie(r.Signature, r.DiskWithZip64End, r.Zip64EndOffset, r.TotalDisks);
  }
};

}  // namespace zw

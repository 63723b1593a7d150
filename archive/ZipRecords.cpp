#include "ZipRecords.h"

#include <algorithm>

#include "CodePage.h"

namespace zw {

bool ByteReader::Take(size_t n) {
  if (!ok_ || n > size_ - pos_) {
    ok_ = false;
    return false;
  }
  return true;
}

uint8_t ByteReader::U8() {
  if (!Take(1)) return 0;
  return data_[pos_++];
}

uint16_t ByteReader::U16() {
  if (!Take(2)) return 0;
  uint16_t v = GetU16(data_ + pos_);
  pos_ += 2;
  return v;
}

uint32_t ByteReader::U32() {
  if (!Take(4)) return 0;
  uint32_t v = GetU32(data_ + pos_);
  pos_ += 4;
  return v;
}

uint64_t ByteReader::U64() {
  if (!Take(8)) return 0;
  uint64_t v = GetU64(data_ + pos_);
  pos_ += 8;
  return v;
}

std::string_view ByteReader::Bytes(size_t n) {
  if (!Take(n)) return {};
  std::string_view v(reinterpret_cast<const char*>(data_ + pos_), n);
  pos_ += n;
  return v;
}

void ByteReader::Skip(size_t n) {
  if (Take(n)) pos_ += n;
}

void ByteWriter::U16(uint16_t v) {
  uint8_t b[2];
  PutU16(b, v);
  out_.insert(out_.end(), b, b + 2);
}

void ByteWriter::U32(uint32_t v) {
  uint8_t b[4];
  PutU32(b, v);
  out_.insert(out_.end(), b, b + 4);
}

void ByteWriter::U64(uint64_t v) {
  uint8_t b[8];
  PutU64(b, v);
  out_.insert(out_.end(), b, b + 8);
}

void ByteWriter::Bytes(std::string_view bytes) {
  out_.insert(out_.end(), bytes.begin(), bytes.end());
}

void ByteWriter::Bytes(const uint8_t* p, size_t n) { out_.insert(out_.end(), p, p + n); }

TZip64Extra TZip64Extra::ForCentral(const TCentralFileHeader& h) {
  TZip64Extra x;
  x.HasUncompressed = h.UncompressedSize == kAllOnes32;
  x.HasCompressed = h.CompressedSize == kAllOnes32;
  x.HasOffset = h.LocalHeaderOffset == kAllOnes32;
  x.HasDisk = h.DiskNumberStart == kAllOnes16;
  return x;
}

TZip64Extra TZip64Extra::ForLocal(uint64_t uncompressed, uint64_t compressed) {
  TZip64Extra x;
  x.HasUncompressed = x.HasCompressed = true;
  x.UncompressedSize = uncompressed;
  x.CompressedSize = compressed;
  return x;
}

void TZip64Extra::Encode(std::vector<uint8_t>& out) const {
  ByteWriter w(out);
  w.U16(kZip64ExtraId);
  w.U16(static_cast<uint16_t>((HasUncompressed ? 8 : 0) + (HasCompressed ? 8 : 0) +
                              (HasOffset ? 8 : 0) + (HasDisk ? 4 : 0)));
  if (HasUncompressed) w.U64(UncompressedSize);
  if (HasCompressed) w.U64(CompressedSize);
  if (HasOffset) w.U64(LocalHeaderOffset);
  if (HasDisk) w.U32(DiskNumberStart);
}

bool TZip64Extra::DecodeCentral(const std::vector<uint8_t>& data) {
  ByteReader r(data.data(), data.size());
  auto take = [&](bool wanted, auto& out) {
    if (!wanted) return true;
    if (r.Remaining() < sizeof out) return false;
    if constexpr (sizeof out == 8)
      out = r.U64();
    else
      out = r.U32();
    return true;
  };
  return take(HasUncompressed, UncompressedSize) && take(HasCompressed, CompressedSize) &&
         take(HasOffset, LocalHeaderOffset) && take(HasDisk, DiskNumberStart);
}

bool TZip64Extra::DecodeLocal(std::string_view extraField) {
  ByteReader r(reinterpret_cast<const uint8_t*>(extraField.data()), extraField.size());
  while (r.Remaining() >= 4) {
    uint16_t id = r.U16();
    uint16_t size = r.U16();
    if (id == kZip64ExtraId && size >= 16 && r.Remaining() >= 16) {
      HasUncompressed = HasCompressed = true;
      UncompressedSize = r.U64();
      CompressedSize = r.U64();
      return true;
    }
    if (id == kZip64ExtraId) return true;  // present, without both sizes
    r.Skip(size);
  }
  return false;
}

bool TDataDescriptor::Decode(const uint8_t* p, size_t available, bool isSigned, bool wide) {
  if (available < SizeOf(isSigned, wide)) return false;
  Signed = isSigned;
  Wide = wide;
  const uint8_t* body = p + (isSigned ? 4 : 0);
  Crc32 = GetU32(body);
  CompressedSize = wide ? GetU64(body + 4) : GetU32(body + 4);
  UncompressedSize = wide ? GetU64(body + 12) : GetU32(body + 8);
  return true;
}

size_t TDataDescriptor::LengthBehind(const uint8_t* p, size_t available, uint32_t crc,
                                     uint64_t compressedSize) {
  bool isSigned = available >= 4 && GetU32(p) == kDataDescriptorSignature;
  TDataDescriptor narrow, wide;
  if (!narrow.Decode(p, available, isSigned, false) || narrow.Crc32 != crc) return 0;
  if (narrow.CompressedSize == static_cast<uint32_t>(compressedSize)) return narrow.Size();
  if (wide.Decode(p, available, isSigned, true) && wide.CompressedSize == compressedSize)
    return wide.Size();
  return narrow.Size();
}

TDataDescriptor TDataDescriptor::Scanned(const uint8_t* p, size_t available, bool zip64Local) {
  constexpr size_t kNarrow = SizeOf(true, false), kWide = SizeOf(true, true);
  bool narrowFollowed = available >= kNarrow + 4 && IsRecordSignature(p + kNarrow);
  bool wideFollowed = available >= kWide + 4 && IsRecordSignature(p + kWide);
  bool wide = available >= kWide && (zip64Local || (wideFollowed && !narrowFollowed));
  TDataDescriptor d;
  d.Decode(p, available, true, wide);
  return d;
}

bool IsRecordSignature(const uint8_t* p) {
  if (p[0] != 'P' || p[1] != 'K') return false;
  uint32_t signature = GetU32(p);
  return signature == kLocalHeaderSignature || signature == kCentralHeaderSignature ||
         signature == kEndRecordSignature || signature == kZip64EndRecordSignature ||
         signature == kDataDescriptorSignature;
}

std::string EncodeEntryName(const std::string& name, uint16_t flags, bool oemNames) {
  return oemNames && !(flags & kFlagUtf8Name) ? AnsiToOem(name) : name;
}

std::string DecodeEntryName(const std::string& raw, uint16_t flags, bool oemNames) {
  std::string name = raw.substr(0, raw.find('\0'));
  if (oemNames && !(flags & kFlagUtf8Name)) name = OemToAnsi(name);
  std::replace(name.begin(), name.end(), '\\', '/');
  return name;
}

uint16_t EntryVersion(bool zip64, bool oemNames) {
  return zip64 ? kVersionZip64 : oemNames ? kVersionDefault : kHostNtfs | kVersionDefault;
}

uint16_t MadeByVersion(uint16_t version, uint16_t flags) {
  if (!(flags & kFlagUtf8Name)) return version;
  return static_cast<uint16_t>(kHostNtfs | (version & 0xFF));
}

}  // namespace zw

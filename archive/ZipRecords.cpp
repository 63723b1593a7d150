#include "ZipRecords.h"

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

void TLocalFileHeader::Encode(uint8_t out[kSize]) const {
  PutU32(out + 0, Signature);
  PutU16(out + 4, VersionNeeded);
  PutU16(out + 6, Flags);
  PutU16(out + 8, CompressionMethod);
  PutU16(out + 10, LastModTime);
  PutU16(out + 12, LastModDate);
  PutU32(out + 14, Crc32);
  PutU32(out + 18, CompressedSize);
  PutU32(out + 22, UncompressedSize);
  PutU16(out + 26, FileNameLength);
  PutU16(out + 28, ExtraFieldLength);
}

TLocalFileHeader TLocalFileHeader::Decode(const uint8_t in[kSize]) {
  TLocalFileHeader h;
  h.Signature = GetU32(in + 0);
  h.VersionNeeded = GetU16(in + 4);
  h.Flags = GetU16(in + 6);
  h.CompressionMethod = GetU16(in + 8);
  h.LastModTime = GetU16(in + 10);
  h.LastModDate = GetU16(in + 12);
  h.Crc32 = GetU32(in + 14);
  h.CompressedSize = GetU32(in + 18);
  h.UncompressedSize = GetU32(in + 22);
  h.FileNameLength = GetU16(in + 26);
  h.ExtraFieldLength = GetU16(in + 28);
  return h;
}

void TEndOfCentralDir::Encode(uint8_t out[kSize]) const {
  PutU32(out + 0, Signature);
  PutU16(out + 4, NumberOfThisDisk);
  PutU16(out + 6, DiskWithCentralDir);
  PutU16(out + 8, EntriesOnThisDisk);
  PutU16(out + 10, TotalEntries);
  PutU32(out + 12, CentralDirSize);
  PutU32(out + 16, CentralDirOffset);
  PutU16(out + 20, CommentLength);
}

TEndOfCentralDir TEndOfCentralDir::Decode(const uint8_t in[kSize]) {
  TEndOfCentralDir r;
  r.Signature = GetU32(in + 0);
  r.NumberOfThisDisk = GetU16(in + 4);
  r.DiskWithCentralDir = GetU16(in + 6);
  r.EntriesOnThisDisk = GetU16(in + 8);
  r.TotalEntries = GetU16(in + 10);
  r.CentralDirSize = GetU32(in + 12);
  r.CentralDirOffset = GetU32(in + 16);
  r.CommentLength = GetU16(in + 20);
  return r;
}

void TZip64EndRecord::Encode(uint8_t out[kSize]) const {
  PutU32(out + 0, Signature);
  PutU64(out + 4, SizeOfRecord);
  PutU16(out + 12, VersionMadeBy);
  PutU16(out + 14, VersionNeeded);
  PutU32(out + 16, NumberOfThisDisk);
  PutU32(out + 20, DiskWithCentralDir);
  PutU64(out + 24, EntriesOnThisDisk);
  PutU64(out + 32, TotalEntries);
  PutU64(out + 40, CentralDirSize);
  PutU64(out + 48, CentralDirOffset);
}

TZip64EndRecord TZip64EndRecord::Decode(const uint8_t in[kSize]) {
  TZip64EndRecord r;
  r.Signature = GetU32(in + 0);
  r.SizeOfRecord = GetU64(in + 4);
  r.VersionMadeBy = GetU16(in + 12);
  r.VersionNeeded = GetU16(in + 14);
  r.NumberOfThisDisk = GetU32(in + 16);
  r.DiskWithCentralDir = GetU32(in + 20);
  r.EntriesOnThisDisk = GetU64(in + 24);
  r.TotalEntries = GetU64(in + 32);
  r.CentralDirSize = GetU64(in + 40);
  r.CentralDirOffset = GetU64(in + 48);
  return r;
}

void TZip64Locator::Encode(uint8_t out[kSize]) const {
  PutU32(out + 0, Signature);
  PutU32(out + 4, DiskWithZip64End);
  PutU64(out + 8, Zip64EndOffset);
  PutU32(out + 16, TotalDisks);
}

TZip64Locator TZip64Locator::Decode(const uint8_t in[kSize]) {
  TZip64Locator r;
  r.Signature = GetU32(in + 0);
  r.DiskWithZip64End = GetU32(in + 4);
  r.Zip64EndOffset = GetU64(in + 8);
  r.TotalDisks = GetU32(in + 16);
  return r;
}

}  // namespace zw

// Record layouts byte for byte, the bounds-checked reader, and the central header
// image of a directory item.
#include <gtest/gtest.h>

#include "DirItem.h"
#include "StorageSupport.h"
#include "ZipRecords.h"

namespace zw::test {
namespace {

std::string Bytes(const uint8_t* p, size_t n) {
  return std::string(reinterpret_cast<const char*>(p), n);
}

TEST(Records, LocalHeaderLayout) {
  TLocalFileHeader h;
  h.VersionNeeded = 0x0B14;
  h.Flags = 0x0001;
  h.CompressionMethod = 8;
  h.LastModTime = 0x1234;
  h.LastModDate = 0x5678;
  h.Crc32 = 0xAABBCCDD;
  h.CompressedSize = 0x01020304;
  h.UncompressedSize = 0xFFFFFFFF;
  h.FileNameLength = 7;
  h.ExtraFieldLength = 20;
  uint8_t out[TLocalFileHeader::kSize];
  h.Encode(out);
  EXPECT_EQ(Hex(Bytes(out, sizeof out)),
            "504b0304"
            "140b"
            "0100"
            "0800"
            "3412"
            "7856"
            "ddccbbaa"
            "04030201"
            "ffffffff"
            "0700"
            "1400");
  TLocalFileHeader back = TLocalFileHeader::Decode(out);
  EXPECT_EQ(back.Crc32, h.Crc32);
  EXPECT_EQ(back.UncompressedSize, h.UncompressedSize);
  EXPECT_EQ(back.ExtraFieldLength, 20);
}

TEST(Records, EndRecordLayout) {
  TEndOfCentralDir r;
  r.NumberOfThisDisk = 1;
  r.DiskWithCentralDir = 2;
  r.EntriesOnThisDisk = 3;
  r.TotalEntries = 0xFFFF;
  r.CentralDirSize = 0x11223344;
  r.CentralDirOffset = 0xFFFFFFFF;
  r.CommentLength = 5;
  uint8_t out[TEndOfCentralDir::kSize];
  r.Encode(out);
  EXPECT_EQ(Hex(Bytes(out, sizeof out)),
            "504b0506"
            "0100"
            "0200"
            "0300"
            "ffff"
            "44332211"
            "ffffffff"
            "0500");
  EXPECT_EQ(TEndOfCentralDir::Decode(out).CentralDirSize, 0x11223344u);
}

TEST(Records, Zip64EndRecordAndLocatorLayout) {
  TZip64EndRecord r;
  r.EntriesOnThisDisk = r.TotalEntries = 70000;
  r.CentralDirSize = 0x123456789;
  r.CentralDirOffset = 0x100000000;
  uint8_t out[TZip64EndRecord::kSize];
  r.Encode(out);
  EXPECT_EQ(Hex(Bytes(out, sizeof out)),
            "504b0606"
            "2c00000000000000"
            "2d00"
            "2d00"
            "00000000"
            "00000000"
            "7011010000000000"
            "7011010000000000"
            "8967452301000000"
            "0000000001000000");
  TZip64Locator l;
  l.Zip64EndOffset = 0x1000000A0;
  uint8_t loc[TZip64Locator::kSize];
  l.Encode(loc);
  EXPECT_EQ(Hex(Bytes(loc, sizeof loc)),
            "504b0607"
            "00000000"
            "a000000001000000"
            "01000000");
  EXPECT_EQ(TZip64Locator::Decode(loc).Zip64EndOffset, 0x1000000A0u);
  EXPECT_EQ(TZip64EndRecord::Decode(out).CentralDirSize, 0x123456789u);
}

TEST(Records, ByteReaderFailsOnceAndForAtTheEnd) {
  const uint8_t data[] = {1, 2, 3, 4, 5};
  ByteReader r(data, sizeof data);
  EXPECT_EQ(r.U16(), 0x0201);
  EXPECT_EQ(r.U32(), 0u);  // only 3 bytes left
  EXPECT_FALSE(r.Ok());
  EXPECT_EQ(r.U8(), 0);  // sticky: nothing is read after a failure
  EXPECT_EQ(r.Remaining(), 0u);
  EXPECT_TRUE(r.Bytes(1).empty());

  ByteReader whole(data, sizeof data);
  EXPECT_EQ(whole.Bytes(5).size(), 5u);
  EXPECT_TRUE(whole.Ok());
  whole.Skip(1);
  EXPECT_FALSE(whole.Ok());
}

TEST(DirItemImage, CentralHeaderIs46BytesInOrder) {
  TDirItem item;
  item.Signature = kCentralHeaderSignature;
  item.VersionMadeBy = 0x0B14;
  item.VersionNeeded = 0x0014;
  item.Flags = 2;
  item.CompressionMethod = 8;
  item.LastModTime = 0x0102;
  item.LastModDate = 0x0304;
  item.Crc32 = 0x05060708;
  item.CompressedSize = 0x090A0B0C;
  item.UncompressedSize = 0x0D0E0F10;
  item.FileNameLength = 0x1112;
  item.ExtraFieldLength = 0x1314;
  item.FileCommentLength = 0x1516;
  item.DiskNumberStart = 0x1718;
  item.InternalAttributes = 0x191A;
  item.ExternalAttributes = 0x1B1C1D1E;
  item.LocalHeaderOffset = 0x1F202122;
  uint8_t out[TDirItem::kHeaderSize];
  item.EncodeHeader(out);
  EXPECT_EQ(Hex(Bytes(out, sizeof out)),
            "504b0102"
            "140b"
            "1400"
            "0200"
            "0800"
            "0201"
            "0403"
            "08070605"
            "0c0b0a09"
            "100f0e0d"
            "1211"
            "1413"
            "1615"
            "1817"
            "1a19"
            "1e1d1c1b"
            "2221201f");
  TDirItem back;
  back.DecodeHeader(out);
  EXPECT_EQ(back.LocalHeaderOffset, item.LocalHeaderOffset);
  EXPECT_EQ(back.ExternalAttributes, item.ExternalAttributes);
  EXPECT_EQ(back.FileCommentLength, item.FileCommentLength);
}

TEST(DirItemImage, RealValuesComeFromZip64OnlyForAllOnesFields) {
  TDirItem item;
  item.CompressedSize = 7;
  item.Zip64CompressedSize = 99;
  EXPECT_EQ(item.RealCompressedSize(), 7u);
  item.CompressedSize = kAllOnes32;
  EXPECT_EQ(item.RealCompressedSize(), 99u);
  item.DiskNumberStart = kAllOnes16;
  item.Zip64DiskNumberStart = 70000;
  EXPECT_EQ(item.RealDiskNumberStart(), 70000u);
}

TEST(DirItemImage, LocalHeaderPositionNeedsZip64FromAllOnes) {
  struct Case {
    uint64_t position;
    bool force;
    uint32_t field;
    bool zip64;
  } cases[] = {
      {0xFFFFFFFE, false, 0xFFFFFFFE, false},
      {0xFFFFFFFF, false, kAllOnes32, true},
      {0x100000000, false, kAllOnes32, true},
      {5, true, kAllOnes32, true},
  };
  for (const Case& c : cases) {
    TDirItem item;
    item.SetLocalHeaderOffset(c.position, c.force);
    EXPECT_EQ(item.LocalHeaderOffset, c.field) << c.position;
    EXPECT_EQ(item.NeedsZip64, c.zip64) << c.position;
    EXPECT_EQ(item.RealLocalHeaderOffset(), c.position);
  }
}

}  // namespace
}  // namespace zw::test

// The 32-bit size limit of an entry: 0xFFFFFFFE bytes fit, 0xFFFFFFFF bytes need
// Zip64, and with Zip64 disabled such an entry is refused with code 41. Each case
// streams 4 GiB of zeros through the pipeline; the archive cases write it to disk.
// Slow: registered with the label "slow".
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <fstream>

#include "Compress.h"
#include "DirItem.h"
#include "Paths.h"
#include "StorageSupport.h"
#include "Streams.h"
#include "TempDir.h"
#include "ZWExcept.h"
#include "ZipRecords.h"
#include "ZipWriter.h"

namespace zw::test {
namespace {

// `size` zero bytes, produced on demand.
class ZeroStream : public TStream {
 public:
  explicit ZeroStream(int64_t size) : size_(size) {}
  int64_t Read(void* buffer, int64_t count) override {
    int64_t n = std::max<int64_t>(0, std::min(count, size_ - position_));
    std::memset(buffer, 0, static_cast<size_t>(n));
    position_ += n;
    return n;
  }
  int64_t Write(const void*, int64_t) override { return 0; }
  int64_t Seek(int64_t offset, SeekOrigin origin) override {
    position_ = origin == SeekOrigin::kBegin     ? offset
                : origin == SeekOrigin::kCurrent ? position_ + offset
                                                 : size_ + offset;
    return position_;
  }
  void SetSize(int64_t) override {}
  int64_t GetSize() override { return size_; }

 private:
  int64_t size_;
  int64_t position_ = 0;
};

// Counts what it is given and keeps nothing.
class CountingSink : public TStream {
 public:
  int64_t Read(void*, int64_t) override { return 0; }
  int64_t Write(const void*, int64_t count) override {
    written_ += count;
    return count;
  }
  int64_t Seek(int64_t, SeekOrigin) override { return written_; }
  void SetSize(int64_t) override {}
  int64_t GetSize() override { return written_; }

 private:
  int64_t written_ = 0;
};

TEST(Zip64Threshold, StoredSizesAroundTheLimit) {
  struct Case {
    int64_t size;
    TZip64Mode mode;
    bool zip64;
    int error;
  } cases[] = {
      {0xFFFFFFFE, zmAuto, false, 0},
      {0xFFFFFFFF, zmAuto, true, 0},
      {0xFFFFFFFF, zmDisabled, true, 41},
  };
  for (const Case& c : cases) {
    TZipWriter zip;
    zip.SetZip64Mode(c.mode);
    ZeroStream source(c.size);
    CountingSink sink;
    TDirItem item;
    item.FileName = item.SourceFileName = "zeros";
    int error = 0;
    try {
      EXPECT_TRUE(CompressEntry(zip, source, sink, item));
    } catch (const EZWException& e) {
      error = e.NativeError();
    }
    EXPECT_EQ(error, c.error) << c.size;
    EXPECT_EQ(item.NeedsZip64, c.zip64) << c.size;
    EXPECT_EQ(item.RealUncompressedSize(), static_cast<uint64_t>(c.size));
    EXPECT_EQ(item.RealCompressedSize(), static_cast<uint64_t>(c.size));
    EXPECT_EQ(item.UncompressedSize == kAllOnes32, c.zip64);
  }
}

// The first local header of an archive file, with its Zip64 block when it has one.
struct LocalHeader {
  uint16_t version = 0;
  uint32_t compressedField = 0, uncompressedField = 0;
  bool zip64 = false;
  uint64_t zip64Uncompressed = 0, zip64Compressed = 0;
};

LocalHeader FirstLocalHeader(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::string b(200, '\0');
  in.read(b.data(), static_cast<std::streamsize>(b.size()));
  auto u16 = [&](size_t at) {
    return static_cast<uint16_t>(uint8_t(b[at]) | uint8_t(b[at + 1]) << 8);
  };
  auto u32 = [&](size_t at) { return uint32_t(u16(at)) | uint32_t(u16(at + 2)) << 16; };
  auto u64 = [&](size_t at) { return uint64_t(u32(at)) | uint64_t(u32(at + 4)) << 32; };
  LocalHeader h;
  h.version = u16(4);
  h.compressedField = u32(18);
  h.uncompressedField = u32(22);
  size_t extra = 30 + u16(26), extraEnd = extra + u16(28);
  if (extraEnd - extra >= 20 && u16(extra) == 1 && u16(extra + 2) == 16) {
    h.zip64 = true;
    h.zip64Uncompressed = u64(extra + 4);
    h.zip64Compressed = u64(extra + 12);
  }
  return h;
}

// A source just below 4 GiB whose data ends up longer than 4 GiB (stored and encrypted:
// 12 bytes more), and one that deflates to almost nothing: either way the local header
// carries a Zip64 block with both sizes, both of its fields say so, and the central
// directory agrees. Readers (7-Zip, unzip) refuse or warn about anything else.
TEST(Zip64Threshold, SourcesJustBelowTheLimitGetRoomForZip64SizesInTheLocalHeader) {
  struct Case {
    TZWCompressionLevel level;
    const char* password;
    int64_t size;
  } cases[] = {
      {clNone, "pw", int64_t{0xFFFFFFFF} - 5},
      {clFastest, "", int64_t{0xFFFFFFFF} - 100000},
  };
  for (const Case& c : cases) {
    TempDir dir;
    std::string source = dir / "big.bin";
    ASSERT_EQ(truncate(dir.Write("big.bin", "").c_str(), c.size), 0);
    {
      TZipWriter zip;
      zip.SetFileName(FromHostPath(dir / "big.zip"));
      zip.SetCompressionLevel(c.level);
      zip.SetPassword(c.password);
      zip.SetZip64Mode(zmAuto);
      zip.Options().StorePath = spNoPath;
      zip.OpenArchiveFile();
      zip.AddFilesByMask(FromHostPath(source), 0x2F, "");
    }
    LocalHeader h = FirstLocalHeader(dir / "big.zip");
    std::vector<OracleEntry> entries = PythonEntries(dir / "big.zip", nullptr);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(h.version, 45);
    ASSERT_TRUE(h.zip64) << c.size;
    EXPECT_EQ(h.compressedField, kAllOnes32);
    EXPECT_EQ(h.uncompressedField, kAllOnes32);
    EXPECT_EQ(h.zip64Uncompressed, static_cast<uint64_t>(c.size));
    EXPECT_EQ(h.zip64Uncompressed, entries[0].size);
    EXPECT_EQ(h.zip64Compressed, entries[0].compressedSize);
    if (*c.password) {
      EXPECT_EQ(entries[0].compressedSize, static_cast<uint64_t>(c.size) + 12);
    }
  }
}

}  // namespace
}  // namespace zw::test

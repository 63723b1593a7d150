// The 32-bit size limit of an entry: 0xFFFFFFFE bytes fit, 0xFFFFFFFF bytes need
// Zip64, and with Zip64 disabled such an entry is refused with code 41. Each case
// streams 4 GiB of zeros through the pipeline. Slow: registered with the label "slow".
#include <gtest/gtest.h>

#include <cstring>

#include "Compress.h"
#include "DirItem.h"
#include "Streams.h"
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

}  // namespace
}  // namespace zw::test

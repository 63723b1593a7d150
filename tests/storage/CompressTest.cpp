// The compression pipeline: chunking, sync flushes, the cut zlib header and trailer,
// encryption, Zip64 decisions, reuse of the deflate stream, short sources.
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "ArchiverState.h"
#include "Compress.h"
#include "DirItem.h"
#include "StorageSupport.h"
#include "Streams.h"
#include "TempDir.h"
#include "ZWCrypt.h"
#include "ZWExcept.h"
#include "ZWZlib.h"
#include "ZipRecords.h"

namespace zw::test {
namespace {

constexpr uint32_t kSeed = 0x1234567;

TStream& Source(TMemoryStream& stream, const std::string& bytes) {
  stream.Clear();
  stream.WriteBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
  return stream;
}

std::string Contents(const TMemoryStream& stream) {
  return std::string(stream.Data().begin(), stream.Data().end());
}

TDirItem NewItem(int mode, uint16_t method, const std::string& password = "") {
  TDirItem item;
  item.FileName = "entry.dat";
  item.CompressionMode = static_cast<uint8_t>(mode);
  item.CompressionMethod = method;
  item.Password = password;
  return item;
}

// Deflates the chunk of `data` at `at` through `zs` into `out`: sync-flushed, the last
// chunk finished.
void DeflateChunk(z_stream& zs, const std::string& data, size_t at, size_t chunk,
                  std::vector<unsigned char>& buffer, std::string& out) {
  size_t n = std::min(chunk, data.size() - at);
  zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data() + at));
  zs.avail_in = static_cast<uInt>(n);
  zs.next_out = buffer.data();
  zs.avail_out = static_cast<uInt>(buffer.size());
  EXPECT_GE(deflate(&zs, at + n == data.size() ? Z_FINISH : Z_SYNC_FLUSH), 0);
  out.append(reinterpret_cast<char*>(buffer.data()), buffer.size() - zs.avail_out);
}

// The chunks deflated independently, as worker threads do: a raw stream per chunk,
// primed with the 32 KiB in front of it, sync-flushed (the last one finished).
std::string IndependentChunks(const std::string& data, int mode) {
  std::string out;
  size_t chunk = CompressionBufferSize(mode);
  std::vector<unsigned char> buffer(chunk * 2 + 1024);
  for (size_t at = 0; at < data.size(); at += chunk) {
    z_stream zs{};
    EXPECT_EQ(deflateInit2(&zs, mode, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY), Z_OK);
    size_t dictionary = std::min<size_t>(at, 32768);
    if (dictionary > 0) {
      EXPECT_EQ(
          deflateSetDictionary(&zs, reinterpret_cast<const Bytef*>(data.data() + at - dictionary),
                               static_cast<uInt>(dictionary)),
          Z_OK);
    }
    DeflateChunk(zs, data, at, chunk, buffer, out);
    deflateEnd(&zs);
  }
  return out;
}

// What the pipeline must write, computed with a bare zlib loop (one stream per
// entry, chunks of the mode's buffer size, sync flushes, the last chunk finished,
// the zlib header and Adler-32 trailer cut off; with `independent`, one stream per
// chunk) and the reference cipher.
std::string ExpectedData(const std::string& data, int mode, bool deflated,
                         const std::string& password, uint32_t seed, bool independent = false) {
  std::string out;
  if (deflated && independent) {
    out = IndependentChunks(data, mode);
  } else if (deflated && !data.empty()) {
    z_stream zs{};
    EXPECT_EQ(deflateInit(&zs, mode), Z_OK);
    size_t chunk = CompressionBufferSize(mode);
    std::vector<unsigned char> buffer(chunk * 2 + 1024);
    for (size_t at = 0; at < data.size(); at += chunk) {
      DeflateChunk(zs, data, at, chunk, buffer, out);
    }
    deflateEnd(&zs);
    out = out.substr(2, out.size() - 6);
  } else {
    out = data;
  }
  if (password.empty()) return out;
  uint32_t crc = ReferenceCrc32(data);
  std::string header;
  for (int i = 0; i < 10; ++i) {
    seed = seed * 134775813u + 1;
    header += static_cast<char>(((static_cast<uint64_t>(seed) * 2147483647u) >> 32) % 256);
  }
  header += static_cast<char>(crc >> 16);
  header += static_cast<char>(crc >> 24);
  ReferenceKeys keys(password);
  std::string cipher;
  for (unsigned char p : header + out) {
    cipher += static_cast<char>(p ^ keys.StreamByte());
    keys.Update(p);
  }
  return cipher;
}

class CompressTest : public ::testing::Test {
 protected:
  CompressTest() {
    zip_.SetSeedSource([] { return kSeed; });
    zip_.SetThreads(1);  // one deflate stream per entry
  }

  // Compresses `data` into a fresh destination; returns what was written.
  std::string Compress(const std::string& data, TDirItem& item, TZipWriter* zip = nullptr) {
    TMemoryStream source, dest;
    Source(source, data);
    EXPECT_TRUE(CompressEntry(zip ? *zip : zip_, source, dest, item));
    return Contents(dest);
  }

  TZipWriter zip_;
};

struct ChunkCase {
  int mode;
  uint16_t method;
  size_t size;
  const char* password;
};

class ChunkingTest : public CompressTest, public ::testing::WithParamInterface<ChunkCase> {};

TEST_P(ChunkingTest, WritesExactlyTheBareZlibLoopsBytes) {
  const ChunkCase& c = GetParam();
  std::string data = TextBytes(c.size, static_cast<uint32_t>(c.size + c.mode));
  TDirItem item = NewItem(c.mode, c.method, c.password);
  std::string written = Compress(data, item);
  bool deflated = c.method == 8 && !data.empty();
  EXPECT_EQ(Hex(written.substr(0, 64)),
            Hex(ExpectedData(data, c.mode, deflated, c.password, kSeed).substr(0, 64)));
  EXPECT_TRUE(written == ExpectedData(data, c.mode, deflated, c.password, kSeed));
  EXPECT_EQ(item.Crc32, ReferenceCrc32(data));
  EXPECT_EQ(item.UncompressedSize, data.size());
  EXPECT_EQ(item.CompressedSize, written.size());
  EXPECT_EQ(item.CompressionMethod, deflated ? 8 : 0);
  EXPECT_FALSE(item.NeedsZip64);
  std::string plain = *c.password ? ReferenceDecrypt(c.password, written).substr(12) : written;
  EXPECT_TRUE((deflated ? RawInflate(plain) : plain) == data);
}

// With threads, an entry of more than one chunk is deflated chunk by chunk on the
// workers; the bytes are those of independent chunk streams, whatever the count.
TEST_P(ChunkingTest, WithThreadsWritesIndependentChunks) {
  const ChunkCase& c = GetParam();
  std::string data = TextBytes(c.size, static_cast<uint32_t>(c.size + c.mode));
  bool deflated = c.method == 8 && !data.empty();
  bool chunked = deflated && c.mode > 0 && data.size() > CompressionBufferSize(c.mode);
  std::string expected = ExpectedData(data, c.mode, deflated, c.password, kSeed, chunked);
  for (int threads : {2, 5}) {
    SCOPED_TRACE(threads);
    zip_.SetThreads(threads);
    TDirItem item = NewItem(c.mode, c.method, c.password);
    std::string written = Compress(data, item);
    EXPECT_TRUE(written == expected);
    EXPECT_EQ(item.Crc32, ReferenceCrc32(data));
    EXPECT_EQ(item.CompressedSize, written.size());
    std::string plain = *c.password ? ReferenceDecrypt(c.password, written).substr(12) : written;
    EXPECT_TRUE((deflated ? RawInflate(plain) : plain) == data);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, ChunkingTest,
    ::testing::Values(ChunkCase{1, 8, 0, ""}, ChunkCase{1, 8, 0, "pw"}, ChunkCase{1, 8, 1, ""},
                      ChunkCase{1, 8, 524288, ""}, ChunkCase{1, 8, 524289, ""},
                      ChunkCase{3, 8, 3 * 524288 + 7, "secret"}, ChunkCase{6, 8, 1048576, ""},
                      ChunkCase{6, 8, 1048577, "pw"}, ChunkCase{9, 8, 1572864, ""},
                      ChunkCase{9, 8, 1572865, ""}, ChunkCase{0, 0, 1048577, ""},
                      ChunkCase{0, 0, 100, "pw"},
                      // Method 8 with mode 0: still a deflate stream (stored blocks).
                      ChunkCase{0, 8, 1048577, ""}));

TEST_F(CompressTest, EmptyEncryptedEntryIsTheHeaderAlone) {
  TDirItem item = NewItem(6, 8, "pw");
  std::string written = Compress("", item);
  ASSERT_EQ(written.size(), 12u);
  EXPECT_EQ(item.CompressedSize, 12u);
  EXPECT_EQ(item.CompressionMethod, 0);
  EXPECT_EQ(item.Crc32, 0u);
  std::string header = ReferenceDecrypt("pw", written);
  EXPECT_EQ(header[10], 0);
  EXPECT_EQ(header[11], 0);
}

TEST_F(CompressTest, ReusedStreamGivesTheBytesOfAFreshOne) {
  // Entries one after another on one archiver, levels changing in between; each must
  // come out as from a new archiver.
  const std::pair<int, size_t> entries[] = {{6, 700000}, {6, 1500000}, {6, 3000},
                                            {1, 600000}, {9, 100},     {6, 1048577}};
  uint32_t seed = 1;
  for (auto [mode, size] : entries) {
    std::string data = TextBytes(size, seed) + RandomBytes(size / 7, seed);
    ++seed;
    TDirItem reused = NewItem(mode, 8), fresh = NewItem(mode, 8);
    std::string a = Compress(data, reused);
    TZipWriter other;
    other.SetThreads(1);
    std::string b = Compress(data, fresh, &other);
    EXPECT_TRUE(a == b) << "mode " << mode << " size " << size;
  }
}

// Holds fewer bytes than the size it reports.
class ShortStream : public TStream {
 public:
  ShortStream(std::string data, int64_t claimed) : data_(std::move(data)), claimed_(claimed) {}
  int64_t Read(void* buffer, int64_t count) override {
    int64_t n = std::max<int64_t>(
        0, std::min<int64_t>(count, static_cast<int64_t>(data_.size()) - position_));
    if (n > 0) std::memcpy(buffer, data_.data() + position_, static_cast<size_t>(n));
    position_ += n;
    return n;
  }
  int64_t Write(const void*, int64_t) override { return 0; }
  int64_t Seek(int64_t offset, SeekOrigin origin) override {
    position_ = origin == SeekOrigin::kBegin     ? offset
                : origin == SeekOrigin::kCurrent ? position_ + offset
                                                 : claimed_ + offset;
    return position_;
  }
  void SetSize(int64_t) override {}
  int64_t GetSize() override { return claimed_; }

 private:
  std::string data_;
  int64_t claimed_;
  int64_t position_ = 0;
};

// Takes at most `limit` bytes in all.
class FullStream : public TMemoryStream {
 public:
  explicit FullStream(int64_t limit) : limit_(limit) {}
  int64_t Write(const void* buffer, int64_t count) override {
    int64_t room = std::max<int64_t>(0, limit_ - GetSize());
    return TMemoryStream::Write(buffer, std::min(count, room));
  }

 private:
  int64_t limit_;
};

TEST_F(CompressTest, ShortSourceOrFullDestinationIsCode34AndTheNextEntryIsClean) {
  struct Case {
    const char* what;
    int64_t missing;   // bytes the source lacks
    int64_t destRoom;  // -1: no limit
    size_t size;
    const char* password;
  } cases[] = {
      {"short in the first chunk", 10, -1, 1000, ""},
      {"short after deflate ran", 10, -1, 524288 + 1000, ""},
      {"short while encrypting", 5, -1, 3000, "pw"},
      {"destination full", 0, 100, 200000, ""},
  };
  for (const Case& c : cases) {
    std::string data = RandomBytes(c.size, 5);
    ShortStream source(data.substr(0, data.size() - static_cast<size_t>(c.missing)),
                       static_cast<int64_t>(data.size()));
    FullStream dest(c.destRoom < 0 ? INT64_MAX : c.destRoom);
    TDirItem item = NewItem(1, 8, c.password);
    TDirItem before = item;
    try {
      CompressEntry(zip_, source, dest, item);
      ADD_FAILURE() << c.what << ": no error";
    } catch (const EZWException& e) {
      EXPECT_EQ(e.NativeError(), 34) << c.what;
    }
    EXPECT_EQ(item.CompressedSize, before.CompressedSize) << c.what;
    // The next entry on the same archiver is as from a new one.
    std::string next = TextBytes(600000, 9);
    TDirItem again = NewItem(1, 8), fresh = NewItem(1, 8);
    TZipWriter other;
    other.SetThreads(1);
    EXPECT_TRUE(Compress(next, again) == Compress(next, fresh, &other)) << c.what;
  }
}

TEST_F(CompressTest, Zip64AlwaysMarksEveryEntry) {
  zip_.SetZip64Mode(zmAlways);
  TDirItem item = NewItem(6, 8);
  std::string written = Compress("small", item);
  EXPECT_TRUE(item.NeedsZip64);
  EXPECT_EQ(item.CompressedSize, kAllOnes32);
  EXPECT_EQ(item.UncompressedSize, kAllOnes32);
  EXPECT_EQ(item.Zip64CompressedSize, written.size());
  EXPECT_EQ(item.Zip64UncompressedSize, 5u);
}

TEST_F(CompressTest, ProgressStartsAtZeroNeverReports100AndCancelStops) {
  // The same notifications, in the same order, whether chunks are deflated on
  // workers or not; a cancel stops the workers too.
  for (int threads : {1, 3}) {
    SCOPED_TRACE(threads);
    zip_.SetThreads(threads);
    ArchiverAccess::S(zip_).progressOn = true;
    std::vector<double> fileProgress, overall;
    int cancelAt = -1;
    zip_.OnFileProgress = [&](TZWBaseArchiver*, const std::string& name, double p,
                              TZWProcessOperation, TZWProgressPhase phase, bool& cancel) {
      EXPECT_EQ(name, "entry.dat");
      EXPECT_EQ(phase, ppProcess);
      fileProgress.push_back(p);
      if (static_cast<int>(fileProgress.size()) == cancelAt) cancel = true;
    };
    zip_.OnOverallProgress = [&](TZWBaseArchiver*, double p, TZWProcessOperation, TZWProgressPhase,
                                 bool&) { overall.push_back(p); };
    std::string data = TextBytes(4 * 524288, 1);
    TDirItem item = NewItem(1, 8);
    Compress(data, item);
    EXPECT_EQ(fileProgress, (std::vector<double>{0, 25, 50, 75}));
    EXPECT_EQ(overall.size(), 4u);

    // A cancel in the file notification of the third chunk: no overall notification
    // for it, false, and the item's sizes untouched.
    fileProgress.clear();
    overall.clear();
    cancelAt = 3;
    TMemoryStream source, dest;
    Source(source, data);
    TDirItem cancelled = NewItem(1, 8);
    EXPECT_FALSE(CompressEntry(zip_, source, dest, cancelled));
    EXPECT_EQ(fileProgress.size(), 3u);
    EXPECT_EQ(overall.size(), 2u);
    EXPECT_EQ(cancelled.CompressedSize, 0u);
    EXPECT_EQ(cancelled.Crc32, 0u);
    ArchiverAccess::S(zip_).cancelled = false;
    ArchiverAccess::S(zip_).progressOn = false;
    // The stream left in the middle is not reused.
    TDirItem next = NewItem(1, 8), fresh = NewItem(1, 8);
    TZipWriter other;
    other.SetThreads(threads);
    EXPECT_TRUE(Compress(data, next) == Compress(data, fresh, &other));
  }
}

TEST_F(CompressTest, EncryptedEntriesGetIndependentSeeds) {
  uint32_t seed = 7;
  zip_.SetSeedSource([&] { return seed++; });
  TDirItem a = NewItem(1, 8, "pw"), b = NewItem(1, 8, "pw");
  std::string first = Compress("same data", a), second = Compress("same data", b);
  EXPECT_NE(ReferenceDecrypt("pw", first).substr(0, 10),
            ReferenceDecrypt("pw", second).substr(0, 10));
  EXPECT_EQ(first, ExpectedData("same data", 1, true, "pw", 7));
  EXPECT_EQ(second, ExpectedData("same data", 1, true, "pw", 8));
}

TEST(CompressionSettings, ModesLevelsAndBufferSizes) {
  const struct {
    int mode;
    TZWCompressionLevel level;
    uint32_t buffer;
  } table[] = {{0, clNone, 1048576},   {1, clFastest, 524288}, {3, clFastest, 524288},
               {4, clNormal, 1048576}, {6, clNormal, 1048576}, {7, clMax, 1572864},
               {9, clMax, 1572864}};
  for (const auto& row : table) {
    EXPECT_EQ(CompressionModeToLevel(row.mode), row.level) << row.mode;
    EXPECT_EQ(CompressionBufferSize(row.mode), row.buffer) << row.mode;
  }
  EXPECT_EQ(CompressionLevelToMode(clNone), 0);
  EXPECT_EQ(CompressionLevelToMode(clFastest), 1);
  EXPECT_EQ(CompressionLevelToMode(clNormal), 6);
  EXPECT_EQ(CompressionLevelToMode(clMax), 9);
}

}  // namespace
}  // namespace zw::test

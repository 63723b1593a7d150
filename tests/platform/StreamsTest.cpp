// Memory and file streams: reading, writing, seeking, sizes, copying, and the
// errors they raise.
#include <gtest/gtest.h>

#include <limits>
#include <random>
#include <string>

#include "Exceptions.h"
#include "PlatformTestUtil.h"
#include "Streams.h"

namespace zw::test {
namespace {

using namespace FileMode;

std::string ReadAll(TStream& s) {
  std::string out(static_cast<size_t>(s.GetSize() - s.GetPosition()), '\0');
  s.ReadBuffer(out.data(), static_cast<int64_t>(out.size()));
  return out;
}

TEST(MemoryStreamTest, WritesGrowReadsStopAtTheEnd) {
  TMemoryStream s;
  s.WriteBuffer("hello", 5);
  EXPECT_EQ(s.GetSize(), 5);
  EXPECT_EQ(s.GetPosition(), 5);
  s.SetPosition(1);
  char buf[8] = {};
  EXPECT_EQ(s.Read(buf, 8), 4);
  EXPECT_EQ(std::string(buf, 4), "ello");
  EXPECT_EQ(s.Read(buf, 8), 0);
  EXPECT_EQ(s.Seek(-2, SeekOrigin::kEnd), 3);
  s.WriteBuffer("LOWORLD", 7);
  EXPECT_EQ(s.GetSize(), 10);
  s.SetPosition(0);
  EXPECT_EQ(ReadAll(s), "helLOWORLD");
}

TEST(MemoryStreamTest, SeekingBeyondTheEndThenWritingFillsWithZeros) {
  TMemoryStream s;
  EXPECT_EQ(s.Seek(3, SeekOrigin::kBegin), 3);
  EXPECT_EQ(s.GetSize(), 0) << "seeking alone does not grow";
  s.WriteBuffer("x", 1);
  EXPECT_EQ(std::string(s.Data().begin(), s.Data().end()), std::string("\0\0\0x", 4));
}

TEST(MemoryStreamTest, NegativeTargetsAndSizesRaise) {
  TMemoryStream s;
  s.WriteBuffer("abc", 3);
  EXPECT_THROW(s.Seek(-4, SeekOrigin::kCurrent), EStreamError);
  EXPECT_EQ(s.GetPosition(), 3);
  EXPECT_THROW(s.Seek(std::numeric_limits<int64_t>::max(), SeekOrigin::kEnd), EStreamError);
  EXPECT_THROW(s.SetSize(-1), EStreamError);
}

TEST(MemoryStreamTest, SetSizeCutsAndKeepsPositionInside) {
  TMemoryStream s;
  s.WriteBuffer("abcdef", 6);
  s.SetSize(2);
  EXPECT_EQ(s.GetSize(), 2);
  EXPECT_EQ(s.GetPosition(), 2);
  s.SetSize(4);
  s.SetPosition(0);
  EXPECT_EQ(ReadAll(s), std::string("ab\0\0", 4));
  s.Clear();
  EXPECT_EQ(s.GetSize(), 0);
  EXPECT_EQ(s.GetPosition(), 0);
}

TEST(MemoryStreamTest, WritingAtAHugePositionFailsCleanly) {
  // The position may be anything up to the largest offset; a write there must fail
  // as a short write rather than overflow.
  TMemoryStream s;
  s.Seek(std::numeric_limits<int64_t>::max() - 1, SeekOrigin::kBegin);
  EXPECT_EQ(s.Write("abcd", 4), 0);
  EXPECT_THROW(s.WriteBuffer("abcd", 4), EWriteError);
  EXPECT_EQ(s.GetSize(), 0);
}

TEST(StreamBufferTest, ReadBufferPastTheEndRaisesStreamReadError) {
  TMemoryStream s;
  s.WriteBuffer("abc", 3);
  s.SetPosition(1);
  char buf[3];
  try {
    s.ReadBuffer(buf, 3);
    FAIL() << "no exception";
  } catch (const EReadError& e) {
    EXPECT_EQ(e.Message(), "Stream read error");
  }
  EXPECT_NO_THROW(s.ReadBuffer(buf, 0));
  EXPECT_THROW(s.ReadBuffer(buf, -1), EReadError);
  EXPECT_THROW(s.WriteBuffer(buf, -1), EWriteError);
}

TEST(StreamBufferTest, ReadOnlyViewReadsButNeverWrites) {
  const char bytes[] = "abcdef";
  TReadOnlyMemoryStream s(bytes, 6);
  EXPECT_EQ(s.GetSize(), 6);
  EXPECT_EQ(s.Seek(-2, SeekOrigin::kEnd), 4);
  EXPECT_EQ(ReadAll(s), "ef");
  EXPECT_THROW(s.WriteBuffer("x", 1), EWriteError);
  EXPECT_THROW(s.SetSize(1), EStreamError);
  EXPECT_THROW(s.Seek(-1, SeekOrigin::kBegin), EStreamError);
  TReadOnlyMemoryStream empty(bytes, -5);
  EXPECT_EQ(empty.GetSize(), 0);
}

TEST(StreamCopyTest, CopiesACountOrTheRestFromThePosition) {
  std::string big = RandomBytes(3 * 1024 * 1024 + 17, 7);  // more than one copy block
  TMemoryStream source;
  source.WriteBuffer(big.data(), static_cast<int64_t>(big.size()));
  source.SetPosition(5);
  TMemoryStream target;
  EXPECT_EQ(target.CopyFrom(source, 10), 10);
  EXPECT_EQ(source.GetPosition(), 15);
  EXPECT_EQ(target.CopyFrom(source, -1), static_cast<int64_t>(big.size()) - 15);
  target.SetPosition(0);
  EXPECT_EQ(ReadAll(target), big.substr(5));
  EXPECT_EQ(target.CopyFrom(source, 0), 0);
  EXPECT_THROW(target.CopyFrom(source, 1), EReadError) << "nothing left to copy";
}

class FileStreamTest : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override { env_ = MakeEnv(GetParam()); }
  std::unique_ptr<ProviderEnv> env_;
};

TEST_P(FileStreamTest, ReadWriteSeekAndSize) {
  {
    TFileStream s(env_->fs(), env_->PathOf("f.bin"), fmCreate);
    s.WriteBuffer("0123456789", 10);
    EXPECT_EQ(s.GetSize(), 10);
    EXPECT_EQ(s.Seek(-3, SeekOrigin::kCurrent), 7);
    s.WriteBuffer("ABCDE", 5);
    EXPECT_EQ(s.GetSize(), 12);
    s.SetSize(4);
    EXPECT_EQ(s.GetPosition(), 4) << "a cut pulls the position back inside";
    EXPECT_TRUE(s.Flush());
    EXPECT_EQ(s.FileName(), env_->PathOf("f.bin"));
  }
  EXPECT_EQ(env_->Content("f.bin"), "0123");
  TFileStream r(env_->fs(), env_->PathOf("f.bin"), fmOpenRead | fmShareDenyNone);
  EXPECT_EQ(ReadAll(r), "0123");
  char c;
  EXPECT_EQ(r.Read(&c, 1), 0);
  EXPECT_THROW(r.ReadBuffer(&c, 1), EReadError);
  EXPECT_THROW(r.Seek(-1, SeekOrigin::kBegin), EStreamError);
  EXPECT_EQ(r.GetPosition(), 4);
}

TEST_P(FileStreamTest, CopyBetweenFileAndMemory) {
  std::string data = RandomBytes(200000, 3);
  env_->Put("src.bin", data);
  TFileStream src(env_->fs(), env_->PathOf("src.bin"), fmOpenRead | fmShareDenyWrite);
  TMemoryStream mem;
  EXPECT_EQ(mem.CopyFrom(src, -1), 200000);
  mem.SetPosition(0);
  TFileStream dst(env_->fs(), env_->PathOf("dst.bin"), fmCreate);
  EXPECT_EQ(dst.CopyFrom(mem, -1), 200000);
  EXPECT_EQ(dst.GetSize(), 200000);
  dst.SetPosition(0);
  EXPECT_EQ(ReadAll(dst), data);
}

// Mixed reads, writes, seeks and cuts keep the same positions and bytes as a memory
// stream: a provider that remembers its file offset must never answer a stale one.
TEST_P(FileStreamTest, PositionsAndBytesFollowAMemoryStreamThroughMixedOperations) {
  TFileStream file(env_->fs(), env_->PathOf("mix.bin"), fmCreate);
  TMemoryStream model;
  std::mt19937 random(7);
  std::string chunk = RandomBytes(300, 9);
  char in[300], expected[300];
  for (int step = 0; step < 2000; ++step) {
    int64_t size = model.GetSize();
    int64_t n = static_cast<int64_t>(random() % 300);
    switch (random() % 6) {
      case 0:
        EXPECT_EQ(file.Write(chunk.data(), n), model.Write(chunk.data(), n));
        break;
      case 1: {
        int64_t got = file.Read(in, n);
        ASSERT_EQ(got, model.Read(expected, n)) << "step " << step;
        ASSERT_EQ(std::string(in, static_cast<size_t>(got)),
                  std::string(expected, static_cast<size_t>(got)));
        break;
      }
      case 2:
        file.Seek(static_cast<int64_t>(random() % (size + 50)), SeekOrigin::kBegin);
        model.Seek(file.GetPosition(), SeekOrigin::kBegin);
        break;
      case 3: {
        int64_t back = static_cast<int64_t>(random() % (size + 1));
        EXPECT_EQ(file.Seek(-back, SeekOrigin::kEnd), model.Seek(-back, SeekOrigin::kEnd));
        break;
      }
      case 4:
        file.SetSize(static_cast<int64_t>(random() % (size + 100)));
        model.SetSize(file.GetSize());
        break;
      default:
        EXPECT_EQ(file.Seek(0, SeekOrigin::kBegin), model.Seek(0, SeekOrigin::kBegin));
    }
    ASSERT_EQ(file.GetPosition(), model.GetPosition()) << "step " << step;
    ASSERT_EQ(file.GetSize(), model.GetSize()) << "step " << step;
  }
  file.SetPosition(0);
  model.SetPosition(0);
  EXPECT_EQ(ReadAll(file), ReadAll(model));
}

TEST_P(FileStreamTest, WriteThroughAReadOnlyStreamRaisesStreamWriteError) {
  env_->Put("r.bin", "abc");
  TFileStream s(env_->fs(), env_->PathOf("r.bin"), fmOpenRead | fmShareDenyNone);
  EXPECT_THROW(s.WriteBuffer("x", 1), EWriteError);
  EXPECT_EQ(env_->Content("r.bin"), "abc");
}

TEST_P(FileStreamTest, OpenFailureNamesTheExpandedPathAndTheSystemMessage) {
  ASSERT_TRUE(env_->fs().SetCurrentDir(env_->PathOf("")));
  try {
    TFileStream s(env_->fs(), "sub\\..\\missing.bin", fmOpenRead | fmShareDenyNone);
    FAIL() << "no exception";
  } catch (const EFOpenError& e) {
    EXPECT_EQ(e.Message(), "Cannot open file \"" + env_->PathOf("missing.bin") +
                               "\". The system cannot find the file specified.");
  }
}

TEST_P(FileStreamTest, CreateFailureNamesTheExpandedPathAndTheSystemMessage) {
  env_->Put("held.bin", "x");
  TFileStream holder(env_->fs(), env_->PathOf("held.bin"), fmOpenRead | fmShareDenyNone);
  try {
    TFileStream s(env_->fs(), env_->PathOf("held.bin"), fmCreate);
    FAIL() << "no exception";
  } catch (const EFCreateError& e) {
    EXPECT_EQ(e.Message(), "Cannot create file \"" + env_->PathOf("held.bin") +
                               "\". The process cannot access the file because it is being used "
                               "by another process.");
  }
  ScopedEnv unmapped("ZW_DRIVE_Q", std::nullopt);
  if (auto* mem = dynamic_cast<MemEnv*>(env_.get())) mem->mem().UnmapDrive('Q');
  try {
    TFileStream s(env_->fs(), "Q:\\x.bin", fmCreate);
    FAIL() << "no exception";
  } catch (const EFCreateError& e) {
    EXPECT_EQ(e.Message(),
              "Cannot create file \"Q:\\x.bin\". The system cannot find the path specified.");
  }
}

INSTANTIATE_TEST_SUITE_P(Providers, FileStreamTest, ::testing::Values("Linux", "Mem"));

TEST(FileStreamActiveTest, TheOneArgumentFormUsesTheActiveProvider) {
  MemFileSystem mem;
  ScopedFileSystem scope(mem);
  {
    TFileStream s("C:\\a.bin", fmCreate);
    s.WriteBuffer("abc", 3);
  }
  EXPECT_EQ(mem.ReadWholeFile("C:\\a.bin"), "abc");
  EXPECT_EQ(&ActiveFileSystem(), &mem);
}

}  // namespace
}  // namespace zw::test

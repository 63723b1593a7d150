// The fault-injecting provider: which operation fails, what a failure leaves
// behind, the counters, and how failures surface through TFileStream.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Exceptions.h"
#include "FaultFileSystem.h"
#include "MemFileSystem.h"
#include "PlatformTestUtil.h"
#include "Streams.h"

namespace zw::test {
namespace {

using namespace FileMode;

const std::string kData = "0123456789";

// One operation of a kind against a fixture that holds "C:\f.dat" (kData) open.
// `ok` is the outcome; `untouched` tells whether a failed attempt left everything
// as it was.
struct Attempt {
  bool ok;
  bool untouched;
};

class FaultFixture {
 public:
  FaultFixture() : fault(mem) {
    mem.WriteWholeFile("C:\\f.dat", kData);
    handle = fault.Open("C:\\f.dat", fmOpenReadWrite | fmShareDenyNone);
    fault.Reset();
  }
  MemFileSystem mem;
  FaultFileSystem fault;
  std::unique_ptr<FileHandle> handle;
  int serial = 0;
  int64_t position = 0;  // where the seek attempts left the handle
};

struct OpCase {
  FaultOp op;
  std::function<Attempt(FaultFixture&)> run;
  bool handleLevel;  // the error is told by the handle rather than the provider
};

std::ostream& operator<<(std::ostream& os, const OpCase& c) { return os << FaultOpName(c.op); }

const OpCase kOps[] = {
    {FaultOp::kOpen,
     [](FaultFixture& f) {
       auto h = f.fault.Open("C:\\f.dat", fmOpenRead | fmShareDenyNone);
       return Attempt{h != nullptr, true};
     },
     false},
    {FaultOp::kRead,
     [](FaultFixture& f) {
       f.handle->Seek(0, SeekOrigin::kBegin);
       char buf[4] = {'-', '-', '-', '-'};
       int64_t n = f.handle->Read(buf, 4);
       return Attempt{n == 4, n == -1 && std::string(buf, 4) == "----"};
     },
     true},
    {FaultOp::kWrite,
     [](FaultFixture& f) {
       auto before = f.mem.ReadWholeFile("C:\\f.dat");
       f.handle->Seek(0, SeekOrigin::kBegin);
       int64_t n = f.handle->Write(++f.serial % 2 ? "ab" : "cd", 2);
       return Attempt{n == 2, n == -1 && f.mem.ReadWholeFile("C:\\f.dat") == before};
     },
     true},
    {FaultOp::kSeek,
     [](FaultFixture& f) {
       // One counted seek per attempt; a read (not a seek) tells where the handle is.
       int64_t target = ++f.serial % 2 ? 3 : 5;
       int64_t r = f.handle->Seek(target, SeekOrigin::kBegin);
       char c = 0;
       f.handle->Read(&c, 1);
       bool stayed = r == -1 && c == kData[static_cast<size_t>(f.position)];
       f.position = (r == target ? target : f.position) + 1;
       return Attempt{r == target, stayed};
     },
     true},
    {FaultOp::kTruncate,
     [](FaultFixture& f) {
       int64_t before = f.handle->Size();
       bool ok = f.handle->Truncate(before == 10 ? 11 : 10);
       return Attempt{ok, !ok && f.handle->Size() == before};
     },
     true},
    {FaultOp::kFlush,
     [](FaultFixture& f) {
       bool ok = f.handle->Flush();
       return Attempt{ok, true};
     },
     true},
    {FaultOp::kRename,
     [](FaultFixture& f) {
       f.mem.WriteWholeFile("C:\\r0.dat", "r");
       bool ok = f.fault.RenameFile("C:\\r0.dat", "C:\\r1.dat");
       bool untouched = !ok && f.mem.FileExists("C:\\r0.dat") && !f.mem.FileExists("C:\\r1.dat");
       f.mem.DeleteFile("C:\\r0.dat");
       f.mem.DeleteFile("C:\\r1.dat");
       return Attempt{ok, untouched};
     },
     false},
    {FaultOp::kDelete,
     [](FaultFixture& f) {
       f.mem.WriteWholeFile("C:\\d.dat", "d");
       bool ok = f.fault.DeleteFile("C:\\d.dat");
       return Attempt{ok, !ok && f.mem.FileExists("C:\\d.dat")};
     },
     false},
    {FaultOp::kTempFile,
     [](FaultFixture& f) {
       std::string path;
       size_t before = f.mem.AllFiles().size();
       bool ok = f.fault.CreateTempFile("\\tmp", "FC", path);
       return Attempt{ok, !ok && f.mem.AllFiles().size() == before};
     },
     false},
    {FaultOp::kSyncFolder,
     [](FaultFixture& f) {
       // A new name in the folder tells, after a power cut, whether the sync happened.
       std::string probe = "C:\\probe" + std::to_string(++f.serial) + ".dat";
       f.mem.Open(probe, fmCreate).reset();
       bool ok = f.fault.SyncFolderOf(probe);
       f.mem.SimulatePowerCut();
       return Attempt{ok, !ok && !f.mem.FileExists(probe)};
     },
     false},
};

OsErrorCode ErrorAfter(FaultFixture& f, const OpCase& c) {
  return c.handleLevel ? f.handle->LastError().code : f.fault.LastError().code;
}

class FaultOpTest : public ::testing::TestWithParam<OpCase> {};

TEST_P(FaultOpTest, FailNthFailsOnlyThatOneAndLeavesEverythingAsItWas) {
  const OpCase& c = GetParam();
  FaultFixture f;
  ASSERT_NE(f.handle, nullptr);
  f.fault.FailNth(c.op, 2);
  EXPECT_TRUE(c.run(f).ok);
  EXPECT_FALSE(f.fault.Triggered());
  Attempt second = c.run(f);
  EXPECT_FALSE(second.ok);
  EXPECT_TRUE(second.untouched);
  EXPECT_EQ(ErrorAfter(f, c), OsErrorCode::kInjectedFault);
  EXPECT_TRUE(f.fault.Triggered());
  EXPECT_TRUE(c.run(f).ok);
  EXPECT_EQ(f.fault.Count(c.op), 3);
}

TEST_P(FaultOpTest, FailFromFailsThatOneAndEveryLaterOne) {
  const OpCase& c = GetParam();
  FaultFixture f;
  ASSERT_NE(f.handle, nullptr);
  f.fault.FailFrom(c.op, 2);
  EXPECT_TRUE(c.run(f).ok);
  EXPECT_FALSE(c.run(f).ok);
  EXPECT_FALSE(c.run(f).ok);
  EXPECT_FALSE(c.run(f).ok);
  EXPECT_EQ(f.fault.Count(c.op), 4);
}

TEST_P(FaultOpTest, ResetClearsCountsAndArming) {
  const OpCase& c = GetParam();
  FaultFixture f;
  ASSERT_NE(f.handle, nullptr);
  f.fault.FailFrom(c.op, 1);
  EXPECT_FALSE(c.run(f).ok);
  f.fault.Reset();
  EXPECT_FALSE(f.fault.Triggered());
  EXPECT_EQ(f.fault.Count(c.op), 0);
  EXPECT_TRUE(c.run(f).ok);
}

INSTANTIATE_TEST_SUITE_P(AllKinds, FaultOpTest, ::testing::ValuesIn(kOps),
                         [](const ::testing::TestParamInfo<OpCase>& info) {
                           return std::string(FaultOpName(info.param.op));
                         });

TEST(FaultFsTest, NthCountsFromTheLastResetNotFromArming) {
  FaultFixture f;
  ASSERT_NE(f.handle, nullptr);
  EXPECT_EQ(f.handle->Write("a", 1), 1);
  EXPECT_EQ(f.handle->Write("b", 1), 1);
  f.fault.FailNth(FaultOp::kWrite, 3);
  EXPECT_EQ(f.handle->Write("c", 1), -1) << "the third write since Reset";
  EXPECT_EQ(f.handle->Write("d", 1), 1);
}

TEST(FaultFsTest, OtherKindsAreNotAffected) {
  FaultFixture f;
  ASSERT_NE(f.handle, nullptr);
  f.fault.FailFrom(FaultOp::kWrite, 1);
  char buf[2];
  EXPECT_EQ(f.handle->Read(buf, 2), 2);
  EXPECT_NE(f.fault.Open("C:\\f.dat", fmOpenRead | fmShareDenyNone), nullptr);
  EXPECT_EQ(f.fault.Count(FaultOp::kRead), 1);
  EXPECT_EQ(f.fault.Count(FaultOp::kOpen), 1);
  EXPECT_FALSE(f.fault.Triggered());
}

TEST(FaultFsTest, AnInjectedFailureStaysTheLastErrorUntilARealOneReplacesIt) {
  FaultFixture f;
  EXPECT_EQ(f.fault.Open("C:\\missing.dat", fmOpenRead), nullptr);
  EXPECT_EQ(f.fault.LastError().code, OsErrorCode::kFileNotFound);
  f.fault.FailNth(FaultOp::kOpen, 2);
  EXPECT_EQ(f.fault.Open("C:\\f.dat", fmOpenRead | fmShareDenyNone), nullptr);
  EXPECT_EQ(f.fault.LastError().code, OsErrorCode::kInjectedFault);
  EXPECT_EQ(f.fault.LastError().message,
            "The request could not be performed because of an I/O device error.");
  EXPECT_NE(f.fault.Open("C:\\f.dat", fmOpenRead | fmShareDenyNone), nullptr);
  EXPECT_EQ(f.fault.LastError().code, OsErrorCode::kInjectedFault) << "a success clears nothing";
  EXPECT_EQ(f.fault.Open("C:\\missing.dat", fmOpenRead), nullptr);
  EXPECT_EQ(f.fault.LastError().code, OsErrorCode::kFileNotFound);
}

TEST(FaultFsTest, BytesWrittenAreTotalledAndByFile) {
  MemFileSystem mem;
  FaultFileSystem fault(mem);
  {
    auto a = fault.Open("C:\\a.bin", fmCreate);
    auto b = fault.Open("b.bin", fmCreate);
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(a->Write("12345", 5), 5);
    EXPECT_EQ(b->Write("123", 3), 3);
    EXPECT_EQ(a->Write("67", 2), 2);
    fault.FailNth(FaultOp::kWrite, 4);
    EXPECT_EQ(a->Write("xx", 2), -1);
  }
  EXPECT_EQ(fault.BytesWritten(), 10);
  auto byFile = fault.BytesWrittenByFile();
  EXPECT_EQ(byFile["C:\\a.bin"], 7);
  EXPECT_EQ(byFile["\\b.bin"], 3) << "files are known by their expanded names";
  fault.Reset();
  EXPECT_EQ(fault.BytesWritten(), 0);
  EXPECT_TRUE(fault.BytesWrittenByFile().empty());
}

TEST(FaultFsTest, FreeSpaceCanBeChosen) {
  MemFileSystem mem;
  mem.SetCapacity("C:\\", 5000);
  FaultFileSystem fault(mem);
  EXPECT_EQ(fault.GetFreeSpace("C:\\"), 5000);
  fault.SetFreeSpace(1234);
  EXPECT_EQ(fault.GetFreeSpace("C:\\"), 1234);
  fault.SetFreeSpace(0);
  EXPECT_EQ(fault.GetFreeSpace("C:\\"), 0);
  fault.SetFreeSpace(std::nullopt);
  EXPECT_EQ(fault.GetFreeSpace("C:\\"), 5000);
}

TEST(FaultFsTest, ForwardsEverythingElseToTheTarget) {
  MemFileSystem mem;
  FaultFileSystem fault(mem);
  ASSERT_TRUE(fault.CreateDirectory("C:\\d"));
  ASSERT_TRUE(fault.SetCurrentDir("C:\\d"));
  EXPECT_EQ(mem.GetCurrentDir(), "C:\\d");
  ASSERT_TRUE(mem.WriteWholeFile("C:\\d\\x.dat", "x"));
  EXPECT_TRUE(fault.FileExists("x.dat"));
  EXPECT_EQ(fault.GetAttributes("x.dat"), FileAttr::faArchive);
  std::vector<TSearchRec> found;
  EXPECT_TRUE(fault.FindFiles("*.dat", 0, found));
  EXPECT_EQ(found.size(), 1u);
}

// --- Crashes ----------------------------------------------------------------------

TEST(FaultCrashTest, TheNthMutationAndEverythingAfterItFailWithoutEffect) {
  FaultFixture f;
  ASSERT_NE(f.handle, nullptr);
  f.fault.CrashAt(3);
  char buf[2];
  EXPECT_EQ(f.handle->Write("ab", 2), 2);  // 1
  EXPECT_EQ(f.handle->Read(buf, 2), 2) << "reads do not count";
  auto reader = f.fault.Open("C:\\f.dat", fmOpenRead | fmShareDenyNone);
  ASSERT_NE(reader, nullptr) << "nor do opens of existing files";
  EXPECT_TRUE(f.handle->Flush());  // 2
  EXPECT_FALSE(f.fault.Crashed());
  EXPECT_EQ(f.fault.Open("C:\\n.dat", fmCreate), nullptr);  // 3: the crash
  EXPECT_TRUE(f.fault.Crashed());
  EXPECT_TRUE(f.fault.Triggered());
  EXPECT_EQ(f.fault.LastError().code, OsErrorCode::kInjectedFault);
  EXPECT_FALSE(f.mem.FileExists("C:\\n.dat")) << "the crashing operation did not happen";

  // Everything after fails, mutating or not, on the provider and on open handles.
  EXPECT_EQ(reader->Read(buf, 2), -1);
  EXPECT_EQ(reader->LastError().code, OsErrorCode::kInjectedFault);
  EXPECT_EQ(reader->Seek(0, SeekOrigin::kBegin), -1);
  EXPECT_EQ(reader->Size(), -1);
  EXPECT_EQ(f.handle->Write("cd", 2), -1);
  EXPECT_EQ(f.fault.Open("C:\\f.dat", fmOpenRead | fmShareDenyNone), nullptr);
  EXPECT_FALSE(f.fault.FileExists("C:\\f.dat"));
  EXPECT_EQ(f.fault.GetAttributes("C:\\f.dat"), -1);
  std::vector<TSearchRec> found;
  EXPECT_FALSE(f.fault.FindFiles("C:\\*.*", 0, found));
  EXPECT_EQ(f.fault.GetFreeSpace("C:\\"), -1);
  EXPECT_FALSE(f.fault.CreateDirectory("C:\\d"));
  EXPECT_FALSE(f.fault.SyncFolderOf("C:\\f.dat"));
  EXPECT_EQ(f.mem.ReadWholeFile("C:\\f.dat"), "ab23456789");
  EXPECT_FALSE(f.mem.DirectoryExists("C:\\d"));
  EXPECT_EQ(f.fault.MutatingOps(), 3) << "nothing is counted after the crash";

  f.fault.Reset();
  EXPECT_FALSE(f.fault.Crashed());
  EXPECT_EQ(f.fault.MutatingOps(), 0);
  EXPECT_TRUE(f.fault.FileExists("C:\\f.dat"));
  EXPECT_EQ(reader->Read(buf, 2), 2) << "a restarted process could use the disk again";
}

TEST(FaultCrashTest, CountsRunFromTheCallAndEveryKindOfMutationCounts) {
  // Each step mutates once; the crash must land on each of them in turn.
  const std::vector<std::function<bool(FileSystem&)>> steps = {
      [](FileSystem& fs) { return fs.Open("C:\\a.dat", fmCreate) != nullptr; },
      [](FileSystem& fs) {
        auto h = fs.Open("C:\\a.dat", fmOpenWrite | fmShareExclusive);
        return h && h->Truncate(3);
      },
      [](FileSystem& fs) { return fs.RenameFile("C:\\a.dat", "C:\\b.dat"); },
      [](FileSystem& fs) { return fs.DeleteFile("C:\\b.dat"); },
      [](FileSystem& fs) {
        std::string path;
        return fs.CreateTempFile("\\tmp", "FC", path);
      },
      [](FileSystem& fs) { return fs.CreateDirectory("C:\\d"); },
      [](FileSystem& fs) { return fs.RemoveDirectory("C:\\d"); },
      [](FileSystem& fs) { return fs.SyncFolderOf("C:\\x.dat"); },
      [](FileSystem& fs) { return fs.SetVolumeLabel("C:\\", "label"); },
  };
  {
    MemFileSystem mem;
    FaultFileSystem fault(mem);
    for (const auto& step : steps) ASSERT_TRUE(step(fault));
    EXPECT_EQ(fault.MutatingOps(), static_cast<int64_t>(steps.size()));
    EXPECT_EQ(fault.Count(FaultOp::kSyncFolder), 1);
  }
  for (size_t n = 1; n < steps.size(); ++n) {
    SCOPED_TRACE(n);
    MemFileSystem mem;
    FaultFileSystem fault(mem);
    ASSERT_TRUE(steps[0](fault));  // before the arming, so not part of n
    fault.CrashAt(static_cast<int64_t>(n));
    for (size_t i = 1; i < steps.size(); ++i) EXPECT_EQ(steps[i](fault), i < n) << i;
    EXPECT_TRUE(fault.Crashed());
    EXPECT_EQ(fault.MutatingOps(), static_cast<int64_t>(n) + 1) << "counted from Reset";
  }
  MemFileSystem mem;
  FaultFileSystem fault(mem);
  fault.CrashAt(1);
  fault.CrashAt(0);
  for (const auto& step : steps) EXPECT_TRUE(step(fault));
  EXPECT_FALSE(fault.Crashed()) << "0 disarms";
}

// The intended use: crash a replace-by-rename update at every step, cut the power,
// and find the old or the new contents, never anything else.
TEST(FaultCrashTest, ASweepOverASafeReplaceLeavesTheOldFileUntilTheLastSync) {
  auto update = [](FileSystem& fs) {
    auto h = fs.Open("C:\\a.new", fmCreate);
    if (!h || h->Write("new contents", 12) != 12 || !h->Flush()) return false;
    h.reset();
    return fs.SyncFolderOf("C:\\a.new") && fs.DeleteFile("C:\\a.dat") &&
           fs.RenameFile("C:\\a.new", "C:\\a.dat") && fs.SyncFolderOf("C:\\a.dat");
  };
  int64_t steps = 0;
  {
    MemFileSystem mem;
    ASSERT_TRUE(mem.WriteWholeFile("C:\\a.dat", "old"));
    FaultFileSystem fault(mem);
    ASSERT_TRUE(update(fault));
    steps = fault.MutatingOps();
  }
  EXPECT_EQ(steps, 7);
  for (int64_t n = 1; n <= steps + 1; ++n) {
    SCOPED_TRACE(n);
    MemFileSystem mem;
    ASSERT_TRUE(mem.WriteWholeFile("C:\\a.dat", "old"));
    FaultFileSystem fault(mem);
    fault.CrashAt(n);
    EXPECT_EQ(update(fault), n > steps);
    mem.SimulatePowerCut();
    // The delete and the rename reach the disk together with the last sync.
    EXPECT_EQ(mem.ReadWholeFile("C:\\a.dat"), n > steps ? "new contents" : "old");
  }
}

// --- Failures seen through TFileStream ------------------------------------------

class FaultStreamTest : public ::testing::Test {
 protected:
  void SetUp() override { mem_.WriteWholeFile("C:\\s.bin", kData); }
  MemFileSystem mem_;
  FaultFileSystem fault_{mem_};
};

TEST_F(FaultStreamTest, FailedSeekRaisesAndDoesNotMove) {
  TFileStream s(fault_, "C:\\s.bin", fmOpenReadWrite | fmShareDenyWrite);
  s.SetPosition(2);
  fault_.FailNth(FaultOp::kSeek, fault_.Count(FaultOp::kSeek) + 1);
  try {
    s.Seek(7, SeekOrigin::kBegin);
    FAIL() << "no exception";
  } catch (const EStreamError& e) {
    EXPECT_EQ(e.Message(),
              "Stream seek error. The request could not be performed because of an I/O device "
              "error.");
  }
  EXPECT_EQ(s.GetPosition(), 2);
}

TEST_F(FaultStreamTest, FailedWriteMakesWriteBufferRaiseStreamWriteError) {
  TFileStream s(fault_, "C:\\s.bin", fmOpenReadWrite | fmShareDenyWrite);
  fault_.FailFrom(FaultOp::kWrite, 1);
  EXPECT_EQ(s.Write("ab", 2), 0);
  try {
    s.WriteBuffer("ab", 2);
    FAIL() << "no exception";
  } catch (const EWriteError& e) {
    EXPECT_EQ(e.Message(), "Stream write error");
  }
  EXPECT_EQ(mem_.ReadWholeFile("C:\\s.bin"), kData);
}

TEST_F(FaultStreamTest, FailedReadMakesReadBufferRaiseStreamReadError) {
  TFileStream s(fault_, "C:\\s.bin", fmOpenRead | fmShareDenyNone);
  fault_.FailFrom(FaultOp::kRead, 1);
  char buf[4];
  EXPECT_THROW(s.ReadBuffer(buf, 4), EReadError);
}

TEST_F(FaultStreamTest, FailedTruncateRaisesAndKeepsTheSize) {
  TFileStream s(fault_, "C:\\s.bin", fmOpenReadWrite | fmShareDenyWrite);
  fault_.FailFrom(FaultOp::kTruncate, 1);
  EXPECT_THROW(s.SetSize(3), EStreamError);
  EXPECT_EQ(s.GetSize(), 10);
}

TEST_F(FaultStreamTest, FailedOpenRaisesWithTheInjectedMessage) {
  fault_.FailNth(FaultOp::kOpen, 1);
  try {
    TFileStream s(fault_, "C:\\s.bin", fmOpenRead);
    FAIL() << "no exception";
  } catch (const EFOpenError& e) {
    EXPECT_EQ(e.Message(),
              "Cannot open file \"C:\\s.bin\". The request could not be performed because of an "
              "I/O device error.");
  }
}

}  // namespace
}  // namespace zw::test

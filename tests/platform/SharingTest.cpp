// Sharing modes, the read-only attribute and delete/rename of open files: the
// contract every provider keeps, checked between two handles of one process (real
// and in-memory provider) and between two processes (real provider).
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <latch>
#include <memory>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "Paths.h"
#include "PlatformTestUtil.h"
#include "ShareHolderClient.h"

namespace zw::test {
namespace {

using namespace FileMode;

constexpr uint16_t kUpdate = fmOpenReadWrite | fmShareDenyWrite;  // 34: the archive's update mode
constexpr uint16_t kReadShared = fmOpenRead | fmShareDenyNone;    // 64: its read-only mode
constexpr uint16_t kReadDenyWrite = fmOpenRead | fmShareDenyWrite;
constexpr uint16_t kReadDenyRead = fmOpenRead | fmShareDenyRead;
constexpr uint16_t kReadExclusive = fmOpenRead | fmShareExclusive;
constexpr uint16_t kReadCompat = fmOpenRead | fmShareCompat;
constexpr uint16_t kWriteShared = fmOpenWrite | fmShareDenyNone;
constexpr uint16_t kReadWriteShared = fmOpenReadWrite | fmShareDenyNone;

const std::string kPayload = "payload that must survive a refused open";

struct ShareCase {
  uint16_t holder;
  uint16_t other;
  bool allowed;
};

std::ostream& operator<<(std::ostream& os, const ShareCase& c) {
  return os << "holder 0x" << std::hex << c.holder << ", other 0x" << c.other << std::dec
            << (c.allowed ? " allowed" : " refused");
}

// Expected outcomes written out from the file-mode rules (an open fails when it
// needs an access a holder denies, or denies an access a holder has), not computed.
const ShareCase kShareCases[] = {
    // Update mode 34 (read-write, deny write): others may only read.
    {kUpdate, kReadShared, true},
    {kUpdate, kUpdate, false},
    {kUpdate, kReadDenyWrite, false},  // would deny the holder's write
    {kUpdate, kWriteShared, false},
    {kUpdate, kReadWriteShared, false},
    {kUpdate, kReadDenyRead, false},
    {kUpdate, kReadExclusive, false},
    {kUpdate, kReadCompat, false},
    {kUpdate, fmCreate, false},
    // Read mode 64 (read, deny none): anything that does not deny reading.
    {kReadShared, kReadShared, true},
    {kReadShared, kUpdate, true},
    {kReadShared, kReadDenyWrite, true},
    {kReadShared, kWriteShared, true},
    {kReadShared, kReadWriteShared, true},
    {kReadShared, kReadDenyRead, false},
    {kReadShared, kReadExclusive, false},
    {kReadShared, kReadCompat, false},
    {kReadShared, fmCreate, false},
    // Read, deny write.
    {kReadDenyWrite, kReadShared, true},
    {kReadDenyWrite, kReadDenyWrite, true},
    {kReadDenyWrite, kUpdate, false},
    {kReadDenyWrite, kWriteShared, false},
    {kReadDenyWrite, fmCreate, false},
    // Read-write, deny none.
    {kReadWriteShared, kReadShared, true},
    {kReadWriteShared, kReadWriteShared, true},
    {kReadWriteShared, kWriteShared, true},
    {kReadWriteShared, kReadDenyWrite, false},
    {kReadWriteShared, kUpdate, false},
    {kReadWriteShared, kReadDenyRead, false},
    // Write only, deny none: a reader that denies reading is fine, one that denies
    // writing is not.
    {kWriteShared, kReadShared, true},
    {kWriteShared, kWriteShared, true},
    {kWriteShared, kReadDenyRead, true},
    {kWriteShared, kReadDenyWrite, false},
    {kWriteShared, kUpdate, false},
    // Read, deny read: writers only.
    {kReadDenyRead, kWriteShared, true},
    {kReadDenyRead, kReadShared, false},
    {kReadDenyRead, kReadWriteShared, false},
    // Exclusive, compatible and create holders block every other open.
    {kReadExclusive, kReadShared, false},
    {kReadExclusive, kWriteShared, false},
    {kReadCompat, kReadShared, false},
    {kReadCompat, kWriteShared, false},
    {fmCreate, kReadShared, false},
    {fmCreate, kWriteShared, false},
    {fmCreate, kReadWriteShared, false},
    {fmCreate, fmCreate, false},
};

// What the file holds once the holder has it: a create holder empties it.
std::string ContentUnderHolder(uint16_t holder) { return holder == fmCreate ? "" : kPayload; }

class ShareMatrixTest : public ::testing::TestWithParam<std::tuple<std::string, ShareCase>> {};

TEST_P(ShareMatrixTest, SecondHandleInSameProcess) {
  auto env = MakeEnv(std::get<0>(GetParam()));
  const ShareCase& c = std::get<1>(GetParam());
  env->Put("f.dat", kPayload);
  std::string path = env->PathOf("f.dat");
  {
    auto holder = env->fs().Open(path, c.holder);
    ASSERT_NE(holder, nullptr) << c;
    auto other = env->fs().Open(path, c.other);
    EXPECT_EQ(other != nullptr, c.allowed) << c;
    if (!c.allowed) {
      EXPECT_EQ(env->fs().LastError().code, OsErrorCode::kSharingViolation) << c;
      EXPECT_EQ(env->Content("f.dat"), ContentUnderHolder(c.holder)) << c;
    }
  }
  // Once both are gone nothing of the old holders may linger.
  EXPECT_NE(env->fs().Open(path, c.other), nullptr) << c;
}

INSTANTIATE_TEST_SUITE_P(Providers, ShareMatrixTest,
                         ::testing::Combine(::testing::Values("Linux", "Mem"),
                                            ::testing::ValuesIn(kShareCases)));

class CrossProcessShareTest : public ::testing::TestWithParam<ShareCase> {};

TEST_P(CrossProcessShareTest, HelperHoldsThisProcessOpens) {
  const ShareCase& c = GetParam();
  LinuxEnv env;
  env.Put("f.dat", kPayload);
  std::string path = env.PathOf("f.dat");
  ShareHolderProcess helper;
  ASSERT_TRUE(helper.Started());
  ASSERT_EQ(helper.Hold(path, c.holder), OsErrorCode::kNone) << c;
  auto other = env.fs().Open(path, c.other);
  EXPECT_EQ(other != nullptr, c.allowed) << c;
  if (!c.allowed) {
    EXPECT_EQ(env.fs().LastError().code, OsErrorCode::kSharingViolation) << c;
    EXPECT_EQ(env.Content("f.dat"), ContentUnderHolder(c.holder)) << c;
  }
  other.reset();
  ASSERT_EQ(helper.Release(), OsErrorCode::kNone);
  EXPECT_NE(env.fs().Open(path, c.other), nullptr) << c;
}

TEST_P(CrossProcessShareTest, ThisProcessHoldsHelperOpens) {
  const ShareCase& c = GetParam();
  LinuxEnv env;
  env.Put("f.dat", kPayload);
  std::string path = env.PathOf("f.dat");
  ShareHolderProcess helper;
  ASSERT_TRUE(helper.Started());
  {
    auto holder = env.fs().Open(path, c.holder);
    ASSERT_NE(holder, nullptr) << c;
    OsErrorCode got = helper.Try(path, c.other);
    EXPECT_EQ(got, c.allowed ? OsErrorCode::kNone : OsErrorCode::kSharingViolation) << c;
    if (!c.allowed) {
      EXPECT_EQ(env.Content("f.dat"), ContentUnderHolder(c.holder)) << c;
    }
  }
  EXPECT_EQ(helper.Try(path, c.other), OsErrorCode::kNone) << c;
}

INSTANTIATE_TEST_SUITE_P(Linux, CrossProcessShareTest, ::testing::ValuesIn(kShareCases));

class ContractTest : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override { env_ = MakeEnv(GetParam()); }
  std::unique_ptr<ProviderEnv> env_;
};

TEST_P(ContractTest, ReadOnlyFileIsRefusedForEveryWritingMode) {
  // CI runs as root, which the host would let write anything.
  env_->Put("ro.dat", kPayload);
  env_->MakeReadOnly("ro.dat");
  std::string path = env_->PathOf("ro.dat");
  for (uint16_t mode : {kUpdate, kWriteShared, kReadWriteShared, fmCreate}) {
    EXPECT_EQ(env_->fs().Open(path, mode), nullptr) << "mode 0x" << std::hex << mode;
    EXPECT_EQ(env_->fs().LastError().code, OsErrorCode::kAccessDenied) << std::hex << mode;
  }
  EXPECT_EQ(env_->Content("ro.dat"), kPayload);
  EXPECT_NE(env_->fs().Open(path, kReadShared), nullptr);
  EXPECT_EQ(env_->fs().GetAttributes(path) & FileAttr::faReadOnly, FileAttr::faReadOnly);
}

TEST_P(ContractTest, OpenFileCannotBeDeletedOrRenamedUntilClosed) {
  for (uint16_t mode : {kReadShared, kUpdate, kReadWriteShared, fmCreate}) {
    SCOPED_TRACE(mode);
    env_->Put("held.dat", kPayload);
    std::string path = env_->PathOf("held.dat");
    std::string other = env_->PathOf("moved.dat");
    auto handle = env_->fs().Open(path, mode);
    ASSERT_NE(handle, nullptr);
    EXPECT_FALSE(env_->fs().DeleteFile(path));
    EXPECT_EQ(env_->fs().LastError().code, OsErrorCode::kSharingViolation);
    EXPECT_FALSE(env_->fs().RenameFile(path, other));
    EXPECT_EQ(env_->fs().LastError().code, OsErrorCode::kSharingViolation);
    EXPECT_TRUE(env_->fs().FileExists(path));
    EXPECT_FALSE(env_->fs().FileExists(other));
    handle.reset();
    EXPECT_TRUE(env_->fs().RenameFile(path, other));
    EXPECT_TRUE(env_->fs().DeleteFile(other));
    EXPECT_FALSE(env_->fs().FileExists(other));
  }
}

TEST_P(ContractTest, RefusedCreateLeavesHolderDataAndHandleIntact) {
  env_->Put("a.zip", kPayload);
  std::string path = env_->PathOf("a.zip");
  auto holder = env_->fs().Open(path, kUpdate);
  ASSERT_NE(holder, nullptr);
  EXPECT_EQ(env_->fs().Open(path, fmCreate), nullptr);
  EXPECT_EQ(env_->Content("a.zip"), kPayload);
  std::string back(kPayload.size(), '\0');
  EXPECT_EQ(holder->Read(back.data(), static_cast<int64_t>(back.size())),
            static_cast<int64_t>(kPayload.size()));
  EXPECT_EQ(back, kPayload);
}

TEST_P(ContractTest, ReadOnlyHandleRefusesWritesAndTruncation) {
  env_->Put("r.dat", kPayload);
  auto handle = env_->fs().Open(env_->PathOf("r.dat"), kReadShared);
  ASSERT_NE(handle, nullptr);
  EXPECT_LT(handle->Write("xx", 2), 0);
  EXPECT_FALSE(handle->Truncate(1));
  handle.reset();
  EXPECT_EQ(env_->Content("r.dat"), kPayload);
}

TEST_P(ContractTest, DirectoriesCannotBeOpenedOrDeletedAsFiles) {
  ASSERT_TRUE(env_->fs().CreateDirectory(env_->PathOf("sub")));
  EXPECT_EQ(env_->fs().Open(env_->PathOf("sub"), kReadShared), nullptr);
  EXPECT_EQ(env_->fs().LastError().code, OsErrorCode::kAccessDenied);
  EXPECT_FALSE(env_->fs().DeleteFile(env_->PathOf("sub")));
  EXPECT_TRUE(env_->fs().DirectoryExists(env_->PathOf("sub")));
}

TEST_P(ContractTest, MissingFileAndMissingFolderAreTold) {
  EXPECT_EQ(env_->fs().Open(env_->PathOf("none.dat"), kReadShared), nullptr);
  EXPECT_EQ(env_->fs().LastError().code, OsErrorCode::kFileNotFound);
  EXPECT_EQ(env_->fs().Open(env_->PathOf("nodir\\x.dat"), fmCreate), nullptr);
  EXPECT_EQ(env_->fs().LastError().code, OsErrorCode::kPathNotFound);
  EXPECT_FALSE(env_->fs().DeleteFile(env_->PathOf("none.dat")));
  EXPECT_EQ(env_->fs().LastError().code, OsErrorCode::kFileNotFound);
}

TEST_P(ContractTest, FolderErrorsAreTheWindowsOnes) {
  ASSERT_TRUE(env_->fs().CreateDirectory(env_->PathOf("d")));
  EXPECT_FALSE(env_->fs().CreateDirectory(env_->PathOf("d")));
  EXPECT_EQ(env_->fs().LastError().code, OsErrorCode::kAlreadyExists);
  EXPECT_FALSE(env_->fs().CreateDirectory(env_->PathOf("none\\d")));
  EXPECT_EQ(env_->fs().LastError().code, OsErrorCode::kPathNotFound);
  env_->Put("d/x", "x");
  EXPECT_FALSE(env_->fs().RemoveDirectory(env_->PathOf("d")));
  EXPECT_EQ(env_->fs().LastError().code, OsErrorCode::kDirNotEmpty);
}

TEST_P(ContractTest, RenameOntoExistingNameFailsAndKeepsBoth) {
  env_->Put("a.dat", "A");
  env_->Put("b.dat", "B");
  EXPECT_FALSE(env_->fs().RenameFile(env_->PathOf("a.dat"), env_->PathOf("b.dat")));
  EXPECT_EQ(env_->fs().LastError().code, OsErrorCode::kAlreadyExists);
  EXPECT_EQ(env_->Content("a.dat"), "A");
  EXPECT_EQ(env_->Content("b.dat"), "B");
}

TEST_P(ContractTest, WritesSeeksAndTruncateThroughHandle) {
  auto h = env_->fs().Open(env_->PathOf("w.dat"), fmCreate);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(h->Write("hello world", 11), 11);
  EXPECT_EQ(h->Size(), 11);
  EXPECT_EQ(h->Seek(6, SeekOrigin::kBegin), 6);
  EXPECT_EQ(h->Write("W", 1), 1);
  EXPECT_EQ(h->Seek(-2, SeekOrigin::kEnd), 9);
  EXPECT_EQ(h->Seek(-1, SeekOrigin::kCurrent), 8);
  EXPECT_EQ(h->Seek(-100, SeekOrigin::kCurrent), -1);
  EXPECT_EQ(h->Seek(0, SeekOrigin::kCurrent), 8) << "a failed seek must not move";
  EXPECT_TRUE(h->Truncate(5));
  EXPECT_EQ(h->Size(), 5);
  EXPECT_EQ(h->Seek(0, SeekOrigin::kCurrent), 8) << "truncation leaves the position";
  EXPECT_TRUE(h->Flush());
  char buf[16] = {};
  EXPECT_EQ(h->Seek(0, SeekOrigin::kBegin), 0);
  EXPECT_EQ(h->Read(buf, sizeof buf), 5);
  EXPECT_EQ(std::string(buf, 5), "hello");
  EXPECT_EQ(h->Read(buf, sizeof buf), 0);
  h.reset();
  EXPECT_EQ(env_->Content("w.dat"), "hello");
}

TEST_P(ContractTest, ClosingOneOfTwoHandlesKeepsTheOthersClaims) {
  env_->Put("two.dat", kPayload);
  std::string path = env_->PathOf("two.dat");
  auto first = env_->fs().Open(path, kReadShared);
  auto second = env_->fs().Open(path, kReadShared);
  ASSERT_NE(first, nullptr);
  ASSERT_NE(second, nullptr);
  first.reset();
  EXPECT_EQ(env_->fs().Open(path, kReadDenyRead), nullptr) << "the second handle still reads";
  EXPECT_FALSE(env_->fs().DeleteFile(path));
  second.reset();
  EXPECT_NE(env_->fs().Open(path, kReadDenyRead), nullptr);
}

TEST_P(ContractTest, RacingUpdatersGetTheFileOneAtATime) {
  // The sharing check and the claim must be one step, or two openers both win; and a
  // refused opener must not make the others fail as well.
  env_->Put("race.dat", kPayload);
  std::string path = env_->PathOf("race.dat");
  constexpr int kThreads = 8;
  for (int round = 0; round < 30; ++round) {
    const uint16_t kRacingModes[] = {kUpdate, kReadExclusive, fmCreate};
    uint16_t mode = kRacingModes[round % 3];
    std::vector<std::unique_ptr<FileHandle>> handles(kThreads);
    std::latch start(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
      threads.emplace_back([&, t] {
        start.arrive_and_wait();
        handles[t] = env_->fs().Open(path, mode);
      });
    for (auto& th : threads) th.join();
    int winners = 0;
    for (const auto& h : handles) winners += h != nullptr;
    ASSERT_EQ(winners, 1) << "round " << round << " mode 0x" << std::hex << mode;
  }
}

INSTANTIATE_TEST_SUITE_P(Providers, ContractTest, ::testing::Values("Linux", "Mem"));

TEST(CrossProcessContractTest, FileHeldByOtherProcessCannotBeDeletedOrRenamed) {
  LinuxEnv env;
  env.Put("arc.zip", kPayload);
  std::string path = env.PathOf("arc.zip");
  ShareHolderProcess helper;
  ASSERT_TRUE(helper.Started());
  ASSERT_EQ(helper.Hold(path, kReadShared), OsErrorCode::kNone);
  EXPECT_FALSE(env.fs().DeleteFile(path));
  EXPECT_EQ(env.fs().LastError().code, OsErrorCode::kSharingViolation);
  EXPECT_FALSE(env.fs().RenameFile(path, env.PathOf("other.zip")));
  EXPECT_EQ(env.fs().LastError().code, OsErrorCode::kSharingViolation);
  EXPECT_EQ(env.Content("arc.zip"), kPayload);
  ASSERT_EQ(helper.Release(), OsErrorCode::kNone);
  EXPECT_TRUE(env.fs().RenameFile(path, env.PathOf("other.zip")));
  EXPECT_TRUE(env.fs().DeleteFile(env.PathOf("other.zip")));
}

TEST(CrossProcessContractTest, FileHeldHereCannotBeDeletedOrRenamedByOtherProcess) {
  LinuxEnv env;
  env.Put("arc.zip", kPayload);
  std::string path = env.PathOf("arc.zip");
  ShareHolderProcess helper;
  ASSERT_TRUE(helper.Started());
  {
    auto handle = env.fs().Open(path, kUpdate);
    ASSERT_NE(handle, nullptr);
    EXPECT_EQ(helper.Delete(path), OsErrorCode::kSharingViolation);
    EXPECT_EQ(helper.Rename(path, env.PathOf("x.zip")), OsErrorCode::kSharingViolation);
    EXPECT_EQ(env.Content("arc.zip"), kPayload);
  }
  EXPECT_EQ(helper.Delete(path), OsErrorCode::kNone);
  EXPECT_FALSE(env.fs().FileExists(path));
}

TEST(CrossProcessContractTest, HelperExitReleasesItsHandles) {
  LinuxEnv env;
  env.Put("arc.zip", kPayload);
  std::string path = env.PathOf("arc.zip");
  {
    ShareHolderProcess helper;
    ASSERT_EQ(helper.Hold(path, fmCreate), OsErrorCode::kNone);
    EXPECT_EQ(env.fs().Open(path, kReadShared), nullptr);
  }
  EXPECT_NE(env.fs().Open(path, kReadShared), nullptr);
}

TEST(LinuxSharingTest, DrivePathAndRootedPathAreTheSameFileForSharing) {
  LinuxEnv env;
  env.Put("f.dat", kPayload);
  auto viaDrive = env.fs().Open(env.PathOf("f.dat"), kUpdate);
  ASSERT_NE(viaDrive, nullptr);
  std::string rooted = FromHostPath(env.dir() / "f.dat");
  EXPECT_EQ(env.fs().Open(rooted, kUpdate), nullptr);
  EXPECT_EQ(env.fs().LastError().code, OsErrorCode::kSharingViolation);
  EXPECT_FALSE(env.fs().DeleteFile(rooted));
}

TEST(LinuxSharingTest, TwoProviderInstancesShareTheRules) {
  // Each component may make its own provider; the rules must hold between them.
  LinuxEnv env;
  env.Put("f.dat", kPayload);
  LinuxFileSystem second;
  auto held = env.fs().Open(env.PathOf("f.dat"), kReadDenyWrite);
  ASSERT_NE(held, nullptr);
  EXPECT_EQ(second.Open(env.PathOf("f.dat"), kReadWriteShared), nullptr);
  EXPECT_NE(second.Open(env.PathOf("f.dat"), kReadShared), nullptr);
}

TEST(LinuxSharingTest, ReadOnlyAttributeHoldsForRoot) {
  LinuxEnv env;
  env.Put("ro.dat", kPayload);
  env.MakeReadOnly("ro.dat");
  if (geteuid() != 0) GTEST_SKIP() << "only meaningful where the host would allow the write";
  EXPECT_EQ(env.fs().Open(env.PathOf("ro.dat"), fmCreate), nullptr);
  EXPECT_EQ(env.Content("ro.dat"), kPayload);
}

}  // namespace
}  // namespace zw::test

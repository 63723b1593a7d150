// Opening, creating, holding in memory and closing archives; batches; the checks and
// their error codes.
#include <gtest/gtest.h>

#include "ComponentSupport.h"
#include "DirManager.h"
#include "Exceptions.h"
#include "LinuxFileSystem.h"
#include "ZWExcept.h"

namespace zw::test {
namespace {

int NativeErrorOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const EZWException& e) {
    return e.NativeError();
  }
  return 0;
}

using Lifecycle = MemArchiveTest;

TEST_F(Lifecycle, NewArchiveIsCreatedAtOnceAndClosedAsEmptyArchive) {
  Open();
  EXPECT_TRUE(zip->IsOpen());
  EXPECT_EQ(zip->FileMode(), -1);
  EXPECT_EQ(zip->CurrentVolumeFileName(), "C:\\a.zip");
  EXPECT_EQ(Bytes().size(), 0u);
  zip->CloseArchiveFile();
  EXPECT_FALSE(zip->IsOpen());
  std::string bytes = Bytes();
  ASSERT_EQ(bytes.size(), 22u);
  EXPECT_EQ(bytes.substr(0, 4), std::string("PK\5\6"));
  zip->CloseArchiveFile();  // closing a closed archiver does nothing
  EXPECT_EQ(Bytes().size(), 22u);
}

TEST_F(Lifecycle, ExistingArchiveOpensForUpdate) {
  PutFile(mem, "C:\\data\\a.txt", "alpha");
  Open();
  Add("C:\\data\\*.txt");
  zip->CloseArchiveFile();
  Open();
  EXPECT_EQ(zip->FileMode(), 34);
  ASSERT_EQ(zip->DirManager()->WorkingDirectory.Count(), 1);
  EXPECT_EQ(zip->DirManager()->WorkingDirectory.ItemPtr(0).FileName, "a.txt");
}

TEST_F(Lifecycle, ReadOnlyFileOpensReadOnlyAndRefusesChanges) {
  PutFile(mem, "C:\\data\\a.txt", "alpha");
  Open();
  zip->CloseArchiveFile();
  std::string before = Bytes();
  mem.SetReadOnly("C:\\a.zip", true);
  Open();
  EXPECT_EQ(zip->FileMode(), 64);
  EXPECT_EQ(NativeErrorOf([&] { Add("C:\\data\\*.txt"); }), 32);
  EXPECT_TRUE(zip->IsOpen());
  EXPECT_EQ(zip->UpdateLevel(), 0);
  EXPECT_EQ(NativeErrorOf([&] { zip->BeginUpdate(); }), 32);
  zip->CloseArchiveFile();
  EXPECT_EQ(Bytes(), before);
}

TEST_F(Lifecycle, OpenArchiveCannotBeDeletedInAnyMode) {
  PutFile(mem, "C:\\b.zip", "");
  for (uint16_t mode : {uint16_t{0xFFFF}, uint16_t{34}, uint16_t{64}}) {
    zip->SetFileName("C:\\b.zip");
    zip->OpenArchiveFileWithMode(mode);
    EXPECT_FALSE(mem.DeleteFile("C:\\b.zip")) << mode;
    EXPECT_TRUE(mem.FileExists("C:\\b.zip")) << mode;
    zip->CloseArchiveFile();
  }
  EXPECT_TRUE(mem.DeleteFile("C:\\b.zip"));
}

TEST_F(Lifecycle, OpeningAnotherArchiveCommitsTheFirst) {
  PutFile(mem, "C:\\data\\a.txt", "alpha");
  Open("C:\\one.zip");
  zip->BeginUpdate();
  Add("C:\\data\\a.txt");
  Open("C:\\two.zip");  // one.zip's pending batch is applied and the file released
  EXPECT_EQ(Names("C:\\one.zip"), std::vector<std::string>{"a.txt"});
  EXPECT_TRUE(mem.DeleteFile("C:\\one.zip"));
}

TEST_F(Lifecycle, ReopeningTheOpenArchiveKeepsWriteAccess) {
  PutFile(mem, "C:\\data\\a.txt", "alpha");
  Open();
  Add("C:\\data\\a.txt");
  Open();
  EXPECT_EQ(zip->FileMode(), 34);
  PutFile(mem, "C:\\data\\b.txt", "beta");
  Add("C:\\data\\b.txt");
  zip->CloseArchiveFile();
  EXPECT_EQ(Names(), (std::vector<std::string>{"a.txt", "b.txt"}));
}

TEST_F(Lifecycle, BlankFileNamePart) {
  zip->SetFileName("C:\\folder\\");
  EXPECT_EQ(NativeErrorOf([&] { zip->OpenArchiveFile(); }), 9);
  EXPECT_EQ(NativeErrorOf([&] { zip->OpenArchiveFileWithMode(0xFFFF); }), 10);
  EXPECT_FALSE(zip->IsOpen());
  zip->SetFileName("C:");
  EXPECT_EQ(NativeErrorOf([&] { zip->OpenArchiveFile(); }), 9);
  // In memory the same name is accepted and no file is touched.
  zip->SetFileName("C:\\folder\\");
  zip->SetInMemory(true);
  zip->OpenArchiveFile();
  EXPECT_TRUE(zip->IsOpen());
  EXPECT_FALSE(mem.DirectoryExists("C:\\folder"));
}

TEST_F(Lifecycle, FailedOpeningLeavesPreviousArchiveOpen) {
  Open();
  zip->SetFileName("C:\\x\\");
  EXPECT_EQ(NativeErrorOf([&] { zip->OpenArchiveFile(); }), 9);
  EXPECT_TRUE(zip->IsOpen());
  zip->SetFileName("C:\\absent.zip");
  EXPECT_EQ(NativeErrorOf([&] { zip->OpenArchiveFileWithMode(34); }), 12);
  EXPECT_TRUE(zip->IsOpen());
}

TEST_F(Lifecycle, MissingArchiveForModes34And64) {
  zip->SetFileName("C:\\absent.zip");
  for (uint16_t mode : {uint16_t{34}, uint16_t{64}}) {
    try {
      zip->OpenArchiveFileWithMode(mode);
      FAIL();
    } catch (const EZWException& e) {
      EXPECT_EQ(e.NativeError(), 12);
      EXPECT_NE(std::string(e.what()).find("File \"C:\\absent.zip\" not found"), std::string::npos);
    }
  }
  EXPECT_FALSE(mem.FileExists("C:\\absent.zip"));
}

TEST_F(Lifecycle, InMemoryRefusesExistingFileModes) {
  PutFile(mem, "C:\\b.zip", "x");
  zip->SetFileName("C:\\b.zip");
  zip->SetInMemory(true);
  EXPECT_EQ(NativeErrorOf([&] { zip->OpenArchiveFileWithMode(34); }), 28);
  zip->OpenArchiveFile();  // in memory: a new archive, the file is not read
  EXPECT_EQ(zip->FileMode(), -1);
  EXPECT_EQ(GetFile(mem, "C:\\b.zip"), "x");
}

TEST_F(Lifecycle, NotAnArchive) {
  PutFile(mem, "C:\\text.zip", std::string(1000, 'x'));
  zip->SetFileName("C:\\text.zip");
  EXPECT_EQ(NativeErrorOf([&] { zip->OpenArchiveFile(); }), 35);
  EXPECT_FALSE(zip->IsOpen());
  EXPECT_EQ(NativeErrorOf([&] { Add("C:\\data\\*.*"); }), 13);
  EXPECT_TRUE(mem.DeleteFile("C:\\text.zip"));  // nothing is held after a failed opening
}

TEST_F(Lifecycle, ChangingClosedArchiveRaises13) {
  EXPECT_EQ(NativeErrorOf([&] { Add("C:\\data\\*.*"); }), 13);
  EXPECT_EQ(NativeErrorOf([&] { zip->CheckArchiveOpen(); }), 13);
}

TEST_F(Lifecycle, NestedBatchesRewriteOnce) {
  PutFile(mem, "C:\\data\\a.txt", "alpha");
  PutFile(mem, "C:\\data\\b.txt", "beta");
  Open();
  int rewrites = 0;
  zip->OnOverallProgress = [&](TZWBaseArchiver*, double, TZWProcessOperation, TZWProgressPhase p,
                               bool&) { rewrites += p == ppStart; };
  zip->EndUpdate();  // without BeginUpdate: nothing
  EXPECT_EQ(zip->UpdateLevel(), 0);
  zip->BeginUpdate();
  zip->BeginUpdate();
  EXPECT_EQ(zip->UpdateLevel(), 2);
  Add("C:\\data\\a.txt");
  Add("C:\\data\\b.txt");
  EXPECT_EQ(rewrites, 0);
  EXPECT_EQ(Bytes().size(), 0u);
  zip->EndUpdate();
  EXPECT_EQ(rewrites, 0);
  zip->EndUpdate();
  EXPECT_EQ(rewrites, 1);
  EXPECT_EQ(zip->UpdateLevel(), 0);
  EXPECT_EQ(Names(), (std::vector<std::string>{"a.txt", "b.txt"}));
}

TEST_F(Lifecycle, CloseAppliesPendingBatch) {
  PutFile(mem, "C:\\data\\a.txt", "alpha");
  Open();
  zip->BeginUpdate();
  Add("C:\\data\\a.txt");
  zip->CloseArchiveFile();
  EXPECT_EQ(Contents()["a.txt"], "alpha");
}

TEST_F(Lifecycle, DestructionCommits) {
  PutFile(mem, "C:\\data\\a.txt", "alpha");
  Open();
  zip->BeginUpdate();
  Add("C:\\data\\a.txt");
  zip.reset();
  EXPECT_EQ(Contents()["a.txt"], "alpha");
}

TEST_F(Lifecycle, SetArchiveOpen) {
  zip->SetFileName("C:\\a.zip");
  zip->SetArchiveOpen(true);
  EXPECT_TRUE(zip->IsOpen());
  zip->SetArchiveOpen(true);
  zip->SetArchiveOpen(false);
  EXPECT_FALSE(zip->IsOpen());
  EXPECT_EQ(Bytes().size(), 22u);
}

TEST_F(Lifecycle, BeginUpdateOpensClosedArchive) {
  zip->SetFileName("C:\\a.zip");
  zip->BeginUpdate();
  EXPECT_TRUE(zip->IsOpen());
  zip->EndUpdate();
  EXPECT_EQ(Bytes().size(), 22u);
}

TEST_F(Lifecycle, ResetUpdateCounterDropsLevelAndQueuedEntries) {
  PutFile(mem, "C:\\data\\a.txt", "alpha");
  Open();
  zip->BeginUpdate();
  zip->BeginUpdate();
  Add("C:\\data\\a.txt");
  EXPECT_EQ(zip->DirManager()->WorkingDirectory.Count(), 1);
  zip->ResetUpdateCounter();
  EXPECT_EQ(zip->UpdateLevel(), 0);
  // Not in the file, so not in the directory either: a later batch must not take it
  // for a stored entry.
  EXPECT_EQ(zip->DirManager()->WorkingDirectory.Count(), 0);
  zip->CloseArchiveFile();
  EXPECT_TRUE(Names().empty());
}

TEST_F(Lifecycle, SfxStubArchive) {
  PutFile(mem, "C:\\stub.exe", "MZ-stub-bytes");
  PutFile(mem, "C:\\data\\a.txt", "alpha");
  zip->SetSFXStub("C:\\stub.exe");
  Open("C:\\s.zip");
  EXPECT_EQ(Bytes("C:\\s.zip"), "MZ-stub-bytes");
  zip->CloseArchiveFile();
  // A stub-only archive still gets its directory.
  EXPECT_EQ(Bytes("C:\\s.zip").size(), 13u + 22u);
  EXPECT_TRUE(ReadArchive(Bytes("C:\\s.zip")).empty());

  Open("C:\\t.zip");
  zip->BeginUpdate();
  Add("C:\\data\\a.txt");
  zip->CloseArchiveFile();  // the pending batch is committed after the stub
  std::string bytes = Bytes("C:\\t.zip");
  EXPECT_EQ(bytes.substr(0, 13), "MZ-stub-bytes");
  auto entries = ReadArchive(bytes);
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].offset, 13u);
  EXPECT_EQ(entries[0].data, "alpha");
}

TEST_F(Lifecycle, InMemoryArchiveMovesToFile) {
  PutFile(mem, "C:\\data\\a.txt", "alpha");
  PutFile(mem, "C:\\data\\b.txt", TextBytes(50000, 1));
  zip->SetInMemory(true);
  Open();
  Add("C:\\data\\*.txt");
  EXPECT_FALSE(mem.FileExists("C:\\a.zip"));
  zip->SetInMemory(false);
  EXPECT_FALSE(zip->InMemory());
  EXPECT_TRUE(zip->IsOpen());
  EXPECT_EQ(zip->FileMode(), 34);
  auto contents = Contents();
  EXPECT_EQ(contents["a.txt"], "alpha");
  EXPECT_EQ(contents["b.txt"], TextBytes(50000, 1));
  EXPECT_EQ(zip->DirManager()->WorkingDirectory.Count(), 2);
}

TEST_F(Lifecycle, InMemoryPendingBatchAndEmptyArchiveMoveToFile) {
  PutFile(mem, "C:\\data\\a.txt", "alpha");
  zip->SetInMemory(true);
  Open("C:\\e.zip");
  zip->SetInMemory(false);  // an empty in-memory archive becomes a valid empty file
  EXPECT_EQ(Bytes("C:\\e.zip").size(), 22u);
  zip->CloseArchiveFile();

  zip->SetInMemory(true);
  Open();
  zip->BeginUpdate();
  Add("C:\\data\\a.txt");
  zip->SetInMemory(false);  // the batch is committed before the image is written
  EXPECT_EQ(Contents()["a.txt"], "alpha");
}

TEST_F(Lifecycle, InMemoryToFileNeedsFileName) {
  zip->SetInMemory(true);
  zip->SetFileName("");
  zip->OpenArchiveFile();
  EXPECT_EQ(NativeErrorOf([&] { zip->SetInMemory(false); }), 29);
  EXPECT_TRUE(zip->InMemory());
  EXPECT_TRUE(zip->IsOpen());
}

TEST_F(Lifecycle, FileArchiveMovesToEmptyMemoryArchive) {
  PutFile(mem, "C:\\data\\a.txt", "alpha");
  Open();
  Add("C:\\data\\a.txt");
  zip->SetInMemory(true);
  EXPECT_TRUE(zip->IsOpen());
  EXPECT_EQ(zip->DirManager()->WorkingDirectory.Count(), 0);
  EXPECT_EQ(Names(), std::vector<std::string>{"a.txt"});  // the file keeps its content
  EXPECT_TRUE(mem.DeleteFile("C:\\a.zip"));               // and is released
}

TEST_F(Lifecycle, InMemoryWhileClosedOnlyStoresTheValue) {
  zip->SetInMemory(true);
  EXPECT_TRUE(zip->InMemory());
  EXPECT_FALSE(zip->IsOpen());
  zip->SetInMemory(false);
  EXPECT_FALSE(zip->IsOpen());
}

TEST_F(Lifecycle, MultiVolumeArchiveWithEntriesNeedsBatch) {
  PutFile(mem, "C:\\data\\a.txt", "alpha");
  PutFile(mem, "C:\\data\\b.txt", "beta");
  zip->SetSpanningMode(smSplitting);
  zip->SpanningOptions().VolumeSize = vsCustom;
  zip->SpanningOptions().SetCustomVolumeSize(65536);
  Open("C:\\m.zip");
  Add("C:\\data\\a.txt");
  EXPECT_EQ(NativeErrorOf([&] { Add("C:\\data\\b.txt"); }), 52);
  EXPECT_EQ(zip->DirManager()->WorkingDirectory.Count(), 1);
  zip->BeginUpdate();
  Add("C:\\data\\b.txt");  // inside a batch it is allowed
  zip->EndUpdate();
  EXPECT_EQ(zip->DirManager()->WorkingDirectory.Count(), 2);
}

// The real file system: sharing holds against other handles too.
TEST(LifecycleOnDisk, ModesOverRealFiles) {
  TempDir dir;
  LinuxFileSystem fs;
  WriteHostFile(dir / "data.txt", "hello");
  TZipWriter zip;
  zip.SetFileSystem(&fs);
  zip.Options().StorePath = spNoPath;
  zip.SetFileName(dir / "r.zip");
  zip.OpenArchiveFile();
  EXPECT_EQ(zip.FileMode(), -1);
  EXPECT_FALSE(fs.DeleteFile(dir / "r.zip"));
  EXPECT_FALSE(fs.Open(dir / "r.zip", FileMode::fmOpenRead | FileMode::fmShareDenyNone));
  zip.AddFilesByMask(dir / "data.txt", 0x2F, "");
  zip.CloseArchiveFile();
  EXPECT_EQ(UnzipTest(dir / "r.zip"), "");

  zip.OpenArchiveFile();
  EXPECT_EQ(zip.FileMode(), 34);
  // Others may read, not write.
  EXPECT_TRUE(fs.Open(dir / "r.zip", FileMode::fmOpenRead | FileMode::fmShareDenyNone));
  EXPECT_FALSE(fs.Open(dir / "r.zip", FileMode::fmOpenReadWrite | FileMode::fmShareDenyNone));
  EXPECT_FALSE(fs.DeleteFile(dir / "r.zip"));
  zip.CloseArchiveFile();

  // Another party writing forces read-only.
  auto writer = fs.Open(dir / "r.zip", FileMode::fmOpenReadWrite | FileMode::fmShareDenyNone);
  ASSERT_TRUE(writer);
  zip.OpenArchiveFile();
  EXPECT_EQ(zip.FileMode(), 64);
  zip.CloseArchiveFile();
}

}  // namespace
}  // namespace zw::test

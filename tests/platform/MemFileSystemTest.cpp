// The in-memory provider's own features: drive mapping, capacity ("disk full"),
// set-up helpers, search, temporary files and what survives a power cut. The
// sharing contract it shares with the real provider is checked in SharingTest.cpp.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "Exceptions.h"
#include "MemFileSystem.h"
#include "PlatformTestUtil.h"
#include "Streams.h"

namespace zw::test {
namespace {

using namespace FileMode;
using V = std::vector<std::string>;

V Names(const std::vector<TSearchRec>& found) {
  V names;
  for (const auto& r : found) names.push_back(r.Name);
  return names;
}

TEST(MemFsDrivesTest, LettersMapToFoldersAndRootedPathsReachTheSameFile) {
  MemFileSystem fs;
  ASSERT_TRUE(fs.WriteWholeFile("c:\\x.dat", "x"));
  EXPECT_EQ(fs.AllFiles(), (V{"/C/x.dat"}));
  EXPECT_EQ(fs.ReadWholeFile("\\C\\x.dat"), "x");
  fs.MapDrive('d', "/data");
  ASSERT_TRUE(fs.CreateDirectory("D:\\sub"));
  ASSERT_TRUE(fs.WriteWholeFile("D:\\sub\\y.dat", "y"));
  EXPECT_EQ(fs.ReadWholeFile("\\data\\sub\\y.dat"), "y");
  auto held = fs.Open("D:\\sub\\y.dat", fmOpenReadWrite | fmShareDenyWrite);
  ASSERT_NE(held, nullptr);
  EXPECT_EQ(fs.Open("/data/sub/y.dat", fmOpenWrite | fmShareDenyNone), nullptr)
      << "both names are the same file for sharing";
}

TEST(MemFsDrivesTest, FolderWithTrailingSlashMapsLikeWithout) {
  MemFileSystem fs;
  fs.MapDrive('E', "/media/e/");
  ASSERT_TRUE(fs.CreateDirectory("\\media"));
  ASSERT_TRUE(fs.CreateDirectory("\\media\\e"));
  ASSERT_TRUE(fs.WriteWholeFile("E:\\f.dat", "f"));
  EXPECT_EQ(fs.AllFiles(), (V{"/media/e/f.dat"}));
  fs.MapDrive('R', "/");
  EXPECT_TRUE(fs.FileExists("R:\\media\\e\\f.dat"));
}

TEST(MemFsDrivesTest, UnmappedDriveIsAMissingPathUntilMappedAgain) {
  MemFileSystem fs;
  ASSERT_TRUE(fs.WriteWholeFile("C:\\x.dat", "x"));
  fs.UnmapDrive('c');
  EXPECT_FALSE(fs.FileExists("C:\\x.dat"));
  EXPECT_EQ(fs.Open("C:\\x.dat", fmOpenRead), nullptr);
  EXPECT_EQ(fs.LastError().code, OsErrorCode::kPathNotFound);
  EXPECT_EQ(fs.GetDriveType("C:\\"), DriveType::kNoRootDir);
  EXPECT_EQ(fs.GetFreeSpace("C:\\"), -1);
  fs.MapDrive('C', "/C");
  EXPECT_TRUE(fs.FileExists("C:\\x.dat"));
}

TEST(MemFsDrivesTest, DriveTypesAndLabels) {
  MemFileSystem fs;
  EXPECT_EQ(fs.GetDriveType("A:\\"), DriveType::kRemovable);
  EXPECT_EQ(fs.GetDriveType("b:\\"), DriveType::kRemovable);
  EXPECT_EQ(fs.GetDriveType("C:\\"), DriveType::kFixed);
  fs.SetDriveType('E', DriveType::kRemovable);
  EXPECT_EQ(fs.GetDriveType("E:\\"), DriveType::kRemovable);
  EXPECT_TRUE(fs.SetVolumeLabel("a:\\", "pkback# 001"));
  EXPECT_EQ(fs.Labels().at('A'), "pkback# 001");
  EXPECT_FALSE(fs.SetVolumeLabel("\\x", "label"));
}

class MemFsCapacityTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(fs_.CreateDirectory("C:\\disk"));
    fs_.SetCapacity("C:\\disk", 100);
  }
  MemFileSystem fs_;
};

TEST_F(MemFsCapacityTest, WritesBeyondTheCapacityStopAtItWithDiskFull) {
  const std::string sixty(60, 'a');
  auto h = fs_.Open("C:\\disk\\a.bin", fmCreate);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(fs_.GetFreeSpace("C:\\disk"), 100);
  EXPECT_EQ(h->Write(sixty.data(), 60), 60);
  EXPECT_EQ(fs_.GetFreeSpace("C:\\disk\\"), 40);
  EXPECT_EQ(h->Write(sixty.data(), 60), 40) << "a full disk takes what fits";
  EXPECT_EQ(h->LastError().code, OsErrorCode::kDiskFull);
  EXPECT_EQ(fs_.GetFreeSpace("C:\\disk\\a.bin"), 0);
  EXPECT_EQ(h->Write("z", 1), -1);
  EXPECT_EQ(h->LastError().code, OsErrorCode::kDiskFull);
  EXPECT_EQ(h->Size(), 100);
  // Overwriting bytes the file already has needs no room.
  EXPECT_EQ(h->Seek(0, SeekOrigin::kBegin), 0);
  EXPECT_EQ(h->Write("bb", 2), 2);
  EXPECT_FALSE(h->Truncate(101));
  EXPECT_EQ(h->LastError().code, OsErrorCode::kDiskFull);
  EXPECT_TRUE(h->Truncate(30));
  EXPECT_EQ(fs_.GetFreeSpace("C:\\disk"), 70);
}

TEST_F(MemFsCapacityTest, AFullDiskMakesWriteBufferRaise) {
  TFileStream stream(fs_, "C:\\disk\\s.bin", fmCreate);
  const std::string big(150, 'x');
  EXPECT_THROW(stream.WriteBuffer(big.data(), static_cast<int64_t>(big.size())), EWriteError);
}

TEST_F(MemFsCapacityTest, CapacityCountsOnlyFilesBelowTheFolderAndFreesOnDelete) {
  ASSERT_TRUE(fs_.WriteWholeFile("C:\\outside.bin", std::string(500, 'o')));
  EXPECT_EQ(fs_.GetFreeSpace("C:\\disk"), 100);
  EXPECT_GE(fs_.GetFreeSpace("C:\\"), int64_t{1} << 30) << "no capacity: plenty of room";
  ASSERT_TRUE(fs_.WriteWholeFile("C:\\disk\\a.bin", std::string(80, 'a')));
  EXPECT_FALSE(fs_.WriteWholeFile("C:\\disk\\b.bin", std::string(30, 'b')));
  EXPECT_EQ(fs_.GetFreeSpace("C:\\disk"), 0);
  ASSERT_TRUE(fs_.DeleteFile("C:\\disk\\a.bin"));
  EXPECT_EQ(fs_.GetFreeSpace("C:\\disk"), 100 - 20);
}

TEST_F(MemFsCapacityTest, TheTightestOfNestedCapacitiesApplies) {
  ASSERT_TRUE(fs_.CreateDirectory("C:\\disk\\inner"));
  fs_.SetCapacity("C:\\disk\\inner", 30);
  EXPECT_EQ(fs_.GetFreeSpace("C:\\disk\\inner"), 30);
  ASSERT_TRUE(fs_.WriteWholeFile("C:\\disk\\big.bin", std::string(90, 'b')));
  EXPECT_EQ(fs_.GetFreeSpace("C:\\disk\\inner"), 10);
}

TEST(MemFsSetupTest, HelpersSetAttributesAndDates) {
  MemFileSystem fs;
  ASSERT_TRUE(fs.WriteWholeFile("C:\\f.dat", "f"));
  EXPECT_EQ(fs.GetAttributes("C:\\f.dat"), FileAttr::faArchive);
  ASSERT_TRUE(fs.SetReadOnly("C:\\f.dat", true));
  ASSERT_TRUE(fs.SetHidden("C:\\f.dat", true));
  EXPECT_EQ(fs.GetAttributes("C:\\f.dat"),
            FileAttr::faArchive | FileAttr::faReadOnly | FileAttr::faHidden);
  ASSERT_TRUE(fs.SetFileDate("C:\\f.dat", 0x50CF6497));
  int32_t dos = 0;
  ASSERT_TRUE(fs.GetFileDate("C:\\f.dat", dos));
  EXPECT_EQ(dos, 0x50CF6497);
  EXPECT_FALSE(fs.SetReadOnly("C:\\none", true));
  EXPECT_EQ(fs.LastError().code, OsErrorCode::kFileNotFound);
  EXPECT_EQ(fs.ReadWholeFile("C:\\none"), std::nullopt);
  ASSERT_TRUE(fs.CreateDirectory("C:\\d"));
  EXPECT_EQ(fs.GetAttributes("C:\\d"), FileAttr::faDirectory);
  EXPECT_EQ(fs.GetAttributes("C:\\.dot"), -1);
}

TEST(MemFsSetupTest, NewFilesCarryTheCurrentDate) {
  MemFileSystem fs;
  ASSERT_TRUE(fs.WriteWholeFile("C:\\f.dat", "f"));
  int32_t dos = 0;
  ASSERT_TRUE(fs.GetFileDate("C:\\f.dat", dos));
  EXPECT_GE(static_cast<uint32_t>(dos) >> 25, 2020u - 1980u);
}

TEST(MemFsSearchTest, SearchMatchesFiltersAndSorts) {
  MemFileSystem fs;
  ASSERT_TRUE(fs.CreateDirectory("C:\\data"));
  for (const char* name : {"FI0020.DAT", "fi0001.dat", "fi0020", "pe0001.dat"})
    ASSERT_TRUE(fs.WriteWholeFile(std::string("C:\\data\\") + name, name)) << name;
  ASSERT_TRUE(fs.CreateDirectory("C:\\data\\fidir"));
  ASSERT_TRUE(fs.WriteWholeFile("C:\\data\\fihid.dat", "h"));
  ASSERT_TRUE(fs.SetHidden("C:\\data\\fihid.dat", true));
  ASSERT_TRUE(fs.SetFileDate("C:\\data\\fi0001.dat", 0x50CF6497));
  std::vector<TSearchRec> found;
  ASSERT_TRUE(fs.FindFiles("C:\\data\\fi*.dat", 0, found));
  EXPECT_EQ(Names(found), (V{"fi0001.dat", "FI0020.DAT"}));
  EXPECT_EQ(found[0].Time, 0x50CF6497);
  EXPECT_EQ(found[0].Size, 10);
  EXPECT_EQ(found[0].Attr, FileAttr::faArchive);
  ASSERT_TRUE(fs.FindFiles("C:\\data\\fi0020.*", 0, found));
  EXPECT_EQ(Names(found), (V{"fi0020", "FI0020.DAT"}));
  ASSERT_TRUE(fs.FindFiles("C:\\data\\fi*", FileAttr::faHidden | FileAttr::faDirectory, found));
  EXPECT_EQ(Names(found), (V{"fi0001.dat", "fi0020", "FI0020.DAT", "fidir", "fihid.dat"}));
  EXPECT_FALSE(fs.FindFiles("C:\\nodir\\*.*", 0, found));
  ASSERT_TRUE(fs.FindDirectories("C:\\data\\", FileAttr::faHidden, found));
  EXPECT_EQ(Names(found), (V{"fidir"})) << "the shared form: folders only";
}

TEST(MemFsSearchTest, SearchOfTheHostRootYieldsOnlyRealEntries) {
  MemFileSystem fs;
  std::vector<TSearchRec> found;
  ASSERT_TRUE(fs.FindFiles("\\*", FileAttr::faDirectory | FileAttr::faHidden, found));
  for (const auto& r : found) EXPECT_FALSE(r.Name.empty());
  EXPECT_EQ(Names(found), (V{"tmp"}));
  EXPECT_FALSE(fs.RemoveDirectory("\\tmp\\..\\nothing"));
  EXPECT_TRUE(fs.RemoveDirectory("\\tmp"));
}

TEST(MemFsSearchTest, RelativePathsFollowTheCurrentDirectory) {
  MemFileSystem fs;
  ASSERT_TRUE(fs.CreateDirectory("C:\\work"));
  ASSERT_TRUE(fs.SetCurrentDir("C:\\work\\"));
  EXPECT_EQ(fs.GetCurrentDir(), "C:\\work");
  ASSERT_TRUE(fs.WriteWholeFile("x.dat", "x"));
  EXPECT_TRUE(fs.FileExists("C:\\work\\x.dat"));
  EXPECT_FALSE(fs.SetCurrentDir("C:\\none"));
  EXPECT_EQ(fs.GetCurrentDir(), "C:\\work");
}

TEST(MemFsTempTest, TempFilesAreNewEmptyFilesWithPrefixAndFourHexDigits) {
  MemFileSystem fs;
  EXPECT_EQ(fs.GetTempDir(), "\\tmp\\");
  std::set<std::string> seen;
  for (int i = 0; i < 20; ++i) {
    std::string path;
    ASSERT_TRUE(fs.CreateTempFile("\\tmp", "FC", path));
    EXPECT_TRUE(IsTempName(path, "\\tmp\\FC")) << path;
    EXPECT_TRUE(seen.insert(path).second) << path;
    EXPECT_EQ(fs.ReadWholeFile(path), "");
  }
  std::string path;
  EXPECT_FALSE(fs.CreateTempFile("C:\\none", "FC", path));
  EXPECT_EQ(fs.LastError().code, OsErrorCode::kPathNotFound);
}

TEST(MemFsHandleTest, HandlesSharingAFileSeeEachOthersWrites) {
  MemFileSystem fs;
  ASSERT_TRUE(fs.WriteWholeFile("C:\\f.dat", "0123456789"));
  auto writer = fs.Open("C:\\f.dat", fmOpenReadWrite | fmShareDenyNone);
  auto reader = fs.Open("C:\\f.dat", fmOpenRead | fmShareDenyNone);
  ASSERT_NE(writer, nullptr);
  ASSERT_NE(reader, nullptr);
  EXPECT_EQ(writer->Seek(0, SeekOrigin::kEnd), 10);
  EXPECT_EQ(writer->Write("AB", 2), 2);
  EXPECT_EQ(reader->Size(), 12);
  char buf[4] = {};
  EXPECT_EQ(reader->Seek(10, SeekOrigin::kBegin), 10);
  EXPECT_EQ(reader->Read(buf, 4), 2);
  EXPECT_EQ(std::string(buf, 2), "AB");
}

TEST(MemFsHandleTest, WritingPastTheEndFillsTheGapWithZeros) {
  MemFileSystem fs;
  auto h = fs.Open("C:\\g.dat", fmCreate);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(h->Seek(4, SeekOrigin::kBegin), 4);
  EXPECT_EQ(h->Write("x", 1), 1);
  h.reset();
  EXPECT_EQ(fs.ReadWholeFile("C:\\g.dat"), std::string("\0\0\0\0x", 5));
}

// --- Power cuts ---------------------------------------------------------------

// Writes `bytes` through a fresh handle, flushing when asked.
void Put(MemFileSystem& fs, const std::string& path, const std::string& bytes, bool flush) {
  auto h = fs.Open(path, fmCreate);
  ASSERT_NE(h, nullptr) << path;
  ASSERT_EQ(h->Write(bytes.data(), static_cast<int64_t>(bytes.size())),
            static_cast<int64_t>(bytes.size()));
  if (flush) {
    ASSERT_TRUE(h->Flush());
  }
}

TEST(MemFsPowerCutTest, OnlyFlushedBytesSurvive) {
  MemFileSystem fs;
  ASSERT_TRUE(fs.WriteWholeFile("C:\\f.dat", "old"));
  {
    auto h = fs.Open("C:\\f.dat", fmOpenReadWrite | fmShareDenyWrite);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(h->Write("NEW", 3), 3);
    ASSERT_TRUE(h->Flush());
    EXPECT_EQ(h->Write("+tail", 5), 5);
    EXPECT_TRUE(h->Truncate(6));
  }
  EXPECT_EQ(fs.ReadWholeFile("C:\\f.dat"), "NEW+ta");
  fs.SimulatePowerCut();
  EXPECT_EQ(fs.ReadWholeFile("C:\\f.dat"), "NEW") << "what the flush saw";

  // Emptying with fmCreate is a change like any other.
  fs.Open("C:\\f.dat", fmCreate).reset();
  EXPECT_EQ(fs.ReadWholeFile("C:\\f.dat"), "");
  fs.SimulatePowerCut();
  EXPECT_EQ(fs.ReadWholeFile("C:\\f.dat"), "NEW");

  // A read-only handle flushes too, as fsync does.
  {
    auto w = fs.Open("C:\\f.dat", fmOpenWrite | fmShareDenyNone);
    ASSERT_EQ(w->Write("r", 1), 1);
  }
  auto r = fs.Open("C:\\f.dat", fmOpenRead | fmShareDenyNone);
  ASSERT_TRUE(r->Flush());
  fs.SimulatePowerCut();
  EXPECT_EQ(fs.ReadWholeFile("C:\\f.dat"), "rEW");
}

TEST(MemFsPowerCutTest, NamesSurviveOnlyOnceTheirFolderIsSynced) {
  MemFileSystem fs;
  ASSERT_TRUE(fs.CreateDirectory("C:\\d"));
  ASSERT_TRUE(fs.WriteWholeFile("C:\\d\\keep.dat", "keep"));
  ASSERT_TRUE(fs.WriteWholeFile("C:\\d\\gone.dat", "gone"));
  Put(fs, "C:\\d\\new.dat", "new", true);
  Put(fs, "C:\\other.dat", "other", true);
  ASSERT_TRUE(fs.DeleteFile("C:\\d\\gone.dat"));
  ASSERT_TRUE(fs.SyncFolderOf("C:\\other.dat"));
  fs.SimulatePowerCut();
  EXPECT_EQ(fs.AllFiles(), (V{"/C/d/gone.dat", "/C/d/keep.dat", "/C/other.dat"}))
      << "a flushed file without a synced name is lost; an unsynced delete is undone";
  EXPECT_EQ(fs.ReadWholeFile("C:\\d\\gone.dat"), "gone");

  Put(fs, "C:\\d\\new.dat", "new", true);
  ASSERT_TRUE(fs.DeleteFile("C:\\d\\gone.dat"));
  ASSERT_TRUE(fs.SyncFolderOf("C:\\d\\anything"));
  fs.SimulatePowerCut();
  EXPECT_EQ(fs.AllFiles(), (V{"/C/d/keep.dat", "/C/d/new.dat", "/C/other.dat"}));
  EXPECT_EQ(fs.ReadWholeFile("C:\\d\\new.dat"), "new");

  // A synced name with unflushed bytes is there, empty.
  Put(fs, "C:\\d\\empty.dat", "unflushed", false);
  ASSERT_TRUE(fs.SyncFolderOf("C:\\d\\empty.dat"));
  fs.SimulatePowerCut();
  EXPECT_EQ(fs.ReadWholeFile("C:\\d\\empty.dat"), "");
  EXPECT_FALSE(fs.SyncFolderOf("C:\\none\\x.dat"));
  EXPECT_EQ(fs.LastError().code, OsErrorCode::kPathNotFound);
}

TEST(MemFsPowerCutTest, AnUnsyncedRenameIsUndoneAndBytesFollowTheFile) {
  MemFileSystem fs;
  ASSERT_TRUE(fs.WriteWholeFile("C:\\a.zip", "archive v1"));
  ASSERT_TRUE(fs.WriteWholeFile("C:\\b.dat", "b"));
  // Replace a.zip by a flushed temp file (delete, then rename), without a sync.
  Put(fs, "C:\\t.tmp", "archive v2", true);
  ASSERT_TRUE(fs.DeleteFile("C:\\a.zip"));
  ASSERT_TRUE(fs.RenameFile("C:\\t.tmp", "C:\\a.zip"));
  ASSERT_TRUE(fs.RenameFile("C:\\b.dat", "C:\\c.dat"));
  fs.SimulatePowerCut();
  EXPECT_EQ(fs.AllFiles(), (V{"/C/a.zip", "/C/b.dat"}));
  EXPECT_EQ(fs.ReadWholeFile("C:\\a.zip"), "archive v1") << "the replaced file comes back";

  // The same, synced: the new name holds the temp file's bytes.
  Put(fs, "C:\\t.tmp", "archive v2", true);
  ASSERT_TRUE(fs.DeleteFile("C:\\a.zip"));
  ASSERT_TRUE(fs.RenameFile("C:\\t.tmp", "C:\\a.zip"));
  ASSERT_TRUE(fs.SyncFolderOf("C:\\a.zip"));
  fs.SimulatePowerCut();
  EXPECT_EQ(fs.AllFiles(), (V{"/C/a.zip", "/C/b.dat"}));
  EXPECT_EQ(fs.ReadWholeFile("C:\\a.zip"), "archive v2");

  // Bytes flushed under the new name stay with the file when the cut gives it back
  // its old name.
  ASSERT_TRUE(fs.RenameFile("C:\\b.dat", "C:\\moved.dat"));
  {
    auto h = fs.Open("C:\\moved.dat", fmOpenWrite | fmShareExclusive);
    ASSERT_NE(h, nullptr);
    ASSERT_EQ(h->Write("B", 1), 1);
    ASSERT_TRUE(h->Flush());
  }
  fs.SimulatePowerCut();
  EXPECT_EQ(fs.AllFiles(), (V{"/C/a.zip", "/C/b.dat"}));
  EXPECT_EQ(fs.ReadWholeFile("C:\\b.dat"), "B");
}

TEST(MemFsPowerCutTest, AFileMovedBetweenFoldersSyncedOnOneSideOnlyIsInBothAsTwoFiles) {
  MemFileSystem fs;
  ASSERT_TRUE(fs.CreateDirectory("C:\\x"));
  ASSERT_TRUE(fs.CreateDirectory("C:\\y"));
  ASSERT_TRUE(fs.WriteWholeFile("C:\\x\\f.dat", "f"));
  ASSERT_TRUE(fs.RenameFile("C:\\x\\f.dat", "C:\\y\\f.dat"));
  ASSERT_TRUE(fs.SyncFolderOf("C:\\y\\f.dat"));
  fs.SimulatePowerCut();
  EXPECT_EQ(fs.AllFiles(), (V{"/C/x/f.dat", "/C/y/f.dat"}));
  ASSERT_TRUE(fs.WriteWholeFile("C:\\x\\f.dat", "changed"));
  EXPECT_EQ(fs.ReadWholeFile("C:\\y\\f.dat"), "f");
}

TEST(MemFsPowerCutTest, AFileComingBackGetsItsRemovedFolderBack) {
  MemFileSystem fs;
  ASSERT_TRUE(fs.CreateDirectory("C:\\d"));
  ASSERT_TRUE(fs.WriteWholeFile("C:\\d\\f.dat", "f"));
  ASSERT_TRUE(fs.DeleteFile("C:\\d\\f.dat"));
  ASSERT_TRUE(fs.RemoveDirectory("C:\\d"));
  fs.SimulatePowerCut();
  EXPECT_TRUE(fs.DirectoryExists("C:\\d"));
  EXPECT_EQ(fs.ReadWholeFile("C:\\d\\f.dat"), "f");
}

TEST(MemFsPowerCutTest, HandlesOpenAtTheCutAreStaleAndBindNothing) {
  MemFileSystem fs;
  ASSERT_TRUE(fs.WriteWholeFile("C:\\f.dat", "0123"));
  auto h = fs.Open("C:\\f.dat", fmOpenReadWrite | fmShareExclusive);
  ASSERT_NE(h, nullptr);
  fs.SimulatePowerCut();
  char buf[4];
  EXPECT_EQ(h->Read(buf, 4), -1);
  EXPECT_EQ(h->LastError().code, OsErrorCode::kInvalidHandle);
  EXPECT_EQ(h->Write("x", 1), -1);
  EXPECT_EQ(h->Seek(0, SeekOrigin::kBegin), -1);
  EXPECT_FALSE(h->Truncate(0));
  EXPECT_FALSE(h->Flush());
  EXPECT_EQ(h->Size(), -1);
  auto again = fs.Open("C:\\f.dat", fmOpenReadWrite | fmShareExclusive);
  ASSERT_NE(again, nullptr) << "the stale handle's sharing is gone";
  h.reset();
  EXPECT_EQ(fs.Open("C:\\f.dat", fmOpenRead | fmShareDenyNone), nullptr)
      << "destroying the stale handle leaves the new one's sharing in force";
  again.reset();
  EXPECT_TRUE(fs.DeleteFile("C:\\f.dat"));
}

TEST(MemFsPowerCutTest, MarkAllDurableKeepsEverythingPresent) {
  MemFileSystem fs;
  Put(fs, "C:\\a.dat", "a", false);
  Put(fs, "C:\\b.dat", "b", false);
  fs.MarkAllDurable();
  ASSERT_TRUE(fs.DeleteFile("C:\\b.dat"));
  fs.SimulatePowerCut();
  EXPECT_EQ(fs.AllFiles(), (V{"/C/a.dat", "/C/b.dat"}));
  EXPECT_EQ(fs.ReadWholeFile("C:\\a.dat"), "a");
  EXPECT_EQ(fs.ReadWholeFile("C:\\b.dat"), "b");
}

}  // namespace
}  // namespace zw::test

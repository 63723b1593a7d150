// Multi-volume archives: naming and size tables, split sets checked by layout and by
// outside readers, spanned disks with the prompts of a scripted user (written, then
// tested and extracted disk by disk), cancellation, the disk-full check, detection
// of existing sets and additions to them.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <memory>

#include "ArchiverState.h"
#include "Corpus.h"
#include "DirManager.h"
#include "FaultFileSystem.h"
#include "LinuxFileSystem.h"
#include "MemFileSystem.h"
#include "Restore.h"
#include "VolumeSupport.h"
#include "Volumes.h"
#include "ZWExcept.h"
#include "ZipWriter.h"

namespace zw::test {
namespace {

namespace fs = std::filesystem;

int NativeErrorOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const EZWException& e) {
    return e.NativeError();
  }
  return 0;
}

std::unique_ptr<TZipWriter> NewWriter(FileSystem& files, UserInterface* ui = nullptr) {
  auto zip = std::make_unique<TZipWriter>();
  zip->SetFileSystem(&files);
  if (ui) zip->SetUserInterface(ui);
  zip->Options().Recurse = false;
  zip->Options().StorePath = spNoPath;
  return zip;
}

std::vector<std::string> SortedFiles(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& f : fs::directory_iterator(folder))
    names.push_back(f.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

// ---------------------------------------------------------------------------
// Tables.

struct NamingCase {
  TZWSpanningMode mode;
  bool advanced;
  std::string stub;
  std::string name;
  int32_t volume;
  std::string expected;
};

TEST(VolumeNames, FollowTheNamingTable) {
  const NamingCase cases[] = {
      {smSplitting, false, "", "C:\\b\\Backup.zip", 0, "C:\\b\\Backup.z01"},
      {smSplitting, false, "", "C:\\b\\Backup.zip", 1, "C:\\b\\Backup.z02"},
      {smSplitting, false, "", "C:\\b\\Backup.zip", 11, "C:\\b\\Backup.z12"},
      {smSplitting, false, "", "C:\\b\\Backup.zip", 99, "C:\\b\\Backup.z100"},
      {smSplitting, false, "", "C:\\b\\BACKUP.ZIP", 2, "C:\\b\\BACKUP.Z03"},
      {smSplitting, false, "", "C:\\b\\Backup", 0, "C:\\b\\Backup.Z01"},
      {smSplitting, false, "", "C:\\b\\Backup.zip", -1, "C:\\b\\Backup.zip"},
      {smSplitting, true, "", "C:\\b\\Backup.zip", 0, "C:\\b\\Backup_001.zip"},
      {smSplitting, true, "", "C:\\b\\Backup.zip", 2, "C:\\b\\Backup_003.zip"},
      {smSplitting, true, "", "C:\\b\\Backup.zip", -1, "C:\\b\\Backup.zip"},
      {smSplitting, true, "C:\\stub.bin", "C:\\b\\Backup.zip", 0, "C:\\b\\Backup.exe"},
      {smSplitting, true, "C:\\stub.bin", "C:\\b\\Backup.zip", 1, "C:\\b\\Backup_002.zip"},
      {smSplitting, false, "C:\\stub.bin", "C:\\b\\Backup.zip", 1, "C:\\b\\Backup.Z02"},
      {smSplitting, true, "C:\\stub.bin", "C:\\b\\Backup.zip", -1, "C:\\b\\Backup.ZIP"},
      {smSpanning, false, "", "A:\\Backup.zip", 0, "A:\\Backup.zip"},
      {smSpanning, false, "", "A:\\Backup.zip", 4, "A:\\Backup.zip"},
      {smSpanning, true, "", "A:\\Backup.zip", 4, "A:\\Backup_005.zip"},
      {smSpanning, true, "C:\\stub.bin", "A:\\Backup.zip", 0, "A:\\Backup_001.exe"},
      {smSpanning, true, "", "A:\\Backup.zip", -1, "A:\\Backup.zip"},
      {smNone, true, "", "C:\\Backup.zip", 3, "C:\\Backup.zip"},
  };
  MemFileSystem mem;
  for (const NamingCase& c : cases) {
    TZipWriter zip;
    zip.SetFileSystem(&mem);
    zip.SetSpanningMode(c.mode);
    zip.SpanningOptions().AdvancedNaming = c.advanced;
    zip.SetSFXStub(c.stub);
    EXPECT_EQ(GetVolumeFileName(VolumeContextOf(zip), c.name, c.volume, false), c.expected)
        << c.name << " volume " << c.volume << " advanced " << c.advanced;
  }
}

TEST(VolumeNames, CheckFallsBackToTheOtherSpannedName) {
  MemFileSystem mem;
  mem.WriteWholeFile("A:\\Backup.zip", "x");
  TZipWriter zip;
  zip.SetFileSystem(&mem);
  zip.SetSpanningMode(smSpanning);
  EXPECT_EQ(GetVolumeFileName(VolumeContextOf(zip), "A:\\Backup.zip", 2, true), "A:\\Backup.zip");
  EXPECT_EQ(GetVolumeFileName(VolumeContextOf(zip), "A:\\Backup.zip", 2, false),
            "A:\\Backup_003.zip");
  zip.SpanningOptions().AdvancedNaming = false;
  mem.DeleteFile("A:\\Backup.zip");
  EXPECT_EQ(GetVolumeFileName(VolumeContextOf(zip), "A:\\Backup.zip", 2, true),
            "A:\\Backup.zip");  // neither exists
}

TEST(VolumeSizes, FollowTheSizeTable) {
  const std::pair<TZWVolumeSize, int64_t> table[] = {
      {vsAutoDetect, -1},   {vs1_44MB, 1457664},  {vs100MB, 104857600}, {vs200MB, 209715200},
      {vs250MB, 262144000}, {vs600MB, 629145600}, {vs650MB, 681574400}, {vs700MB, 734003200},
  };
  TZipWriter zip;
  TZWVolumeNumberInfo second;
  second.SetVolumeNumber(1);
  for (const auto& [size, bytes] : table) {
    zip.SpanningOptions().VolumeSize = size;
    EXPECT_EQ(GetVolumeSizeLimit(ArchiverAccess::S(zip), second), bytes) << int(size);
  }
  zip.SpanningOptions().VolumeSize = vsCustom;
  EXPECT_EQ(GetVolumeSizeLimit(ArchiverAccess::S(zip), second),
            0);  // the default is stored unchecked
  zip.SpanningOptions().SetCustomVolumeSize(1000);
  EXPECT_EQ(GetVolumeSizeLimit(ArchiverAccess::S(zip), second), 65536);
  zip.SpanningOptions().SetCustomVolumeSize(200000);
  EXPECT_EQ(GetVolumeSizeLimit(ArchiverAccess::S(zip), second), 200000);

  TZWVolumeNumberInfo first;
  first.SetFirst(true);
  for (int64_t firstSize : {int64_t{0}, int64_t{-5}}) {
    zip.SpanningOptions().FirstVolumeSize = firstSize;
    EXPECT_EQ(GetVolumeSizeLimit(ArchiverAccess::S(zip), first), 200000) << firstSize;
  }
  zip.SpanningOptions().FirstVolumeSize = 70000;
  EXPECT_EQ(GetVolumeSizeLimit(ArchiverAccess::S(zip), first), 70000);
  EXPECT_EQ(GetVolumeSizeLimit(ArchiverAccess::S(zip), second), 200000);
}

TEST(VolumeNumberInfo, KindsAndSameVolume) {
  TZWVolumeNumberInfo a, b;
  EXPECT_EQ(a.VolumeKind, TZWVolumeNumberInfo::vkUnknown);
  EXPECT_EQ(a.VolumeNumber, -1);
  a.SetLast(true);
  EXPECT_TRUE(a.IsLast());
  EXPECT_FALSE(b.SameVolume(a));
  b.SetLast(true);
  EXPECT_TRUE(a.SameVolume(b));
  a.LastVolumeNumber = 3;
  a.SetVolumeNumber(3);
  EXPECT_TRUE(a.IsLast());
  a.SetVolumeNumber(2);
  EXPECT_FALSE(a.IsLast());
  b.Reset();
  b.SetVolumeNumber(2);
  EXPECT_TRUE(a.SameVolume(b));
  b.SetFirst(true);
  EXPECT_TRUE(b.IsFirst());
  EXPECT_FALSE(a.SameVolume(b));
}

// ---------------------------------------------------------------------------
// Split sets on the real file system.

class SplitOnDisk : public ::testing::Test {
 protected:
  SplitOnDisk() {
    data = dir / "data";
    fs::create_directories(data);
    // Random data, which deflate cannot shrink, crosses volume boundaries; text
    // compresses. Info-ZIP's merge (zip -s 0) damages stored entries that cross a
    // split, and entries in sets split at exactly 64 KiB, also in sets it made itself:
    // the entries here are deflated and the volumes 70,000 bytes.
    WriteHostFile(data + "/a.bin", RandomData(150000, 1));
    WriteHostFile(data + "/b.txt", std::string(90000, 'b'));
    WriteHostFile(data + "/c.bin", RandomData(70000, 2));
    out = dir / "out";
    fs::create_directories(out);
  }
  std::unique_ptr<TZipWriter> Writer(bool advanced, int64_t volumeSize) {
    auto zip = NewWriter(linux);
    zip->SetSpanningMode(smSplitting);
    zip->SpanningOptions().AdvancedNaming = advanced;
    zip->SpanningOptions().VolumeSize = vsCustom;
    zip->SpanningOptions().SetCustomVolumeSize(volumeSize);
    zip->SetFileName(out + "/a.zip");
    return zip;
  }
  VolumeSet Volumes(const std::vector<std::string>& names) {
    VolumeSet set;
    for (const std::string& n : names) set.push_back(ReadHostFile(out + "/" + n));
    return set;
  }
  TempDir dir;
  std::string data, out;
  LinuxFileSystem linux;
};

TEST_F(SplitOnDisk, ClassicNamesAreReadBySevenZipAndInfoZip) {
  auto zip = Writer(false, 70000);
  zip->OpenArchiveFile();
  zip->AddFilesByMask(data + "/*", 0x2F, "");
  zip->CloseArchiveFile();
  std::vector<std::string> names = SortedFiles(out);
  ASSERT_EQ(names, (std::vector<std::string>{"a.z01", "a.z02", "a.z03", "a.zip"}));
  VolumeSet set = Volumes(names);
  for (size_t i = 0; i + 1 < set.size(); ++i) EXPECT_EQ(set[i].size(), 70000u) << i;
  std::vector<LayoutEntry> entries;
  EXPECT_EQ(CheckLayout(set, &entries), "");
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_NE(entries[0].disk, entries[2].disk);            // entries lie on different volumes
  EXPECT_EQ(set[0].substr(0, 4), std::string("PK\3\4"));  // no split marker written
  EXPECT_EQ(SevenZipTest(out + "/a.zip"), "");
  EXPECT_EQ(InfoZipMergeTest(set), "");
}

TEST_F(SplitOnDisk, NumberedNamesHoldTheSameSet) {
  auto zip = Writer(true, 70000);
  zip->OpenArchiveFile();
  zip->AddFilesByMask(data + "/*", 0x2F, "");
  zip->CloseArchiveFile();
  std::vector<std::string> names = SortedFiles(out);
  ASSERT_EQ(names, (std::vector<std::string>{"a.zip", "a_001.zip", "a_002.zip", "a_003.zip"}));
  VolumeSet set = Volumes({"a_001.zip", "a_002.zip", "a_003.zip", "a.zip"});
  EXPECT_EQ(CheckLayout(set), "");
  // 7-Zip knows only base.z01 ... for the volumes before base.zip: in place it misses
  // them; the same bytes under those names pass.
  EXPECT_NE(SevenZipTest(out + "/a.zip").find("Missing volume"), std::string::npos);
  EXPECT_EQ(SevenZipTestSet(set), "");
  EXPECT_EQ(InfoZipMergeTest(set), "");
}

TEST_F(SplitOnDisk, FirstVolumeSizeAppliesToTheFirstVolumeOnly) {
  auto zip = Writer(false, 70000);
  zip->SpanningOptions().FirstVolumeSize = 100000;
  zip->OpenArchiveFile();
  zip->AddFilesByMask(data + "/*", 0x2F, "");
  zip->CloseArchiveFile();
  std::vector<std::string> names = SortedFiles(out);
  ASSERT_EQ(names.front(), "a.z01");  // sorted: a.z01 ... a.zNN, a.zip
  VolumeSet set = Volumes(names);
  EXPECT_EQ(set[0].size(), 100000u);
  EXPECT_EQ(set[1].size(), 70000u);
  EXPECT_LE(set.back().size(), 70000u);
  EXPECT_EQ(CheckLayout(set), "");
  EXPECT_EQ(SevenZipTest(out + "/a.zip"), "");
}

TEST_F(SplitOnDisk, ExistingSetIsDetectedAndTakesAdditionsInOneBatch) {
  for (bool advanced : {false, true}) {
    SCOPED_TRACE(advanced ? "numbered names" : "classic names");
    fs::remove_all(out);
    fs::create_directories(out);
    auto zip = Writer(advanced, 70000);
    zip->OpenArchiveFile();
    zip->AddFilesByMask(data + "/a.bin", 0x2F, "");
    zip->CloseArchiveFile();

    // A writer with the default options finds the set and its naming by itself.
    auto again = NewWriter(linux);
    again->SpanningOptions().VolumeSize = vsCustom;
    again->SpanningOptions().SetCustomVolumeSize(70000);
    again->SetFileName(out + "/a.zip");
    again->OpenArchiveFile();
    EXPECT_EQ(again->SpanningMode(), smSplitting);
    EXPECT_EQ(again->SpanningOptions().AdvancedNaming, advanced);
    EXPECT_EQ(again->DirManager()->WorkingDirectory.Count(), 1);
    EXPECT_EQ(NativeErrorOf([&] { again->AddFilesByMask(data + "/b.txt", 0x2F, ""); }), 52);

    again->BeginUpdate();
    again->AddFilesByMask(data + "/b.txt", 0x2F, "");
    again->AddFilesByMask(data + "/c.bin", 0x2F, "");
    again->EndUpdate();
    again->CloseArchiveFile();

    std::vector<std::string> names = SortedFiles(out);
    VolumeSet set;
    if (advanced) {
      ASSERT_EQ(names.size(), 4u);
      set = Volumes({"a_001.zip", "a_002.zip", "a_003.zip", "a.zip"});
      EXPECT_EQ(SevenZipTestSet(set), "");
    } else {
      ASSERT_EQ(names, (std::vector<std::string>{"a.z01", "a.z02", "a.z03", "a.zip"}));
      set = Volumes(names);
      EXPECT_EQ(SevenZipTest(out + "/a.zip"), "");
    }
    std::vector<LayoutEntry> entries;
    EXPECT_EQ(CheckLayout(set, &entries), "");
    EXPECT_EQ(entries.size(), 3u);
    EXPECT_EQ(InfoZipMergeTest(set), "");
  }
}

TEST_F(SplitOnDisk, RefusedOrAbortedChangesLeaveTheSetAsItWas) {
  auto zip = Writer(false, 70000);
  zip->OpenArchiveFile();
  zip->AddFilesByMask(data + "/a.bin", 0x2F, "");
  zip->CloseArchiveFile();
  std::vector<std::string> names = SortedFiles(out);
  VolumeSet before = Volumes(names);

  auto again = NewWriter(linux);
  again->SetFileName(out + "/a.zip");
  again->SpanningOptions().VolumeSize = vsCustom;
  again->SpanningOptions().SetCustomVolumeSize(70000);
  // A replacement would rewrite stored entries: refused before anything is touched.
  again->BeginUpdate();
  again->AddFilesByMask(data + "/a.bin", 0x2F, "");
  EXPECT_EQ(NativeErrorOf([&] { again->EndUpdate(); }), 52);
  EXPECT_EQ(SortedFiles(out), names);
  EXPECT_EQ(Volumes(names), before);

  // An abort after new data reached new volumes puts every volume back.
  WriteHostFile(data + "/d.bin", RandomData(100000, 4));
  int failures = 0;
  again->OnProcessFileFailure = [&](TZWBaseArchiver*, const std::string&, TZWProcessOperation,
                                    int32_t, int32_t, const std::string&, TZWAction& action) {
    ++failures;
    action = fxaAbort;
  };
  again->OnFileProgress = [&](TZWBaseArchiver*, const std::string& name, double,
                              TZWProcessOperation, TZWProgressPhase phase, bool&) {
    if (name.find("d.bin") != std::string::npos && phase == ppStart)
      fs::remove(data + "/d.bin");  // vanishes once c.bin has been written
  };
  again->BeginUpdate();
  again->AddFilesByMask(data + "/c.bin", 0x2F, "");
  again->AddFilesByMask(data + "/d.bin", 0x2F, "");
  again->EndUpdate();
  EXPECT_EQ(failures, 1);
  again->CloseArchiveFile();
  EXPECT_EQ(SortedFiles(out), names);
  EXPECT_EQ(Volumes(names), before);
  EXPECT_EQ(SevenZipTest(out + "/a.zip"), "");
}

// Entries go straight to the volumes and their headers are patched in place. Stored
// sizes place the headers: a stored entry ends 10 bytes before the end of the first
// volume, so the next header moves on; another leaves exactly one header's room, which
// a header with data behind it does not take (Info-ZIP's merge mistakes a header that
// ends a volume): the deflated entry's header begins the next volume and is patched
// there after its data filled the ones after it. An entry that fails after reaching new
// volumes goes with them (Ignore), and the set stays sound for Info-ZIP (merged), 7-Zip
// and Python.
TEST_F(SplitOnDisk, HeadersNearAVolumeEndArePatchedWhereTheyLanded) {
  constexpr int64_t kSize = 70000, kHeader = 30 + 5;  // names of 5 characters
  WriteHostFile(data + "/p.bin", RandomData(kSize - kHeader - 10, 5));
  WriteHostFile(data + "/r.bin", RandomData(kSize - 2 * kHeader, 6));
  WriteHostFile(data + "/q.dat", RandomData(150000, 7));
  WriteHostFile(data + "/f.dat", RandomData(3 << 20, 8));
  WriteHostFile(data + "/t.txt", std::string(90000, 't'));
  FaultFileSystem faults(linux);
  auto zip = Writer(false, kSize);
  zip->SetFileSystem(&faults);
  zip->SetNoCompressionMasks({"*.bin"});
  zip->SetThreads(1);  // each chunk written before the next one is read
  int failures = 0;
  zip->OnProcessFileFailure = [&](TZWBaseArchiver*, const std::string&, TZWProcessOperation,
                                  int32_t, int32_t, const std::string&, TZWAction& action) {
    ++failures;
    action = fxaIgnore;
  };
  // f.dat's fourth chunk cannot be read: the ones before already filled new volumes.
  zip->OnFileProgress = [&](TZWBaseArchiver*, const std::string& name, double, TZWProcessOperation,
                            TZWProgressPhase phase, bool&) {
    if (name.find("f.dat") != std::string::npos && phase == ppStart)
      faults.FailNth(FaultOp::kRead, faults.Count(FaultOp::kRead) + 4);
  };
  zip->OpenArchiveFile();
  zip->BeginUpdate();
  for (const char* name : {"p.bin", "r.bin", "q.dat", "f.dat", "t.txt"})
    zip->AddFilesByMask(data + "/" + name, 0x2F, "");
  zip->EndUpdate();
  zip->CloseArchiveFile();
  EXPECT_EQ(failures, 1);

  std::vector<std::string> names = SortedFiles(out);
  VolumeSet set = Volumes(names);
  std::vector<LayoutEntry> entries;
  ASSERT_EQ(CheckLayout(set, &entries), "");
  ASSERT_EQ(entries.size(), 4u);
  EXPECT_EQ(set[0].size(), static_cast<size_t>(kSize - 10));
  EXPECT_EQ(entries[1].disk, 1u);  // r.bin: its header did not fit the first volume
  EXPECT_EQ(entries[1].offset, 0u);
  EXPECT_EQ(entries[2].disk, 2u);  // q.dat: its header and first byte did not fit the second
  EXPECT_EQ(entries[2].offset, 0u);
  EXPECT_EQ(set[1].size(), static_cast<size_t>(kSize - kHeader));
  EXPECT_GT(entries[3].disk, entries[2].disk + 1);  // t.txt, after q.dat's volumes
  EXPECT_GT(faults.BytesWrittenByFile().size(), set.size() + 4)
      << "the failed entry should have reached new volumes";
  EXPECT_EQ(set.size(), 5u) << "the failed entry's volumes should be gone";
  EXPECT_EQ(SevenZipTest(out + "/a.zip"), "");
  TempDir merged;
  std::string output;
  std::string joined = merged / "joined.zip";
  ASSERT_EQ(RunCommand("zip -s 0 " + ShellQuote(out + "/a.zip") + " --out " + ShellQuote(joined) +
                           " </dev/null",
                       &output),
            0)
      << output;
  EXPECT_EQ(RunCommand("unzip -tq " + ShellQuote(joined), &output), 0) << output;
  EXPECT_EQ(RunCommand("python3 -c 'import sys, zipfile; z = zipfile.ZipFile(sys.argv[1]); "
                       "sys.exit(z.testzip() is not None or len(z.namelist()) != 4)' " +
                           ShellQuote(joined),
                       &output),
            0)
      << output;
}

TEST_F(SplitOnDisk, SingleFileArchiveIsNotTakenForASet) {
  auto zip = NewWriter(linux);
  zip->SetFileName(out + "/one.zip");
  zip->OpenArchiveFile();
  zip->AddFilesByMask(data + "/b.txt", 0x2F, "");
  zip->CloseArchiveFile();
  zip->OpenArchiveFile();  // end record found, number of this disk 0
  EXPECT_EQ(zip->SpanningMode(), smNone);
  EXPECT_EQ(zip->DirManager()->WorkingDirectory.Count(), 1);
}

TEST_F(SplitOnDisk, UnknownFreeSpaceSetsNoBoundButTheSizeLimitStillDoes) {
  FaultFileSystem unknown(linux);
  unknown.SetFreeSpace(-1);
  auto zip = Writer(true, 70000);
  zip->SetFileSystem(&unknown);
  zip->OpenArchiveFile();
  zip->AddFilesByMask(data + "/*", 0x2F, "");
  zip->CloseArchiveFile();
  EXPECT_EQ(SortedFiles(out).size(), 4u);

  fs::remove_all(out);
  fs::create_directories(out);
  zip->SpanningOptions().VolumeSize = vsAutoDetect;
  zip->OpenArchiveFile();
  zip->AddFilesByMask(data + "/*", 0x2F, "");
  zip->CloseArchiveFile();
  EXPECT_EQ(SortedFiles(out), std::vector<std::string>{"a.zip"});
  EXPECT_EQ(CheckLayout({ReadHostFile(out + "/a.zip")}), "");
}

TEST(CorpusSplitSets, OpenThroughDetectionAndTakeAnAddition) {
  ZW_SKIP_WITHOUT_CORPUS();
  std::string corpus = CorpusDir();
  for (std::string base :
       {"commons-split_zip_created_by_zip", "commons-split_zip_created_by_zip_zip64"}) {
    SCOPED_TRACE(base);
    TempDir dir;
    for (std::string ext : {".z01", ".z02", ".zip"}) {
      fs::copy_file(corpus + base + ext, dir / ("set" + ext));
      fs::permissions(dir / ("set" + ext), fs::perms::owner_read | fs::perms::owner_write);
    }
    LinuxFileSystem linux;
    auto zip = NewWriter(linux);
    zip->SetFileName(dir / "set.zip");
    zip->OpenArchiveFile();
    EXPECT_EQ(zip->SpanningMode(), smSplitting);
    EXPECT_FALSE(zip->SpanningOptions().AdvancedNaming);
    EXPECT_EQ(zip->DirManager()->WorkingDirectory.Count(), 272);
    dir.Write("added.txt", "added to a set made by another tool");
    zip->BeginUpdate();
    zip->AddFilesByMask(dir / "added.txt", 0x2F, "");
    zip->EndUpdate();
    zip->CloseArchiveFile();
    EXPECT_EQ(SevenZipTest(dir / "set.zip"), "");
    VolumeSet set;
    for (std::string ext : {".z01", ".z02", ".zip"})
      set.push_back(ReadHostFile(dir / ("set" + ext)));
    EXPECT_EQ(set[0].substr(0, 4), std::string("PK\7\10"));  // their marker stays
    std::vector<LayoutEntry> entries;
    EXPECT_EQ(CheckLayout(set, &entries), "");
    EXPECT_EQ(entries.size(), 273u);
    EXPECT_EQ(InfoZipMergeTest(set), "");
  }
}

// ---------------------------------------------------------------------------
// Spanned disks in drive A: of the in-memory file system.

class SpannedDisks : public ::testing::Test {
 protected:
  void Run(const std::vector<std::string>& answers, bool advanced, int64_t diskSize) {
    std::string answerFile = answersDir.Write("answers.txt", Join(answers));
    ui = std::make_unique<DiskSwappingUi>(
        answerFile, &transcript,
        [this, diskSize](int disk) {
          // Each disk inserted is a fresh one; the sizes of the first ones may be chosen.
          std::string folder = "/disk" + std::to_string(disks.size() + 1);
          int64_t size = disks.size() < firstSizes.size() ? firstSizes[disks.size()] : diskSize;
          mem.MapDrive('A', folder);
          mem.SetCapacity("A:\\", size);
          disks.push_back(folder);
          asked.push_back(disk);
        },
        [this](int disk) {
          // A written disk goes back into the drive: 0 stands for the last one.
          if (disk >= 0 && static_cast<size_t>(disk) <= disks.size())
            mem.MapDrive('A', disk == 0 ? disks.back() : disks[static_cast<size_t>(disk) - 1]);
        });
    mem.CreateDirectory("C:\\data");
    ASSERT_TRUE(mem.WriteWholeFile("C:\\data\\a.bin", RandomData(150000, 7)));
    mem.WriteWholeFile("C:\\data\\b.bin", RandomData(120000, 8));
    zip = NewWriter(labels, ui.get());
    zip->SetSpanningMode(smSpanning);
    zip->SpanningOptions().AdvancedNaming = advanced;
    zip->SetFileName("A:\\a.zip");
    zip->OpenArchiveFile();
    zip->AddFilesByMask("C:\\data\\*.bin", 0x2F, "");
  }
  static std::string Join(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& l : lines) text += l + "\n";
    return text;
  }
  // Files of every disk, as host paths.
  std::vector<std::string> DiskFiles() {
    std::vector<std::string> out;
    for (const std::string& f : mem.AllFiles())
      if (f.rfind("/disk", 0) == 0) out.push_back(f);
    return out;
  }
  MemFileSystem mem;
  LabelRecordingFileSystem labels{mem};
  TempDir answersDir;
  std::ostringstream transcript;
  std::unique_ptr<DiskSwappingUi> ui;
  std::unique_ptr<TZipWriter> zip;
  std::vector<std::string> disks;
  std::vector<int64_t> firstSizes;
  std::vector<int> asked;
};

TEST_F(SpannedDisks, EachDiskIsAskedForLabelledAndFilledToItsFreeSpace) {
  Run({"OK", "OK", "OK", "OK", "OK"}, true, 100000);
  zip->CloseArchiveFile();
  ASSERT_EQ(disks.size(), 3u);
  EXPECT_EQ(Questions(transcript.str()),
            (std::vector<std::string>{"Please insert a blank disk #1 -> OK",
                                      "Please insert a blank disk #2 -> OK",
                                      "Please insert a blank disk #3 -> OK"}));
  EXPECT_EQ(labels.labels,
            (std::vector<std::string>{"A:\\=pkback# 001", "A:\\=pkback# 002", "A:\\=pkback# 003"}));
  EXPECT_EQ(DiskFiles(),
            (std::vector<std::string>{"/disk1/a_001.zip", "/disk2/a_002.zip", "/disk3/a.zip"}));
  VolumeSet set;
  for (const std::string& f : DiskFiles()) set.push_back(*mem.ReadWholeFile(f));
  // vsAutoDetect: a disk is full when no further byte fits (a local header that does
  // not fit whole starts the next disk).
  EXPECT_GT(set[0].size(), 100000u - 100u);
  EXPECT_GT(set[1].size(), 100000u - 100u);
  EXPECT_EQ(CheckLayout(set), "");
  EXPECT_EQ(SevenZipTestSet(set), "");
  EXPECT_EQ(InfoZipMergeTest(set), "");
}

TEST_F(SpannedDisks, PlainNamesPutTheArchiveNameOnEveryDisk) {
  Run({"OK", "OK", "OK"}, false, 100000);
  zip->CloseArchiveFile();
  EXPECT_EQ(DiskFiles(),
            (std::vector<std::string>{"/disk1/a.zip", "/disk2/a.zip", "/disk3/a.zip"}));
  VolumeSet set;
  for (const std::string& f : DiskFiles()) set.push_back(*mem.ReadWholeFile(f));
  EXPECT_EQ(CheckLayout(set), "");
  EXPECT_EQ(SevenZipTestSet(set), "");
}

TEST_F(SpannedDisks, WrittenSetIsTestedAndExtractedDiskByDisk) {
  mem.CreateDirectory("C:\\data");
  std::string text;
  for (int line = 0; line < 3000; ++line) text += "line " + std::to_string(line) + " of c\n";
  mem.WriteWholeFile("C:\\data\\c.bin", text);  // deflates, unlike the random a and b
  Run(std::vector<std::string>(40, "OK"), false, 100000);
  zip->CloseArchiveFile();
  ASSERT_EQ(disks.size(), 3u);

  // The last disk is still in the drive; every other one is asked for by number.
  zip->OpenArchiveFile();
  ASSERT_EQ(zip->DirManager()->WorkingDirectory.Count(), 3);
  TZWRestorer restorer(*zip);
  std::vector<std::string> notes;
  restorer.OnNote = [&](const TZWRestoreNote& n) { notes.push_back(n.Name + ": " + n.Text); };
  TZWRestoreTotals tested = restorer.Test();
  EXPECT_EQ(tested.Selected, 3);
  EXPECT_EQ(tested.Passed, 3);
  EXPECT_TRUE(tested.AllPassed());

  mem.CreateDirectory("C:\\out");
  TZWRestoreTotals extracted = restorer.Extract("C:\\out");
  EXPECT_EQ(extracted.Passed, 3);
  EXPECT_TRUE(extracted.AllPassed());
  EXPECT_EQ(notes, std::vector<std::string>{});
  // Each run asks for the disks in order, each once, from the first to the last.
  std::vector<std::string> inOrder = {"Please insert the first disk -> OK",
                                      "Please insert disk #2 -> OK",
                                      "Please insert the last disk -> OK"};
  std::vector<std::string> expected = {"Please insert a blank disk #1 -> OK",
                                       "Please insert a blank disk #2 -> OK",
                                       "Please insert a blank disk #3 -> OK"};
  for (int run = 0; run < 2; ++run) expected.insert(expected.end(), inOrder.begin(), inOrder.end());
  EXPECT_EQ(Questions(transcript.str()), expected);
  for (std::string name : {"a.bin", "b.bin", "c.bin"}) {
    auto written = mem.ReadWholeFile("C:\\out\\" + name);
    ASSERT_TRUE(written) << name;
    EXPECT_TRUE(*written == *mem.ReadWholeFile("C:\\data\\" + name)) << name;
  }
  zip->CloseArchiveFile();
}

TEST_F(SpannedDisks, CancelRaises45AndLeavesNoCompleteLookingArchive) {
  EXPECT_EQ(NativeErrorOf([&] { Run({"OK", "Cancel"}, false, 100000); }), 45);
  EXPECT_EQ(Questions(transcript.str()),
            (std::vector<std::string>{"Please insert a blank disk #1 -> OK",
                                      "Please insert a blank disk #2 -> Cancel"}));
  zip->CloseArchiveFile();
  for (const std::string& f : DiskFiles())
    EXPECT_EQ(mem.ReadWholeFile(f)->find(std::string("PK\5\6")), std::string::npos) << f;
  EXPECT_FALSE(mem.FileExists("A:\\a.zip"));
}

TEST_F(SpannedDisks, FullDiskIsReportedAndAnotherOneAsked) {
  firstSizes = {65536};  // the first disk inserted has exactly 65,536 bytes free: too few
  Run({"OK", "OK", "OK", "OK", "OK", "OK"}, true, 140000);
  zip->CloseArchiveFile();
  std::vector<std::string> questions = Questions(transcript.str());
  ASSERT_GE(questions.size(), 4u);
  EXPECT_EQ(questions[0], "Please insert a blank disk #1 -> OK");
  EXPECT_EQ(questions[1],
            "Disk is full. Required free space: 65537 bytes, but available only: 65536 bytes. "
            "Clean the disk or find another blank disk -> OK");
  EXPECT_EQ(questions[2], "Please insert a blank disk #1 -> OK");
  EXPECT_EQ(questions[3], "Please insert a blank disk #2 -> OK");
  EXPECT_EQ(asked, (std::vector<int>{1, 1, 2}));
  EXPECT_TRUE(mem.AllFiles().size() > 0);
  VolumeSet set;
  for (const std::string& f : DiskFiles())
    if (f.rfind("/disk1/", 0) != 0) set.push_back(*mem.ReadWholeFile(f));  // disk 1 stayed empty
  EXPECT_EQ(set.size(), 2u);
  EXPECT_EQ(CheckLayout(set), "");
  EXPECT_EQ(SevenZipTestSet(set), "");
}

// ---------------------------------------------------------------------------
// The disk check when a volume is opened, through the handlers.

TEST(DiskCheck, MoreThan65536FreeBytesAreNeeded) {
  for (int64_t free : {int64_t{65536}, int64_t{65537}}) {
    SCOPED_TRACE(free);
    MemFileSystem mem;
    mem.MapDrive('D', "/d");
    mem.SetCapacity("D:\\", free);
    TZipWriter zip;
    zip.SetFileSystem(&mem);
    zip.SetSpanningMode(smSplitting);
    std::vector<int32_t> blank, full;
    zip.OnRequestBlankVolume = [&](TZWBaseArchiver*, int32_t n, std::string& name, bool&) {
      blank.push_back(n);
      EXPECT_EQ(name, "D:\\a_001.zip");
    };
    zip.OnDiskFull = [&](TZWBaseArchiver*, int32_t n, const std::string&, bool& cancel) {
      full.push_back(n);
      cancel = true;
    };
    zip.SetFileName("D:\\a.zip");
    int code = NativeErrorOf([&] { zip.OpenArchiveFile(); });
    EXPECT_EQ(blank, std::vector<int32_t>{1});  // handlers see 1-based numbers
    if (free == 65536) {
      EXPECT_EQ(code, 45);
      EXPECT_EQ(full, std::vector<int32_t>{1});
      EXPECT_FALSE(zip.IsOpen());
    } else {
      EXPECT_EQ(code, 0);
      EXPECT_TRUE(full.empty());
    }
  }
}

TEST(DiskCheck, SplitDefaultCancelsAtOnceWhenTheDiskIsBelowTheLimit) {
  MemFileSystem mem;
  mem.MapDrive('D', "/d");
  mem.SetCapacity("D:\\", 150000);
  TempDir answers;
  std::ostringstream out;
  ScriptUserInterface ui(answers.Write("a.txt", ""), &out);
  TZipWriter zip;
  zip.SetFileSystem(&mem);
  zip.SetUserInterface(&ui);
  zip.SetSpanningMode(smSplitting);
  zip.SpanningOptions().VolumeSize = vsCustom;
  zip.SpanningOptions().SetCustomVolumeSize(200000);
  zip.SetFileName("D:\\a.zip");
  EXPECT_EQ(NativeErrorOf([&] { zip.OpenArchiveFile(); }), 45);
  EXPECT_EQ(out.str(), "");  // no prompt in split mode
}

TEST(DiskCheck, FullSplitFolderGivesUpTheNewArchiveWhole) {
  MemFileSystem mem;
  mem.MapDrive('D', "/d");
  mem.SetCapacity("D:\\", 150000);
  mem.CreateDirectory("C:\\data");
  mem.WriteWholeFile("C:\\data\\a.bin", RandomData(200000, 5));
  TempDir answers;
  std::ostringstream out;
  ScriptUserInterface ui(answers.Write("a.txt", ""), &out);
  auto zip = NewWriter(mem, &ui);
  zip->SetSpanningMode(smSplitting);
  zip->SetFileName("D:\\a.zip");
  zip->OpenArchiveFile();  // vsAutoDetect: the first volume may fill the folder's disk
  EXPECT_EQ(NativeErrorOf([&] { zip->AddFilesByMask("C:\\data\\*", 0x2F, ""); }), 45);
  EXPECT_FALSE(zip->IsOpen());
  zip->CloseArchiveFile();
  for (const std::string& f : mem.AllFiles()) EXPECT_NE(f.rfind("/d/", 0), 0u) << f;
  EXPECT_EQ(out.str(), "");  // the split default answers without asking
}

// ---------------------------------------------------------------------------
// The command-line tool.

TEST(ZipWriterTool, SplitsWithItsVolumeOptions) {
  TempDir dir;
  dir.Write("in/a.bin", RandomData(200000, 11));
  dir.Write("in/b.txt", std::string(50000, 'x'));
  std::string output;
  std::string command = std::string(ZW_BIN_DIR) + "/zipwriter add " + ShellQuote(dir / "out.zip") +
                        " " + ShellQuote(dir / "in/*") +
                        " --level 0 --spanning split --volume-size 70000 --first-volume-size "
                        "100000 --classic-naming </dev/null";
  ASSERT_EQ(RunCommand(command, &output), 0) << output;
  std::vector<std::string> names = SortedFiles(dir.path());
  EXPECT_EQ(names, (std::vector<std::string>{"in", "out.z01", "out.z02", "out.z03", "out.zip"}));
  EXPECT_EQ(ReadHostFile(dir / "out.z01").size(), 100000u);
  EXPECT_EQ(ReadHostFile(dir / "out.z02").size(), 70000u);
  EXPECT_EQ(SevenZipTest(dir / "out.zip"), "");
  // Another addition to the set goes in one batch by itself.
  dir.Write("more/c.txt", "more");
  ASSERT_EQ(RunCommand(std::string(ZW_BIN_DIR) + "/zipwriter add " + ShellQuote(dir / "out.zip") +
                           " " + ShellQuote(dir / "more/*") + " </dev/null",
                       &output),
            0)
      << output;
  EXPECT_EQ(SevenZipTest(dir / "out.zip"), "");
  RunCommand(std::string(ZW_BIN_DIR) + "/zipwriter list " + ShellQuote(dir / "out.zip"), &output);
  EXPECT_NE(output.find("# entries: 3"), std::string::npos) << output;
}

}  // namespace
}  // namespace zw::test

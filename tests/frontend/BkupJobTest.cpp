// The backup job end to end: archive naming, the data and picture file sets, the
// closing messages, updating an existing archive, and targets that cannot be used.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "BkupHarness.h"
#include "ShareHolderClient.h"
#include "bkup.h"

namespace zw::test {
namespace {

const std::string kProcessing = Line({"label", "Label2", "Processing - Please Wait"});
const std::string kCaption = Line({"caption", "Vessimbrant Backup"});

std::string Notice(const std::string& text) { return Line({"notice", "bkup", text, "OK"}); }

std::vector<std::string> Completed() {
  std::vector<std::string> lines = Opening();
  for (const auto& l : {kProcessing, kCaption, Notice("Backup Complete"), std::string("end")})
    lines.push_back(l);
  return lines;
}

std::vector<std::string> Sorted(std::vector<std::string> v) {
  std::sort(v.begin(), v.end());
  return v;
}

const std::vector<std::string> kVessFiles = {
    "fi0001.dat", "fi0004.dat",  "fi0020.dat",  "fi0001.idx", "fi0020.idx",
    "pe0001.dat", "pe0001.idx",  "sy0001.dat",  "sy0125.dat", "sy0001.idx",
    "sy0125.idx", "arc0001.dat", "arc0001.idx", "vi0001.dat", "vi0001.idx"};

TEST(BkupJobTest, VessSetWithDictionaryAddsElevenSetsInOrder) {
  BkupHarness h;
  h.PutSampleData(true);
  BkupRun run = h.Run({"3", "0", "C:\\church\\data\\", "vess", "vess"});
  EXPECT_EQ(run.transcript, Completed()) << run.errors;
  EXPECT_EQ(run.status, kBkupDone);
  std::string archive = h.C("church/data/vess.zip");
  std::vector<std::string> expected = kVessFiles;
  expected.push_back("vess_rpt.dic");
  EXPECT_EQ(h.Entries(archive), expected);  // set order, names without folders
  EXPECT_TRUE(h.ArchiveTests(archive));
}

TEST(BkupJobTest, VessSetWithoutDictionaryAddsTheTenDataSets) {
  BkupHarness h;
  h.PutSampleData(false);
  BkupRun run = h.Run({"3", "0", "C:\\church\\data\\", "vess", "vess"});
  EXPECT_EQ(run.transcript, Completed());
  EXPECT_EQ(h.Entries(h.C("church/data/vess.zip")), kVessFiles);
}

TEST(BkupJobTest, EntriesAreDeflatedWithoutFoldersAndAsOemNames) {
  BkupHarness h;
  h.PutSampleData(false);
  h.Run({"3", "0", "C:\\church\\data\\", "vess", "vess"});
  std::string out;
  ASSERT_EQ(RunCommand("zipinfo -s '" + h.C("church/data/vess.zip") + "' '*'", &out), 0);
  int entries = 0;
  std::istringstream lines(out);
  for (std::string line; std::getline(lines, line);) {
    ++entries;  // "-rw-a--  2.0 fat  1234 t- defF ... name": deflated, FAT host, no folder
    EXPECT_NE(line.find(" 2.0 fat "), std::string::npos) << line;
    EXPECT_NE(line.find(" def"), std::string::npos) << line;
    EXPECT_EQ(line.find('/'), std::string::npos) << line;
  }
  EXPECT_EQ(entries, 15);
}

TEST(BkupJobTest, UpperCaseVessIsNotTheKeyword) {
  BkupHarness h;
  h.PutSampleData(true);
  h.Put("church/data/VESS", "a file that happens to carry the selector's name");
  BkupRun run = h.Run({"3", "0", "C:\\church\\data\\", "vess", "VESS"});
  EXPECT_EQ(run.transcript, Completed());
  EXPECT_EQ(h.Entries(h.C("church/data/vess.zip")), std::vector<std::string>{"VESS"});
}

TEST(BkupJobTest, ContriSetTakesTwoFamilies) {
  BkupHarness h;
  h.PutSampleData(true);
  h.Run({"3", "0", "C:\\church\\data\\", "Contri", "Contri"});
  EXPECT_EQ(h.Entries(h.C("church/data/Contri.zip")),
            (std::vector<std::string>{"fi0020.dat", "fi0020.idx", "fi0004.dat"}));
}

TEST(BkupJobTest, PicturesOnlyAddsTheThreePictureSets) {
  BkupHarness h;
  h.PutSampleData(true);
  BkupRun run = h.Run({"3", "2", "C:\\church\\data\\", "vess", "vess"});
  EXPECT_EQ(run.transcript, Completed());
  EXPECT_EQ(h.Entries(h.C("church/data/vess.zip")),
            (std::vector<std::string>{"h0001.jpg", "m0001.jpg", "g0001.jpg"}));
}

TEST(BkupJobTest, DataAndPicturesTogether) {
  BkupHarness h;
  h.PutSampleData(false);
  h.Run({"3", "1", "C:\\church\\data\\", "all", "Contri"});
  EXPECT_EQ(h.Entries(h.C("church/data/all.zip")),
            (std::vector<std::string>{"fi0020.dat", "fi0020.idx", "fi0004.dat", "h0001.jpg",
                                      "m0001.jpg", "g0001.jpg"}));
}

TEST(BkupJobTest, ModeOneWritesToDriveA) {
  BkupHarness h;
  h.PutSampleData(false);
  std::string a = h.MapDrive('A', "floppy");
  BkupRun run = h.Run({"1", "0", "C:\\church\\data\\", "WEEK1", "Contri"});
  EXPECT_EQ(run.transcript, Completed()) << run.errors;
  EXPECT_TRUE(h.ArchiveTests(a + "/WEEK1.zip"));
}

TEST(BkupJobTest, MissingDisketteIsReportedInTheUtilitysWords) {
  BkupHarness h;
  h.PutSampleData(false);
  BkupRun run = h.Run({"2", "0", "C:\\church\\data\\", "WEEK1", "Contri"});  // B: not mapped
  std::vector<std::string> expected = Opening();
  for (const auto& l :
       {kProcessing, kCaption, Notice("Error occurred - Check drive for presence of diskette"),
        std::string("end")})
    expected.push_back(l);
  EXPECT_EQ(run.transcript, expected);
}

TEST(BkupJobTest, TargetThatCannotBeCreatedAsksToPressBackupAgain) {
  BkupHarness h;
  h.PutSampleData(false);
  BkupRun run = h.Run({"4", "0", "C:\\church\\data\\", "vess", "vess"}, {"C:\\nowhere\\x.zip"});
  std::vector<std::string> expected = Opening();
  for (const auto& l :
       {Line({"save", "Zip Files (*.zip)|*.zip|All Files (All Files)|*.*", "C:\\church\\data",
              "vess", "", "C:\\nowhere\\x.zip"}),
        kProcessing, kCaption,
        Notice("Error occurred - Cannot create file - Check drive letter or the Write Lock tab on "
               "the diskette"),
        Notice("After correcting the problem press the Backup button again"), std::string("end")})
    expected.push_back(l);
  EXPECT_EQ(run.transcript, expected);
  EXPECT_EQ(run.status, kBkupIncomplete);
}

// A target that is there but takes no writing is reported by that cause: the write
// protection and the read-only attribute with the text naming the Write Lock tab, an
// archive another process holds with the in-use text; the archive stays untouched.
TEST(BkupJobTest, ArchiveThatCannotBeWrittenIsReportedByItsCause) {
  const std::string kCannotCreate = Notice(
      "Error occurred - Cannot create file - Check drive letter or the Write Lock tab on the "
      "diskette");
  const std::string kPressAgain =
      Notice("After correcting the problem press the Backup button again");
  const std::string kInUse = Notice(
      "Error occurred - The Backup - Restore DLL is currently in use by another process - please "
      "try again later");
  auto ending = [](const BkupRun& run) {
    return std::vector<std::string>(
        run.transcript.begin() + std::min<size_t>(4, run.transcript.size()), run.transcript.end());
  };
  BkupHarness h;
  h.PutSampleData(false);
  std::string a = h.MapWriteProtectedDrive('A', "locked");
  ASSERT_FALSE(std::ofstream(a + "/probe").is_open()) << "drive A: could not be write-protected";
  BkupRun run = h.Run({"1", "0", "C:\\church\\data\\", "WEEK1", "Contri"});
  EXPECT_EQ(ending(run), (std::vector<std::string>{kCannotCreate, kPressAgain, "end"}));
  EXPECT_EQ(run.status, kBkupIncomplete);

  std::string archive = h.C("church/data/vess.zip");
  ASSERT_EQ(h.Run({"3", "0", "C:\\church\\data\\", "vess", "Contri"}).status, kBkupDone);
  std::string before = ReadHostFile(archive);
  std::filesystem::permissions(archive, std::filesystem::perms::owner_write,
                               std::filesystem::perm_options::remove);  // read-only attribute
  run = h.Run({"3", "0", "C:\\church\\data\\", "vess", "vess"});
  EXPECT_EQ(ending(run), (std::vector<std::string>{kCannotCreate, kPressAgain, "end"}));
  EXPECT_EQ(run.status, kBkupIncomplete);
  std::filesystem::permissions(archive, std::filesystem::perms::owner_write,
                               std::filesystem::perm_options::add);

  ShareHolderProcess other;  // another run that has the archive open
  ASSERT_TRUE(other.Started());
  ASSERT_EQ(other.Hold(archive, FileMode::fmOpenRead | FileMode::fmShareDenyWrite),
            OsErrorCode::kNone);
  run = h.Run({"3", "0", "C:\\church\\data\\", "vess", "vess"});
  EXPECT_EQ(ending(run), (std::vector<std::string>{kInUse, "end"}));
  EXPECT_EQ(run.status, kBkupIncomplete);
  EXPECT_EQ(ReadHostFile(archive), before);
}

// A file size limit turns the write past it into a full disk for that one file (the
// question whether to abort) instead of a signal that ends the utility without a word.
TEST(BkupJobTest, FileSizeLimitGivesAWriteErrorNotASignal) {
  BkupHarness h;
  h.PutSampleData(false);
  h.Put("church/data/fi0009.dat", RandomBytes(400000, 9));
  h.LimitFileSize(128);  // 64 or 128 KiB, whatever the shell's block
  BkupRun run = h.Run({"3", "0", "C:\\church\\data\\", "vess", "vess"});
  EXPECT_EQ(run.status, kBkupDone) << run.errors;
  ASSERT_GE(run.transcript.size(), 8u);
  EXPECT_EQ(run.transcript[4],
            Notice("Skipping file C:\\CHURCH\\DATA\\FI0009.DAT as it cannot be backed up - "));
  EXPECT_EQ(run.transcript[5],
            Line({"choice", "Error", "Yes,No", "Do you want to abort the backup? ", "No"}));
  EXPECT_EQ(run.transcript[run.transcript.size() - 2], Notice("Backup Complete"));
  EXPECT_TRUE(h.ArchiveTests(h.C("church/data/vess.zip")));
}

TEST(BkupJobTest, CorruptExistingArchiveIsReportedAndLeftAlone) {
  BkupHarness h;
  h.PutSampleData(false);
  h.Put("church/data/vess.zip", "this is not an archive at all");
  BkupRun run = h.Run({"3", "0", "C:\\church\\data\\", "vess", "vess"});
  ASSERT_GE(run.transcript.size(), 6u);
  EXPECT_EQ(
      run.transcript[4],
      Notice("Error occurred - An existing zip file exists and is corrupt.  Delete the existing "
             "zip file and try again"));
  EXPECT_EQ(ReadHostFile(h.C("church/data/vess.zip")), "this is not an archive at all");
}

// A data folder that is not there (missing, or on a drive that is not mapped) is not an
// empty backup: the run says so and no file is made in the target, not even a journal.
TEST(BkupJobTest, MissingDataFolderIsReportedAndWritesNoArchive) {
  BkupHarness h;
  std::filesystem::create_directories(h.C("church"));
  std::string a = h.MapDrive('A', "floppy");
  for (const std::string data : {"C:\\church\\data\\", "Q:\\church\\data\\"}) {
    BkupRun run = h.Run({"1", "0", data, "vess", "vess"});
    std::vector<std::string> expected = Opening();
    for (const auto& l :
         {kProcessing, kCaption,
          Notice("Error occurred - Nothing to do - No data files found in directory " + data),
          std::string("end")})
      expected.push_back(l);
    EXPECT_EQ(run.transcript, expected) << data;
    EXPECT_EQ(run.status, kBkupIncomplete) << data;
    EXPECT_TRUE(std::filesystem::is_empty(a)) << data;
  }
}

TEST(BkupJobTest, NothingMatchingLeavesAnEmptyArchiveAndCompletes) {
  BkupHarness h;
  std::filesystem::create_directories(h.C("church/data"));
  BkupRun run = h.Run({"3", "0", "C:\\church\\data\\", "vess", "vess"});
  EXPECT_EQ(run.transcript, Completed());
  EXPECT_EQ(std::filesystem::file_size(h.C("church/data/vess.zip")), 22u);
}

// Raw bytes of every local record of an archive, keyed by name.
std::string RecordBytes(const std::string& archive, const std::string& name) {
  std::string out;
  std::string script =
      "import zipfile,sys\n"
      "z=zipfile.ZipFile(sys.argv[1]); i=z.getinfo(sys.argv[2]); f=open(sys.argv[1],'rb')\n"
      "f.seek(i.header_offset); h=f.read(30); n=int.from_bytes(h[26:28],'little')\n"
      "e=int.from_bytes(h[28:30],'little'); f.seek(i.header_offset)\n"
      "sys.stdout.write(f.read(30+n+e+i.compress_size).hex())\n";
  RunCommand("python3 -c \"" + script + "\" '" + archive + "' '" + name + "'", &out);
  return out;
}

TEST(BkupJobTest, ExistingArchiveIsUpdatedAndItsOtherEntriesStayByteForByte) {
  BkupHarness h;
  h.PutSampleData(false);
  std::string archive = h.C("church/data/vess.zip");
  ASSERT_EQ(RunCommand("cd '" + h.C("church") +
                       "' && zip -q -X ../keep.zip vess_other.txt "
                       "2>/dev/null; cd '" +
                       h.C() +
                       "' && printf 'keep me\\n' > other.txt && "
                       "zip -q -X '" +
                       archive +
                       "' other.txt && printf 'old\\n' > fi0004.dat && "
                       "zip -q -X '" +
                       archive + "' fi0004.dat"),
            0);
  std::string before = RecordBytes(archive, "other.txt");
  ASSERT_FALSE(before.empty());
  BkupRun run = h.Run({"3", "0", "C:\\church\\data\\", "vess", "Contri"});
  EXPECT_EQ(run.transcript, Completed());
  EXPECT_EQ(Sorted(h.Entries(archive)),
            Sorted({"other.txt", "fi0004.dat", "fi0020.dat", "fi0020.idx"}));
  EXPECT_EQ(RecordBytes(archive, "other.txt"), before);
  EXPECT_TRUE(h.ArchiveTests(archive));
  std::string content;
  RunCommand("unzip -p '" + archive + "' fi0004.dat", &content);
  EXPECT_EQ(content, ReadHostFile(h.C("church/data/fi0004.dat")));  // replaced in place
}

}  // namespace
}  // namespace zw::test

// Start-up and run parameters, end to end: the checks, their messages and order, the
// location dialogs, the error box of a parameter that is not a number, and the exit
// status each of these gives the application that started the utility.
#include <gtest/gtest.h>

#include <filesystem>

#include "BkupHarness.h"
#include "Exceptions.h"
#include "bkup.h"

namespace zw::test {
namespace {

const std::string kProcessing = Line({"label", "Label2", "Processing - Please Wait"});
const std::string kEnd = "end";

std::vector<std::string> Expect(std::vector<std::string> middle, std::vector<std::string> tail) {
  std::vector<std::string> lines = Opening();
  lines.insert(lines.end(), middle.begin(), middle.end());
  lines.insert(lines.end(), tail.begin(), tail.end());
  return lines;
}

std::string Notice(const std::string& text) { return Line({"notice", "bkup", text, "OK"}); }

TEST(BkupRunTest, NoParametersShowTheConversionErrorAndLeaveTheWindowOpen) {
  BkupHarness h;
  BkupRun run = h.Run({});
  EXPECT_EQ(run.status, kBkupError);
  EXPECT_EQ(run.transcript,
            Expect({Line({"error", "bkup", "'' is not a valid integer value.", "OK"})}, {"close"}));
}

TEST(BkupRunTest, PictureOptionThatIsNotANumberStopsBeforeAnyCheck) {
  BkupHarness h;
  BkupRun run = h.Run({"3", "two", "C:\\church\\data\\"});
  EXPECT_EQ(
      run.transcript,
      Expect({Line({"error", "bkup", "'two' is not a valid integer value.", "OK"})}, {"close"}));
}

TEST(BkupRunTest, ModeNineIsRejectedWithTheMessageNamingNine) {
  BkupHarness h;
  h.PutSampleData(false);
  BkupRun run = h.Run({"9", "0", "C:\\church\\data\\", "vess", "vess"});
  EXPECT_EQ(run.transcript,
            Expect({Notice("Parameter 1 must be between 1 and 9 - Process is aborting")},
                   {kProcessing, kEnd}));
  EXPECT_EQ(run.status, kBkupBadParameters);
  EXPECT_FALSE(std::filesystem::exists(h.C("church/data/vess.zip")));
}

TEST(BkupRunTest, SeveralFailedChecksShowTheirMessagesInOrder) {
  BkupHarness h;
  BkupRun run = h.Run({"1", "3", ""});
  EXPECT_EQ(run.transcript,
            Expect({Notice("Parameter 2 must be between 0 and 2 - Process is aborting"),
                    Notice("Parameter 3, Pathname, is empty - Process is aborting")},
                   {kProcessing, kEnd}));
}

TEST(BkupRunTest, ZeroAndNegativeModesAreInvalid) {
  BkupHarness h;
  for (const char* mode : {"0", "-1", "2147483647"}) {
    BkupRun run = h.Run({mode, "0", "C:\\x\\"});
    ASSERT_GE(run.transcript.size(), 3u) << mode;
    EXPECT_EQ(run.transcript[2],
              Notice("Parameter 1 must be between 1 and 9 - Process is aborting"))
        << mode;
  }
}

TEST(BkupRunTest, RestoreModesOnlyShowTheTwoStatusTexts) {
  BkupHarness h;
  h.PutSampleData(false);
  BkupRun run = h.Run({"7", "0", "C:\\church\\data\\", "vess", "vess"});
  EXPECT_EQ(run.transcript, Expect({}, {kProcessing, kEnd}));
  EXPECT_EQ(run.status, kBkupDone);
  EXPECT_FALSE(std::filesystem::exists(h.C("church/data/vess.zip")));
}

TEST(BkupRunTest, SaveDialogCancelledAbortsAfterTheDialogThenChecksTheRest) {
  BkupHarness h;
  BkupRun run = h.Run({"4", "5", "C:\\church\\data\\", "week1"}, {"<cancel>"});
  EXPECT_EQ(run.transcript,
            Expect({Line({"save", "Zip Files (*.zip)|*.zip|All Files (All Files)|*.*",
                          "C:\\church\\data", "week1", "", "<cancel>"}),
                    Notice("aborting backup since cancel was clicked"),
                    Notice("Parameter 2 must be between 0 and 2 - Process is aborting")},
                   {kProcessing, kEnd}));
  EXPECT_EQ(run.status, kBkupBadParameters);
}

TEST(BkupRunTest, OpenDialogOfModeEightProposesVessAndDoesNoWork) {
  BkupHarness h;
  BkupRun run = h.Run({"8", "0", "C:\\church\\data\\"}, {"C:\\church\\data\\old.zip"});
  EXPECT_EQ(run.transcript,
            Expect({Line({"open", "Zip Files (*.zip)|*.zip|All Files (*.*)|*.*", "C:\\church\\data",
                          "Vess", "", "C:\\church\\data\\old.zip"})},
                   {kProcessing, kEnd}));
}

TEST(BkupRunTest, EmptyDataPathGivesAnEmptyInitialFolder) {
  BkupHarness h;
  BkupRun run = h.Run({"4", "0", ""}, {"<cancel>"});
  ASSERT_GE(run.transcript.size(), 3u);
  EXPECT_EQ(run.transcript[2], Line({"save", "Zip Files (*.zip)|*.zip|All Files (All Files)|*.*",
                                     "", "", "", "<cancel>"}));
}

TEST(BkupRunTest, SavedNameIsUpperCasedAndLosesItsZipExtension) {
  BkupHarness h;
  h.PutSampleData(false);
  std::filesystem::create_directories(h.C("Backups"));
  BkupRun run =
      h.Run({"4", "0", "C:\\church\\data\\", "vess", "Contri"}, {"C:\\Backups\\week1.zip"});
  EXPECT_TRUE(std::filesystem::exists(h.C("Backups/WEEK1.zip"))) << run.errors;
  EXPECT_EQ(run.transcript.back(), kEnd);
}

// The user picks the existing "week1.zip"; the utility upper-cases the name, and as on
// Windows that is the same file: it is updated, and no "WEEK1.zip" appears beside it.
TEST(BkupRunTest, SavedNameInAnotherCaseUpdatesTheExistingArchive) {
  BkupHarness h;
  h.PutSampleData(false);
  std::filesystem::create_directories(h.C("Backups"));
  std::vector<std::string> args{"4", "0", "C:\\church\\data\\", "vess", "Contri"};
  BkupRun run = h.Run(args, {"C:\\Backups\\week1.zip"});
  ASSERT_EQ(run.status, kBkupDone) << run.errors;
  std::filesystem::rename(h.C("Backups/WEEK1.zip"), h.C("Backups/week1.zip"));
  std::string before = ReadHostFile(h.C("Backups/week1.zip"));
  h.Put("church/data/fi0020.dat", "contributions of a later week\r\n");

  run = h.Run(args, {"C:\\Backups\\week1.zip"});
  EXPECT_EQ(run.status, kBkupDone) << run.errors;
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(h.C("Backups")))
    names.push_back(e.path().filename().string());
  EXPECT_EQ(names, std::vector<std::string>{"week1.zip"});
  EXPECT_NE(ReadHostFile(h.C("Backups/week1.zip")), before);
  EXPECT_TRUE(h.ArchiveTests(h.C("Backups/week1.zip")));
}

TEST(BkupRunTest, OnlyTheFirstZipExtensionIsRemovedAndARootKeepsOneSeparator) {
  BkupHarness h;
  h.PutSampleData(false);
  std::string d = h.MapDrive('D', "d");
  BkupRun run = h.Run({"4", "0", "C:\\church\\data\\", "vess", "Contri"}, {"D:\\x.ZIP.zip"});
  EXPECT_TRUE(std::filesystem::exists(d + "/X.ZIP.zip")) << run.errors;
}

// Scripted answers stand for a real dialog, which hands back an absolute path: a
// relative answer lands in the current folder, not in the file system's root. An
// answers file that is not there stops the run before it starts, rather than answering
// every question with No or Cancel.
TEST(BkupRunTest, ScriptedSaveAnswerIsTakenAgainstTheCurrentFolderAndAMissingFileStops) {
  BkupHarness h;
  h.PutSampleData(false);
  std::filesystem::create_directories(h.dir() / "backups");
  BkupRun run = h.Run({"4", "0", "C:\\church\\data\\", "vess", "Contri"}, {"backups\\week1.zip"});
  ASSERT_GE(run.transcript.size(), 3u);
  EXPECT_EQ(run.transcript[2],
            Line({"save", "Zip Files (*.zip)|*.zip|All Files (All Files)|*.*", "C:\\church\\data",
                  "vess", "", h.dir() / "backups/week1.zip"}));
  EXPECT_TRUE(h.ArchiveTests(h.dir() / "backups/WEEK1.zip")) << run.errors;
  EXPECT_EQ(run.status, kBkupDone);

  run = h.Run({"3", "0", "C:\\church\\data\\", "vess", "Contri"}, {}, "ZW_UI=script:missing.txt");
  EXPECT_EQ(run.status, kBkupBadParameters);
  EXPECT_TRUE(run.transcript.empty());
  EXPECT_EQ(run.errors,
            "bkup: ZW_UI=script:missing.txt: cannot read the answers file \"missing.txt\": No "
            "such file or directory\n");
  EXPECT_FALSE(std::filesystem::exists(h.C("church/data/vess.zip")));
}

TEST(BkupRunTest, EmptyArchiveNameBecomesVess) {
  BkupHarness h;
  h.PutSampleData(false);
  BkupRun run = h.Run({"3", "0", "C:\\church\\data\\", "", "Contri"});
  EXPECT_TRUE(std::filesystem::exists(h.C("church/data/vess.zip")));
  EXPECT_EQ(run.transcript.back(), kEnd);
}

struct IntCase {
  const char* text;
  bool valid;
  int32_t value;
};

class StrToIntTest : public ::testing::TestWithParam<IntCase> {};

TEST_P(StrToIntTest, ConvertsLikeTheRecordsApplicationExpects) {
  const IntCase& c = GetParam();
  if (c.valid) {
    EXPECT_EQ(StrToInt(c.text), c.value) << c.text;
  } else {
    try {
      StrToInt(c.text);
      ADD_FAILURE() << c.text;
    } catch (const EConvertError& e) {
      EXPECT_EQ(e.Message(), std::string("'") + c.text + "' is not a valid integer value");
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Texts, StrToIntTest,
    ::testing::Values(IntCase{"3", true, 3}, IntCase{" 3", true, 3}, IntCase{"+4", true, 4},
                      IntCase{"-1", true, -1}, IntCase{"$10", true, 16}, IntCase{"0x1F", true, 31},
                      IntCase{"2147483647", true, 2147483647},
                      IntCase{"-2147483648", true, INT32_MIN}, IntCase{"", false, 0},
                      IntCase{"3 ", false, 0}, IntCase{"2147483648", false, 0},
                      IntCase{"1.5", false, 0}, IntCase{"abc", false, 0}, IntCase{"-", false, 0}));

}  // namespace
}  // namespace zw::test

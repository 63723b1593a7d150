// The user interaction providers: the scripted one (answers and transcript), the
// console one with explicit streams, and the shared helpers.
#include <gtest/gtest.h>

#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "ConsoleUserInterface.h"
#include "MemFileSystem.h"
#include "ScriptUserInterface.h"
#include "TempDir.h"
#include "UserInterface.h"

namespace zw::test {
namespace {

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) lines.push_back(line);
  return lines;
}

// A scripted provider reading the given answer lines and writing into `out`.
class ScriptFixture : public ::testing::Test {
 protected:
  ScriptUserInterface& Make(const std::string& answers) {
    ui_ = std::make_unique<ScriptUserInterface>(dir_.Write("answers.txt", answers), &out_);
    ui_->SetApplicationTitle("Backup");
    return *ui_;
  }
  std::vector<std::string> Transcript() { return Lines(out_.str()); }
  TempDir dir_;
  std::ostringstream out_;
  std::unique_ptr<ScriptUserInterface> ui_;
};

TEST_F(ScriptFixture, TranscriptLinesAsDocumented) {
  ScriptUserInterface& ui = Make("Yes\nsecret\nC:\\out\\a.zip\n<cancel>\n");
  ui.ShowNotice("Done");
  EXPECT_EQ(ui.AskChoice("Abort?", TMsgDlgType::mtError, mbYes | mbNo), mrYes);
  std::string password = "old";
  EXPECT_TRUE(ui.AskText("Password", "Enter password", password));
  EXPECT_EQ(password, "secret");
  FileDialogRequest req{"ZIP files|*.zip", "C:\\out", "a.zip", "zip"};
  std::string path;
  EXPECT_TRUE(ui.ChooseFileToSave(req, path));
  EXPECT_EQ(path, "C:\\out\\a.zip");
  std::string untouched = "keep";
  EXPECT_FALSE(ui.ChooseFileToOpen(req, untouched));
  EXPECT_EQ(untouched, "keep");
  ui.ShowErrorBox("Boom.");
  ui.SetWindowCaption("Backing up");
  ui.SetLabelCaption("Status", "Working");
  ui.EndApplication();
  EXPECT_EQ(Transcript(), (std::vector<std::string>{
                              "notice\tBackup\tDone\tOK",
                              "choice\tError\tYes,No\tAbort?\tYes",
                              "text\tPassword\tEnter password\told\tsecret",
                              "save\tZIP files|*.zip\tC:\\out\ta.zip\tzip\tC:\\out\\a.zip",
                              "open\tZIP files|*.zip\tC:\\out\ta.zip\tzip\t<cancel>",
                              "error\tBackup\tBoom.\tOK",
                              "caption\tBacking up",
                              "label\tStatus\tWorking",
                              "end",
                          }));
}

TEST_F(ScriptFixture, ControlCharactersAreWrittenInCaretNotation) {
  ScriptUserInterface& ui = Make("");
  ui.ShowNotice("line one\nline\ttwo\r\x1B");
  EXPECT_EQ(out_.str(), "notice\tBackup\tline one^Jline^Itwo^M^[\tOK\n");
  EXPECT_EQ(TranscriptField(std::string("\0a", 2)), "^@a");
  EXPECT_EQ(TranscriptField("caf\xC3\xA9 ^ ok"), "caf\xC3\xA9 ^ ok");
}

TEST_F(ScriptFixture, NoticesAndErrorBoxesTakeNoAnswer) {
  ScriptUserInterface& ui = Make("Retry\n");
  ui.ShowNotice("n");
  ui.ShowErrorBox("e");
  EXPECT_EQ(ui.AskChoice("q", TMsgDlgType::mtConfirmation, mbAbort | mbRetry | mbIgnore), mrRetry);
}

TEST_F(ScriptFixture, DefaultsWhenAnswersRunOut) {
  ScriptUserInterface& ui = Make("");
  struct {
    TMsgDlgButtons buttons;
    int expected;
    const char* name;
  } cases[] = {
      {mbYes | mbNo, mrNo, "No"},
      {mbYes | mbNo | mbNoToAll | mbYesToAll, mrNo, "No"},
      {mbOK | mbCancel, mrCancel, "Cancel"},
      {mbAbort | mbRetry | mbIgnore, mrAbort, "Abort"},
      {mbNo | mbCancel, mrNo, "No"},
      {mbCancel | mbAbort, mrCancel, "Cancel"},
      {mbOK, mrOk, "OK"},
      {mbRetry | mbIgnore, mrIgnore, "Ignore"},
  };
  for (const auto& c : cases) {
    out_.str("");
    EXPECT_EQ(ui.AskChoice("q", TMsgDlgType::mtConfirmation, c.buttons), c.expected);
    EXPECT_EQ(Lines(out_.str()).at(0).substr(out_.str().rfind('\t') + 1), c.name);
  }
  std::string value = "v";
  EXPECT_FALSE(ui.AskText("c", "p", value));
  EXPECT_EQ(value, "v");
  std::string path;
  EXPECT_FALSE(ui.ChooseFileToSave({}, path));
  EXPECT_FALSE(ui.ChooseFileToOpen({}, path));
}

TEST_F(ScriptFixture, AnswerNamingAButtonNotOfferedCountsAsNoAnswerAndIsUsedUp) {
  ScriptUserInterface& ui = Make("Retry\nYes\nyes\nNoToAll\n");
  EXPECT_EQ(ui.AskChoice("q", TMsgDlgType::mtConfirmation, mbOK | mbCancel), mrCancel);
  EXPECT_EQ(ui.AskChoice("q", TMsgDlgType::mtError, mbYes | mbNo), mrYes);
  EXPECT_EQ(ui.AskChoice("q", TMsgDlgType::mtError, mbYes | mbNo), mrNo)
      << "names are matched exactly";
  EXPECT_EQ(ui.AskChoice("q", TMsgDlgType::mtConfirmation, mbYes | mbNo | mbNoToAll | mbYesToAll),
            mrNoToAll);
  EXPECT_EQ(Transcript().at(0), "choice\tConfirm\tOK,Cancel\tq\tCancel");
  EXPECT_EQ(Transcript().at(3), "choice\tConfirm\tYes,No,NoToAll,YesToAll\tq\tNoToAll");
}

TEST_F(ScriptFixture, CancelAnswerCancelsPromptsAndDialogs) {
  ScriptUserInterface& ui = Make("<cancel>\n<cancel>\n<cancel>\n");
  std::string value = "v";
  EXPECT_FALSE(ui.AskText("c", "p", value));
  EXPECT_EQ(value, "v");
  std::string path = "p";
  EXPECT_FALSE(ui.ChooseFileToSave({}, path));
  EXPECT_EQ(ui.AskChoice("q", TMsgDlgType::mtWarning, mbOK | mbCancel), mrCancel);
  EXPECT_EQ(Transcript().at(0), "text\tc\tp\tv\t<cancel>");
  EXPECT_EQ(Transcript().at(2), "choice\tWarning\tOK,Cancel\tq\tCancel");
}

TEST_F(ScriptFixture, WindowsLineEndsInTheAnswerFileAreIgnored) {
  ScriptUserInterface& ui = Make("Ignore\r\nname\r\n");
  EXPECT_EQ(ui.AskChoice("q", TMsgDlgType::mtInformation, mbAbort | mbRetry | mbIgnore), mrIgnore);
  std::string value;
  EXPECT_TRUE(ui.AskText("c", "p", value));
  EXPECT_EQ(value, "name");
}

TEST(ScriptUiTest, MissingAnswerFileIsReportedAndAnswersNothing) {
  std::ostringstream out;
  ScriptUserInterface ui("/nonexistent/answers.txt", &out);
  EXPECT_EQ(ui.AnswersProblem(),
            "cannot read the answers file \"/nonexistent/answers.txt\": No such file or directory");
  EXPECT_EQ(ui.AskChoice("q", TMsgDlgType::mtError, mbYes | mbNo), mrNo);
}

class FakeWindow : public ApplicationWindow {
 public:
  explicit FakeWindow(UserInterface& ui, bool end, bool fail) : ui_(ui), end_(end), fail_(fail) {
    layout_.caption = "Form";
    layout_.labels = {{"Head", 0, 0, 0, 0, "Backup", {}}, {"Status", 0, 0, 0, 0, "Idle", {}}};
  }
  const WindowLayout& Layout() const override { return layout_; }
  void Activate() override {
    ui_.SetLabelCaption("Status", "Running");
    if (fail_) throw std::runtime_error("Archive is not open");
    if (end_) ui_.EndApplication();
  }
  void Close() override { closed_ = true; }
  bool closed_ = false;

 private:
  UserInterface& ui_;
  WindowLayout layout_;
  bool end_, fail_;
};

TEST_F(ScriptFixture, RunShowsTheWindowAndEndsOrClosesIt) {
  ScriptUserInterface& ui = Make("");
  FakeWindow ends(ui, true, false);
  EXPECT_EQ(ui.Run(ends), 0);
  EXPECT_FALSE(ends.closed_);
  EXPECT_EQ(Transcript(), (std::vector<std::string>{"window\tForm\tHead=Backup\tStatus=Idle",
                                                    "label\tStatus\tRunning", "end"}));
}

TEST_F(ScriptFixture, AnEscapedErrorIsShownAndTheWindowLeftForClosing) {
  ScriptUserInterface& ui = Make("");
  FakeWindow fails(ui, false, true);
  ui.Run(fails);
  EXPECT_TRUE(fails.closed_);
  EXPECT_EQ(Transcript(), (std::vector<std::string>{
                              "window\tForm\tHead=Backup\tStatus=Idle", "label\tStatus\tRunning",
                              "error\tBackup\tArchive is not open.\tOK", "close"}));
}

// --- Console provider -------------------------------------------------------------

TEST(ConsoleUiTest, WithoutATerminalEveryQuestionGetsItsDefault) {
  std::istringstream in("Yes\nname\nC:\\x.zip\n");
  std::ostringstream out;
  ConsoleUserInterface ui(in, out, false);
  EXPECT_EQ(ui.AskChoice("Abort?", TMsgDlgType::mtError, mbYes | mbNo), mrNo);
  EXPECT_EQ(ui.AskChoice("Insert disk", TMsgDlgType::mtConfirmation, mbOK | mbCancel), mrCancel);
  EXPECT_EQ(ui.AskChoice("Failed", TMsgDlgType::mtConfirmation, mbAbort | mbRetry | mbIgnore),
            mrAbort);
  std::string value = "v";
  EXPECT_FALSE(ui.AskText("Password", "Enter", value));
  EXPECT_EQ(value, "v");
  std::string path;
  EXPECT_FALSE(ui.ChooseFileToSave({"", "C:\\", "a.zip", ""}, path));
  EXPECT_FALSE(ui.ChooseFileToOpen({"", "C:\\", "a.zip", ""}, path));
  EXPECT_EQ(in.tellg(), 0) << "nothing may be read without a terminal";
  EXPECT_NE(out.str().find("[Error] Abort? (Yes/No)? No"), std::string::npos) << out.str();
}

TEST(ConsoleUiTest, InteractiveAnswersByNameOrAcceleratorLetter) {
  struct Case {
    const char* input;
    TMsgDlgButtons buttons;
    int expected;
  } cases[] = {
      {"yes\n", mbYes | mbNo, mrYes},
      {"Y\n", mbYes | mbNo, mrYes},
      {"n\n", mbYes | mbNo, mrNo},
      {"NoToAll\n", mbYes | mbNo | mbNoToAll | mbYesToAll, mrNoToAll},
      {"o\n", mbYes | mbNo | mbNoToAll | mbYesToAll, mrNoToAll},
      {"a\n", mbYes | mbNo | mbNoToAll | mbYesToAll, mrYesToAll},
      {"r\n", mbAbort | mbRetry | mbIgnore, mrRetry},
      {"i\r\n", mbAbort | mbRetry | mbIgnore, mrIgnore},
      {"ok\n", mbOK | mbCancel, mrOk},
      {"c\n", mbOK | mbCancel, mrCancel},
      {"\n", mbAbort | mbRetry | mbIgnore, mrAbort},
      {"maybe\nretry\n", mbAbort | mbRetry | mbIgnore, mrRetry},
      {"yes\n", mbOK | mbCancel, mrCancel},  // not offered, then end of input
      {"", mbYes | mbNo, mrNo},
  };
  for (const Case& c : cases) {
    std::istringstream in(c.input);
    std::ostringstream out;
    ConsoleUserInterface ui(in, out, true);
    EXPECT_EQ(ui.AskChoice("q", TMsgDlgType::mtConfirmation, c.buttons), c.expected)
        << "input \"" << c.input << "\"";
  }
}

TEST(ConsoleUiTest, InteractivePromptsAndFileChoices) {
  std::istringstream in("s3cret\n\nother\nD:\\abs\\x.zip\n");
  std::ostringstream out;
  ConsoleUserInterface ui(in, out, true);
  std::string value;
  EXPECT_TRUE(ui.AskText("Password", "Enter", value));
  EXPECT_EQ(value, "s3cret");
  std::string path;
  EXPECT_TRUE(ui.ChooseFileToSave({"", "C:\\out", "a.zip", ""}, path));
  EXPECT_EQ(path, "C:\\out\\a.zip") << "an empty line takes the proposed name";
  EXPECT_TRUE(ui.ChooseFileToSave({"", "C:\\out\\", "", "zip"}, path));
  EXPECT_EQ(path, "C:\\out\\other.zip");
  EXPECT_TRUE(ui.ChooseFileToOpen({"", "C:\\out", "", "zip"}, path));
  EXPECT_EQ(path, "D:\\abs\\x.zip");
  EXPECT_FALSE(ui.ChooseFileToOpen({"", "C:\\out", "", ""}, path)) << "end of input cancels";
}

TEST(ConsoleUiTest, ChosenFileIsAlwaysAbsolute) {
  MemFileSystem mem;
  ASSERT_TRUE(mem.CreateDirectory("C:\\work"));
  ASSERT_TRUE(mem.SetCurrentDir("C:\\work"));
  ScopedFileSystem scope(mem);
  std::istringstream in("x.zip\n..\\y.zip\n");
  std::ostringstream out;
  ConsoleUserInterface ui(in, out, true);
  std::string path;
  EXPECT_TRUE(ui.ChooseFileToSave({"", "", "", ""}, path));
  EXPECT_EQ(path, "C:\\work\\x.zip");
  EXPECT_TRUE(ui.ChooseFileToSave({"", "out", "", ""}, path));
  EXPECT_EQ(path, "C:\\work\\y.zip");
}

// --- Shared helpers ---------------------------------------------------------------

TEST(UiHelpersTest, ErrorBoxTextAddsAFullStopOnlyAfterCharactersAboveIt) {
  struct {
    const char* message;
    const char* shown;
  } cases[] = {
      {"Archive is not open", "Archive is not open."},
      {"Done.", "Done."},
      {"Why?", "Why?."},  // '?' is above '.'
      {"Native error: 00013", "Native error: 00013."},
      {"Ends with a space ", "Ends with a space "},
      {"Ends with a dash -", "Ends with a dash -"},
      {"Slash/", "Slash/."},
      {"Quote\"", "Quote\""},
      {"Caf\xC3\xA9", "Caf\xC3\xA9."},  // a high byte is above '.' too
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(ErrorBoxText(c.message), c.shown) << c.message;
}

TEST(UiHelpersTest, ButtonsCaptionsAndResults) {
  struct {
    TMsgDlgBtn button;
    const char* caption;
    int result;
  } expected[] = {
      {mbYes, "&Yes", 6},
      {mbNo, "&No", 7},
      {mbOK, "OK", 1},
      {mbCancel, "Cancel", 2},
      {mbAbort, "&Abort", 3},
      {mbRetry, "&Retry", 4},
      {mbIgnore, "&Ignore", 5},
      {mbAll, "&All", 8},
      {mbNoToAll, "N&o to All", 9},
      {mbYesToAll, "Yes to &All", 10},
  };
  ASSERT_EQ(AllButtons().size(), std::size(expected));
  for (size_t i = 0; i < std::size(expected); ++i) {
    EXPECT_EQ(AllButtons()[i].button, expected[i].button);
    EXPECT_STREQ(AllButtons()[i].caption, expected[i].caption);
    EXPECT_EQ(AllButtons()[i].result, expected[i].result);
  }
  EXPECT_STREQ(KindCaption(TMsgDlgType::mtWarning), "Warning");
  EXPECT_STREQ(KindCaption(TMsgDlgType::mtError), "Error");
  EXPECT_STREQ(KindCaption(TMsgDlgType::mtInformation), "Information");
  EXPECT_STREQ(KindCaption(TMsgDlgType::mtConfirmation), "Confirm");
}

TEST(UiHelpersTest, ProvidersByName) {
  EXPECT_NE(dynamic_cast<ConsoleUserInterface*>(CreateUserInterface("console").get()), nullptr);
  EXPECT_NE(dynamic_cast<ScriptUserInterface*>(CreateUserInterface("script:/x").get()), nullptr);
  EXPECT_EQ(CreateUserInterface("bogus"), nullptr);
}

}  // namespace
}  // namespace zw::test

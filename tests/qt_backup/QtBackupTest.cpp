// A real backup through the desktop window: build/bin/bkup runs with ZW_UI=gui on a
// virtual X display (xvfb-run) while another process holds one data file in a mode
// that denies reading. Nobody clicks, so the provider's ZW_QT_AUTO_ANSWER hook
// answers the boxes; the pictures that ZW_QT_SCREENSHOT_DIR saves tell which boxes
// appeared, and the ones worth looking at are kept in <build>/screenshots.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "QtAutoAnswer.h"
#include "ShareHolderClient.h"
#include "TempDir.h"

namespace zw::test {
namespace {

namespace fs = std::filesystem;

constexpr uint16_t kDenyRead = 0x30;  // read access, others may not read
constexpr int kFormWidth = 298;       // outer size of the stored layout
constexpr int kFormHeight = 134;

// --- The hook's choice of button --------------------------------------------------

struct AnswerCase {
  const char* answers;
  QStringList offered;
  int expected;
};

TEST(QtAutoAnswerTest, PressesTheFirstListedButtonTheBoxOffers) {
  const QStringList yesNo{"Yes", "No"};
  const QStringList ok{"OK"};
  const QStringList overwrite{"Yes", "No", "NoToAll", "YesToAll"};
  const AnswerCase cases[] = {{"No,OK", yesNo, 1},
                              {"No,OK", ok, 0},
                              {"OK,No", yesNo, 1},
                              {"Yes", ok, -1},  // nothing fits: the box waits
                              {"default", yesNo, 0},
                              {"default", ok, 0},
                              {"Retry,default", yesNo, 0},
                              {" no , ok ", yesNo, 1},  // blanks and case
                              {"notoall", overwrite, 2},
                              {"", yesNo, -1},
                              {",,", yesNo, -1},
                              {"Yes", {}, -1},
                              {"default", QStringList{}, -1}};
  for (const auto& c : cases)
    EXPECT_EQ(AutoAnswerIndex(QString::fromLatin1(c.answers), c.offered, 0), c.expected)
        << c.answers << " / " << c.offered.join(',').toStdString();
}

// --- bkup on a virtual display ----------------------------------------------------

const std::vector<std::string> kDataFiles = {
    "fi0001.dat", "fi0001.idx", "fi0020.dat",  "fi0020.idx",  "pe0001.dat", "pe0001.idx",
    "sy0001.dat", "sy0001.idx", "arc0001.dat", "arc0001.idx", "vi0001.dat", "vi0001.idx"};
const std::vector<std::string> kPictures = {"h0001.jpg", "m0001.jpg", "g0001.jpg"};

struct GuiRun {
  int status = -1;
  std::string output;                 // what xvfb-run and bkup wrote to stdout/stderr
  std::vector<std::string> pictures;  // screenshot files in the order taken
};

// "07-choice.png" -> "choice".
std::string WhatOf(const std::string& picture) {
  std::string name = fs::path(picture).stem().string();
  size_t dash = name.find('-');
  return dash == std::string::npos ? name : name.substr(dash + 1);
}

struct PngSize {
  int width = 0, height = 0;
};

// Width and height from the IHDR chunk; zero for anything that is not a PNG.
PngSize SizeOfPng(const std::string& path) {
  std::string bytes = ReadHostFile(path);
  if (bytes.size() < 24 || bytes.compare(0, 8, "\x89PNG\r\n\x1a\n") != 0) return {};
  auto be32 = [&](size_t at) {
    uint32_t v = 0;
    for (size_t i = 0; i < 4; ++i) v = (v << 8) | static_cast<unsigned char>(bytes[at + i]);
    return static_cast<int>(v);
  };
  return {be32(16), be32(20)};
}

bool Has(const std::vector<std::string>& v, const std::string& s) {
  return std::find(v.begin(), v.end(), s) != v.end();
}

class QtBackupTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(holder.Started());
    for (size_t i = 0; i < kDataFiles.size(); ++i)
      dir.Write("church/data/" + kDataFiles[i], Content(i));
    for (size_t i = 0; i < kPictures.size(); ++i)
      dir.Write("church/data/Picture/" + kPictures[i], RandomBytes(700 + 100 * i, 77 + i));
    dir.Write("church/vess_rpt.dic", "report dictionary\n");
  }

  // Half text (so deflate has work), half noise.
  static std::string Content(size_t i) {
    std::string text;
    for (size_t n = 0; n < 20 + 10 * i; ++n) text += "record " + std::to_string(n) + ";";
    return text + RandomBytes(300 + 50 * i, static_cast<uint32_t>(i + 1));
  }

  void Hold(const std::string& name) {
    ASSERT_EQ(holder.Hold(dir / ("church/data/" + name), kDenyRead), OsErrorCode::kNone);
  }

  // Mode 3 (into the data folder), data files and pictures, file set "vess", with
  // drive C: mapped to the temp folder as the caller's Windows paths expect.
  GuiRun RunBackup(const std::string& answers) const {
    std::string shots = dir / "shots";
    std::string runtime = dir / "xdg";  // Qt wants a private runtime folder
    fs::create_directories(runtime);
    chmod(runtime.c_str(), 0700);
    // A display number of our own makes a clash with another xvfb-run of the same
    // test run unlikely (-a still moves on from a taken one).
    int display = 100 + static_cast<int>(getpid() % 400);
    std::ostringstream cmd;
    cmd << "cd '" << dir.path() << "' && env ZW_UI=gui QT_QPA_PLATFORM=xcb"
        << " ZW_DRIVE_C='" << dir.path() << "' ZW_QT_SCREENSHOT_DIR='" << shots << "'"
        << " ZW_QT_AUTO_ANSWER='" << answers << "' XDG_RUNTIME_DIR='" << runtime << "' "
        << ZW_XVFB_RUN << " -a -n " << display
        << " -s '-screen 0 1024x768x24 -dpi 96'"
        // The bound is for a run that hangs on a box nobody answers; a good run takes
        // a few seconds.
        << " timeout 40 " << ZW_BKUP << " 3 1 'C:\\church\\data\\' vess vess";
    GuiRun run;
    run.status = RunCommand(cmd.str(), &run.output);
    if (fs::is_directory(shots))
      for (const auto& entry : fs::directory_iterator(shots))
        run.pictures.push_back(entry.path().string());
    std::sort(run.pictures.begin(), run.pictures.end());
    return run;
  }

  std::string Archive() const { return dir / "church/data/vess.zip"; }

  std::vector<std::string> Entries() const {
    std::string out;
    if (RunCommand("unzip -Z1 '" + Archive() + "'", &out) != 0) return {};
    std::vector<std::string> names;
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);) names.push_back(line);
    return names;
  }

  bool ArchiveTests() const {
    std::string out;
    return RunCommand("unzip -tq '" + Archive() + "'", &out) == 0;
  }

  // The kinds of the pictures ("window", "notice", "choice", ...) in order.
  static std::vector<std::string> Kinds(const GuiRun& run) {
    std::vector<std::string> kinds;
    for (const auto& p : run.pictures) kinds.push_back(WhatOf(p));
    return kinds;
  }

  static void Keep(const std::string& picture, const std::string& name) {
    fs::create_directories(ZW_SCREENSHOT_DIR);
    fs::copy_file(picture, fs::path(ZW_SCREENSHOT_DIR) / name,
                  fs::copy_options::overwrite_existing);
  }

  TempDir dir;
  ShareHolderProcess holder;
};

TEST_F(QtBackupTest, HeldFileIsReportedAndNoGoesOnWithoutIt) {
  Hold("fi0020.dat");
  GuiRun run = RunBackup("No,OK");
  ASSERT_EQ(run.status, 0) << "bkup did not end by itself:\n" << run.output;

  // What the user saw: the window, then the notice about the held file, the abort
  // question, and the closing notice. A box that appeared and was not answered would
  // have kept bkup from ending.
  std::vector<std::string> kinds = Kinds(run);
  std::vector<std::string> boxes;
  std::copy_if(kinds.begin(), kinds.end(), std::back_inserter(boxes),
               [](const std::string& k) { return k != "window"; });
  ASSERT_EQ(boxes, (std::vector<std::string>{"notice", "choice", "notice"})) << run.output;
  auto firstBox =
      std::find_if(kinds.begin(), kinds.end(), [](const std::string& k) { return k != "window"; });
  ASSERT_NE(firstBox, kinds.begin()) << "no picture of the window before the boxes";
  size_t window = static_cast<size_t>(firstBox - kinds.begin()) - 1;
  size_t notice = window + 1, question = window + 2;

  PngSize form = SizeOfPng(run.pictures[window]);
  EXPECT_EQ(form.width, kFormWidth);
  EXPECT_GT(form.height, kFormHeight);  // the title bar stands above the window
  for (size_t box : {notice, question}) {
    PngSize size = SizeOfPng(run.pictures[box]);
    EXPECT_GT(size.width, 100) << run.pictures[box];
    EXPECT_GT(size.height, 50) << run.pictures[box];
  }
  Keep(run.pictures[window], "backup-window.png");
  Keep(run.pictures[notice], "backup-notice.png");
  Keep(run.pictures[question], "backup-question.png");
  Keep(run.pictures.back(), "backup-complete.png");

  EXPECT_TRUE(ArchiveTests());
  std::vector<std::string> entries = Entries();
  EXPECT_FALSE(Has(entries, "fi0020.dat"));
  for (const auto& name : kDataFiles) {
    if (name == "fi0020.dat") continue;
    EXPECT_TRUE(Has(entries, name)) << name;
  }
  for (const auto& name : kPictures) EXPECT_TRUE(Has(entries, name)) << name;
  EXPECT_TRUE(Has(entries, "vess_rpt.dic"));
  EXPECT_EQ(entries.size(), kDataFiles.size() - 1 + kPictures.size() + 1);
}

// Enter on every box: the question's default button is Yes, which stops the backup.
TEST_F(QtBackupTest, DefaultButtonsAbortTheBackupAtTheHeldFile) {
  Hold("pe0001.dat");
  GuiRun run = RunBackup("default");
  // It ends by itself, with the status of a backup that ended in an error.
  ASSERT_EQ(run.status, 3) << "bkup did not end by itself as aborted:\n" << run.output;
  std::vector<std::string> kinds = Kinds(run);
  EXPECT_EQ(std::count(kinds.begin(), kinds.end(), "choice"), 1) << run.output;
  EXPECT_EQ(std::count(kinds.begin(), kinds.end(), "notice"), 2) << run.output;

  // The fi sets were complete batches; the pe batch rolled back; nothing after it ran.
  EXPECT_TRUE(ArchiveTests());
  std::vector<std::string> entries = Entries();
  for (const char* name : {"fi0001.dat", "fi0020.dat", "fi0001.idx", "fi0020.idx"})
    EXPECT_TRUE(Has(entries, name)) << name;
  EXPECT_EQ(entries.size(), 4u);
}

}  // namespace
}  // namespace zw::test

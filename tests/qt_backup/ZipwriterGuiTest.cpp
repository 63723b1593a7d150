// zipwriter with ZW_UI=gui: the tool does not link Qt, it loads the desktop provider
// module when asked, and the component's default prompts become real boxes. Without
// a usable display both programs fall back to the console.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "TempDir.h"

namespace zw::test {
namespace {

TEST(ZipwriterGuiTest, OverwriteQuestionIsADesktopBoxAnsweredThere) {
  TempDir dir;
  dir.Write("data/a.txt", "first version\n");
  std::string cd = "cd '" + dir.path() + "' && ";
  ASSERT_EQ(RunCommand(cd + ZW_ZIPWRITER + " add x.zip 'data/*.txt'"), 0);
  dir.Write("data/a.txt", "second version\n");
  std::string shots = dir / "shots";
  std::string env =
      "env ZW_UI=gui QT_QPA_PLATFORM=offscreen ZW_QT_AUTO_ANSWER=Yes ZW_QT_SCREENSHOT_DIR='" +
      shots + "' ";
  std::string output;
  ASSERT_EQ(
      RunCommand(cd + env + ZW_ZIPWRITER + " add x.zip 'data/*.txt' --overwrite prompt", &output),
      0)
      << output;
  std::string content;
  RunCommand("unzip -p '" + (dir / "x.zip") + "' data/a.txt", &content);
  EXPECT_EQ(content, "second version\n");
  EXPECT_TRUE(std::filesystem::exists(shots + "/01-choice.png"));
}

TEST(ZipwriterGuiTest, WithoutTheDesktopAnswerTheFileIsKept) {
  TempDir dir;
  dir.Write("data/a.txt", "first version\n");
  std::string cd = "cd '" + dir.path() + "' && ";
  ASSERT_EQ(RunCommand(cd + ZW_ZIPWRITER + " add x.zip 'data/*.txt'"), 0);
  dir.Write("data/a.txt", "second version\n");
  std::string env = "env ZW_UI=gui QT_QPA_PLATFORM=offscreen ZW_QT_AUTO_ANSWER=No ";
  ASSERT_EQ(RunCommand(cd + env + ZW_ZIPWRITER + " add x.zip 'data/*.txt' --overwrite prompt"), 0);
  std::string content;
  RunCommand("unzip -p '" + (dir / "x.zip") + "' data/a.txt", &content);
  EXPECT_EQ(content, "first version\n");
}

// An X display number with no server: no socket and no lock file of one.
int UnusedDisplayNumber() {
  for (int n = 5000 + static_cast<int>(getpid() % 1000);; ++n) {
    std::string number = std::to_string(n);
    if (!std::filesystem::exists("/tmp/.X11-unix/X" + number) &&
        !std::filesystem::exists("/tmp/.X" + number + "-lock"))
      return n;
  }
}

// Qt would abort (status 134) on each of these; the programs run as with ZW_UI=console
// instead, after one line on stderr that says why.
TEST(NoDisplayTest, BothProgramsUseTheConsoleAndSayWhy) {
  TempDir dir;
  dir.Write("data/a.txt", "first version\n");
  std::string cd = "cd '" + dir.path() + "' && ";
  ASSERT_EQ(RunCommand(cd + ZW_ZIPWRITER + " add x.zip 'data/*.txt'"), 0);
  dir.Write("data/a.txt", "second version\n");
  const std::string displays[] = {
      "DISPLAY=:" + std::to_string(UnusedDisplayNumber()),  // a stale DISPLAY
      "",                                                   // none at all
      "WAYLAND_DISPLAY=zw-no-such-wayland",                 // no Qt plugin for it, or no server
  };
  const std::pair<std::string, std::string> programs[] = {
      {"zipwriter", std::string(ZW_ZIPWRITER) + " add x.zip 'data/*.txt' --overwrite prompt"},
      {"bkup", std::string(ZW_BKUP) + " 5 0 '" + dir.path() + "/'"},  // a restore
  };
  const std::string clean = "env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM ";
  for (const auto& [name, command] : programs) {
    std::string console;
    int consoleStatus =
        RunCommand(cd + clean + "ZW_UI=console " + command + " </dev/null", &console);
    for (const std::string& display : displays) {
      std::string output;
      int status =
          RunCommand(cd + clean + "ZW_UI=gui " + display + " " + command + " </dev/null", &output);
      SCOPED_TRACE(name + " with '" + display + "':\n" + output);
      EXPECT_EQ(status, consoleStatus);
      size_t end = output.find('\n');
      ASSERT_NE(end, std::string::npos);
      std::string line = output.substr(0, end);
      EXPECT_EQ(line.rfind(name + ": no desktop window (", 0), 0u);
      EXPECT_NE(line.find("); using the console"), std::string::npos);
      EXPECT_EQ(output.substr(end + 1), console);
    }
  }
  std::string content;
  RunCommand("unzip -p '" + (dir / "x.zip") + "' data/a.txt", &content);
  EXPECT_EQ(content, "first version\n");  // the console's answer without a terminal
}

}  // namespace
}  // namespace zw::test

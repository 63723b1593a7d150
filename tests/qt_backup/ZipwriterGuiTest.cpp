// zipwriter with ZW_UI=gui: the tool does not link Qt, it loads the desktop provider
// module when asked, and the component's default prompts become real boxes.
#include <gtest/gtest.h>

#include <filesystem>

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

}  // namespace
}  // namespace zw::test

// printf-style message templates.
#include <gtest/gtest.h>

#include <string>

#include "Format.h"

namespace zw {
namespace {

TEST(FormatTest, PlaceholdersTable) {
  struct Case {
    std::string got;
    const char* expected;
  } cases[] = {
      {Format("File \"%s\" not found", {"C:\\a.zip"}), "File \"C:\\a.zip\" not found"},
      {Format("%d", {42}), "42"},
      {Format("%d", {-7}), "-7"},
      {Format("[%5d]", {42}), "[   42]"},
      {Format("[%-5d]", {42}), "[42   ]"},
      {Format("%.3u", {7}), "007"},
      {Format("%.3u", {1234}), "1234"},
      {Format("%.3d", {-5}), "-005"},
      {Format("Backup.z%.2d", {3}), "Backup.z03"},
      {Format("Backup.z%.2d", {12}), "Backup.z12"},
      {Format("%05d", {42}), "00042"},
      {Format("%d", {int64_t{1} << 40}), "1099511627776"},
      {Format("%u", {4000000000u}), "4000000000"},
      {Format("100%%"), "100%"},
      {Format("%%s %s", {"x"}), "%s x"},
      {Format("[%5s|%-5s]", {"ab", "cd"}), "[   ab|cd   ]"},
      {Format("[%.2s]", {"abcdef"}), "[ab]"},
      {Format("%s", {12}), "12"},
      {Format("%d", {"text"}), "0"},
      {Format("a%sb%dc"), "ab0c"},               // missing arguments
      {Format("%s", {"one", "two", 3}), "one"},  // surplus arguments
      {Format("%s and %s", {"one"}), "one and "},
      {Format("50%"), "50%"},  // dangling percent
      {Format("%5"), "%5"},
      {Format("%x %s", {"a"}), "%x a"},  // unknown conversion stays as it is
      {Format(""), ""},
  };
  for (const Case& c : cases) EXPECT_EQ(c.got, c.expected);
}

TEST(FormatTest, LongTextsAreNeverCut) {
  std::string longText(5000, 'x');
  EXPECT_EQ(Format("<%s>", {longText}), "<" + longText + ">");
}

TEST(FormatTest, AbsurdWidthsAndPrecisionsDoNotThrowOrBlowUp) {
  EXPECT_EQ(Format("%.99999999999999999999999s", {"abc"}), "abc");
  std::string longText(60000, 'y');
  EXPECT_EQ(Format("%.50000s", {longText}), longText.substr(0, 50000));
  EXPECT_NO_THROW(Format("%99999999999999999999999d", {1}));
  EXPECT_LE(Format("%999999999s", {"a"}).size(), 100000u);
}

}  // namespace
}  // namespace zw

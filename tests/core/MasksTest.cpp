#include <gtest/gtest.h>

#include <string>

#include "ZWMasks.h"

namespace zw {
namespace {

struct MaskCase {
  const char* mask;
  const char* text;
  bool match;
};

class MaskTableTest : public ::testing::TestWithParam<MaskCase> {};

TEST_P(MaskTableTest, Matches) {
  const MaskCase& c = GetParam();
  EXPECT_EQ(TextMatchesMask(c.text, c.mask), c.match) << c.mask << " vs " << c.text;
}

INSTANTIATE_TEST_SUITE_P(
    Masks, MaskTableTest,
    ::testing::Values(MaskCase{"*.*", "A.TXT", true}, MaskCase{"*.*", "archive.dat", true},
                      MaskCase{"*.*", "README", false}, MaskCase{"VI*.*", "vi0001.dat", true},
                      MaskCase{"VI*.*", "VI.X", true}, MaskCase{"VI*.*", "V.DAT", false},
                      MaskCase{"VI*.*", "VIDAT", false}, MaskCase{"fi*.dat", "FI0020.DAT", true},
                      MaskCase{"a?c", "abc", true}, MaskCase{"a?c", "ac", false},
                      MaskCase{"a*?c", "ac", true}, MaskCase{"", "", true},
                      MaskCase{"", "a", false}, MaskCase{"*", "", true},
                      MaskCase{"*", "anything at all", true}, MaskCase{"[ab]", "[AB]", true},
                      MaskCase{"[ab]", "a", false}, MaskCase{"ARC*.*", "ARCHIVE.TXT", true},
                      MaskCase{"ARC*.*", "ARC", false}, MaskCase{"?", "", false},
                      MaskCase{"abc?", "abc", false}, MaskCase{"*a*a*a*b", "aaaaaaaaaaaa", false},
                      MaskCase{"*x", "xxxxx", true}, MaskCase{"\xe9*", "\xc9t\xe9", false},
                      MaskCase{"a**b", "ab", true}, MaskCase{"*.dat", "a.dat.dat", true},
                      MaskCase{"C:\\DATA\\*.*", "c:\\data\\x.y", true}));

TEST(MaskTest, ThirtyStarsCompileThirtyOneAreRefused) {
  std::string thirty, thirtyOne;
  for (int i = 0; i < 30; ++i) thirty += "*a";
  thirtyOne = thirty + "*b";
  EXPECT_NO_THROW(TMask{thirty});
  EXPECT_TRUE(TMask(thirty).MatchText(std::string(30, 'a')));
  try {
    TMask m(thirtyOne);
    FAIL();
  } catch (const EMaskException& e) {
    EXPECT_EQ(e.Message(), "'" + thirtyOne + "' is an invalid mask at (61)");
  }
}

TEST(MaskTest, ManyStarsAgainstLongTextStaysBounded) {
  std::string mask;
  for (int i = 0; i < 30; ++i) mask += "*a";
  TMask m(mask + "b");
  EXPECT_FALSE(m.MatchText(std::string(200, 'a')));
  EXPECT_TRUE(m.MatchText(std::string(200, 'a') + "b"));
}

TEST(MaskTest, TextEndsAtItsFirstZeroByte) {
  EXPECT_TRUE(TextMatchesMask(std::string("ab\0cd", 5), "ab"));
  EXPECT_FALSE(TextMatchesMask(std::string("ab\0cd", 5), "ab?cd"));
}

TEST(MaskTest, MaskIsReusable) {
  TMask m("fi*.dat");
  EXPECT_TRUE(m.MatchText("fi1.dat"));
  EXPECT_FALSE(m.MatchText("pe1.dat"));
  EXPECT_TRUE(m.MatchText("FI2.DAT"));
}

}  // namespace
}  // namespace zw

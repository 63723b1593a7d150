// ANSI (UTF-8) to OEM (CP437) conversion and locale-aware case mapping.
#include <gtest/gtest.h>
#include <iconv.h>

#include <set>
#include <string>

#include "CodePage.h"
#include "SearchPattern.h"

namespace zw {
namespace {

// The C library's own CP437 table serves as an independent oracle.
std::string IconvCp437ToUtf8(unsigned char byte) {
  iconv_t cd = iconv_open("UTF-8", "CP437");
  if (cd == reinterpret_cast<iconv_t>(-1)) return "";
  char in[1] = {static_cast<char>(byte)};
  char out[8] = {};
  char* inp = in;
  char* outp = out;
  size_t inLeft = 1, outLeft = sizeof out;
  size_t r = iconv(cd, &inp, &inLeft, &outp, &outLeft);
  iconv_close(cd);
  return r == static_cast<size_t>(-1) ? "" : std::string(out, sizeof out - outLeft);
}

TEST(CodePageTest, EveryHighCp437ByteRoundTripsAsTheCLibrarySaysItShould) {
  for (int b = 0x80; b <= 0xFF; ++b) {
    std::string oem(1, static_cast<char>(b));
    std::string expected = IconvCp437ToUtf8(static_cast<unsigned char>(b));
    ASSERT_FALSE(expected.empty()) << "no CP437 converter in the C library";
    EXPECT_EQ(OemToAnsi(oem), expected) << "byte 0x" << std::hex << b;
    EXPECT_EQ(AnsiToOem(expected), oem) << "byte 0x" << std::hex << b;
  }
}

TEST(CodePageTest, AsciiIsTheSameOnBothSides) {
  std::string ascii;
  for (int c = 1; c < 0x80; ++c) ascii += static_cast<char>(c);
  EXPECT_EQ(AnsiToOem(ascii), ascii);
  EXPECT_EQ(OemToAnsi(ascii), ascii);
  EXPECT_EQ(AnsiToOem(std::string("a\0b", 3)), std::string("a\0b", 3));
}

struct ConvCase {
  const char* ansi;
  const char* oem;
};

class AnsiToOemTest : public ::testing::TestWithParam<ConvCase> {};

TEST_P(AnsiToOemTest, Converts) {
  EXPECT_EQ(AnsiToOem(GetParam().ansi), GetParam().oem) << GetParam().ansi;
}

INSTANTIATE_TEST_SUITE_P(
    Texts, AnsiToOemTest,
    ::testing::Values(ConvCase{"\xC3\xA9", "\x82"},                  // é
                      ConvCase{"\xC3\x84", "\x8E"},                  // Ä
                      ConvCase{"Gr\xC3\xBC\xC3\x9F", "Gr\x81\xE1"},  // Grüß
                      ConvCase{"\xE2\x82\xAC", "?"},                 // € has no CP437 form
                      ConvCase{"\xC5\x93x", "?x"},                   // œ neither
                      ConvCase{"\xF0\x9F\x98\x80", "?"},             // an emoji is one "?"
                      ConvCase{"a\xFFz", "a?z"},                     // invalid byte
                      ConvCase{"\xC3(", "?("},                       // cut sequence
                      ConvCase{"x\xE2\x82", "x??"},                  // truncated at the end
                      ConvCase{"\xC0\xAF", "??"},                    // overlong "/"
                      ConvCase{"\xED\xA0\x80", "???"},               // UTF-16 surrogate
                      ConvCase{"\xF4\x90\x80\x80", "????"}));        // above U+10FFFF

TEST(CodePageTest, OemToAnsiGivesWellFormedUtf8) {
  EXPECT_EQ(OemToAnsi("\x82t\x8E"), "\xC3\xA9t\xC3\x84");
  EXPECT_EQ(OemToAnsi("\xB0\xFF"), "\xE2\x96\x91\xC2\xA0");
}

TEST(CaseMappingTest, AccentedLettersChangeCaseByLocale) {
  EXPECT_EQ(AnsiUpperCase("caf\xC3\xA9"), "CAF\xC3\x89");  // café -> CAFÉ
  EXPECT_EQ(AnsiLowerCase("CAF\xC3\x89"), "caf\xC3\xA9");
  EXPECT_EQ(AnsiUpperCase("\xC3\xA4\xC3\xB6\xC3\xBC"), "\xC3\x84\xC3\x96\xC3\x9C");  // äöü
  EXPECT_EQ(AnsiUpperCase("fi0020.dat"), "FI0020.DAT");
}

TEST(CaseMappingTest, MalformedBytesAreLeftAsTheyAre) {
  EXPECT_EQ(AnsiUpperCase("a\xFF"
                          "b"),
            "A\xFF"
            "B");
  EXPECT_EQ(AnsiLowerCase("A\xC3"), "a\xC3");
}

TEST(CaseMappingTest, ComparisonIgnoresCaseAlsoForAccentedLetters) {
  EXPECT_EQ(AnsiCompareText("\xC3\xA9t\xC3\xA9", "\xC3\x89T\xC3\x89"), 0);  // été vs ÉTÉ
  EXPECT_TRUE(AnsiSameText("Fi0020.Dat", "FI0020.DAT"));
  EXPECT_LT(AnsiCompareText("abc", "ABD"), 0);
  EXPECT_GT(AnsiCompareText("abd", "ABC"), 0);
  EXPECT_LT(AnsiCompareText("ab", "ABC"), 0);
  EXPECT_EQ(AnsiCompareText("", ""), 0);
  EXPECT_FALSE(AnsiSameText("\xC3\xA9", "e"));
}

TEST(CaseMappingTest, AsciiFormsTouchOnlyAsciiLetters) {
  EXPECT_EQ(AsciiUpperCase("caf\xC3\xA9-z"), "CAF\xC3\xA9-Z");
  EXPECT_EQ(AsciiLowerCase("CAF\xC3\x89-Z"), "caf\xC3\x89-z");
  EXPECT_TRUE(AsciiSameText("Backup.ZIP", "backup.zip"));
  EXPECT_FALSE(AsciiSameText("\xC3\xA9", "\xC3\x89"));
  EXPECT_FALSE(AsciiSameText("a", "ab"));
}

struct PatternCase {
  const char* pattern;
  const char* name;
  bool match;
};

class SearchPatternTest : public ::testing::TestWithParam<PatternCase> {};

TEST_P(SearchPatternTest, Matches) {
  const PatternCase& c = GetParam();
  EXPECT_EQ(SearchPatternMatches(c.pattern, c.name), c.match) << c.pattern << " vs " << c.name;
}

INSTANTIATE_TEST_SUITE_P(
    WindowsSearchRules, SearchPatternTest,
    ::testing::Values(
        PatternCase{"fi*.dat", "FI0020.DAT", true}, PatternCase{"fi*.dat", "fi0020.dat.bak", false},
        PatternCase{"*.*", "README", true}, PatternCase{"*", "", true},
        PatternCase{"fi0020.*", "fi0020", true}, PatternCase{"fi0020.*", "FI0020.IDX", true},
        PatternCase{"fi*.*", "fi0020", true}, PatternCase{"fi*.*", "pe0020", false},
        PatternCase{"fi0020.*", "fi00200", false}, PatternCase{"fi????.dat", "fi0020.dat", true},
        PatternCase{"fi????.dat", "fi020.dat", false},
        PatternCase{"*a*a*b", "aaaaaaaaaaaaaaaaaaaaaaaaaaaaac", false},
        PatternCase{"*.dat", ".dat", true},
        PatternCase{"\xC3\xA9t\xC3\xA9*", "\xC3\x89T\xC3\x89.txt", true},  // été*
        PatternCase{"?t\xC3\xA9", "\xC3\xA9t\xC3\xA9", true},              // one letter, two bytes
        PatternCase{"a*c", "a*xc", true},  // a Linux name may hold a "*"
        PatternCase{"a?c",
                    "a\xFF"
                    "c",
                    true}));  // a malformed byte is one character

// Names for bit 11: valid UTF-8 is kept, other bytes become U+EF00 + byte, and the
// escape characters themselves are escaped, so the mapping is one to one.
TEST(CodePageTest, Utf8NameEscapesBytesOneToOne) {
  EXPECT_EQ(Utf8Name("fi_\xE2\x82\xAC.dat"), "fi_\xE2\x82\xAC.dat");
  EXPECT_EQ(Utf8Name("plain.txt"), "plain.txt");
  EXPECT_EQ(Utf8Name("fi_\x80.dat"), "fi_\xEE\xBE\x80.dat");
  EXPECT_EQ(Utf8Name("\xFF"), "\xEE\xBF\xBF");
  EXPECT_EQ(Utf8Name("\xC3"), "\xEE\xBF\x83");  // a cut sequence
  // A literal escape character is escaped byte by byte.
  EXPECT_EQ(Utf8Name("\xEE\xBE\x80"), "\xEE\xBF\xAE\xEE\xBE\xBE\xEE\xBE\x80");
  const std::string samples[] = {"fi_\x80.dat",  "\xEE\xBE\x80",      "a\xC3\xA9\xFF",
                                 "\xED\xA0\x80", "\xF0\x9F\x98\x80x", "\xC0\xAF"};
  std::set<std::string> seen;
  for (const std::string& raw : samples) {
    std::string name = Utf8Name(raw);
    EXPECT_EQ(Utf8NameBytes(name), raw);
    EXPECT_TRUE(seen.insert(name).second) << name;
  }
  EXPECT_EQ(Utf8NameBytes("fi_\xE2\x82\xAC.dat"), "fi_\xE2\x82\xAC.dat");
}

}  // namespace
}  // namespace zw

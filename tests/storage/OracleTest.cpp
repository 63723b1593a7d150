// Archives this code writes, checked by outside readers: Info-ZIP unzip, Python's
// zipfile and 7-Zip, stored, deflated, encrypted, empty, multi-chunk and Zip64.
#include <gtest/gtest.h>

#include <map>

#include "StorageSupport.h"
#include "TempDir.h"
#include "ZipRecords.h"

namespace zw::test {
namespace {

struct OracleCase {
  const char* name;
  int level;
  const char* password;
  const char* zip64;
  size_t bigSize;  // one file this large besides the small ones
  bool randomBig;
};

class OracleTest : public ::testing::TestWithParam<OracleCase> {};

std::string Zipwriter(const TempDir& dir, const std::string& arguments) {
  std::string output;
  int status =
      RunCommand("cd " + dir.path() + " && " ZW_BIN_DIR "/zipwriter " + arguments, &output);
  EXPECT_EQ(status, 0) << output;
  return output;
}

TEST_P(OracleTest, ReadersAcceptWhatWeWrite) {
  const OracleCase& c = GetParam();
  TempDir dir;
  std::map<std::string, std::string> files = {
      {"src/empty.txt", ""},
      {"src/small.txt", "small file\n"},
      {"src/big.dat", c.randomBig ? RandomBytes(c.bigSize, 11) : TextBytes(c.bigSize, 11)},
  };
  for (const auto& [name, bytes] : files) dir.Write(name, bytes);
  std::string options = " --level " + std::to_string(c.level) + " --zip64 " + c.zip64;
  if (*c.password) options += std::string(" --password ") + c.password;
  Zipwriter(dir, "add out.zip 'src/*'" + options);
  // A second batch makes the directory be read and written again.
  dir.Write("more/late.txt", TextBytes(5000, 3));
  Zipwriter(dir, "add out.zip 'more/*'" + options);
  files["more/late.txt"] = TextBytes(5000, 3);

  std::string archive = dir / "out.zip";
  EXPECT_EQ(UnzipTest(archive, c.password), "");
  EXPECT_EQ(PythonTestZip(archive, c.password), "");
  EXPECT_EQ(SevenZipTest(archive, c.password), "");
  std::string error;
  auto entries = PythonEntries(archive, &error);
  ASSERT_EQ(error, "");
  ASSERT_EQ(entries.size(), files.size());
  for (const OracleEntry& e : entries) {
    ASSERT_TRUE(files.count(e.name)) << e.name;
    EXPECT_EQ(e.crc, ReferenceCrc32(files[e.name])) << e.name;
    EXPECT_EQ(e.size, files[e.name].size()) << e.name;
  }
  // Our own reader agrees, and Zip64 shows where it was asked for.
  DirectoryRead read = ReadDirectoryOf(ReadHostFile(archive));
  ASSERT_TRUE(read.ok) << read.error;
  for (const TDirItem& item : read.items)
    EXPECT_EQ(item.CompressedSize == kAllOnes32, std::string(c.zip64) == "always") << item.FileName;
}

INSTANTIATE_TEST_SUITE_P(
    Writes, OracleTest,
    ::testing::Values(OracleCase{"stored", 0, "", "auto", 1048577, true},
                      OracleCase{"fastest_two_chunks", 1, "", "auto", 524289, false},
                      OracleCase{"normal_two_chunks", 6, "", "auto", 1048577, false},
                      OracleCase{"max_two_chunks", 9, "", "auto", 1572865, false},
                      OracleCase{"encrypted_deflated", 6, "s3cret", "auto", 1048577, false},
                      OracleCase{"encrypted_stored", 0, "s3cret", "auto", 70000, true},
                      OracleCase{"zip64_always", 1, "", "always", 600000, false},
                      OracleCase{"zip64_always_encrypted", 6, "pw", "always", 3000, false}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace zw::test

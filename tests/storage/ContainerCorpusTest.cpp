// The shared corpus's two containers, unpacked at test time: archives of 65,536 to
// 133,000 entries, with and without Zip64, some with entry counts that contradict
// their directories, and archives holding a 5,000,000,000-byte entry. Each is read
// and compared with Python's zipfile. Slow: registered with the label "slow".
#include <gtest/gtest.h>

#include <sstream>

#include "Corpus.h"
#include "StorageSupport.h"
#include "TempDir.h"

namespace zw::test {
namespace {

const std::string kCorpus = CorpusDir();

void ExpectSameAsPython(const std::string& path) {
  DirectoryRead read = ReadDirectoryOf(ReadHostFile(path));
  ASSERT_TRUE(read.ok) << path << ": " << read.error;
  std::string error;
  auto expected = PythonEntries(path, &error);
  ASSERT_EQ(error, "") << path;
  ASSERT_EQ(read.items.size(), expected.size()) << path;
  size_t differences = 0;
  for (size_t i = 0; i < expected.size() && differences < 5; ++i) {
    const TDirItem& item = read.items[i];
    bool same = item.FileName == expected[i].name &&
                item.RealUncompressedSize() == expected[i].size &&
                item.RealCompressedSize() == expected[i].compressedSize &&
                item.Crc32 == expected[i].crc && item.RealLocalHeaderOffset() == expected[i].offset;
    if (!same) ++differences;
    EXPECT_TRUE(same) << path << " entry " << i << " " << expected[i].name;
  }
}

std::vector<std::string> Unpack(const TempDir& dir, const std::string& command) {
  std::string output;
  EXPECT_EQ(RunCommand("cd " + dir.path() + " && " + command, &output), 0) << output;
  RunCommand("cd " + dir.path() + " && find . -name '*.zip' | sort", &output);
  std::vector<std::string> files;
  std::istringstream lines(output);
  std::string line;
  while (std::getline(lines, line)) files.push_back(dir.path() + "/" + line.substr(2));
  return files;
}

// Entry counts in the end records that wrap at 65536 or contradict the directory do
// not matter: entries are read until the directory's bytes end, so all 70,000 (or
// 133,000, or 65,536) are read, as Python reads them.
TEST(ContainerCorpus, ManyFiles) {
  ZW_SKIP_WITHOUT_CORPUS();
  TempDir dir;
  auto files = Unpack(dir, "unzip -q " + kCorpus + "libzip-manyfiles-zip.zip");
  ASSERT_EQ(files.size(), 7u);
  for (const std::string& file : files) ExpectSameAsPython(file);
}

TEST(ContainerCorpus, Zip64Support) {
  ZW_SKIP_WITHOUT_CORPUS();
  TempDir dir;
  auto files = Unpack(dir, "tar -xjf " + kCorpus + "commons-zip64support.tar.bz2");
  ASSERT_EQ(files.size(), 11u);
  for (const std::string& file : files) ExpectSameAsPython(file);
}

}  // namespace
}  // namespace zw::test

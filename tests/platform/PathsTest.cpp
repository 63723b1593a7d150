// Windows-style path texts, checked on the host as pure text.
#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <ostream>
#include <string>

#include "Paths.h"
#include "ScopedEnv.h"

namespace zw {
namespace {

struct ExpandCase {
  const char* path;
  const char* currentDir;
  const char* expanded;
};

std::ostream& operator<<(std::ostream& os, const ExpandCase& c) {
  return os << "\"" << c.path << "\" in \"" << c.currentDir << "\"";
}

class ExpandFileNameTest : public ::testing::TestWithParam<ExpandCase> {};

TEST_P(ExpandFileNameTest, Expands) {
  const ExpandCase& c = GetParam();
  EXPECT_EQ(ExpandFileNameIn(c.path, c.currentDir), c.expanded)
      << "path \"" << c.path << "\" in \"" << c.currentDir << "\"";
}

INSTANTIATE_TEST_SUITE_P(
    DrivePaths, ExpandFileNameTest,
    ::testing::Values(ExpandCase{"C:\\data\\fi.dat", "\\x", "C:\\data\\fi.dat"},
                      ExpandCase{"c:\\data", "\\x", "C:\\data"},
                      ExpandCase{"C:/data/sub/../fi.dat", "\\x", "C:\\data\\fi.dat"},
                      ExpandCase{"C:\\data\\.\\fi.dat", "\\x", "C:\\data\\fi.dat"},
                      ExpandCase{"C:\\\\data//\\sub", "\\x", "C:\\data\\sub"},
                      ExpandCase{"C:\\data\\", "\\x", "C:\\data\\"},
                      ExpandCase{"C:\\..\\..\\x", "\\x", "C:\\x"},
                      ExpandCase{"C:\\a\\..\\..\\..", "\\x", "C:\\"},
                      ExpandCase{"C:", "\\x", "C:\\"}, ExpandCase{"C:\\", "\\x", "C:\\"},
                      ExpandCase{"C:name", "D:\\x", "C:\\name"}));

INSTANTIATE_TEST_SUITE_P(RootedPaths, ExpandFileNameTest,
                         ::testing::Values(ExpandCase{"\\srv\\x", "C:\\work", "\\srv\\x"},
                                           ExpandCase{"/srv/x", "C:\\work", "\\srv\\x"},
                                           ExpandCase{"\\", "C:\\work", "\\"},
                                           ExpandCase{"/../../etc", "C:\\work", "\\etc"},
                                           ExpandCase{"\\a\\.\\b\\..\\c\\", "C:\\work",
                                                      "\\a\\c\\"}));

INSTANTIATE_TEST_SUITE_P(
    UncPaths, ExpandFileNameTest,
    ::testing::Values(ExpandCase{"\\\\srv\\share\\dir\\f", "C:\\", "\\\\srv\\share\\dir\\f"},
                      ExpandCase{"//srv/share/dir/../f", "C:\\", "\\\\srv\\share\\f"},
                      ExpandCase{"\\\\srv\\share\\..\\..\\f", "C:\\", "\\\\srv\\share\\f"},
                      ExpandCase{"\\\\srv\\share", "C:\\", "\\\\srv\\share"},
                      ExpandCase{"\\\\srv\\share\\", "C:\\", "\\\\srv\\share\\"},
                      ExpandCase{"\\\\srv\\share\\..", "C:\\", "\\\\srv\\share"}));

INSTANTIATE_TEST_SUITE_P(
    RelativePaths, ExpandFileNameTest,
    ::testing::Values(ExpandCase{"fi.dat", "C:\\work", "C:\\work\\fi.dat"},
                      ExpandCase{"fi.dat", "C:\\work\\", "C:\\work\\fi.dat"},
                      ExpandCase{"fi.dat", "C:\\", "C:\\fi.dat"},
                      ExpandCase{"fi.dat", "C:", "C:\\fi.dat"},
                      ExpandCase{"..\\fi.dat", "C:\\work\\sub", "C:\\work\\fi.dat"},
                      ExpandCase{"..\\..\\..\\..\\fi.dat", "C:\\work", "C:\\fi.dat"},
                      ExpandCase{".", "C:\\work", "C:\\work"}, ExpandCase{"..", "C:\\work", "C:\\"},
                      ExpandCase{"sub\\", "C:\\work", "C:\\work\\sub\\"},
                      ExpandCase{"a//b", "\\home\\u", "\\home\\u\\a\\b"},
                      ExpandCase{"..\\..\\..\\x", "\\home\\u", "\\x"}, ExpandCase{"x", "\\", "\\x"},
                      ExpandCase{"x", "", "\\x"},
                      ExpandCase{"..\\..\\x", "\\\\srv\\share\\d", "\\\\srv\\share\\x"}));

struct PartsCase {
  const char* path;
  const char* drive;
  const char* dir;
  const char* filePath;
  const char* name;
  const char* ext;
};

std::ostream& operator<<(std::ostream& os, const PartsCase& c) { return os << c.path; }

class PathPartsTest : public ::testing::TestWithParam<PartsCase> {};

TEST_P(PathPartsTest, Splits) {
  const PartsCase& c = GetParam();
  EXPECT_EQ(ExtractFileDrive(c.path), c.drive) << c.path;
  EXPECT_EQ(ExtractFileDir(c.path), c.dir) << c.path;
  EXPECT_EQ(ExtractFilePath(c.path), c.filePath) << c.path;
  EXPECT_EQ(ExtractFileName(c.path), c.name) << c.path;
  EXPECT_EQ(ExtractFileExt(c.path), c.ext) << c.path;
}

INSTANTIATE_TEST_SUITE_P(
    Paths, PathPartsTest,
    ::testing::Values(PartsCase{"C:\\data\\fi0020.dat", "C:", "C:\\data", "C:\\data\\",
                                "fi0020.dat", ".dat"},
                      PartsCase{"C:\\fi.dat", "C:", "C:\\", "C:\\", "fi.dat", ".dat"},
                      PartsCase{"C:fi.dat", "C:", "C:", "C:", "fi.dat", ".dat"},
                      PartsCase{"C:", "C:", "C:", "C:", "", ""},
                      PartsCase{"\\fi.dat", "", "\\", "\\", "fi.dat", ".dat"},
                      PartsCase{"/a/b.c/name", "", "/a/b.c", "/a/b.c/", "name", ""},
                      PartsCase{"\\\\srv\\share\\x.zip", "\\\\srv\\share", "\\\\srv\\share",
                                "\\\\srv\\share\\", "x.zip", ".zip"},
                      PartsCase{"C:\\data\\", "C:", "C:\\data", "C:\\data\\", "", ""},
                      PartsCase{"a.tar.gz", "", "", "", "a.tar.gz", ".gz"},
                      PartsCase{".hidden", "", "", "", ".hidden", ".hidden"},
                      PartsCase{"", "", "", "", "", ""}));

struct ChangeExtCase {
  const char* path;
  const char* ext;
  const char* result;
};

std::ostream& operator<<(std::ostream& os, const ChangeExtCase& c) {
  return os << c.path << " + " << c.ext;
}

class ChangeFileExtTest : public ::testing::TestWithParam<ChangeExtCase> {};

TEST_P(ChangeFileExtTest, Changes) {
  const ChangeExtCase& c = GetParam();
  EXPECT_EQ(ChangeFileExt(c.path, c.ext), c.result);
}

INSTANTIATE_TEST_SUITE_P(
    Paths, ChangeFileExtTest,
    ::testing::Values(ChangeExtCase{"C:\\a\\Backup.zip", ".z01", "C:\\a\\Backup.z01"},
                      ChangeExtCase{"C:\\a\\Backup", ".zip", "C:\\a\\Backup.zip"},
                      ChangeExtCase{"C:\\a.b\\Backup", ".zip", "C:\\a.b\\Backup.zip"},
                      ChangeExtCase{"x.tar.gz", ".tgz", "x.tar.tgz"},
                      ChangeExtCase{"x.zip", "", "x"}));

TEST(PathDelimiterTest, IncludeAndExcludeTrailing) {
  EXPECT_EQ(IncludeTrailingPathDelimiter("C:\\a"), "C:\\a\\");
  EXPECT_EQ(IncludeTrailingPathDelimiter("C:\\a\\"), "C:\\a\\");
  EXPECT_EQ(IncludeTrailingPathDelimiter("/a/"), "/a/");
  EXPECT_EQ(IncludeTrailingPathDelimiter(""), "\\");
  EXPECT_EQ(ExcludeTrailingPathDelimiter("C:\\a\\"), "C:\\a");
  EXPECT_EQ(ExcludeTrailingPathDelimiter("C:\\a"), "C:\\a");
  EXPECT_EQ(ExcludeTrailingPathDelimiter(""), "");
}

TEST(PathAbsoluteTest, DriveWithSeparatorRootedAndUncAreAbsolute) {
  EXPECT_TRUE(IsAbsolutePath("C:\\x"));
  EXPECT_TRUE(IsAbsolutePath("C:/x"));
  EXPECT_FALSE(IsAbsolutePath("C:x"));
  EXPECT_TRUE(IsAbsolutePath("\\x"));
  EXPECT_TRUE(IsAbsolutePath("\\\\srv\\s"));
  EXPECT_FALSE(IsAbsolutePath("x\\y"));
  EXPECT_FALSE(IsAbsolutePath(""));
}

// Drive folders for the mapping tests: C and lower-case-insensitive D; others absent.
std::optional<std::string> TestDrives(char letter) {
  if (letter == 'C') return "/srv/c";
  if (letter == 'D') return "/srv/d/";
  if (letter == 'R') return "/";
  return std::nullopt;
}

TEST(HostPathTest, DrivesMapToTheirFoldersAndRootedPathsToThemselves) {
  EXPECT_EQ(HostPathWithDrives("C:\\data\\fi.dat", TestDrives), "/srv/c/data/fi.dat");
  EXPECT_EQ(HostPathWithDrives("c:\\data", TestDrives), "/srv/c/data");
  EXPECT_EQ(HostPathWithDrives("C:\\", TestDrives), "/srv/c");
  EXPECT_EQ(HostPathWithDrives("D:\\x", TestDrives), "/srv/d/x");
  EXPECT_EQ(HostPathWithDrives("R:\\x", TestDrives), "/x");
  EXPECT_EQ(HostPathWithDrives("R:\\", TestDrives), "/");
  EXPECT_EQ(HostPathWithDrives("\\srv\\c\\data", TestDrives), "/srv/c/data");
  EXPECT_EQ(HostPathWithDrives("\\", TestDrives), "/");
  EXPECT_EQ(HostPathWithDrives("E:\\x", TestDrives), std::nullopt);
  EXPECT_EQ(HostPathWithDrives("\\\\srv\\share\\x", TestDrives), std::nullopt);
}

TEST(HostPathTest, EnvironmentDrivesSetAndUnset) {
  auto k = std::make_unique<test::ScopedEnv>("ZW_DRIVE_K", "/tmp/kdrive");
  test::ScopedEnv l("ZW_DRIVE_L", std::nullopt);
  test::ScopedEnv m("ZW_DRIVE_M", "");
  EXPECT_EQ(DriveFolderFromEnvironment('K'), "/tmp/kdrive");
  EXPECT_EQ(DriveFolderFromEnvironment('k'), "/tmp/kdrive");
  EXPECT_EQ(DriveFolderFromEnvironment('L'), std::nullopt);
  EXPECT_EQ(DriveFolderFromEnvironment('M'), std::nullopt) << "an empty value maps nothing";
  // The drive path and the rooted host path name the same host file.
  auto viaDrive =
      HostPathWithDrives(ExpandFileNameIn("k:\\sub\\..\\f.dat", "\\"), DriveFolderFromEnvironment);
  auto viaRoot = HostPathWithDrives(ExpandFileNameIn("\\tmp\\kdrive\\f.dat", "C:\\"),
                                    DriveFolderFromEnvironment);
  EXPECT_EQ(viaDrive, "/tmp/kdrive/f.dat");
  EXPECT_EQ(viaDrive, viaRoot);
  EXPECT_EQ(HostPathWithDrives("L:\\f.dat", DriveFolderFromEnvironment), std::nullopt);
  k.reset();
  EXPECT_EQ(HostPathWithDrives("K:\\f.dat", DriveFolderFromEnvironment), std::nullopt);
}

TEST(HostPathTest, FromHostPathTurnsSlashesIntoBackslashes) {
  EXPECT_EQ(FromHostPath("/tmp/a b/c"), "\\tmp\\a b\\c");
  EXPECT_EQ(FromHostPath("/"), "\\");
}

}  // namespace
}  // namespace zw

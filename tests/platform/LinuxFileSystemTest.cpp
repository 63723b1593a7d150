// The real provider against real temporary folders: drive mapping, DOS attributes
// and dates, the directory search, temporary files, free space, drive types and the
// provider's own current directory.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <ctime>
#include <filesystem>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "Paths.h"
#include "PlatformTestUtil.h"

namespace zw::test {
namespace {

using namespace FileMode;

std::vector<std::string> Names(const std::vector<TSearchRec>& found) {
  std::vector<std::string> names;
  for (const auto& r : found) names.push_back(r.Name);
  return names;
}

void SetMtime(const std::string& hostPath, std::time_t t) {
  struct timespec times[2] = {{t, 0}, {t, 0}};
  ASSERT_EQ(utimensat(AT_FDCWD, hostPath.c_str(), times, 0), 0);
}

// Packs a date and time the way the DOS format does, written out independently.
int32_t Dos(int year, int month, int day, int hour, int minute, int second) {
  uint32_t date = static_cast<uint32_t>(((year - 1980) << 9) | (month << 5) | day);
  uint32_t time = static_cast<uint32_t>((hour << 11) | (minute << 5) | (second / 2));
  return static_cast<int32_t>((date << 16) | time);
}

// Makes the local time zone two hours east of UTC for one scope.
class ScopedTimeZone {
 public:
  explicit ScopedTimeZone(const char* tz) : env_(std::in_place, "TZ", tz) { tzset(); }
  ~ScopedTimeZone() {
    env_.reset();
    tzset();
  }

 private:
  std::optional<ScopedEnv> env_;
};

class LinuxFsTest : public ::testing::Test {
 protected:
  std::string Host(const std::string& name) { return env_.dir() / name; }
  LinuxEnv env_;
  FileSystem& fs_ = env_.fs();
};

TEST_F(LinuxFsTest, MappedDriveReachesItsFolderWhateverTheLetterCase) {
  env_.Put("data/fi0001.dat", "abc");
  EXPECT_TRUE(fs_.FileExists("S:\\data\\fi0001.dat"));
  EXPECT_TRUE(fs_.FileExists("s:/data/fi0001.dat"));
  EXPECT_TRUE(fs_.DirectoryExists("S:\\"));
  EXPECT_TRUE(fs_.DirectoryExists("S:\\data\\"));
  EXPECT_FALSE(fs_.DirectoryExists("S:\\data\\fi0001.dat"));
  EXPECT_FALSE(fs_.FileExists("S:\\data"));
  // The rooted host path reaches the same file.
  EXPECT_TRUE(fs_.FileExists(FromHostPath(Host("data/fi0001.dat"))));
}

// As on Windows, a name in another letter case is the same file: the user who picks
// "vess.zip" in a dialog that upper-cases it must reach that file, not a new one.
TEST_F(LinuxFsTest, NamesInAnotherCaseReachTheExistingEntries) {
  env_.Put("Data/vess.zip", "old contents");
  SetMtime(Host("Data/vess.zip"), 1000000000);
  EXPECT_TRUE(fs_.FileExists("S:\\DATA\\VESS.ZIP"));
  EXPECT_TRUE(fs_.DirectoryExists("S:\\data"));
  EXPECT_FALSE(fs_.DirectoryExists("S:\\data\\VESS.zip"));
  EXPECT_EQ(fs_.GetAttributes("S:\\DATA\\Vess.Zip"), FileAttr::faArchive);
  int32_t date = 0;
  EXPECT_TRUE(fs_.GetFileDate("S:\\data\\VESS.zip", date));
  int32_t exact = 0;
  EXPECT_TRUE(fs_.GetFileDate("S:\\Data\\vess.zip", exact));
  EXPECT_EQ(date, exact);
  {
    auto reader = fs_.Open("S:\\data\\VESS.zip", fmOpenRead | fmShareDenyWrite);
    ASSERT_NE(reader, nullptr);
    char buf[3] = {};
    EXPECT_EQ(reader->Read(buf, 3), 3);
    EXPECT_EQ(std::string(buf, 3), "old");
    // The sharing mode holds on the file itself, whatever name reached it.
    EXPECT_EQ(fs_.Open("S:\\Data\\vess.zip", fmOpenReadWrite | fmShareDenyNone), nullptr);
    EXPECT_EQ(fs_.LastError().code, OsErrorCode::kSharingViolation);
    EXPECT_FALSE(fs_.DeleteFile("S:\\DATA\\VESS.ZIP"));
    EXPECT_EQ(fs_.LastError().code, OsErrorCode::kSharingViolation);
  }
  {
    auto writer = fs_.Open("S:\\DATA\\VESS.zip", fmCreate);  // truncates vess.zip
    ASSERT_NE(writer, nullptr);
    EXPECT_EQ(writer->Write("new", 3), 3);
  }
  EXPECT_EQ(env_.dir().Read("Data/vess.zip"), "new");
  // A new file goes into the existing folder, under the name as written.
  ASSERT_NE(fs_.Open("S:\\DATA\\Week1.zip", fmCreate), nullptr);
  std::vector<TSearchRec> found;
  ASSERT_TRUE(fs_.FindFiles("S:\\DATA\\*.*", 0, found));
  EXPECT_EQ(Names(found), (std::vector<std::string>{"vess.zip", "Week1.zip"}));
  EXPECT_FALSE(std::filesystem::exists(Host("DATA")));

  EXPECT_TRUE(fs_.DeleteFile("S:\\data\\WEEK1.ZIP"));
  EXPECT_FALSE(std::filesystem::exists(Host("Data/Week1.zip")));
  EXPECT_FALSE(fs_.DeleteFile("S:\\data\\WEEK1.ZIP"));
  EXPECT_EQ(fs_.LastError().code, OsErrorCode::kFileNotFound);
}

TEST_F(LinuxFsTest, RenameAndFoldersInAnotherCase) {
  env_.Put("data/vess.zip", "v");
  env_.Put("data/other.zip", "o");
  // A target there in another case exists; a change of case of the same file works.
  EXPECT_FALSE(fs_.RenameFile("S:\\DATA\\OTHER.ZIP", "S:\\DATA\\VESS.ZIP"));
  EXPECT_EQ(fs_.LastError().code, OsErrorCode::kAlreadyExists);
  EXPECT_TRUE(fs_.RenameFile("S:\\DATA\\vess.zip", "S:\\DATA\\VESS.ZIP"));
  EXPECT_EQ(env_.dir().Read("data/VESS.ZIP"), "v");
  EXPECT_FALSE(std::filesystem::exists(Host("data/vess.zip")));
  EXPECT_TRUE(fs_.RenameFile("S:\\Data\\Other.Zip", "S:\\DATA\\week1.zip"));
  EXPECT_EQ(env_.dir().Read("data/week1.zip"), "o");

  EXPECT_FALSE(fs_.CreateDirectory("S:\\DATA"));
  EXPECT_EQ(fs_.LastError().code, OsErrorCode::kAlreadyExists);
  EXPECT_TRUE(fs_.CreateDirectory("S:\\DATA\\Sub"));
  EXPECT_TRUE(std::filesystem::is_directory(Host("data/Sub")));
  EXPECT_TRUE(fs_.SyncFolderOf("S:\\DATA\\SUB\\x.zip"));
  EXPECT_TRUE(fs_.RemoveDirectory("S:\\DATA\\SUB"));
  EXPECT_FALSE(std::filesystem::exists(Host("data/Sub")));
}

TEST_F(LinuxFsTest, AmongNamesThatDifferInCaseOnlyTheExactOneThenAFixedOneIsTaken) {
  env_.Put("vess.zip", "lower");
  env_.Put("Vess.zip", "mixed");
  env_.Put("\xc3\xa4rger.txt", "small a umlaut");  // "ärger.txt"
  auto content = [&](const std::string& name) {
    auto f = fs_.Open("S:\\" + name, fmOpenRead);
    if (!f) return std::string("<missing>");
    std::string text(static_cast<size_t>(f->Size()), '\0');
    f->Read(text.data(), f->Size());
    return text;
  };
  EXPECT_EQ(content("vess.zip"), "lower");
  EXPECT_EQ(content("Vess.zip"), "mixed");
  EXPECT_EQ(content("VESS.ZIP"), "mixed") << "the byte-wise smallest of the matches";
  EXPECT_EQ(content("\xc3\x84RGER.TXT"), "small a umlaut") << "the locale's case mapping";
}

TEST_F(LinuxFsTest, UnmappedDriveIsAMissingPath) {
  ScopedEnv unmapped("ZW_DRIVE_Q", std::nullopt);
  EXPECT_EQ(fs_.Open("Q:\\x.dat", fmCreate), nullptr);
  EXPECT_EQ(fs_.LastError().code, OsErrorCode::kPathNotFound);
  EXPECT_EQ(fs_.LastError().message, "The system cannot find the path specified.");
  EXPECT_FALSE(fs_.FileExists("Q:\\x.dat"));
  EXPECT_EQ(fs_.GetAttributes("Q:\\x.dat"), -1);
  EXPECT_EQ(fs_.LastError().code, OsErrorCode::kPathNotFound);
  std::vector<TSearchRec> found;
  EXPECT_FALSE(fs_.FindFiles("Q:\\*.*", 0, found));
  EXPECT_EQ(fs_.GetFreeSpace("Q:\\"), -1);
  std::string temp;
  EXPECT_FALSE(fs_.CreateTempFile("Q:\\", "FC", temp));
  EXPECT_EQ(fs_.LastError().code, OsErrorCode::kPathNotFound);
  // UNC paths have no host form either.
  EXPECT_EQ(fs_.Open("\\\\srv\\share\\x.dat", fmOpenRead), nullptr);
  EXPECT_EQ(fs_.LastError().code, OsErrorCode::kPathNotFound);
}

TEST_F(LinuxFsTest, DriveMappingIsReadAtEachCall) {
  TempDir other;
  WriteHostFile(other / "x.dat", "x");
  {
    ScopedEnv mapped("ZW_DRIVE_Q", other.path());
    EXPECT_TRUE(fs_.FileExists("Q:\\x.dat"));
  }
  EXPECT_FALSE(fs_.FileExists("Q:\\x.dat"));
}

struct AttrCase {
  const char* name;
  int32_t attributes;
};

TEST_F(LinuxFsTest, DosAttributesOfHostObjects) {
  env_.Put("file.dat", "x");
  env_.Put("ro.dat", "x");
  chmod(Host("ro.dat").c_str(), 0444);
  env_.Put(".hidden", "x");
  env_.Put("dir/inner", "x");
  env_.Put(".hdir/inner", "x");
  env_.Put("rodir/inner", "x");
  chmod(Host("rodir").c_str(), 0555);
  ASSERT_EQ(mkfifo(Host("pipe").c_str(), 0644), 0);
  const AttrCase cases[] = {
      {"file.dat", FileAttr::faArchive},
      {"ro.dat", FileAttr::faArchive | FileAttr::faReadOnly},
      {".hidden", FileAttr::faArchive | FileAttr::faHidden},
      {"dir", FileAttr::faDirectory},
      {"dir\\", FileAttr::faDirectory},
      {".hdir", FileAttr::faDirectory | FileAttr::faHidden},
      {"rodir", FileAttr::faDirectory | FileAttr::faReadOnly},
      {"pipe", FileAttr::faNormal},
      {"dir\\..\\.hidden", FileAttr::faArchive | FileAttr::faHidden},
  };
  for (const AttrCase& c : cases)
    EXPECT_EQ(fs_.GetAttributes(env_.PathOf(c.name)), c.attributes) << c.name;
  EXPECT_EQ(fs_.GetAttributes(env_.PathOf("missing")), -1);
  EXPECT_EQ(fs_.LastError().code, OsErrorCode::kFileNotFound);
}

TEST_F(LinuxFsTest, FileDateIsTheLocalDosTimeOfTheLastWrite) {
  ScopedTimeZone zone("UTC-2");  // POSIX notation: two hours east of UTC
  env_.Put("f.dat", "x");
  SetMtime(Host("f.dat"), 1592216431);  // 2020-06-15 10:20:31 UTC
  int32_t dos = 0;
  ASSERT_TRUE(fs_.GetFileDate(env_.PathOf("f.dat"), dos));
  EXPECT_EQ(dos, Dos(2020, 6, 15, 12, 20, 30)) << std::hex << dos;
  std::vector<TSearchRec> found;
  ASSERT_TRUE(fs_.FindFiles(env_.PathOf("f.dat"), 0, found));
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0].Time, dos);
}

TEST_F(LinuxFsTest, FileDateOutsideTheDosRangeOrOfAFolderIsUnknown) {
  ScopedTimeZone zone("UTC0");
  env_.Put("old.dat", "x");
  SetMtime(Host("old.dat"), 315532799);  // 1979-12-31 23:59:59 UTC
  int32_t dos = 0;
  EXPECT_FALSE(fs_.GetFileDate(env_.PathOf("old.dat"), dos));
  SetMtime(Host("old.dat"), 315532800);  // 1980-01-01 00:00:00
  EXPECT_TRUE(fs_.GetFileDate(env_.PathOf("old.dat"), dos));
  EXPECT_EQ(dos, Dos(1980, 1, 1, 0, 0, 0));
  env_.Put("dir/x", "x");
  EXPECT_FALSE(fs_.GetFileDate(env_.PathOf("dir"), dos));
  EXPECT_FALSE(fs_.GetFileDate(env_.PathOf("missing"), dos));
  EXPECT_EQ(fs_.LastError().code, OsErrorCode::kFileNotFound);
}

class LinuxFindTest : public LinuxFsTest {
 protected:
  void SetUp() override {
    for (const char* name : {"FI0020.DAT", "fi0001.dat", "fi0020", "Fi0004.Dat", "pe0001.dat",
                             "notes.txt", ".fi0009.dat"})
      env_.Put(name, name);
    env_.Put("fidir/inner.dat", "x");
    env_.Put("ro.dat", "ro");
    chmod(Host("ro.dat").c_str(), 0444);
  }
  std::vector<std::string> Find(const std::string& mask, int32_t attr) {
    std::vector<TSearchRec> found;
    EXPECT_TRUE(fs_.FindFiles(env_.PathOf(mask), attr, found)) << mask;
    return Names(found);
  }
  using V = std::vector<std::string>;
};

TEST_F(LinuxFindTest, MasksMatchTheWindowsWayInCaseInsensitiveOrder) {
  EXPECT_EQ(Find("fi*.dat", 0), (V{"fi0001.dat", "Fi0004.Dat", "FI0020.DAT"}));
  EXPECT_EQ(Find("FI0020.*", 0), (V{"fi0020", "FI0020.DAT"}));
  EXPECT_EQ(Find("*.*", 0), (V{"fi0001.dat", "Fi0004.Dat", "fi0020", "FI0020.DAT", "notes.txt",
                               "pe0001.dat", "ro.dat"}));
  EXPECT_EQ(Find("*", 0), Find("*.*", 0));
  EXPECT_EQ(Find("?e0001.dat", 0), (V{"pe0001.dat"}));
  EXPECT_EQ(Find("nothing*", 0), V{});
}

TEST_F(LinuxFindTest, HiddenAndFolderEntriesNeedTheirBitsInTheMask) {
  EXPECT_EQ(Find("*.dat", 0),
            (V{"fi0001.dat", "Fi0004.Dat", "FI0020.DAT", "pe0001.dat", "ro.dat"}));
  EXPECT_EQ(Find("*.dat", FileAttr::faHidden),
            (V{".fi0009.dat", "fi0001.dat", "Fi0004.Dat", "FI0020.DAT", "pe0001.dat", "ro.dat"}));
  EXPECT_EQ(Find("fi*", 0), (V{"fi0001.dat", "Fi0004.Dat", "fi0020", "FI0020.DAT"}));
  EXPECT_EQ(Find("fi*", FileAttr::faDirectory),
            (V{"fi0001.dat", "Fi0004.Dat", "fi0020", "FI0020.DAT", "fidir"}));
  // Read-only and archive bits never exclude anything.
  EXPECT_EQ(Find("ro.dat", 0), (V{"ro.dat"}));
  EXPECT_EQ(Find("ro.dat", FileAttr::faReadOnly), (V{"ro.dat"}));
}

TEST_F(LinuxFindTest, DotEntriesAreNeverYielded) {
  V all = Find("*", FileAttr::faDirectory | FileAttr::faHidden);
  EXPECT_EQ(std::count(all.begin(), all.end(), "."), 0);
  EXPECT_EQ(std::count(all.begin(), all.end(), ".."), 0);
  EXPECT_EQ(all.size(), 9u);
}

TEST_F(LinuxFindTest, RecordsCarrySizeAndAttributes) {
  std::vector<TSearchRec> found;
  ASSERT_TRUE(fs_.FindFiles(env_.PathOf("*"), FileAttr::faDirectory, found));
  for (const auto& r : found) {
    if (r.Name == "fidir") {
      EXPECT_EQ(r.Attr, FileAttr::faDirectory);
      EXPECT_EQ(r.Size, 0);
    } else if (r.Name == "ro.dat") {
      EXPECT_EQ(r.Attr, FileAttr::faArchive | FileAttr::faReadOnly);
      EXPECT_EQ(r.Size, 2);
    } else {
      EXPECT_EQ(r.Attr, FileAttr::faArchive) << r.Name;
      EXPECT_EQ(r.Size, static_cast<int64_t>(r.Name.size())) << r.Name;
    }
    EXPECT_NE(r.Time, 0) << r.Name;
  }
}

TEST_F(LinuxFindTest, FindDirectoriesYieldsWhatTheFullSearchYieldsForFolders) {
  ASSERT_EQ(mkdir(Host(".hiddendir").c_str(), 0755), 0);
  ASSERT_EQ(mkdir(Host("rodir").c_str(), 0555), 0);
  ASSERT_EQ(symlink(Host("fidir").c_str(), Host("linkdir").c_str()), 0);
  ASSERT_EQ(symlink(Host("notes.txt").c_str(), Host("linkfile").c_str()), 0);
  ASSERT_EQ(symlink(Host("gone").c_str(), Host("dangling").c_str()), 0);
  for (int32_t mask : {0, FileAttr::faHidden, FileAttr::faHidden | FileAttr::faSysFile}) {
    std::vector<TSearchRec> all, dirs;
    ASSERT_TRUE(fs_.FindFiles(env_.PathOf("*"), mask | FileAttr::faDirectory, all));
    std::erase_if(all, [](const TSearchRec& r) { return !(r.Attr & FileAttr::faDirectory); });
    ASSERT_TRUE(fs_.FindDirectories(env_.PathOf(""), mask, dirs));
    ASSERT_EQ(Names(dirs), Names(all)) << "mask " << mask;
    for (size_t i = 0; i < dirs.size(); ++i) EXPECT_EQ(dirs[i].Attr, all[i].Attr);
  }
  std::vector<TSearchRec> dirs;
  ASSERT_TRUE(fs_.FindDirectories(env_.PathOf(""), FileAttr::faHidden, dirs));
  // The linked folder is left out of both searches: a recursive search must not loop.
  EXPECT_EQ(Names(dirs), (V{".hiddendir", "fidir", "rodir"}));
  EXPECT_FALSE(fs_.FindDirectories(env_.PathOf("nodir\\"), 0, dirs));
}

TEST_F(LinuxFindTest, RelativePatternUsesTheProviderCurrentDirectory) {
  ASSERT_TRUE(fs_.SetCurrentDir("S:\\fidir"));
  std::vector<TSearchRec> found;
  ASSERT_TRUE(fs_.FindFiles("*.dat", 0, found));
  EXPECT_EQ(Names(found), (V{"inner.dat"}));
  ASSERT_TRUE(fs_.FindFiles("..\\pe*", 0, found));
  EXPECT_EQ(Names(found), (V{"pe0001.dat"}));
}

TEST_F(LinuxFindTest, MissingFolderFails) {
  std::vector<TSearchRec> found{TSearchRec{}};
  EXPECT_FALSE(fs_.FindFiles(env_.PathOf("nodir\\*.*"), 0, found));
  EXPECT_TRUE(found.empty());
}

TEST_F(LinuxFsTest, TempFilesAreNewEmptyFilesWithPrefixAndFourHexDigits) {
  std::set<std::string> seen;
  for (int i = 0; i < 40; ++i) {
    std::string path;
    ASSERT_TRUE(fs_.CreateTempFile(i % 2 ? "S:\\" : "S:", "FC", path));
    EXPECT_TRUE(IsTempName(path, "S:\\FC")) << path;
    EXPECT_TRUE(seen.insert(path).second) << "name given twice: " << path;
    EXPECT_TRUE(fs_.FileExists(path));
    EXPECT_EQ(env_.Content(ExtractFileName(path)), "");
  }
  std::string path;
  ASSERT_TRUE(fs_.CreateTempFile("S:\\", "FCXYZ", path));
  EXPECT_TRUE(IsTempName(path, "S:\\FCX")) << path;
  EXPECT_FALSE(fs_.CreateTempFile("S:\\nodir", "FC", path));
  EXPECT_EQ(fs_.LastError().code, OsErrorCode::kPathNotFound);
}

TEST_F(LinuxFsTest, TempDirFollowsTmpdirWithTrailingSeparator) {
  ScopedEnv tmp("TMPDIR", env_.dir().path());
  EXPECT_EQ(fs_.GetTempDir(), FromHostPath(env_.dir().path()) + "\\");
}

TEST_F(LinuxFsTest, FreeSpaceIsWhatTheHostReports) {
  struct statvfs vfs {};
  ASSERT_EQ(statvfs(env_.dir().path().c_str(), &vfs), 0);
  int64_t host = static_cast<int64_t>(vfs.f_bavail) * static_cast<int64_t>(vfs.f_frsize);
  int64_t reported = fs_.GetFreeSpace("S:\\");
  EXPECT_GT(reported, 0);
  // Other programs write meanwhile; a 64 MiB slack keeps the check honest but stable.
  EXPECT_NEAR(static_cast<double>(reported), static_cast<double>(host), 64.0 * 1024 * 1024);
  // A name not there yet is measured on the folder that would hold it.
  EXPECT_NEAR(static_cast<double>(fs_.GetFreeSpace("S:\\not\\yet\\there.zip")),
              static_cast<double>(reported), 64.0 * 1024 * 1024);
}

TEST_F(LinuxFsTest, DriveTypes) {
  ScopedEnv unmappedA("ZW_DRIVE_A", std::nullopt);
  ScopedEnv unmappedQ("ZW_DRIVE_Q", std::nullopt);
  EXPECT_EQ(fs_.GetDriveType("A:\\"), DriveType::kRemovable);
  EXPECT_EQ(fs_.GetDriveType("b:\\"), DriveType::kRemovable);
  EXPECT_EQ(fs_.GetDriveType("S:\\"), DriveType::kFixed);
  EXPECT_EQ(fs_.GetDriveType("Q:\\"), DriveType::kNoRootDir);
}

TEST_F(LinuxFsTest, CurrentDirectoryIsTheProvidersOwn) {
  char before[PATH_MAX];
  ASSERT_NE(getcwd(before, sizeof before), nullptr);
  LinuxFileSystem fresh;
  EXPECT_EQ(fresh.GetCurrentDir(), FromHostPath(before));
  env_.Put("sub/x.dat", "x");
  ASSERT_TRUE(fs_.SetCurrentDir("S:\\sub\\"));
  EXPECT_EQ(fs_.GetCurrentDir(), "S:\\sub");
  EXPECT_TRUE(fs_.FileExists("x.dat"));
  EXPECT_NE(fs_.Open("x.dat", fmOpenRead | fmShareDenyNone), nullptr);
  ASSERT_TRUE(fs_.SetCurrentDir(".."));
  EXPECT_EQ(fs_.GetCurrentDir(), "S:\\");
  EXPECT_FALSE(fs_.SetCurrentDir("S:\\nodir"));
  EXPECT_EQ(fs_.GetCurrentDir(), "S:\\");
  char after[PATH_MAX];
  ASSERT_NE(getcwd(after, sizeof after), nullptr);
  EXPECT_STREQ(before, after) << "the process's directory must not move";
}

TEST_F(LinuxFsTest, PositionsAndSizesBeyondFourGigabytes) {
  // A sparse file: the host stores only the written block.
  constexpr int64_t kFar = (int64_t{5} << 30) + 3;
  auto h = fs_.Open(env_.PathOf("big.bin"), fmCreate);
  ASSERT_NE(h, nullptr);
  ASSERT_EQ(h->Seek(kFar, SeekOrigin::kBegin), kFar);
  ASSERT_EQ(h->Write("z", 1), 1);
  EXPECT_EQ(h->Size(), kFar + 1);
  EXPECT_EQ(h->Seek(-1, SeekOrigin::kEnd), kFar);
  char c = 0;
  EXPECT_EQ(h->Read(&c, 1), 1);
  EXPECT_EQ(c, 'z');
  EXPECT_TRUE(h->Truncate(kFar - 1));
  EXPECT_EQ(h->Size(), kFar - 1);
  std::vector<TSearchRec> found;
  ASSERT_TRUE(fs_.FindFiles(env_.PathOf("big.bin"), 0, found));
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0].Size, kFar - 1);
}

// Runs `body` in a child process; true when it exits with status 0 within the time.
bool ChildSucceedsWithin(int seconds, void (*body)(const std::string&), const std::string& arg) {
  pid_t pid = fork();
  if (pid == 0) {
    body(arg);
    _exit(0);
  }
  int status = 0;
  for (int i = 0; i < seconds * 100; ++i) {
    if (waitpid(pid, &status, WNOHANG) == pid) return WIFEXITED(status) && WEXITSTATUS(status) == 0;
    usleep(10000);
  }
  kill(pid, SIGKILL);
  waitpid(pid, &status, 0);
  return false;
}

void OpenFifoAndRead(const std::string& path) {
  LinuxFileSystem fs;
  auto handle = fs.Open(path, fmOpenRead | fmShareDenyNone);
  if (handle) {
    char c;
    handle->Read(&c, 1);
  }
}

TEST_F(LinuxFsTest, OpeningAFifoFoundBySearchDoesNotHang) {
  // A search by mask may meet a named pipe; reading it must not wait for a writer.
  ASSERT_EQ(mkfifo(Host("fi9999.dat").c_str(), 0644), 0);
  EXPECT_TRUE(ChildSucceedsWithin(5, OpenFifoAndRead, FromHostPath(Host("fi9999.dat"))));
}

}  // namespace
}  // namespace zw::test

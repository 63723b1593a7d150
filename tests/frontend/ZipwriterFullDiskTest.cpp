// zipwriter on a small file system that runs out of room in the middle of an update:
// the run fails, and after an opening (which would replay a leftover journal) the archive
// is byte for byte the old one and no journal is left. The journal lives beside the
// archive, on the same full disk, so it can be the write that fails, too.
//
// Mounting needs root (CI runs as root); elsewhere the tests skip and say why.
#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <filesystem>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "TempDir.h"

namespace zw::test {
namespace {

uint64_t FreeBytes(const std::string& folder) {
  struct statvfs st {};
  if (statvfs(folder.c_str(), &st) != 0) return 0;
  return static_cast<uint64_t>(st.f_bavail) * st.f_frsize;
}

// A small file system mounted on a folder for the length of a test; unmounted (and its
// loop device released) however the test ends.
class SmallFileSystem {
 public:
  explicit SmallFileSystem(std::string mountPoint) : mountPoint_(std::move(mountPoint)) {
    std::filesystem::create_directories(mountPoint_);
  }
  ~SmallFileSystem() {
    if (!mounted_) return;
    if (RunCommand("umount " + ShellQuote(mountPoint_)) != 0)
      RunCommand("umount -l " + ShellQuote(mountPoint_));
  }
  SmallFileSystem(const SmallFileSystem&) = delete;
  SmallFileSystem& operator=(const SmallFileSystem&) = delete;

  // Each returns "" when the file system is mounted, else why it is not.
  std::string MountTmpfs(const std::string& size) {
    return Mount("mount -t tmpfs -o size=" + size + " zwfull " + ShellQuote(mountPoint_));
  }
  std::string MountVfat(const std::string& image, const std::string& size) {
    std::string output;
    if (RunCommand("PATH=\"$PATH:/usr/sbin:/sbin\" && truncate -s " + size + " " +
                       ShellQuote(image) + " && mkfs.vfat " + ShellQuote(image),
                   &output) != 0)
      return "mkfs.vfat failed: " + output;
    return Mount("mount -o loop " + ShellQuote(image) + " " + ShellQuote(mountPoint_));
  }

 private:
  std::string Mount(const std::string& command) {
    if (geteuid() != 0) return "mounting a file system needs root";
    std::string output;
    if (RunCommand(command, &output) != 0) return "`" + command + "` failed: " + output;
    mounted_ = true;
    return "";
  }

  std::string mountPoint_;
  bool mounted_ = false;
};

// Fills the file system of `folder` with a file until a write fails with ENOSPC, then
// gives back `room` bytes (about: the file system counts in blocks).
bool FillLeaving(const std::string& folder, size_t room) {
  std::string path = folder + "/filler";
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) return false;
  std::vector<char> block(4096, 'x');
  off_t written = 0;
  for (;;) {
    ssize_t n = write(fd, block.data(), block.size());
    if (n <= 0) break;
    written += n;
  }
  bool full = errno == ENOSPC;
  bool ok =
      full && ftruncate(fd, written > static_cast<off_t>(room) ? written - static_cast<off_t>(room)
                                                               : 0) == 0;
  ok = fsync(fd) == 0 && ok;
  close(fd);
  return ok;
}

enum class Kind { kTmpfs, kVfat };

class ZipwriterFullDiskTest : public ::testing::TestWithParam<Kind> {
 protected:
  void SetUp() override {
    dir.Write("data/a.bin", RandomBytes(300000, 1));
    dir.Write("data/b.bin", RandomBytes(400000, 2));
    dir.Write("data/big.bin", RandomBytes(1000000, 3));
    disk = std::make_unique<SmallFileSystem>(mnt);
    std::string why = GetParam() == Kind::kTmpfs ? disk->MountTmpfs("2m")
                                                 : disk->MountVfat(dir / "fat.img", "2M");
    if (!why.empty()) GTEST_SKIP() << "no small file system to fill: " << why;
  }

  // zipwriter in the test folder (relative masks from there); returns the exit status.
  int Run(const std::string& arguments, std::string* errors = nullptr) {
    int status = RunCommand("(cd " + ShellQuote(dir.path()) + " && ZW_UI=script:/dev/null " +
                            ZW_ZIPWRITER + " " + arguments + " 2>errors.txt >/dev/null)");
    if (errors) *errors = dir.Read("errors.txt");
    return status;
  }

  // Names on the small file system other than the archive and the filler.
  std::vector<std::string> Others() const {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(mnt)) {
      std::string name = e.path().filename().string();
      if (name != "a.zip" && name != "filler" && name != "lost+found") names.push_back(name);
    }
    return names;
  }

  // The failed update left the old archive: the opening (list) finds it as it was,
  // with no journal beside it then.
  void ExpectOldArchiveAfterOpening(const std::string& before) {
    std::string errors;
    EXPECT_EQ(Run("list " + ShellQuote(archive), &errors), 0) << errors;
    EXPECT_EQ(ReadHostFile(archive), before);
    EXPECT_FALSE(std::filesystem::exists(archive + "-journal"));
    EXPECT_EQ(Others(), std::vector<std::string>{});
    std::string list;
    EXPECT_EQ(RunCommand("unzip -tq " + ShellQuote(archive), &list), 0) << list;
  }

  TempDir dir;
  std::string mnt = dir / "mnt";
  std::string archive = mnt + "/a.zip";
  std::unique_ptr<SmallFileSystem> disk;
};

// The new entry's data does not fit: the run ends with an error (1), or with the batch
// aborted (3) when the failure is met as a per-file failure and its question is answered
// Abort (the script provider's answer when it has none).
TEST_P(ZipwriterFullDiskTest, AppendThatRunsOutOfRoomLeavesTheOldArchive) {
  ASSERT_EQ(Run("add " + ShellQuote(archive) + " data/a.bin --level 0"), 0);
  const std::string before = ReadHostFile(archive);
  ASSERT_GT(before.size(), 300000u);
  ASSERT_TRUE(FillLeaving(mnt, 200000));
  ASSERT_LT(FreeBytes(mnt), 400000u);

  std::string errors;
  int status = Run("add " + ShellQuote(archive) + " data/big.bin --level 0", &errors);
  EXPECT_TRUE(status == 1 || status == 3) << "status " << status << ": " << errors;
  EXPECT_NE(errors, "");
  std::cout << "zipwriter said: " << errors;
  ExpectOldArchiveAfterOpening(before);
}

// Replacing the first entry saves everything behind it in the journal first; on the
// full disk that journal cannot be written, and the archive is never touched.
TEST_P(ZipwriterFullDiskTest, JournalThatDoesNotFitLeavesTheOldArchive) {
  ASSERT_EQ(Run("add " + ShellQuote(archive) + " data/a.bin data/b.bin --level 0"), 0);
  const std::string before = ReadHostFile(archive);
  ASSERT_TRUE(FillLeaving(mnt, 200000));
  ASSERT_LT(FreeBytes(mnt), 400000u);
  dir.Write("data/a.bin", RandomBytes(300000, 4));

  std::string errors;
  int status = Run("add " + ShellQuote(archive) + " data/a.bin --level 0", &errors);
  EXPECT_TRUE(status == 1 || status == 3) << "status " << status << ": " << errors;
  EXPECT_NE(errors, "");
  std::cout << "zipwriter said: " << errors;
  ExpectOldArchiveAfterOpening(before);
}

INSTANTIATE_TEST_SUITE_P(SmallDisks, ZipwriterFullDiskTest,
                         ::testing::Values(Kind::kTmpfs, Kind::kVfat),
                         [](const ::testing::TestParamInfo<Kind>& info) {
                           return info.param == Kind::kTmpfs ? "Tmpfs" : "Vfat";
                         });

}  // namespace
}  // namespace zw::test

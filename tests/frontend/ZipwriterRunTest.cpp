// zipwriter end to end, as a script calling it meets it: the exit status of each way a
// run ends, the lines on standard error about what an opening found, and a file size
// limit that gives a write error instead of a signal.
#include <gtest/gtest.h>

#include <fstream>

#include "ShareHolderClient.h"
#include "TempDir.h"

namespace zw::test {
namespace {

constexpr uint16_t kDenyRead = 0x30;  // read access, others may not read

// `count` bytes of numbered text lines.
std::string Text(size_t count, int seed) {
  std::string out;
  for (int i = 0; out.size() < count; ++i)
    out += "line " + std::to_string(i * seed) + " of file " + std::to_string(seed) + "\n";
  return out.substr(0, count);
}

struct ToolRun {
  int status = -1;
  std::string transcript;  // standard output: the scripted questions and answers
  std::string errors;      // standard error
};

class ZipwriterRunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir.Write("data/a.txt", Text(5000, 1));
    dir.Write("data/b.txt", Text(6000, 2));
    dir.Write("more/c.txt", Text(7000, 3));
  }

  // Runs zipwriter in the test folder; `shell` goes in front (e.g. a ulimit).
  ToolRun Run(const std::string& arguments, const std::vector<std::string>& answers = {},
              const std::string& shell = "") {
    {
      std::ofstream out(dir / "answers.txt", std::ios::trunc);
      for (const auto& a : answers) out << a << "\n";
    }
    ToolRun run;
    run.status =
        RunCommand("(cd " + ShellQuote(dir.path()) + " && " + shell + "ZW_UI=script:answers.txt " +
                       ZW_ZIPWRITER + " " + arguments + " 2>errors.txt)",
                   &run.transcript);
    run.errors = ReadHostFile(dir / "errors.txt");
    return run;
  }

  void Hold(const std::string& relative) {
    ASSERT_TRUE(holder.Started());
    ASSERT_EQ(holder.Hold(dir / relative, kDenyRead), OsErrorCode::kNone);
  }

  TempDir dir;
  ShareHolderProcess holder;
};

TEST_F(ZipwriterRunTest, EverythingInIsZeroAndAUsageErrorIsTwo) {
  ToolRun run = Run("add a.zip 'data/*.txt' 'more/*.txt'");
  EXPECT_EQ(run.status, 0) << run.errors;
  EXPECT_EQ(run.errors, "");
  EXPECT_EQ(Run("add a.zip").status, 2);
  EXPECT_EQ(Run("add a.zip x --level 12").status, 2);
}

// Abort rolls the batch back and ends the run: the later mask is not added either.
TEST_F(ZipwriterRunTest, AbortedBatchIsThreeAndLeavesTheArchiveAsItWas) {
  ASSERT_EQ(Run("add a.zip data/a.txt").status, 0);
  std::string before = ReadHostFile(dir / "a.zip");
  Hold("data/b.txt");
  ToolRun run = Run("add a.zip 'data/*.txt' 'more/*.txt'", {"Abort"});
  EXPECT_EQ(run.status, 3) << run.errors;
  EXPECT_NE(run.transcript.find("Abort,Retry,Ignore"), std::string::npos) << run.transcript;
  EXPECT_NE(run.errors.find("zipwriter: a.zip: the update was aborted"), std::string::npos)
      << run.errors;
  EXPECT_EQ(ReadHostFile(dir / "a.zip"), before);
}

TEST_F(ZipwriterRunTest, SkippedFileIsFourAndEverythingElseGoesIn) {
  Hold("data/b.txt");
  ToolRun run = Run("add a.zip 'data/*.txt' 'more/*.txt'", {"Ignore"});
  EXPECT_EQ(run.status, 4) << run.errors;
  EXPECT_NE(run.errors.find("zipwriter: skipped "), std::string::npos) << run.errors;
  std::string list;
  ASSERT_EQ(RunCommand("unzip -Z1 " + ShellQuote(dir / "a.zip"), &list), 0) << list;
  EXPECT_EQ(list, "data/a.txt\nmore/c.txt\n");
}

// Over the limit a write fails with EFBIG: an error like a full disk, and the batch
// rolls back; SIGXFSZ would have killed the process with the archive half written.
TEST_F(ZipwriterRunTest, FileSizeLimitGivesAWriteErrorNotASignal) {
  ASSERT_EQ(Run("add a.zip data/a.txt").status, 0);
  std::string before = ReadHostFile(dir / "a.zip");
  dir.Write("big.bin", RandomBytes(1000000, 7));
  ToolRun run = Run("add a.zip big.bin --level 0", {}, "ulimit -f 128 && ");  // 64 or 128 KiB
  EXPECT_EQ(run.status, 1) << run.errors;
  EXPECT_EQ(run.errors, "zipwriter: Stream write error\n");
  EXPECT_EQ(ReadHostFile(dir / "a.zip"), before);
}

// An archive cut off without its directory: the scan keeps the complete entry, leaves
// out the cut one, and the tool says so on every opening, for list and add alike.
TEST_F(ZipwriterRunTest, OpeningSaysHowManyUnfinishedEntriesWereLeftOut) {
  ASSERT_EQ(Run("add a.zip data/a.txt data/b.txt --level 0").status, 0);
  std::string bytes = ReadHostFile(dir / "a.zip");
  dir.Write("cut.zip", bytes.substr(0, 5000 + 100 + 3000));  // into b.txt's data
  const std::string line =
      "zipwriter: cut.zip: the archive had no directory; 1 unfinished entry was left out\n";
  ToolRun list = Run("list cut.zip");
  EXPECT_EQ(list.status, 0);
  EXPECT_EQ(list.errors, line);
  EXPECT_NE(list.transcript.find("# entries: 1\n"), std::string::npos) << list.transcript;
  EXPECT_EQ(Run("add cut.zip more/c.txt").errors, line);
}

// The process is killed in the middle of an update (while it waits for an answer);
// the next opening puts the archive back and says so, once.
TEST_F(ZipwriterRunTest, OpeningSaysAnInterruptedUpdateWasUndone) {
  ASSERT_EQ(Run("add a.zip data/a.txt").status, 0);
  ASSERT_EQ(RunCommand("cp " + ShellQuote(dir / "a.zip") + " " + ShellQuote(dir / "before.zip")),
            0);
  Hold("data/b.txt");
  // Answers come from a pipe that never delivers one; once the archive has changed
  // the update is under way, and the kill interrupts it.
  std::string script = "cd " + ShellQuote(dir.path()) +
                       " && mkfifo never && exec 3<>never"
                       " && { ZW_UI=script:never " ZW_ZIPWRITER
                       " add a.zip 'data/*.txt' >/dev/null 2>&1 & pid=$!; }"
                       " && i=0 && while cmp -s a.zip before.zip && [ $i -lt 200 ]; do"
                       " sleep 0.05; i=$((i+1)); done"
                       " && kill -9 $pid && { wait $pid; true; }";
  ASSERT_EQ(RunCommand(script), 0);
  ToolRun run = Run("list a.zip");
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.errors,
            "zipwriter: a.zip: an interrupted update was undone; the archive is as it was before "
            "that update\n");
  EXPECT_EQ(ReadHostFile(dir / "a.zip"), ReadHostFile(dir / "before.zip"));
  EXPECT_EQ(Run("list a.zip").errors, "");
}

}  // namespace
}  // namespace zw::test

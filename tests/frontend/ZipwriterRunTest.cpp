// zipwriter end to end, as a script calling it meets it: the exit status of each way a
// run ends, the lines on standard error about what an opening found, and a file size
// limit that gives a write error instead of a signal.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <sstream>

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
  // A scripted run whose answers file is missing stops before it touches anything.
  std::string output;
  EXPECT_EQ(RunCommand("(cd " + ShellQuote(dir.path()) + " && ZW_UI=script:missing.txt " +
                           ZW_ZIPWRITER + " list a.zip 2>&1)",
                       &output),
            2);
  EXPECT_NE(output.find("cannot read the answers file"), std::string::npos) << output;
  // Host paths in messages are spelled as the host names them.
  ToolRun missing = Run("add nothere/a.zip data/a.txt");
  EXPECT_EQ(missing.status, 1);
  EXPECT_NE(missing.errors.find('"' + (dir / "nothere/a.zip") + '"'), std::string::npos)
      << missing.errors;
  EXPECT_EQ(missing.errors.find('\\'), std::string::npos) << missing.errors;
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
  EXPECT_NE(run.errors.find("zipwriter: skipped " + (dir / "data/b.txt") + "\n"), std::string::npos)
      << run.errors;
  EXPECT_EQ(run.transcript.find('\\'), std::string::npos) << run.transcript;
  std::string list;
  ASSERT_EQ(RunCommand("unzip -Z1 " + ShellQuote(dir / "a.zip"), &list), 0) << list;
  EXPECT_EQ(list, "data/a.txt\nmore/c.txt\n");
}

// Over the limit a write fails with EFBIG: the per-file failure of a full disk, and
// Abort rolls the batch back; SIGXFSZ would have killed the process with the archive
// half written.
TEST_F(ZipwriterRunTest, FileSizeLimitGivesAWriteErrorNotASignal) {
  ASSERT_EQ(Run("add a.zip data/a.txt").status, 0);
  std::string before = ReadHostFile(dir / "a.zip");
  dir.Write("big.bin", RandomBytes(4000000, 7));
  // Stored, and deflated with chunks still in flight on the workers when a write fails.
  for (const char* options : {"--level 0", "--level 1 --threads 2", "--level 6 --threads 8"}) {
    SCOPED_TRACE(options);
    ToolRun run = Run(std::string("add a.zip big.bin ") + options, {"Abort"},
                      "ulimit -f 128 && ");  // 64/128 KiB
    EXPECT_EQ(run.status, 3) << run.errors;
    EXPECT_NE(run.transcript.find("possibly disk is full\tAbort"), std::string::npos)
        << run.transcript;
    EXPECT_EQ(ReadHostFile(dir / "a.zip"), before);
  }
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

// A script keeps the password off the command line (where `ps` shows it): through
// ZW_PASSWORD or the first line of a file. Info-ZIP's unzip opens the entries with it,
// and with no other.
TEST_F(ZipwriterRunTest, PasswordFromEnvironmentOrFileEncryptsTheEntries) {
  auto opens = [&](const std::string& archive, const std::string& password) {
    std::string output;
    return RunCommand("unzip -tq -P " + ShellQuote(password) + " " + ShellQuote(dir / archive) +
                          " </dev/null",
                      &output) == 0;
  };
  ToolRun run = Run("add env.zip data/a.txt", {}, "ZW_PASSWORD='from env' ");
  ASSERT_EQ(run.status, 0) << run.errors;
  EXPECT_TRUE(opens("env.zip", "from env"));
  EXPECT_FALSE(opens("env.zip", "from"));

  dir.Write("pass.txt", "from file\r\nsecond line\n");
  run = Run("add file.zip data/b.txt --password-file pass.txt", {}, "ZW_PASSWORD=ignored ");
  ASSERT_EQ(run.status, 0) << run.errors;
  EXPECT_TRUE(opens("file.zip", "from file"));
  EXPECT_FALSE(opens("file.zip", "ignored"));

  dir.Write("empty.txt", "\n");
  run = Run("add none.zip data/a.txt --password-file empty.txt");
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.errors, "zipwriter: the password file empty.txt is empty\n");
  EXPECT_FALSE(std::ifstream(dir / "none.zip").good());
  EXPECT_EQ(Run("add x.zip data/a.txt --password a --password-prompt").status, 2);
}

// --password-prompt asks on the terminal (here a pseudo-terminal) without showing what
// is typed, and the archive opens with what was typed.
TEST_F(ZipwriterRunTest, PasswordPromptDoesNotEchoTheAnswer) {
  const char* program = R"PY(
import os, pty, select, sys, time
pid, fd = pty.fork()
if pid == 0:
    os.environ["ZW_UI"] = "console"
    os.execv(sys.argv[1], [sys.argv[1], "add", "p.zip", "data/a.txt", "--password-prompt"])
seen, typed, deadline = b"", False, time.time() + 30
while time.time() < deadline:
    if not typed and b"Enter password: " in seen:
        os.write(fd, b"typed secret\n")
        typed = True
    if not select.select([fd], [], [], 1)[0]:
        continue
    try:
        chunk = os.read(fd, 4096)
    except OSError:
        break
    if not chunk:
        break
    seen += chunk
sys.stdout.write(seen.decode("utf-8", "replace"))
sys.exit(os.waitstatus_to_exitcode(os.waitpid(pid, 0)[1]))
)PY";
  std::string output;
  int status = RunCommand(
      "cd " + ShellQuote(dir.path()) + " && python3 -c " + ShellQuote(program) + " " + ZW_ZIPWRITER,
      &output);
  ASSERT_EQ(status, 0) << output;
  EXPECT_NE(output.find("[Password for \"p.zip\"] Enter password: "), std::string::npos) << output;
  EXPECT_EQ(output.find("typed secret"), std::string::npos) << output;
  EXPECT_EQ(RunCommand("unzip -tq -P 'typed secret' " + ShellQuote(dir / "p.zip") + " </dev/null",
                       &output),
            0)
      << output;
}

// Names with tabs, line ends and other control bytes, and a comment with a line end
// and a backslash (written by Python), keep `list` one line per entry of eight
// tab-separated fields and one line for the comment; a `#` line says whether
// the directory came from the end record or from a scan of the local headers.
TEST_F(ZipwriterRunTest, ListEscapesControlBytesAndSaysHowTheDirectoryWasFound) {
  const char* program = R"PY(
import sys, zipfile
with zipfile.ZipFile(sys.argv[1], "w") as z:
    for name in ["tab\there", "line\nfeed", "bell\x07del\x7f", "plain.txt"]:
        z.writestr(name, "some text")
    z.comment = b"two\nlines\\"
)PY";
  ASSERT_EQ(RunCommand("python3 -c " + ShellQuote(program) + " " + ShellQuote(dir / "n.zip")), 0);
  const std::string names = "tab\\there|line\\nfeed|bell\\x07del\\x7F|plain.txt|";
  auto list = [&](const std::string& archive, std::string& hashLines) {
    ToolRun run = Run("list " + archive);
    EXPECT_EQ(run.status, 0) << run.errors;
    std::string found;
    std::istringstream lines(run.transcript);
    for (std::string line; std::getline(lines, line);) {
      if (line.rfind("#", 0) == 0) {
        hashLines += line + "\n";
        continue;
      }
      EXPECT_EQ(std::count(line.begin(), line.end(), '\t'), 7) << line;
      found += line.substr(0, line.find('\t')) + "|";
    }
    return found;
  };
  std::string hashLines;
  EXPECT_EQ(list("n.zip", hashLines), names);
  EXPECT_NE(hashLines.find("# comment: two\\nlines\\\\\n"), std::string::npos) << hashLines;
  EXPECT_NE(hashLines.find("# directory: end record\n"), std::string::npos) << hashLines;

  std::string bytes = ReadHostFile(dir / "n.zip");
  dir.Write("cut.zip", bytes.substr(0, bytes.find("PK\x01\x02")));
  hashLines.clear();
  EXPECT_EQ(list("cut.zip", hashLines), names);
  EXPECT_NE(hashLines.find("# directory: rebuilt by scanning local headers\n"), std::string::npos)
      << hashLines;
}

}  // namespace
}  // namespace zw::test

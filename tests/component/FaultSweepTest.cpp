// Nothing is lost on a fault: every write, read, seek, truncate, open, rename, delete
// and temp-file creation of an update fails in turn (the 1st, the 2nd, ... until the
// update runs without meeting the fault). Afterwards the archive holds its previous
// bytes exactly or the complete new content; where the rollback itself failed, the
// journal is still there and the next opening restores the previous bytes.
// The archiver's directory must also match the file: a following batch on the same
// archiver gives a sound archive.
#include <gtest/gtest.h>

#include <filesystem>
#include <optional>

#include "ComponentSupport.h"
#include "DirManager.h"
#include "FaultFileSystem.h"
#include "LinuxFileSystem.h"

namespace zw::test {
namespace {

enum class Scenario { kAppend, kReplaceFirst, kAbortOnLockedFile };
enum class Host { kMemory, kDisk };

const char* ScenarioName(Scenario s) {
  switch (s) {
    case Scenario::kAppend:
      return "Append";
    case Scenario::kReplaceFirst:
      return "ReplaceFirst";
    case Scenario::kAbortOnLockedFile:
      return "AbortOnLockedFile";
  }
  return "?";
}

// Files of the old archive: text and random data, one of several compression chunks.
std::map<std::string, std::string> OldFiles() {
  return {{"a1.txt", TextBytes(3000, 1)},
          {"a2.bin", RandomBytes(2000, 2)},
          {"a3.txt", TextBytes(1200000, 3)},
          {"a4.txt", ""}};
}

// One run: a fresh folder with the data and the old archive, written without faults.
class SweepRun {
 public:
  SweepRun(Host host, Scenario scenario) : host_(host), scenario_(scenario) {
    if (host == Host::kMemory) {
      mem_ = std::make_unique<MemFileSystem>();
      base_ = mem_.get();
      root_ = "C:\\w";
      MakeDirs(*mem_, root_ + "\\tmp");
      MakeDirs(*mem_, root_ + "\\old");
      MakeDirs(*mem_, root_ + "\\new");
    } else {
      disk_ = std::make_unique<LinuxFileSystem>();
      base_ = disk_.get();
      root_ = dir_.path();
      std::filesystem::create_directories(dir_ / "tmp");
      std::filesystem::create_directories(dir_ / "old");
      std::filesystem::create_directories(dir_ / "new");
    }
    for (const auto& [name, data] : OldFiles()) Put("old\\" + name, data);
    TZipWriter zip;
    Configure(zip, *base_);
    zip.SetFileName(Path("a.zip"));
    zip.OpenArchiveFile();
    zip.BeginUpdate();
    zip.AddFilesByMask(Path("old\\*.*"), 0x2F, "");
    zip.AddFilesByMask(Path("old\\a4.txt"), 0x2F, "");
    zip.EndUpdate();
    zip.CloseArchiveFile();
    oldBytes_ = Get("a.zip");
    // The new files of the batch.
    Put("new\\a1.txt", TextBytes(5000, 11));
    Put("new\\n1.txt", TextBytes(700000, 12));
    Put("new\\n2.txt", TextBytes(100, 13));
    Put("new\\n3.bin", RandomBytes(3000, 14));
    Put("extra.txt", "added after the run");
  }

  std::string Path(const std::string& name) const { return root_ + "\\" + name; }
  void Put(const std::string& name, const std::string& data) {
    if (mem_)
      PutFile(*mem_, Path(name), data);
    else
      WriteHostFile(root_ + "/" + Slashed(name), data);
  }
  std::string Get(const std::string& name) const {
    return mem_ ? GetFile(*mem_, Path(name)) : ReadHostFile(root_ + "/" + Slashed(name));
  }
  static std::string Slashed(std::string name) {
    for (char& c : name)
      if (c == '\\') c = '/';
    return name;
  }
  void Configure(TZipWriter& zip, FileSystem& fs) const {
    zip.SetFileSystem(&fs);
    zip.Options().Recurse = false;
    zip.Options().StorePath = spNoPath;
    zip.SetTempDir(Path("tmp"));
  }
  std::vector<std::string> TempFiles() {
    std::vector<TSearchRec> found;
    base_->FindFiles(Path("tmp\\*"), 0x27, found);
    std::vector<std::string> out;
    for (const TSearchRec& f : found) out.push_back(f.Name);
    return out;
  }

  // The expected content after a complete run.
  std::map<std::string, std::string> NewContents() const {
    std::map<std::string, std::string> out = OldFiles();
    switch (scenario_) {
      case Scenario::kAppend:
        out["n1.txt"] = TextBytes(700000, 12);
        break;
      case Scenario::kReplaceFirst:
        out["a1.txt"] = TextBytes(5000, 11);
        break;
      case Scenario::kAbortOnLockedFile:
        break;  // never completes
    }
    return out;
  }

  // Runs the batch through `faults`; true when an exception reached the caller.
  bool RunBatch(TZipWriter& zip) {
    std::unique_ptr<FileHandle> lock;
    if (scenario_ == Scenario::kAbortOnLockedFile)
      lock =
          base_->Open(Path("new\\n2.txt"), FileMode::fmOpenReadWrite | FileMode::fmShareExclusive);
    zip.OnProcessFileFailure = [](TZWBaseArchiver*, const std::string&, TZWProcessOperation,
                                  int32_t, int32_t, const std::string&,
                                  TZWAction& action) { action = fxaAbort; };
    try {
      switch (scenario_) {
        case Scenario::kAppend:
          zip.AddFilesByMask(Path("new\\n1.txt"), 0x2F, "");
          break;
        case Scenario::kReplaceFirst:
          zip.AddFilesByMask(Path("new\\a1.txt"), 0x2F, "");
          break;
        case Scenario::kAbortOnLockedFile:
          zip.AddFilesByMask(Path("new\\*.*"), 0x2F, "");
          break;
      }
    } catch (const std::exception&) {
      return true;
    }
    return false;
  }

  // True: the old archive byte for byte; false: the complete new content; none: neither.
  std::optional<bool> OldOrNew(const std::string& bytes) const {
    if (bytes == oldBytes_) return true;
    std::string error;
    std::map<std::string, std::string> contents;
    for (const ReadEntry& e : ReadArchive(bytes, &error)) contents[e.name] = e.data;
    if (error.empty() && contents == NewContents()) return false;
    return std::nullopt;
  }

  FileSystem& base() { return *base_; }
  const std::string& oldBytes() const { return oldBytes_; }

 private:
  Host host_;
  Scenario scenario_;
  TempDir dir_;
  std::unique_ptr<MemFileSystem> mem_;
  std::unique_ptr<LinuxFileSystem> disk_;
  FileSystem* base_ = nullptr;
  std::string root_;
  std::string oldBytes_;
};

const FaultOp kKinds[] = {
    FaultOp::kOpen,  FaultOp::kRead,   FaultOp::kWrite,  FaultOp::kSeek,     FaultOp::kTruncate,
    FaultOp::kFlush, FaultOp::kRename, FaultOp::kDelete, FaultOp::kTempFile, FaultOp::kSyncFolder};

// Sticky: the fault and every later operation of its kind fail, so the rollback
// meets it too.
class FaultSweep : public ::testing::TestWithParam<std::tuple<Host, Scenario, bool>> {};

TEST_P(FaultSweep, NothingIsLost) {
  auto [host, scenario, sticky] = GetParam();
  int runs = 0;
  for (FaultOp kind : kKinds) {
    for (int64_t n = 1;; ++n) {
      SCOPED_TRACE(std::string(FaultOpName(kind)) + " #" + std::to_string(n));
      SweepRun run(host, scenario);
      FaultFileSystem faults(run.base());
      TZipWriter zip;
      run.Configure(zip, faults);
      zip.SetFileName(run.Path("a.zip"));
      zip.OpenArchiveFile();
      faults.Reset();
      if (sticky)
        faults.FailFrom(kind, n);
      else
        faults.FailNth(kind, n);
      bool raised = run.RunBatch(zip);
      bool fired = faults.Triggered();
      faults.Reset();  // disarmed: the follow-up batch runs cleanly
      ++runs;

      // Old or new as it stands; otherwise the rollback itself failed, and then the
      // journal is still there and the next opening puts the old archive back.
      std::string bytes = run.Get("a.zip");
      std::optional<bool> state = run.OldOrNew(bytes);
      std::unique_ptr<TZipWriter> next;
      bool journalLeft = run.base().FileExists(run.Path("a.zip-journal"));
      if (!state || journalLeft) {
        // A journal left after a complete rollback only gives the same bytes again.
        ASSERT_TRUE(raised || state == true) << "rollback failed and nobody was told";
        ASSERT_TRUE(journalLeft) << "archive damaged and no journal";
        zip.CloseArchiveFile();
        next = std::make_unique<TZipWriter>();
        run.Configure(*next, run.base());
        next->SetFileName(run.Path("a.zip"));
        next->OpenArchiveFile();
        EXPECT_TRUE(next->LastOpenRestored());
        ASSERT_EQ(run.Get("a.zip"), run.oldBytes()) << "the journal did not restore the archive";
        state = true;
      }
      bool isOld = *state;
      if (isOld && !fired && scenario != Scenario::kAbortOnLockedFile)
        ADD_FAILURE() << "run without fault kept the old archive";
      if (!next && (kind != FaultOp::kDelete || !fired)) {
        EXPECT_TRUE(run.TempFiles().empty()) << "temporary files left";
      }
      EXPECT_EQ(zip.UpdateLevel(), 0);

      // The directory in memory matches the file: one more batch gives a sound archive.
      TZipWriter& after_ = next ? *next : zip;
      try {
        after_.AddFilesByMask(run.Path("extra.txt"), 0x2F, "");
      } catch (const std::exception& e) {
        FAIL() << "follow-up batch: " << e.what();
      }
      after_.CloseArchiveFile();
      std::map<std::string, std::string> expected = isOld ? OldFiles() : run.NewContents();
      expected["extra.txt"] = "added after the run";
      std::string error;
      std::map<std::string, std::string> after;
      for (const ReadEntry& e : ReadArchive(run.Get("a.zip"), &error)) after[e.name] = e.data;
      EXPECT_EQ(after, expected) << error;
      if (!fired) break;  // the run completed without meeting the fault
      if (::testing::Test::HasFailure()) return;
    }
  }
  EXPECT_GT(runs, 9);
}

INSTANTIATE_TEST_SUITE_P(
    Updates, FaultSweep,
    ::testing::Combine(::testing::Values(Host::kMemory, Host::kDisk),
                       ::testing::Values(Scenario::kAppend, Scenario::kReplaceFirst,
                                         Scenario::kAbortOnLockedFile),
                       ::testing::Bool()),
    [](const auto& info) {
      return std::string(std::get<0>(info.param) == Host::kMemory ? "Memory" : "Disk") +
             ScenarioName(std::get<1>(info.param)) + (std::get<2>(info.param) ? "Sticky" : "Once");
    });

}  // namespace
}  // namespace zw::test

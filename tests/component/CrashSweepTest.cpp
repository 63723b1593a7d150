// Nothing is lost when an update is cut short: the process dies at the 1st, 2nd, ...
// mutating file operation of an update (opening, batches and closing), and in a second
// variant the power goes too, dropping whatever was not flushed or synced. The next
// opening must find the archive as it was before the update or complete as the update
// left it, with no journal left behind, and a further batch must work on it.
//
// Which of the two is decided by the journal alone: before its deletion (durable only
// once the folder is synced) the archive is the old one, after it the new one. A new
// archive exists only once its journal is sealed (durable: flushed and its folder
// synced).
//
// Split sets are appended to the same way: the run renames the last volume to its
// number, cuts the old directory, adds volumes and names the last one after the
// archive again. There "old" is every volume file as it was and no other, "new" the
// volume files of an uncrashed run, byte for byte.
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>

#include "ComponentSupport.h"
#include "DirManager.h"
#include "FaultFileSystem.h"

namespace zw::test {
namespace {

enum class Scenario {
  kAppend,
  kAppendToManyEntries,
  kAbortAppend,
  kReplaceFirst,
  kReplaceLast,
  kNewArchive,
  kAbort,
  kTwoBatches,
  kSplitAppend,
  kSplitDirectorySpans,
  kSplitEntryFails
};
enum class Variant { kKill, kPowerCut };

const char* ScenarioName(Scenario s) {
  switch (s) {
    case Scenario::kAppend:
      return "Append";
    case Scenario::kAppendToManyEntries:
      return "AppendToManyEntries";
    case Scenario::kAbortAppend:
      return "AbortAppend";
    case Scenario::kReplaceFirst:
      return "ReplaceFirst";
    case Scenario::kReplaceLast:
      return "ReplaceLast";
    case Scenario::kNewArchive:
      return "NewArchive";
    case Scenario::kAbort:
      return "AbortOnLockedFile";
    case Scenario::kTwoBatches:
      return "TwoBatches";
    case Scenario::kSplitAppend:
      return "SplitAppend";
    case Scenario::kSplitDirectorySpans:
      return "SplitDirectorySpans";
    case Scenario::kSplitEntryFails:
      return "SplitEntryFails";
  }
  return "?";
}

// The old archive has many entries: its directory is more than one chunk of the
// journal's deflated saved bytes.
bool HasManyEntries(Scenario s) {
  return s == Scenario::kAppendToManyEntries || s == Scenario::kAbortAppend;
}

// A source stays locked, so the run is aborted and rolled back.
bool IsAbort(Scenario s) { return s == Scenario::kAbort || s == Scenario::kAbortAppend; }

bool IsSplit(Scenario s) {
  return s == Scenario::kSplitAppend || s == Scenario::kSplitDirectorySpans ||
         s == Scenario::kSplitEntryFails;
}
// The smallest volume size the component takes.
constexpr int64_t kVolumeSize = 65536;

using Contents = std::map<std::string, std::string>;

std::string Path(const std::string& name) { return "C:\\w\\" + name; }
const std::string kArchive = Path("a.zip");
const std::string kJournal = kArchive + "-journal";
// What a new archive is until its first batch: the end record alone.
const std::string kEmptyArchive = std::string("PK\5\6", 4) + std::string(18, '\0');

// Kept small: every crash point rebuilds the whole folder. An append to many entries
// has a directory that the journal keeps in more than one deflated chunk.
Contents OldFiles(Scenario s = Scenario::kAppend) {
  Contents files{{"a1.txt", TextBytes(3000, 1)},
                 {"a2.bin", RandomBytes(2000, 2)},
                 {"a3.txt", TextBytes(1500, 3)},
                 {"a4.txt", ""}};
  if (!HasManyEntries(s)) return files;
  for (int i = 0; i < 3000; ++i) {
    std::string number = std::to_string(10000 + i);
    files["a5-many-entries-make-a-directory-of-some-size-" + number + ".txt"] = number;
  }
  return files;
}

Contents NewFiles() {
  return {{"a1.txt", TextBytes(2500, 11)},
          {"a4.txt", TextBytes(1800, 14)},
          {"n1.txt", TextBytes(4000, 12)},
          {"n2.txt", TextBytes(100, 13)},
          {"n3.bin", RandomBytes(1500, 15)}};
}

// Tuned so that the directory of SplitOldFiles(kSplitDirectorySpans) begins 100 bytes
// before the end of the first volume: one central header fits there, the rest and the
// end record go to the last volume (the sweep checks the end record).
constexpr size_t kSplitFill = 64781;

// The old entries of a split set. Random data does not shrink, so its size places the
// directory: after the first volume (which the appended data fills, moving on to new
// volumes), or so close to its end that the directory begins there and ends on the last
// volume.
Contents SplitOldFiles(Scenario s) {
  if (s != Scenario::kSplitDirectorySpans)
    return {{"s1.bin", RandomBytes(100000, 21)}, {"s2.txt", TextBytes(3000, 22)}, {"s3.txt", ""}};
  return {{"s1.bin", RandomBytes(kSplitFill, 24)},
          {"s2.txt", TextBytes(1200, 25)},
          {"s3.txt", TextBytes(700, 26)},
          {"s4.txt", ""}};
}

// What a split run adds (beside NewFiles in the folder "new"): more than the last
// volume can take.
Contents SplitNewFiles() {
  return {{"b1.bin", RandomBytes(70000, 27)}, {"b2.txt", TextBytes(2000, 28)}};
}

// Added first by kSplitEntryFails: its second chunk cannot be read, after its first one
// reached new volumes; it is skipped (Ignore), so the run removes it and its volumes
// and goes on with SplitNewFiles.
const std::string kFailingSource = "b0.bin";

const std::string kExtra = "added after the recovery";

// The masks (in the folder "new") of the update's batches, one batch each.
std::vector<std::string> Batches(Scenario s) {
  switch (s) {
    case Scenario::kAppend:
    case Scenario::kAppendToManyEntries:
      return {"n1.txt"};
    case Scenario::kAbortAppend:
      return {"n*.*"};
    case Scenario::kReplaceFirst:
      return {"a1.txt"};
    case Scenario::kReplaceLast:
      return {"a4.txt"};
    case Scenario::kNewArchive:
    case Scenario::kAbort:
      return {"*.*"};
    case Scenario::kTwoBatches:
      return {"n1.txt", "a1.txt"};
    case Scenario::kSplitAppend:
    case Scenario::kSplitDirectorySpans:
      return {"b1.bin", "b2.txt"};  // one run
    case Scenario::kSplitEntryFails:
      return {kFailingSource, "b1.bin", "b2.txt"};
  }
  return {};
}

// The archive's contents before the update and after each batch that commits.
std::vector<Contents> Stages(Scenario s) {
  if (s == Scenario::kNewArchive) return {{}, NewFiles()};
  if (IsSplit(s)) {
    Contents next = SplitOldFiles(s);
    for (const auto& [name, data] : SplitNewFiles()) next[name] = data;
    return {SplitOldFiles(s), next};
  }
  std::vector<Contents> stages{OldFiles(s)};
  if (IsAbort(s)) return stages;  // the batch is rolled back
  for (const std::string& mask : Batches(s)) {
    Contents next = stages.back();
    next[mask] = NewFiles().at(mask);
    stages.push_back(next);
  }
  return stages;
}

// Names every mutating operation, in the order FaultFileSystem counts them, so that a
// crash point can be told by what it interrupts.
class OpLog : public ForwardingFileSystem {
 public:
  struct Op {
    FaultOp kind;
    std::string path;
    std::string Text() const { return std::string(FaultOpName(kind)) + " " + path; }
  };
  using ForwardingFileSystem::ForwardingFileSystem;
  const std::vector<Op>& ops() const { return ops_; }

  std::unique_ptr<FileHandle> Open(const std::string& path, uint16_t mode) override {
    if (mode == FileMode::fmCreate) Note(FaultOp::kOpen, path);
    std::unique_ptr<FileHandle> inner = target().Open(path, mode);
    if (!inner) return nullptr;
    return std::make_unique<Handle>(*this, std::move(inner), path);
  }
  bool DeleteFile(const std::string& path) override {
    Note(FaultOp::kDelete, path);
    return target().DeleteFile(path);
  }
  bool RenameFile(const std::string& from, const std::string& to) override {
    Note(FaultOp::kRename, from + " -> " + to);
    return target().RenameFile(from, to);
  }
  bool SyncFolderOf(const std::string& path) override {
    Note(FaultOp::kSyncFolder, path);
    return target().SyncFolderOf(path);
  }
  bool CreateTempFile(const std::string& dir, const std::string& prefix,
                      std::string& path) override {
    Note(FaultOp::kTempFile, dir);
    return target().CreateTempFile(dir, prefix, path);
  }
  bool CreateDirectory(const std::string& path) override {
    Note(FaultOp::kCount, "mkdir " + path);
    return target().CreateDirectory(path);
  }
  bool RemoveDirectory(const std::string& path) override {
    Note(FaultOp::kCount, "rmdir " + path);
    return target().RemoveDirectory(path);
  }
  bool SetVolumeLabel(const std::string& root, const std::string& label) override {
    Note(FaultOp::kCount, "label " + root);
    return target().SetVolumeLabel(root, label);
  }

 private:
  class Handle : public FileHandle {
   public:
    Handle(OpLog& log, std::unique_ptr<FileHandle> inner, std::string path)
        : log_(log), inner_(std::move(inner)), path_(std::move(path)) {}
    int64_t Read(void* buffer, int64_t count) override { return inner_->Read(buffer, count); }
    int64_t Write(const void* buffer, int64_t count) override {
      log_.Note(FaultOp::kWrite, path_);
      return inner_->Write(buffer, count);
    }
    int64_t Seek(int64_t offset, SeekOrigin origin) override {
      return inner_->Seek(offset, origin);
    }
    bool Truncate(int64_t size) override {
      log_.Note(FaultOp::kTruncate, path_);
      return inner_->Truncate(size);
    }
    bool Flush() override {
      log_.Note(FaultOp::kFlush, path_);
      return inner_->Flush();
    }
    int64_t Size() override { return inner_->Size(); }
    OsError LastError() const override { return inner_->LastError(); }

   private:
    OpLog& log_;
    std::unique_ptr<FileHandle> inner_;
    std::string path_;
  };
  void Note(FaultOp kind, const std::string& path) { ops_.push_back({kind, path}); }
  std::vector<Op> ops_;
};

// One disk: the sources, and the old archive already durable. The update goes through
// the fault wrapper, the checks look at the disk itself.
// The sources' date (1 January 2025), so that a split set's bytes, compared whole, do not
// depend on the clock.
constexpr int32_t kSourceDate = 0x5A210000;

void PutSource(MemFileSystem& mem, const std::string& path, const std::string& data) {
  PutFile(mem, path, data);
  mem.SetFileDate(path, kSourceDate);
}

struct Disk {
  Disk(Scenario scenario, const Contents& oldVolumes) {
    MakeDirs(mem, Path("tmp"));
    for (const auto& [name, data] : NewFiles()) PutSource(mem, Path("new\\" + name), data);
    if (IsSplit(scenario))
      for (const auto& [name, data] : SplitNewFiles()) PutSource(mem, Path("new\\" + name), data);
    if (scenario == Scenario::kSplitEntryFails)
      PutSource(mem, Path("new\\" + kFailingSource), RandomBytes(600000, 29));
    PutSource(mem, Path("extra.txt"), kExtra);
    for (const auto& [name, data] : oldVolumes) PutFile(mem, Path(name), data);
    mem.MarkAllDurable();
  }
  MemFileSystem mem;
  OpLog log{mem};
  FaultFileSystem faults{log};
};

// A split set is found by the opening; the size applies to the volumes a run adds.
void Configure(TZipWriter& zip, FileSystem& fs, bool split = false) {
  zip.SetFileSystem(&fs);
  if (split) {
    zip.SpanningOptions().VolumeSize = vsCustom;
    zip.SpanningOptions().SetCustomVolumeSize(kVolumeSize);
  }
  zip.Options().Recurse = false;
  zip.Options().StorePath = spNoPath;
  zip.SetTempDir(Path("tmp"));
  zip.OnProcessFileFailure = [](TZWBaseArchiver*, const std::string&, TZWProcessOperation, int32_t,
                                int32_t, const std::string&,
                                TZWAction& action) { action = fxaAbort; };
}

// The old archive, built once on a disk of its own; its entries in this order.
const std::string& OldArchive(Scenario s = Scenario::kAppend) {
  static std::map<bool, std::string> built;
  const bool many = HasManyEntries(s);
  auto found = built.find(many);
  if (found != built.end()) return found->second;
  MemFileSystem mem;
  for (const auto& [name, data] : OldFiles(s)) PutFile(mem, Path("old\\" + name), data);
  TZipWriter zip;
  Configure(zip, mem);
  zip.SetFileName(kArchive);
  zip.OpenArchiveFile();
  zip.AddFilesByMask(Path("old\\*.*"), 0x2F, "");
  zip.CloseArchiveFile();
  return built[many] = GetFile(mem, kArchive);
}

// The archive's files (leaf name -> bytes): the archive file, or a split set's volumes.
Contents ArchiveFiles(MemFileSystem& mem) {
  const std::string folder = "/C/w/", journal = "a.zip-journal";
  Contents out;
  for (const std::string& path : mem.AllFiles()) {
    if (path.rfind(folder, 0) != 0) continue;
    std::string leaf = path.substr(folder.size());
    if (leaf.rfind("a.", 0) != 0 || leaf == journal || leaf.find('/') != std::string::npos)
      continue;
    out[leaf] = GetFile(mem, Path(leaf));
  }
  return out;
}

// A split set of the scenario's old entries, built once on a disk of its own.
const Contents& OldSplitSet(Scenario scenario) {
  static std::map<Scenario, Contents> sets;
  auto found = sets.find(scenario);
  if (found != sets.end()) return found->second;
  MemFileSystem mem;
  MakeDirs(mem, Path("tmp"));
  for (const auto& [name, data] : SplitOldFiles(scenario))
    PutSource(mem, Path("old\\" + name), data);
  TZipWriter zip;
  Configure(zip, mem, true);
  zip.SetSpanningMode(smSplitting);
  zip.SpanningOptions().AdvancedNaming = false;
  zip.SetFileName(kArchive);
  zip.OpenArchiveFile();
  zip.AddFilesByMask(Path("old\\*.*"), 0x2F, "");
  zip.CloseArchiveFile();
  return sets[scenario] = ArchiveFiles(mem);
}

// The archive's files before the update.
Contents OldVolumes(Scenario scenario) {
  if (IsSplit(scenario)) return OldSplitSet(scenario);
  if (scenario == Scenario::kNewArchive) return {};
  return {{"a.zip", OldArchive(scenario)}};
}

// Adds the files matching `paths` as the scenario does: each path a run of its own,
// except on a split set, which takes changes only between BeginUpdate and EndUpdate.
void AddAll(TZipWriter& zip, Scenario scenario, const std::vector<std::string>& paths) {
  if (!IsSplit(scenario)) {
    for (const std::string& path : paths) zip.AddFilesByMask(path, 0x2F, "");
    return;
  }
  zip.BeginUpdate();
  for (const std::string& path : paths) zip.AddFilesByMask(path, 0x2F, "");
  zip.EndUpdate();
}

// The whole update: opening, the batches, closing. The error that ended it, if any.
std::optional<std::string> RunUpdate(Disk& disk, Scenario scenario) {
  std::unique_ptr<FileHandle> lock;
  if (IsAbort(scenario))
    lock =
        disk.mem.Open(Path("new\\n2.txt"), FileMode::fmOpenReadWrite | FileMode::fmShareExclusive);
  std::optional<std::string> error;
  TZipWriter zip;
  Configure(zip, disk.faults, IsSplit(scenario));
  if (scenario == Scenario::kSplitEntryFails) {
    zip.SetThreads(1);  // each chunk written before the next one is read
    zip.OnFileProgress = [&](TZWBaseArchiver*, const std::string& name, double, TZWProcessOperation,
                             TZWProgressPhase phase, bool&) {
      if (name.find(kFailingSource) != std::string::npos && phase == ppStart)
        disk.faults.FailNth(FaultOp::kRead, disk.faults.Count(FaultOp::kRead) + 2);
    };
    zip.OnProcessFileFailure = [](TZWBaseArchiver*, const std::string&, TZWProcessOperation,
                                  int32_t, int32_t, const std::string&,
                                  TZWAction& action) { action = fxaIgnore; };
  }
  try {
    zip.SetFileName(kArchive);
    zip.OpenArchiveFile();
    std::vector<std::string> paths;
    for (const std::string& mask : Batches(scenario)) paths.push_back(Path("new\\" + mask));
    AddAll(zip, scenario, paths);
  } catch (const std::exception& e) {
    error = e.what();
  }
  return error;  // the archiver closes here; once crashed, that fails quietly
}

// What the disk holds, for messages; without parsing, as a cut-short file is expected.
std::string Describe(MemFileSystem& mem, Scenario scenario, const Contents& newVolumes) {
  std::string text;
  if (IsSplit(scenario)) {
    const Contents old = OldVolumes(scenario);
    for (const auto& [leaf, bytes] : ArchiveFiles(mem)) {
      text += (text.empty() ? "" : ", ") + leaf + " of " + std::to_string(bytes.size()) + " bytes";
      auto o = old.find(leaf);
      auto n = newVolumes.find(leaf);
      if (o != old.end() && o->second == bytes)
        text += " (as before)";
      else if (n != newVolumes.end() && n->second == bytes)
        text += " (as after the update)";
    }
    if (text.empty()) text = "no volume file";
  } else if (!mem.FileExists(kArchive)) {
    text = "no archive file";
  } else {
    std::string bytes = GetFile(mem, kArchive);
    text = bytes == OldArchive(scenario) ? "the old archive"
           : bytes == kEmptyArchive      ? "the empty archive"
                                    : "an archive of " + std::to_string(bytes.size()) + " bytes";
  }
  if (mem.FileExists(kJournal))
    text += " and a journal of " + std::to_string(GetFile(mem, kJournal).size()) + " bytes";
  return text;
}

Contents Read(const std::string& bytes) {
  std::string error;
  Contents out;
  for (const ReadEntry& e : ReadArchive(bytes, &error)) out[e.name] = e.data;
  EXPECT_EQ(error, "");
  return out;
}

// What the probe run taught: the steps, and where the outcome changes.
struct Plan {
  std::vector<OpLog::Op> ops;
  Contents newVolumes;  // the archive's files after a complete update
  // The disk after that and a further batch, and after a further batch on the old
  // archive (other volumes on a split set).
  std::vector<std::string> filesAfter, filesAfterOld;
  // A split set's files after a further batch on the old set and on the new one.
  Contents extendedOld, extendedNew;
  // Crash points (1-based) from which on the journal is sealed, and from which on each
  // commit stands, as the disk is seen by a killed process and after a power cut.
  int64_t sealedFrom[2] = {0, 0};
  std::vector<int64_t> committedFrom[2];
};

bool IsJournal(const OpLog::Op& op) { return op.path == kJournal; }

// The batch that follows a recovery, through a new opening.
void AddExtra(TZipWriter& next, Scenario scenario) {
  try {
    AddAll(next, scenario, {Path("extra.txt")});
  } catch (const std::exception& e) {
    ADD_FAILURE() << "batch after the recovery: " << e.what();
  }
  next.CloseArchiveFile();
}

// The entry names a new opening of the archive finds.
std::vector<std::string> EntryNames(FileSystem& fs, Scenario scenario) {
  TZipWriter zip;
  Configure(zip, fs, IsSplit(scenario));
  zip.SetFileName(kArchive);
  zip.OpenArchiveFile();
  std::vector<std::string> names;
  const TZWDirArray& dir = zip.DirManager()->WorkingDirectory;
  for (int32_t i = 0; i < dir.Count(); ++i) names.push_back(dir.ItemPtr(i).FileName);
  std::sort(names.begin(), names.end());
  return names;
}

std::vector<std::string> Names(const Contents& contents) {
  std::vector<std::string> names;
  for (const auto& entry : contents) names.push_back(entry.first);
  return names;
}

Contents Extended(Scenario scenario, Disk& disk) {
  TZipWriter next;
  Configure(next, disk.mem, true);
  next.SetFileName(kArchive);
  next.OpenArchiveFile();
  AddExtra(next, scenario);
  return ArchiveFiles(disk.mem);
}

Plan Probe(Scenario scenario) {
  Plan plan;
  Disk disk(scenario, OldVolumes(scenario));
  disk.faults.Reset();
  std::optional<std::string> error = RunUpdate(disk, scenario);
  EXPECT_FALSE(error) << *error;
  EXPECT_FALSE(disk.mem.FileExists(kJournal));
  if (IsSplit(scenario))
    EXPECT_EQ(EntryNames(disk.mem, scenario), Names(Stages(scenario).back()));
  else
    EXPECT_EQ(Read(GetFile(disk.mem, kArchive)), Stages(scenario).back());
  plan.ops = disk.log.ops();
  EXPECT_EQ(static_cast<int64_t>(plan.ops.size()), disk.faults.MutatingOps());
  if (HasManyEntries(scenario)) {
    // The journal keeps the old directory deflated, in more than one chunk of 256 KiB.
    const std::string& old = OldArchive(scenario);
    uint64_t directory = 0;
    for (size_t k = 4; k-- > 0;)
      directory = directory * 256 + static_cast<uint8_t>(old[old.size() - 10 + k]);
    EXPECT_GT(directory, 256u * 1024);
    EXPECT_LT(disk.faults.BytesWrittenByFile()[kJournal], static_cast<int64_t>(directory / 4));
  }
  plan.newVolumes = ArchiveFiles(disk.mem);
  if (IsSplit(scenario)) {
    plan.extendedNew = Extended(scenario, disk);
    Disk untouched(scenario, OldVolumes(scenario));
    plan.extendedOld = Extended(scenario, untouched);
    plan.filesAfterOld = untouched.mem.AllFiles();
  } else {
    TZipWriter next;
    Configure(next, disk.mem);
    next.SetFileName(kArchive);
    next.OpenArchiveFile();
    AddExtra(next, scenario);
  }
  plan.filesAfter = disk.mem.AllFiles();
  if (!IsSplit(scenario)) plan.filesAfterOld = plan.filesAfter;
  const auto& ops = plan.ops;
  const int64_t count = static_cast<int64_t>(ops.size());
  const int kill = static_cast<int>(Variant::kKill), cut = static_cast<int>(Variant::kPowerCut);
  // Sealed: the trailer is written (the last journal write before its flush); durable
  // once the folder is synced after that flush.
  for (int64_t i = 0; i < count && !plan.sealedFrom[kill]; ++i) {
    if (!IsJournal(ops[i]) || ops[i].kind != FaultOp::kFlush) continue;
    EXPECT_TRUE(i > 0 && IsJournal(ops[i - 1]) && ops[i - 1].kind == FaultOp::kWrite);
    EXPECT_TRUE(i + 1 < count && ops[i + 1].kind == FaultOp::kSyncFolder);
    plan.sealedFrom[kill] = i + 1;  // the trailer is step i (1-based), the flush i + 1
    plan.sealedFrom[cut] = i + 3;   // the sync is step i + 2
  }
  EXPECT_GT(plan.sealedFrom[kill], 0) << "no journal was sealed";
  // Committed: the journal is deleted; durable once the folder is synced after that.
  for (int64_t i = 0; i < count; ++i) {
    if (!IsJournal(ops[i]) || ops[i].kind != FaultOp::kDelete) continue;
    EXPECT_TRUE(i + 1 < count && ops[i + 1].kind == FaultOp::kSyncFolder);
    plan.committedFrom[kill].push_back(i + 2);
    plan.committedFrom[cut].push_back(i + 3);
  }
  // The aborted batch deletes its journal too, after the rollback. (Deletion at step
  // i + 1, its sync at i + 2.)
  size_t deletions = IsAbort(scenario) ? 1 : Stages(scenario).size() - 1;
  EXPECT_EQ(plan.committedFrom[kill].size(), deletions);
  return plan;
}

class CrashSweep : public ::testing::TestWithParam<std::tuple<Scenario, Variant>> {};

TEST_P(CrashSweep, OldOrNewAfterRecovery) {
  auto [scenario, variant] = GetParam();
  const bool powerCut = variant == Variant::kPowerCut;
  const std::vector<Contents> stages = Stages(scenario);
  const bool newArchive = scenario == Scenario::kNewArchive;
  Plan plan = Probe(scenario);
  ASSERT_FALSE(HasFailure());
  const int64_t steps = static_cast<int64_t>(plan.ops.size());
  // Journal (create, saved bytes, trailer, flush, sync), cut, entries, directory,
  // flush, deletion, sync: a sweep with fewer steps would not test much.
  EXPECT_GE(steps, 10);
  if (IsSplit(scenario)) {
    // The old set's end record (no comment): this disk, the directory's first disk.
    const Contents old = OldVolumes(scenario);
    ASSERT_TRUE(old.count("a.zip"));
    const std::string& last = old.at("a.zip");
    ASSERT_GE(last.size(), 22u);
    auto u16 = [&](size_t at) {
      return static_cast<uint8_t>(last[at]) + 256 * static_cast<uint8_t>(last[at + 1]);
    };
    const size_t end = last.size() - 22;
    ASSERT_EQ(last.substr(end, 4), std::string("PK\5\6"));
    const int disk = u16(end + 4), directoryDisk = u16(end + 6);
    EXPECT_EQ(static_cast<size_t>(disk) + 1, old.size());
    EXPECT_GE(disk, 1);
    if (scenario != Scenario::kSplitDirectorySpans)
      EXPECT_EQ(directoryDisk, disk) << "the directory should lie on the last volume";
    else
      EXPECT_EQ(directoryDisk, disk - 1) << "the directory should span two volumes";
    EXPECT_GT(plan.newVolumes.size(), old.size()) << "the run should add a volume";
    bool renamedAway = false;
    for (const OpLog::Op& op : plan.ops)
      renamedAway = renamedAway || (op.kind == FaultOp::kRename && op.path.rfind(kArchive, 0) == 0);
    // An entry is written straight to the volumes: its header, on a volume the data
    // moved on from, is patched there afterwards (a crash may come in between).
    std::string latest;  // the highest-numbered volume written so far ("a.zNN")
    bool patchedBack = false;
    for (const OpLog::Op& op : plan.ops) {
      if (op.kind != FaultOp::kWrite || op.path.rfind(Path("a.z"), 0) != 0) continue;
      patchedBack = patchedBack || op.path < latest;
      latest = std::max(latest, op.path);
    }
    EXPECT_TRUE(patchedBack) << "a header should be patched on an earlier volume";
    if (scenario != Scenario::kSplitDirectorySpans) {
      EXPECT_TRUE(renamedAway) << "the last volume should take its number during the run";
    }
  } else if (!newArchive && !HasManyEntries(scenario)) {
    // "First" and "last" entry refer to this order.
    std::vector<std::string> names;
    for (const ReadEntry& e : ReadArchive(OldArchive())) names.push_back(e.name);
    ASSERT_EQ(names, (std::vector<std::string>{"a1.txt", "a2.bin", "a3.txt", "a4.txt"}));
  }

  // One step past the last: the update completes, then the process ends (or the power
  // goes), which must leave the new archive.
  for (int64_t n = 1; n <= steps + 1; ++n) {
    const bool crash = n <= steps;
    SCOPED_TRACE((crash ? "crash at step " + std::to_string(n) + " of " + std::to_string(steps) +
                              ": " + plan.ops[static_cast<size_t>(n - 1)].Text()
                        : std::string("no crash")) +
                 (powerCut ? ", power cut" : ""));
    Disk disk(scenario, OldVolumes(scenario));
    disk.faults.Reset();
    disk.faults.CrashAt(n);
    RunUpdate(disk, scenario);
    ASSERT_EQ(disk.faults.Crashed(), crash);
    if (powerCut) disk.mem.SimulatePowerCut();
    disk.faults.Reset();

    size_t stage = 0;
    for (int64_t from : plan.committedFrom[static_cast<int>(variant)])
      if (n >= from) ++stage;
    stage = std::min(stage, stages.size() - 1);  // an abort's deletion ends a rollback
    if (!crash) {
      EXPECT_EQ(stage, stages.size() - 1);
    }
    const bool sealed = n >= plan.sealedFrom[static_cast<int>(variant)];
    const bool existed = disk.mem.FileExists(kArchive);
    const Contents before = ArchiveFiles(disk.mem);
    const std::string found = Describe(disk.mem, scenario, plan.newVolumes);

    TZipWriter next;
    Configure(next, disk.faults, IsSplit(scenario));
    next.SetFileName(kArchive);
    try {
      next.OpenArchiveFile();
    } catch (const std::exception& e) {
      FAIL() << "opening after the crash: " << e.what() << "; the disk held " << found;
    }
    const bool restored = next.LastOpenRestored();
    const Contents files = ArchiveFiles(disk.mem);
    if (newArchive && !sealed) {
      // Nothing of the new archive is on the disk, so this opening creates it anew (its
      // journal stays until its first directory).
      EXPECT_FALSE(existed) << "an archive exists before its journal was sealed";
      EXPECT_FALSE(restored) << "the disk held " << found;
    } else {
      EXPECT_FALSE(disk.mem.FileExists(kJournal)) << "journal left after the opening";
      if (stage == 0) {
        const Contents old = newArchive ? Contents{{"a.zip", kEmptyArchive}} : OldVolumes(scenario);
        EXPECT_TRUE(files == old) << "expected the old archive; before the opening the disk held "
                                  << found << ", after it "
                                  << Describe(disk.mem, scenario, plan.newVolumes);
      } else if (IsSplit(scenario)) {
        EXPECT_TRUE(files == plan.newVolumes)
            << "expected the new set; before the opening the disk held " << found << ", after it "
            << Describe(disk.mem, scenario, plan.newVolumes);
      } else {
        EXPECT_EQ(Read(files.count("a.zip") ? files.at("a.zip") : ""), stages[stage])
            << "before the opening the disk held " << found;
      }
      EXPECT_TRUE(restored || (existed && files == before))
          << "the opening changed the archive and did not say so";
    }

    // The archiver's directory matches the file: a further batch gives a sound archive.
    AddExtra(next, scenario);
    if (IsSplit(scenario)) {
      EXPECT_TRUE(ArchiveFiles(disk.mem) == (stage == 0 ? plan.extendedOld : plan.extendedNew))
          << "the further batch gave another set: " << Describe(disk.mem, scenario, {});
    } else {
      Contents expected = stages[stage];
      expected["extra.txt"] = kExtra;
      EXPECT_EQ(Read(GetFile(disk.mem, kArchive)), expected);
    }
    EXPECT_EQ(disk.mem.AllFiles(), stage == 0 ? plan.filesAfterOld : plan.filesAfter)
        << "files left behind or missing";
    if (HasFailure()) return;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Updates, CrashSweep,
    ::testing::Combine(::testing::Values(Scenario::kAppend, Scenario::kAppendToManyEntries,
                                         Scenario::kAbortAppend, Scenario::kReplaceFirst,
                                         Scenario::kReplaceLast, Scenario::kNewArchive,
                                         Scenario::kAbort, Scenario::kTwoBatches,
                                         Scenario::kSplitAppend, Scenario::kSplitDirectorySpans,
                                         Scenario::kSplitEntryFails),
                       ::testing::Values(Variant::kKill, Variant::kPowerCut)),
    [](const auto& info) {
      return std::string(ScenarioName(std::get<0>(info.param))) +
             (std::get<1>(info.param) == Variant::kKill ? "Kill" : "PowerCut");
    });

}  // namespace
}  // namespace zw::test

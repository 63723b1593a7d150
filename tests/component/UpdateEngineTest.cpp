// The update engine: in-place rewriting, the saved tail, per-entry failures (retry,
// ignore, abort), cancel, rollback, and the headers it writes.
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <optional>

#include "CodePage.h"
#include "ComponentSupport.h"
#include "DirManager.h"
#include "FaultFileSystem.h"
#include "Paths.h"

namespace zw::test {
namespace {

uint32_t U32At(const std::string& b, size_t at) {
  return static_cast<uint32_t>(static_cast<uint8_t>(b[at])) |
         static_cast<uint32_t>(static_cast<uint8_t>(b[at + 1])) << 8 |
         static_cast<uint32_t>(static_cast<uint8_t>(b[at + 2])) << 16 |
         static_cast<uint32_t>(static_cast<uint8_t>(b[at + 3])) << 24;
}
uint16_t U16At(const std::string& b, size_t at) {
  return static_cast<uint16_t>(static_cast<uint8_t>(b[at]) | static_cast<uint8_t>(b[at + 1]) << 8);
}

// A journal putting `name` back to its first `keep` bytes and `bytes`, as earlier
// versions wrote it: version 1 keeps the bytes as they were; version 2 ('Z' records)
// deflated in one chunk.
std::string OlderJournal(int version, const std::string& name, uint64_t keep,
                         const std::string& bytes) {
  std::string j("ZWJRNL", 6);
  auto put = [&j](uint64_t v, int size) {
    for (int k = 0; k < size; ++k) j += static_cast<char>(v >> (8 * k));
  };
  put(version, 2);
  put(version == 1 ? 'R' : 'Z', 4);
  put(name.size(), 2);
  j += name;
  put(0, 2);  // no alternate
  put(keep, 8);
  put(bytes.size(), 8);
  auto crc = [](const std::string& b) {
    return crc32(0, reinterpret_cast<const Bytef*>(b.data()), static_cast<uInt>(b.size()));
  };
  if (version == 1) {
    j += bytes;
  } else {
    std::string packed(compressBound(static_cast<uLong>(bytes.size())), '\0');
    z_stream z{};
    deflateInit2(&z, 6, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data()));
    z.avail_in = static_cast<uInt>(bytes.size());
    z.next_out = reinterpret_cast<Bytef*>(packed.data());
    z.avail_out = static_cast<uInt>(packed.size());
    EXPECT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
    packed.resize(z.total_out);
    deflateEnd(&z);
    put(bytes.size(), 4);
    put(packed.size(), 4);
    put(crc(bytes), 4);
    j += packed;
  }
  uint64_t body = j.size();
  uLong bodyCrc = crc(j);
  put(0x21444E45, 4);
  put(bodyCrc, 4);
  put(body, 8);
  return j;
}

// Local records must follow each other without a gap up to the central directory.
void ExpectContiguous(const std::string& bytes, uint64_t start = 0) {
  uint64_t at = start;
  for (const ReadEntry& e : ReadArchive(bytes)) {
    EXPECT_EQ(e.offset, at) << e.name;
    at = e.offset + 30 + U16At(bytes, e.offset + 26) + U16At(bytes, e.offset + 28) +
         e.compressedSize;
  }
}

class UpdateEngine : public MemArchiveTest {
 protected:
  UpdateEngine() : faults(mem) {
    MakeDirs(mem, "C:\\tmp");
    PutFile(mem, "C:\\data\\f1.txt", TextBytes(20000, 1));
    PutFile(mem, "C:\\data\\f2.bin", RandomBytes(3000, 2));
    PutFile(mem, "C:\\data\\f3.txt", TextBytes(900000, 3));
    zip->SetFileSystem(&faults);
    zip->SetTempDir("C:\\tmp");
    zip->OnProcessFileFailure = [this](TZWBaseArchiver*, const std::string& name,
                                       TZWProcessOperation, int32_t native, int32_t,
                                       const std::string&, TZWAction& action) {
      failures.push_back(name + ":" + std::to_string(native));
      action = answers.empty() ? fxaAbort : answers.front();
      if (!answers.empty()) answers.erase(answers.begin());
      if (onFailure) onFailure();
    };
  }
  // The archiver goes first: its archive file was opened through `faults`.
  ~UpdateEngine() override { zip.reset(); }
  void MakeOld() {
    Open();
    Add("C:\\data\\f*.*");
    old = Bytes();
  }
  std::vector<std::string> TempFiles() {
    std::vector<TSearchRec> found;
    mem.FindFiles("C:\\tmp\\*", 0x27, found);
    std::vector<std::string> out;
    for (const TSearchRec& f : found) out.push_back(f.Name);
    return out;
  }
  FaultFileSystem faults;
  std::vector<std::string> failures;
  std::vector<TZWAction> answers;
  std::function<void()> onFailure;
  std::string old;
};

TEST_F(UpdateEngine, NewArchiveThreeFilesInDirectoryOrderWithoutTemporaryFile) {
  Open();
  faults.Reset();
  Add("C:\\data\\f*.*");
  EXPECT_EQ(faults.Count(FaultOp::kTempFile), 0);
  std::string bytes = Bytes();
  auto entries = ReadArchive(bytes);
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_EQ(entries[0].offset, 0u);
  ExpectContiguous(bytes);
  EXPECT_EQ(entries[2].data, TextBytes(900000, 3));
  EXPECT_EQ(zip->FilesProcessed(), 3);
  EXPECT_EQ(zip->FilesToProcess(), 3);
}

// Appending leaves everything in front of the old directory untouched and writes only
// the new entry and the directory.
TEST_F(UpdateEngine, AppendWritesOnlyTheNewEntryAndTheDirectory) {
  MakeOld();
  zip->CloseArchiveFile();
  Open();
  uint32_t oldDirectoryStart = U32At(old, old.size() - 6);
  PutFile(mem, "C:\\data\\new.txt", TextBytes(50000, 9));
  faults.Reset();
  Add("C:\\data\\new.txt");
  std::string bytes = Bytes();
  EXPECT_EQ(bytes.substr(0, oldDirectoryStart), old.substr(0, oldDirectoryStart));
  auto entries = ReadArchive(bytes);
  ASSERT_EQ(entries.size(), 4u);
  EXPECT_EQ(entries[3].offset, oldDirectoryStart);
  uint64_t written = faults.BytesWrittenByFile()[ExpandFileName(mem, "C:\\a.zip")];
  // The new entry and the directory, once each (a small entry is built in memory and
  // written whole).
  EXPECT_EQ(written, bytes.size() - oldDirectoryStart);
  // A large entry goes straight to the archive; its 30-byte header is written again
  // once its sizes and CRC are known.
  old = bytes;
  oldDirectoryStart = U32At(old, old.size() - 6);
  PutFile(mem, "C:\\data\\large.txt", TextBytes(1500000, 10));
  faults.Reset();
  Add("C:\\data\\large.txt");
  bytes = Bytes();
  EXPECT_EQ(bytes.substr(0, oldDirectoryStart), old.substr(0, oldDirectoryStart));
  written = faults.BytesWrittenByFile()[ExpandFileName(mem, "C:\\a.zip")];
  EXPECT_EQ(written, bytes.size() - oldDirectoryStart + 30);
  EXPECT_EQ(Contents()["large.txt"], TextBytes(1500000, 10));
  EXPECT_TRUE(TempFiles().empty());
}

TEST_F(UpdateEngine, ReplacingFirstEntrySavesTailInJournal) {
  MakeOld();
  std::optional<std::string> journalDuringRun;
  zip->OnFileProgress = [&](TZWBaseArchiver*, const std::string&, double, TZWProcessOperation,
                            TZWProgressPhase phase, bool&) {
    if (phase == ppStart) journalDuringRun = mem.ReadWholeFile("C:\\a.zip-journal");
  };
  PutFile(mem, "C:\\new\\f1.txt", "short replacement");
  Add("C:\\new\\f1.txt");
  // The whole old archive from entry 0 on is in the journal beside it, nothing in TempDir.
  ASSERT_TRUE(journalDuringRun);
  EXPECT_NE(journalDuringRun->find(old), std::string::npos);
  EXPECT_FALSE(mem.FileExists("C:\\a.zip-journal"));
  EXPECT_TRUE(TempFiles().empty());
  std::string bytes = Bytes();
  auto before = ReadArchive(old), after = ReadArchive(bytes);
  ASSERT_EQ(after.size(), 3u);
  EXPECT_EQ(after[0].data, "short replacement");
  for (size_t i = 1; i < 3; ++i) {  // same bytes at new offsets
    EXPECT_NE(after[i].offset, before[i].offset);
    size_t length = 30 + after[i].name.size() + after[i].compressedSize;
    EXPECT_EQ(bytes.substr(after[i].offset, length), old.substr(before[i].offset, length));
  }
  ExpectContiguous(bytes);
}

// Journals of earlier versions are still replayed: an append interrupted after it had
// cut the old directory gets it back.
TEST_F(UpdateEngine, JournalsOfEarlierVersionsAreReplayed) {
  MakeOld();
  zip->CloseArchiveFile();
  uint32_t directoryStart = U32At(old, old.size() - 6);
  for (int version : {1, 2}) {
    SCOPED_TRACE(version);
    PutFile(mem, "C:\\a.zip", old.substr(0, directoryStart) + "PK\3\4 cut short");
    PutFile(mem, "C:\\a.zip-journal",
            OlderJournal(version, "a.zip", directoryStart, old.substr(directoryStart)));
    Open();
    EXPECT_TRUE(zip->LastOpenRestored());
    EXPECT_FALSE(mem.FileExists("C:\\a.zip-journal"));
    EXPECT_EQ(Bytes(), old);
    EXPECT_EQ(Names().size(), 3u);
    zip->CloseArchiveFile();
  }
}

TEST_F(UpdateEngine, IgnoredFailures) {
  MakeOld();
  PutFile(mem, "C:\\new\\f1.txt", "replacement");
  PutFile(mem, "C:\\new\\n1.txt", "new one");
  PutFile(mem, "C:\\new\\n2.txt", "new two");
  auto lock1 = mem.Open("C:\\new\\f1.txt", FileMode::fmOpenReadWrite | FileMode::fmShareExclusive);
  auto lock2 = mem.Open("C:\\new\\n1.txt", FileMode::fmOpenReadWrite | FileMode::fmShareExclusive);
  answers = {fxaIgnore, fxaIgnore};
  Add("C:\\new\\*.txt");
  EXPECT_EQ(failures, (std::vector<std::string>{"f1.txt:33", "C:\\new\\n1.txt:33"}));
  EXPECT_EQ(zip->FilesProcessed(), 3);  // f2 and f3 copied, n2 written
  std::string bytes = Bytes();
  auto entries = ReadArchive(bytes);
  ASSERT_EQ(entries.size(), 4u);
  EXPECT_EQ(entries[0].data, TextBytes(20000, 1));  // the replaced entry keeps its data
  auto oldEntries = ReadArchive(old);
  EXPECT_EQ(bytes.substr(0, 30 + 6 + oldEntries[0].compressedSize),
            old.substr(0, 30 + 6 + oldEntries[0].compressedSize));
  EXPECT_EQ(entries[3].name, "n2.txt");
  EXPECT_EQ(zip->DirManager()->WorkingDirectory.Count(), 4);
  ExpectContiguous(bytes);
}

// Small entries are read and deflated ahead on workers, large ones in chunks; the
// archive and every event (progress, failures) are the same as with one thread, in
// the same order, also when a locked file is ignored or a full disk fails an entry
// between them.
TEST_F(UpdateEngine, ThreadsKeepTheBytesAndTheOrderOfEvents) {
  for (int n = 0; n < 40; ++n) {
    std::string name = "C:\\new\\s" + std::to_string(100 + n) + ".txt";
    PutFile(mem, name, n % 7 == 3 ? RandomBytes(5000 + n, n) : TextBytes(200 + n * 997, n));
  }
  PutFile(mem, "C:\\new\\s120.txt", TextBytes(1100000, 5));  // chunks, between small ones
  PutFile(mem, "C:\\new\\s121.txt", "");
  PutFile(mem, "C:\\new\\s130.txt", TextBytes(500000, 6));  // one chunk
  std::vector<std::string> events;
  zip->OnFileProgress = [&](TZWBaseArchiver*, const std::string& name, double progress,
                            TZWProcessOperation, TZWProgressPhase phase, bool&) {
    events.push_back(ExtractFileName(name) + " " + std::to_string(phase) + " " +
                     std::to_string(static_cast<int>(progress)));
  };
  onFailure = [&] { events.push_back("failure " + failures.back()); };
  std::string archives[3];
  std::vector<std::string> transcripts[3];
  const int threads[] = {1, 2, 5};
  for (int k = 0; k < 3; ++k) {
    SCOPED_TRACE(threads[k]);
    if (zip->IsOpen()) zip->CloseArchiveFile();
    mem.DeleteFile("C:\\a.zip");
    zip->SetThreads(threads[k]);
    Open();
    events.clear();
    failures.clear();
    auto lock =
        mem.Open("C:\\new\\s105.txt", FileMode::fmOpenReadWrite | FileMode::fmShareExclusive);
    answers = {fxaIgnore};
    Add("C:\\new\\*.txt");
    zip->CloseArchiveFile();
    archives[k] = Bytes();
    transcripts[k] = events;
    EXPECT_EQ(failures.size(), 1u);
    EXPECT_EQ(ReadArchive(archives[k]).size(), 39u);  // all but the locked one
    ExpectContiguous(archives[k]);
  }
  EXPECT_EQ(transcripts[0], transcripts[1]);
  EXPECT_EQ(transcripts[0], transcripts[2]);
  EXPECT_TRUE(archives[1] == archives[2]);
  // Only the entry of more than one chunk may differ between one thread and several.
  auto single = ReadArchive(archives[0]), several = ReadArchive(archives[1]);
  ASSERT_EQ(single.size(), several.size());
  for (size_t e = 0; e < single.size(); ++e) {
    SCOPED_TRACE(single[e].name);
    EXPECT_EQ(single[e].data, several[e].data);
    if (single[e].name != "s120.txt") {
      EXPECT_EQ(single[e].compressedSize, several[e].compressedSize);
    }
  }
}

// On the host file system the workers open and read small sources themselves. The
// bytes and the events are those of one thread. A source rewritten or removed after
// the batch began is taken whole either as a worker read it or as the engine finds it
// in its turn (then failing and reported there); sharing holds against workers too.
TEST(UpdateEngineOnDisk, WorkersReadingSourcesKeepBytesEventsAndChanges) {
  TempDir dir;
  const int kFiles = 80;
  auto name = [](int n) { return "s" + std::to_string(100 + n) + ".txt"; };
  for (int n = 0; n < kFiles; ++n) dir.Write("data/" + name(n), TextBytes(700 + n * 211, n));
  dir.Write("data/" + name(kFiles), TextBytes(1100000, 3));  // chunks, at the end
  std::string rewritten = RandomBytes(3333, 9);
  struct Outcome {
    std::string bytes;
    std::vector<std::string> events;
  };
  auto run = [&](int threads, bool change) {
    Outcome out;
    std::string archive = dir / ("t" + std::to_string(threads) + (change ? "c" : "") + ".zip");
    TZipWriter zip;
    zip.Options().Recurse = false;
    zip.Options().StorePath = spNoPath;
    zip.SetThreads(threads);
    zip.OnFileProgress = [&](TZWBaseArchiver*, const std::string& file, double progress,
                             TZWProcessOperation, TZWProgressPhase phase, bool&) {
      std::string shown = ExtractFileName(file);
      out.events.push_back(shown + " " + std::to_string(phase) + " " +
                           std::to_string(static_cast<int>(progress)));
      if (change && shown == name(0) && phase == ppStart) {
        WriteHostFile(dir / ("data/" + name(10)), rewritten);
        std::remove((dir / ("data/" + name(11))).c_str());
      }
    };
    zip.OnProcessFileFailure = [&](TZWBaseArchiver*, const std::string& file, TZWProcessOperation,
                                   int32_t, int32_t, const std::string&, TZWAction& action) {
      out.events.push_back("failure " + ExtractFileName(file));
      action = fxaIgnore;
    };
    zip.SetFileName(archive);
    zip.OpenArchiveFile();
    // Held with a sharing mode that refuses readers: neither a worker nor the engine
    // may read it.
    auto locked = FileSystem::Default().Open(dir / ("data/" + name(7)),
                                             FileMode::fmOpenRead | FileMode::fmShareDenyRead);
    zip.AddFilesByMask(dir / "data/*.txt", 0x2F, "");
    zip.CloseArchiveFile();
    out.bytes = ReadHostFile(archive);
    EXPECT_EQ(UnzipTest(archive), "");
    return out;
  };
  Outcome one = run(1, false), two = run(2, false), five = run(5, false);
  EXPECT_EQ(two.events, one.events);
  EXPECT_EQ(five.events, one.events);
  EXPECT_TRUE(two.bytes == five.bytes);
  auto single = ArchiveContents(one.bytes), several = ArchiveContents(two.bytes);
  EXPECT_EQ(several, single);
  EXPECT_EQ(several.count(name(7)), 0u);
  EXPECT_EQ(std::count(one.events.begin(), one.events.end(), "failure " + name(7)), 1);

  Outcome changed = run(2, true);
  auto contents = ArchiveContents(changed.bytes);
  EXPECT_TRUE(contents[name(10)] == rewritten || contents[name(10)] == single[name(10)]);
  bool removedFailed =
      std::count(changed.events.begin(), changed.events.end(), "failure " + name(11)) == 1;
  EXPECT_EQ(contents.count(name(11)), removedFailed ? 0u : 1u);
  if (!removedFailed) {
    EXPECT_TRUE(contents[name(11)] == single[name(11)]);
  }
  EXPECT_EQ(contents.size(), single.size() - (removedFailed ? 1 : 0));
}

TEST_F(UpdateEngine, AbortOnSecondFileRestoresArchiveByteForByte) {
  MakeOld();
  bool ended = false;
  for (bool replaceFirst : {false, true}) {
    SCOPED_TRACE(replaceFirst);
    failures.clear();
    PutFile(mem, "C:\\new\\a.txt", "a");
    PutFile(mem, "C:\\new\\b.txt", "b");
    PutFile(mem, "C:\\new\\c.txt", "c");
    if (replaceFirst) PutFile(mem, "C:\\new\\f1.txt", "replacement");
    auto lock = mem.Open("C:\\new\\b.txt", FileMode::fmOpenReadWrite | FileMode::fmShareExclusive);
    answers = {fxaAbort};
    ended = false;
    zip->OnOverallProgress = [&](TZWBaseArchiver*, double, TZWProcessOperation, TZWProgressPhase p,
                                 bool&) { ended |= p == ppEnd; };
    Add("C:\\new\\*.txt");  // returns normally
    EXPECT_FALSE(ended);
    EXPECT_EQ(failures.size(), 1u);
    EXPECT_EQ(Bytes(), old);
    EXPECT_TRUE(TempFiles().empty());
    // The directory is the old one again, and nothing of the batch is kept.
    const TZWDirManager& dm = *zip->DirManager();
    std::vector<std::string> oldNames;
    for (const ReadEntry& e : ReadArchive(old)) oldNames.push_back(e.name);
    ASSERT_EQ(dm.WorkingDirectory.Count(), static_cast<int32_t>(oldNames.size()));
    for (int32_t i = 0; i < dm.WorkingDirectory.Count(); ++i)
      EXPECT_EQ(dm.WorkingDirectory.ItemPtr(i).FileName, oldNames[static_cast<size_t>(i)]);
    EXPECT_EQ(dm.SavedDirectory.Count(), 0);
    mem.DeleteFile("C:\\new\\f1.txt");
  }
  // The archiver carries on as before.
  PutFile(mem, "C:\\new\\d.txt", "d");
  Add("C:\\new\\d.txt");
  zip->CloseArchiveFile();
  EXPECT_EQ(Names(), (std::vector<std::string>{"f1.txt", "f2.bin", "f3.txt", "d.txt"}));
}

// The journal regroups the old directory's headers before deflating them; a rolled back
// append gets it back byte for byte also when its headers carry Zip64 blocks and
// all-ones sizes and offsets.
TEST_F(UpdateEngine, AbortedAppendRestoresZip64Headers) {
  zip->SetZip64Mode(zmAlways);
  MakeOld();
  PutFile(mem, "C:\\new\\a.txt", "a");
  PutFile(mem, "C:\\new\\b.txt", "b");
  auto lock = mem.Open("C:\\new\\b.txt", FileMode::fmOpenReadWrite | FileMode::fmShareExclusive);
  answers = {fxaAbort};
  Add("C:\\new\\*.txt");
  EXPECT_EQ(failures.size(), 1u);
  EXPECT_EQ(Bytes(), old);
}

// A new archive whose first batch is aborted ends as the empty archive: one end record,
// 22 bytes, not the two that a rollback and the closing once wrote.
TEST_F(UpdateEngine, AbortedFirstBatchOfNewArchiveLeavesTheEmptyArchive) {
  Open();
  EXPECT_TRUE(mem.FileExists("C:\\a.zip-journal"));  // until the first directory is written
  auto lock = mem.Open("C:\\data\\f2.bin", FileMode::fmOpenReadWrite | FileMode::fmShareExclusive);
  answers = {fxaAbort};
  Add("C:\\data\\f*.*");
  lock.reset();
  zip->CloseArchiveFile();
  EXPECT_EQ(Bytes(), std::string("PK\x05\x06", 4) + std::string(18, '\0'));
  EXPECT_FALSE(mem.FileExists("C:\\a.zip-journal"));
  Open();  // and it opens as an archive again
  Add("C:\\data\\f1.txt");
  zip->CloseArchiveFile();
  EXPECT_EQ(Names(), (std::vector<std::string>{"f1.txt"}));
}

// A full disk is a per-file failure whatever the size of the source: an entry built in
// memory and one written straight to the archive both reach the failure event, and
// the batch goes on with the files that fit.
TEST_F(UpdateEngine, FullDiskIsAPerFileFailureForSmallAndLargeSources) {
  PutFile(mem, "C:\\new\\big.bin", RandomBytes(3000000, 7));  // written straight through
  PutFile(mem, "C:\\new\\mid.bin", RandomBytes(600000, 8));   // built in memory
  PutFile(mem, "C:\\new\\tiny.txt", "fits");
  // With threads, the big file's later chunks are in flight when a write falls short.
  for (int threads : {1, 4}) {
    SCOPED_TRACE(threads);
    mem.SetCapacity("C:\\", int64_t{1} << 40);
    if (zip->IsOpen()) zip->CloseArchiveFile();
    mem.DeleteFile("C:\\a.zip");
    MakeOld();
    zip->SetThreads(threads);
    int64_t used = 0;
    for (const std::string& f : mem.AllFiles())
      used += static_cast<int64_t>(GetFile(mem, f).size());
    mem.SetCapacity("C:\\", used + static_cast<int64_t>(old.size()) + 200000);
    failures.clear();
    answers = {fxaIgnore, fxaIgnore};
    Add("C:\\new\\*.*");
    EXPECT_EQ(failures.size(), 2u);
    for (const std::string& f : failures) EXPECT_NE(f.find(":34"), std::string::npos) << f;
    EXPECT_EQ(Names(), (std::vector<std::string>{"f1.txt", "f2.bin", "f3.txt", "tiny.txt"}));
  }
}

// A replacement whose name differs from the stored one only in letter case, answered
// Ignore, keeps the stored entry as it was; the rest of the batch goes in.
TEST_F(UpdateEngine, IgnoredReplacementInOtherCaseKeepsTheStoredEntry) {
  MakeOld();
  PutFile(mem, "C:\\new\\F1.TXT", "replacement");
  PutFile(mem, "C:\\new\\x.txt", "x");
  auto lock = mem.Open("C:\\new\\F1.TXT", FileMode::fmOpenReadWrite | FileMode::fmShareExclusive);
  answers = {fxaIgnore};
  Add("C:\\new\\*.*");
  EXPECT_EQ(failures.size(), 1u);
  EXPECT_EQ(Names(), (std::vector<std::string>{"f1.txt", "f2.bin", "f3.txt", "x.txt"}));
  EXPECT_EQ(Contents()["f1.txt"], TextBytes(20000, 1));
}

TEST_F(UpdateEngine, RetryAfterTheFileWasReleased) {
  MakeOld();
  PutFile(mem, "C:\\new\\n1.txt", TextBytes(700000, 5));
  auto lock = mem.Open("C:\\new\\n1.txt", FileMode::fmOpenReadWrite | FileMode::fmShareExclusive);
  answers = {fxaRetry};
  onFailure = [&] { lock.reset(); };
  Add("C:\\new\\n1.txt");
  EXPECT_EQ(failures.size(), 1u);
  auto contents = Contents();
  EXPECT_EQ(contents["n1.txt"], TextBytes(700000, 5));
  ExpectContiguous(Bytes());
}

// A read that fails half-way through an entry: the partial bytes are cut off before
// the entry is tried again or left out.
TEST_F(UpdateEngine, PartialEntryIsCutOffBeforeRetryAndIgnore) {
  MakeOld();
  PutFile(mem, "C:\\new\\n1.txt", TextBytes(1500000, 5));  // three chunks
  // More than one chunk as well, so no read ahead of it comes between n1's reads.
  std::string after = TextBytes(600000, 6);
  PutFile(mem, "C:\\new\\n2.txt", after);
  // With threads, the first chunk is still being deflated when the read fails.
  for (auto [answer, threads] :
       {std::pair{fxaRetry, 1}, {fxaIgnore, 1}, {fxaRetry, 2}, {fxaIgnore, 8}}) {
    SCOPED_TRACE(std::to_string(answer) + " threads " + std::to_string(threads));
    zip->SetThreads(threads);
    failures.clear();
    faults.Reset();
    faults.FailNth(FaultOp::kRead, 2);  // the source's second chunk
    answers = {answer};
    Add("C:\\new\\n*.txt");
    EXPECT_EQ(failures.size(), 1u);
    std::string bytes = Bytes();
    ExpectContiguous(bytes);
    auto contents = ArchiveContents(bytes);
    EXPECT_EQ(contents.count("n1.txt"), answer == fxaRetry ? 1u : 0u);
    EXPECT_TRUE(contents["n2.txt"] == after);
    EXPECT_EQ(contents["f3.txt"], TextBytes(900000, 3));
    zip->CloseArchiveFile();
    mem.DeleteFile("C:\\a.zip");
    MakeOld();
  }
}

TEST_F(UpdateEngine, EmptyFileIsStoredEvenWhenCompressing) {
  PutFile(mem, "C:\\new\\empty.txt", "");
  Open();
  Add("C:\\new\\empty.txt");
  std::string bytes = Bytes();
  EXPECT_EQ(U16At(bytes, 8), 0);    // method in the local header
  EXPECT_EQ(U32At(bytes, 14), 0u);  // CRC
  EXPECT_EQ(U32At(bytes, 18), 0u);
  EXPECT_EQ(U32At(bytes, 22), 0u);
  auto entries = ReadArchive(bytes);
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].method, 0);
  EXPECT_EQ(entries[0].crc, 0u);
}

TEST_F(UpdateEngine, DirectoryEntryHeaders) {
  MakeDirs(mem, "C:\\new\\sub");
  zip->Options().StorePath = spRelativePath;
  zip->SetBaseDir("C:\\new");
  for (const std::string& password : {std::string(), std::string("pw")}) {
    SCOPED_TRACE(password);
    zip->SetPassword(password);
    Open(password.empty() ? "C:\\d1.zip" : "C:\\d2.zip");
    Add("sub", 0x10);
    zip->CloseArchiveFile();
    std::string bytes = Bytes(password.empty() ? "C:\\d1.zip" : "C:\\d2.zip");
    auto entries = ReadArchive(bytes);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].name, "sub/");
    EXPECT_EQ(U16At(bytes, 8), 0);
    EXPECT_EQ(U32At(bytes, 14), 0u);
    EXPECT_EQ(U32At(bytes, 18), 0u);
    EXPECT_EQ(entries[0].localFlags, entries[0].flags);
    EXPECT_EQ(entries[0].flags & 2, 2);
  }
}

TEST_F(UpdateEngine, Zip64AlwaysLocalHeader) {
  PutFile(mem, "C:\\new\\small.txt", TextBytes(1000, 4));
  zip->SetZip64Mode(zmAlways);
  Open();
  Add("C:\\new\\small.txt");
  std::string bytes = Bytes();
  EXPECT_EQ(U16At(bytes, 4), 45);            // version needed
  EXPECT_EQ(U32At(bytes, 18), 0xFFFFFFFFu);  // compressed size
  EXPECT_EQ(U32At(bytes, 22), 0xFFFFFFFFu);  // uncompressed size
  EXPECT_EQ(U16At(bytes, 28), 20);           // extra length
  EXPECT_EQ(U16At(bytes, 30 + 9), 1);        // Zip64 block id after the name
  EXPECT_EQ(U16At(bytes, 30 + 9 + 2), 16);
  EXPECT_EQ(U32At(bytes, 30 + 9 + 4), 1000u);  // uncompressed size in the block
  EXPECT_EQ(ArchiveContents(bytes)["small.txt"], TextBytes(1000, 4));
}

TEST_F(UpdateEngine, OemNamesInLocalHeader) {
  std::string name = "caf\xC3\xA9.txt";  // e acute in the system code page (UTF-8)
  PutFile(mem, "C:\\new\\" + name, "coffee");
  Open();
  Add("C:\\new\\caf*.txt");
  std::string bytes = Bytes();
  EXPECT_EQ(U16At(bytes, 26), 8);
  EXPECT_EQ(bytes.substr(30, 8), AnsiToOem(name));
  EXPECT_EQ(bytes.substr(30, 8), "caf\x82.txt");  // CP437
  EXPECT_EQ(zip->DirManager()->WorkingDirectory.ItemPtr(0).FileName, name);
}

TEST_F(UpdateEngine, CancelInStartEventTouchesNothing) {
  MakeOld();
  PutFile(mem, "C:\\new\\n1.txt", "n1");
  zip->OnOverallProgress = [](TZWBaseArchiver*, double, TZWProcessOperation, TZWProgressPhase p,
                              bool& cancel) { cancel = p == ppStart; };
  faults.Reset();
  Add("C:\\new\\n1.txt");
  EXPECT_EQ(faults.Count(FaultOp::kWrite), 0);
  EXPECT_EQ(faults.Count(FaultOp::kTruncate), 0);
  EXPECT_EQ(Bytes(), old);
  // The batch is dropped: the next one does not take n1 for a stored entry.
  EXPECT_EQ(zip->DirManager()->WorkingDirectory.Count(), 3);
  zip->OnOverallProgress = nullptr;
  Add("C:\\data\\f1.txt");
  zip->CloseArchiveFile();
  EXPECT_EQ(Names(), (std::vector<std::string>{"f1.txt", "f2.bin", "f3.txt"}));
}

TEST_F(UpdateEngine, CancelDuringCompressionRollsBack) {
  MakeOld();
  PutFile(mem, "C:\\new\\f1.txt", TextBytes(1200000, 8));
  PutFile(mem, "C:\\new\\n1.txt", TextBytes(1200000, 9));
  // One stream, and chunks in flight on workers when the cancel comes.
  for (auto [mask, threads] : {std::pair{"C:\\new\\n1.txt", 1},
                               {"C:\\new\\f1.txt", 1},
                               {"C:\\new\\n1.txt", 3},
                               {"C:\\new\\f1.txt", 3}}) {
    SCOPED_TRACE(std::string(mask) + " threads " + std::to_string(threads));
    zip->SetThreads(threads);
    zip->OnFileProgress = [](TZWBaseArchiver*, const std::string&, double progress,
                             TZWProcessOperation, TZWProgressPhase p,
                             bool& cancel) { cancel = p == ppProcess && progress > 10; };
    Add(mask);
    EXPECT_EQ(Bytes(), old);
    EXPECT_TRUE(TempFiles().empty());
  }
}

TEST_F(UpdateEngine, CancelAtTheEndIsTooLate) {
  MakeOld();
  PutFile(mem, "C:\\new\\n1.txt", "n1");
  zip->OnOverallProgress = [](TZWBaseArchiver*, double, TZWProcessOperation, TZWProgressPhase p,
                              bool& cancel) { cancel = p == ppEnd; };
  Add("C:\\new\\n1.txt");
  EXPECT_EQ(Contents()["n1.txt"], "n1");
  EXPECT_EQ(zip->DirManager()->WorkingDirectory.Count(), 4);
}

// An exception of the closing event comes after the commit: the directory in memory
// still describes the file, so the next batch is sound.
TEST_F(UpdateEngine, ExceptionOfClosingEventKeepsCommittedDirectory) {
  MakeOld();
  PutFile(mem, "C:\\new\\n1.txt", "n1");
  zip->OnOverallProgress = [](TZWBaseArchiver*, double, TZWProcessOperation, TZWProgressPhase p,
                              bool&) {
    if (p == ppEnd) throw std::runtime_error("late");
  };
  EXPECT_THROW(Add("C:\\new\\n1.txt"), std::runtime_error);
  zip->OnOverallProgress = nullptr;
  PutFile(mem, "C:\\new\\n2.txt", "n2");
  Add("C:\\new\\n2.txt");
  auto contents = Contents();
  EXPECT_EQ(contents.size(), 5u);
  EXPECT_EQ(contents["n1.txt"], "n1");
}

TEST_F(UpdateEngine, HandlerExceptionRollsBack) {
  MakeOld();
  PutFile(mem, "C:\\new\\f1.txt", "r");
  zip->OnFileProgress = [](TZWBaseArchiver*, const std::string&, double, TZWProcessOperation,
                           TZWProgressPhase p, bool&) {
    if (p == ppEnd) throw std::runtime_error("handler");
  };
  EXPECT_THROW(Add("C:\\new\\f1.txt"), std::runtime_error);
  EXPECT_EQ(Bytes(), old);
  EXPECT_TRUE(TempFiles().empty());
}

TEST_F(UpdateEngine, TailThatCannotBeSavedLeavesArchiveUnchanged) {
  MakeOld();
  PutFile(mem, "C:\\new\\f1.txt", "r");
  mem.SetCapacity("C:\\", 1);  // a full disk: the journal cannot be written
  EXPECT_THROW(Add("C:\\new\\f1.txt"), std::exception);
  EXPECT_EQ(Bytes(), old);
  EXPECT_FALSE(mem.FileExists("C:\\a.zip-journal"));
  EXPECT_EQ(zip->UpdateLevel(), 0);
  mem.SetCapacity("C:\\", int64_t{1} << 30);
  Add("C:\\new\\f1.txt");
  EXPECT_EQ(Contents()["f1.txt"], "r");
  EXPECT_EQ(Names().size(), 3u);
}

TEST_F(UpdateEngine, FlushBuffers) {
  PutFile(mem, "C:\\new\\n1.txt", "n1");
  Open();
  faults.Reset();
  zip->Options().FlushBuffers = false;
  Add("C:\\new\\n1.txt");
  EXPECT_EQ(faults.Count(FaultOp::kFlush), 0);
  zip->Options().FlushBuffers = true;
  Add("C:\\new\\n1.txt");
  EXPECT_GE(faults.Count(FaultOp::kFlush), 1);
}

// A directory that lists entries out of file order keeps every entry when one near
// the end of the list (the front of the file) is replaced.
TEST_F(UpdateEngine, DirectoryOutOfFileOrderKeepsEveryEntry) {
  MakeOld();
  zip->CloseArchiveFile();
  // Reverse the order of the central records.
  std::string bytes = Bytes();
  uint32_t dirStart = U32At(bytes, bytes.size() - 6);
  std::vector<std::string> records;
  for (size_t at = dirStart; U32At(bytes, at) == 0x02014B50;) {
    size_t length = 46 + U16At(bytes, at + 28) + U16At(bytes, at + 30) + U16At(bytes, at + 32);
    records.push_back(bytes.substr(at, length));
    at += length;
  }
  std::string reversed = bytes.substr(0, dirStart);
  for (auto it = records.rbegin(); it != records.rend(); ++it) reversed += *it;
  reversed += bytes.substr(bytes.size() - 22);
  mem.WriteWholeFile("C:\\a.zip", reversed);
  for (const char* replaced : {"f2.bin", "f1.txt", "f3.txt"}) {
    SCOPED_TRACE(replaced);
    Open();
    PutFile(mem, std::string("C:\\new\\") + replaced, std::string("new ") + replaced);
    Add(std::string("C:\\new\\") + replaced);
    zip->CloseArchiveFile();
    auto contents = Contents();
    EXPECT_EQ(contents.size(), 3u);
    EXPECT_EQ(contents[replaced], std::string("new ") + replaced);
    mem.DeleteFile(std::string("C:\\new\\") + replaced);
  }
}

// Entries found by scanning local headers (no end record): an append goes to the end
// of the file, never over a stored offset that may be wrong.
TEST_F(UpdateEngine, ScannedArchiveAppendsAtFileEnd) {
  MakeOld();
  zip->CloseArchiveFile();
  std::string bytes = Bytes();
  std::string entriesOnly = bytes.substr(0, U32At(bytes, bytes.size() - 6));
  mem.WriteWholeFile("C:\\a.zip", entriesOnly);
  Open();
  PutFile(mem, "C:\\new\\n1.txt", "n1");
  Add("C:\\new\\n1.txt");
  zip->CloseArchiveFile();
  std::string after = Bytes();
  EXPECT_EQ(after.substr(0, entriesOnly.size()), entriesOnly);
  auto contents = ArchiveContents(after);
  EXPECT_EQ(contents.size(), 4u);
  EXPECT_EQ(contents["f3.txt"], TextBytes(900000, 3));
}

TEST_F(UpdateEngine, EncryptedEntriesReadWithPassword) {
  TempDir dir;
  PutFile(mem, "C:\\new\\secret.txt", TextBytes(40000, 6));
  zip->SetPassword("pa55");
  zip->SetSeedSource([] { return 12345u; });
  Open();
  Add("C:\\new\\secret.txt");
  zip->CloseArchiveFile();
  auto entries = ReadArchive(Bytes());
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].flags & 1, 1);
  WriteHostFile(dir / "e.zip", Bytes());
  EXPECT_EQ(PythonDigests(dir / "e.zip", "pa55")["secret.txt"], Digest(TextBytes(40000, 6)));
  EXPECT_EQ(UnzipTest(dir / "e.zip", "pa55"), "");
}

}  // namespace
}  // namespace zw::test

// Outside checks through the zipwriter tool: what it writes passes unzip, Python's
// zipfile and 7-Zip; archives written by other tools (and the shared corpus) keep
// every entry readable and unchanged when files are added or replaced.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <set>
#include <utility>

#include "ComponentSupport.h"
#include "Corpus.h"

namespace zw::test {
namespace {

namespace fs = std::filesystem;

// Runs zipwriter; returns its exit status and fills `output` (stdout + stderr).
int ZipWriter(const std::string& arguments, std::string* output = nullptr) {
  return RunCommand("ZW_UI=script:/dev/null " + ShellQuote(ZipWriterBin()) + " " + arguments,
                    output);
}

// A small realistic data set: text, random, empty and a sub-folder.
void MakeData(const TempDir& dir) {
  dir.Write("data/report.txt", TextBytes(300000, 1));
  dir.Write("data/picture.jpg", RandomBytes(40000, 2));
  dir.Write("data/empty.dat", "");
  dir.Write("data/sub/deep.txt", TextBytes(5000, 3));
  dir.Write("data/sub/more.bin", RandomBytes(100, 4));
}

std::map<std::string, std::string> ExpectedDigests(const TempDir& dir, const std::string& prefix) {
  std::map<std::string, std::string> out;
  for (const char* name :
       {"report.txt", "picture.jpg", "empty.dat", "sub/deep.txt", "sub/more.bin"})
    out[prefix + name] = Digest(ReadHostFile(dir / ("data/" + std::string(name))));
  return out;
}

void ExpectAllOraclesAccept(const std::string& archive, const std::string& password = "") {
  EXPECT_EQ(UnzipTest(archive, password), "");
  EXPECT_EQ(PythonTest(archive, password), "");
  EXPECT_EQ(SevenZipTest(archive, password), "");
}

TEST(Oracles, ArchivesWrittenByZipWriter) {
  struct Case {
    const char* options;
    const char* password;
  };
  const Case cases[] = {
      {"", ""},
      {"--level 9", ""},
      {"--level 0", ""},
      {"--zip64 always", ""},
      {"--password 'se cret'", "se cret"},
      {"--password pw --zip64 always", "pw"},
      {"--no-compress '*.jpg' --ansi", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.options);
    TempDir dir;
    MakeData(dir);
    std::string output;
    ASSERT_EQ(ZipWriter("add " + ShellQuote(dir / "out.zip") + " '*.*' --attr 0x3F --base-dir " +
                            ShellQuote(dir / "data") + " " + c.options,
                        &output),
              0)
        << output;
    ExpectAllOraclesAccept(dir / "out.zip", c.password);
    std::map<std::string, std::string> expected = ExpectedDigests(dir, "");
    expected["sub/"] = Digest("");
    EXPECT_EQ(PythonDigests(dir / "out.zip", c.password), expected);
  }
}

// Large entries deflated in chunks on worker threads: every count above 1 writes the
// same bytes (the chunking decides them, not the scheduling), and every reader
// inflates them. Sizes lie around the chunk sizes of the modes (512 KiB at 1-3,
// 1 MiB at 4-6, 1.5 MiB at 7-9).
TEST(Oracles, ThreadCountsAboveOneWriteTheSameBytes) {
  TempDir dir;
  const size_t sizes[] = {0, 1000, 524288, 524289, 1048577, 1572865, 3500000};
  std::map<std::string, std::string> expected;
  for (size_t i = 0; i < std::size(sizes); ++i) {
    std::string name = "t" + std::to_string(i) + ".txt";
    std::string bytes = TextBytes(sizes[i], static_cast<uint32_t>(i) + 10);
    dir.Write("data/" + name, bytes);
    expected[name] = Digest(bytes);
  }
  std::string random = RandomBytes(2000000, 9);
  dir.Write("data/random.bin", random);
  expected["random.bin"] = Digest(random);
  for (int level : {1, 6, 9}) {
    std::string first;
    for (int threads : {2, 3, 8}) {
      SCOPED_TRACE("level " + std::to_string(level) + " threads " + std::to_string(threads));
      std::string archive =
          dir / ("l" + std::to_string(level) + "t" + std::to_string(threads) + ".zip");
      std::string output;
      ASSERT_EQ(ZipWriter("add " + ShellQuote(archive) + " '*.*' --base-dir " +
                              ShellQuote(dir / "data") + " --level " + std::to_string(level) +
                              " --threads " + std::to_string(threads),
                          &output),
                0)
          << output;
      std::string bytes = ReadHostFile(archive);
      if (!first.empty()) {
        EXPECT_TRUE(bytes == first) << "differs from 2 threads";
        continue;
      }
      first = bytes;
      ExpectAllOraclesAccept(archive);
      EXPECT_EQ(PythonDigests(archive), expected);
    }
  }
}

// Encryption and split volumes work the same with threads: the chunks are encrypted
// in order as they are written, and a volume's bytes do not depend on the count.
TEST(Oracles, EncryptedAndSplitArchivesWithThreads) {
  TempDir dir;
  std::map<std::string, std::string> expected;
  for (auto [name, bytes] : {std::pair{std::string("big.txt"), TextBytes(2600000, 21)},
                             {"noise.bin", RandomBytes(1300000, 22)},
                             {"small.txt", TextBytes(3000, 23)}}) {
    dir.Write("data/" + name, bytes);
    expected[name] = Digest(bytes);
  }
  std::string add = " '*.*' --base-dir " + ShellQuote(dir / "data") + " ";
  std::string output;
  ASSERT_EQ(
      ZipWriter("add " + ShellQuote(dir / "enc.zip") + add + "--password pw --threads 3", &output),
      0)
      << output;
  ExpectAllOraclesAccept(dir / "enc.zip", "pw");
  EXPECT_EQ(PythonDigests(dir / "enc.zip", "pw"), expected);
  std::string volumes[2];
  for (int threads : {2, 8}) {
    SCOPED_TRACE(threads);
    std::string folder = "split" + std::to_string(threads);
    fs::create_directories(dir / folder);
    ASSERT_EQ(ZipWriter("add " + ShellQuote(dir / (folder + "/s.zip")) + add +
                            "--level 6 --spanning split --volume-size 700000 --classic-naming "
                            "--threads " +
                            std::to_string(threads),
                        &output),
              0)
        << output;
    EXPECT_EQ(SevenZipTest(dir / (folder + "/s.zip")), "");
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir / folder))
      names.insert(entry.path().filename().string());
    EXPECT_GE(names.size(), 3u);
    for (const std::string& name : names)
      volumes[threads == 2 ? 0 : 1] += name + ":" + ReadHostFile(dir / (folder + "/" + name));
  }
  EXPECT_TRUE(volumes[0] == volumes[1]);
}

// An archive made by another tool, then updated: append, then replace the first entry.
struct Maker {
  const char* name;
  const char* command;  // %A archive, run in the data folder
};

const Maker kMakers[] = {
    {"InfoZip", "zip -q -r %A report.txt picture.jpg empty.dat sub"},
    {"PythonSeekable", "%Y %P make seekable %A report.txt picture.jpg empty.dat"},
    {"PythonStream", "%Y %P make stream %A report.txt picture.jpg empty.dat"},
    {"SevenZip", "7zz a -bd -bso0 -bsp0 -tzip %A report.txt picture.jpg empty.dat sub"},
};

std::string Fill(std::string text, const std::string& archive) {
  auto replace = [&](const std::string& key, const std::string& value) {
    for (size_t at; (at = text.find(key)) != std::string::npos;)
      text.replace(at, key.size(), value);
  };
  replace("%A", ShellQuote(archive));
  replace("%P", ShellQuote(OracleScript()));
  replace("%Y", PythonBin());
  return text;
}

class ForeignArchives : public ::testing::TestWithParam<Maker> {};

TEST_P(ForeignArchives, KeepEveryEntryWhenUpdated) {
  TempDir dir;
  MakeData(dir);
  std::string archive = dir / "foreign.zip";
  std::string output;
  ASSERT_EQ(
      RunCommand("cd " + ShellQuote(dir / "data") + " && " + Fill(GetParam().command, archive),
                 &output),
      0)
      << output;
  std::map<std::string, std::string> before = PythonDigests(archive);
  ASSERT_FALSE(before.empty());

  // Append: everything in front of the old directory stays as it was.
  dir.Write("new/added.txt", TextBytes(20000, 7));
  ASSERT_EQ(ZipWriter("add " + ShellQuote(archive) + " " + ShellQuote(dir / "new/added.txt") +
                          " --store-path none",
                      &output),
            0)
      << output;
  ExpectAllOraclesAccept(archive);
  std::map<std::string, std::string> after = PythonDigests(archive);
  for (const auto& [name, digest] : before) EXPECT_EQ(after[name], digest) << name;
  EXPECT_EQ(after["added.txt"], Digest(TextBytes(20000, 7)));

  // Replace the first entry: the others are copied back unchanged, descriptors and all.
  dir.Write("new/report.txt", "replaced");
  ASSERT_EQ(ZipWriter("add " + ShellQuote(archive) + " " + ShellQuote(dir / "new/report.txt") +
                          " --store-path none",
                      &output),
            0)
      << output;
  ExpectAllOraclesAccept(archive);
  after = PythonDigests(archive);
  EXPECT_EQ(after.size(), before.size() + 1);
  for (const auto& [name, digest] : before) {
    if (name == "report.txt") continue;
    EXPECT_EQ(after[name], digest) << name;
  }
  EXPECT_EQ(after["report.txt"], Digest("replaced"));

  // Entries written with data descriptors keep them (flag bit 3) when copied.
  if (std::string(GetParam().name) == "PythonStream") {
    ASSERT_EQ(ZipWriter("list " + ShellQuote(archive), &output), 0);
    EXPECT_NE(output.find("picture.jpg\t40000\t"), std::string::npos) << output;
    size_t line = output.find("picture.jpg");
    std::string fields = output.substr(line, output.find('\n', line) - line);
    EXPECT_NE(fields.find("\t0008\t"), std::string::npos) << fields;
  }
}

INSTANTIATE_TEST_SUITE_P(Makers, ForeignArchives, ::testing::ValuesIn(kMakers),
                         [](const auto& info) { return std::string(info.param.name); });

// Every archive of the shared corpus: adding a file either works, and every entry that
// Python could read before reads the same afterwards, or fails and leaves the file
// exactly as it was.
TEST(Oracles, CorpusArchivesSurviveAnAddition) {
  ZW_SKIP_WITHOUT_CORPUS();
  std::string corpus = CorpusDir();
  TempDir dir;
  dir.Write("added.txt", "added by the test");
  int updated = 0, refused = 0;
  for (const auto& file : fs::directory_iterator(corpus)) {
    std::string name = file.path().filename().string();
    std::string ext = file.path().extension().string();
    if (ext != ".zip" && ext != ".jar") continue;
    SCOPED_TRACE(name);
    std::string copy = dir / name;
    fs::copy_file(file.path(), copy, fs::copy_options::overwrite_existing);
    fs::permissions(copy, fs::perms::owner_read | fs::perms::owner_write);
    std::string original = ReadHostFile(copy);
    std::string output;
    bool readable = RunCommand(PythonBin() + " " + ShellQuote(OracleScript()) + " digest " +
                               ShellQuote(copy)) == 0;
    std::map<std::string, std::string> before = readable ? PythonDigests(copy) : decltype(before){};
    int rc = ZipWriter(
        "add " + ShellQuote(copy) + " " + ShellQuote(dir / "added.txt") + " --store-path none",
        &output);
    if (rc != 0) {
      ++refused;
      EXPECT_EQ(ReadHostFile(copy), original) << "refused but changed: " << output;
      EXPECT_FALSE(output.empty());
      continue;
    }
    ++updated;
    std::map<std::string, std::string> after = PythonDigests(copy);
    EXPECT_EQ(PythonTest(copy).find("bad entry: added.txt"), std::string::npos);
    for (const auto& [entry, digest] : before) {
      if (digest.rfind("unreadable", 0) == 0) continue;  // damaged before: nothing to keep
      EXPECT_EQ(after[entry], digest) << entry;
    }
    EXPECT_EQ(after["added.txt"], Digest("added by the test"));
  }
  EXPECT_GT(updated, 10);
  RecordProperty("updated", updated);
  RecordProperty("refused", refused);
}

// --- The command line ----------------------------------------------------------------

TEST(ZipWriterCli, HelpNamesEveryOption) {
  std::string output;
  ASSERT_EQ(ZipWriter("--help", &output), 0);
  for (const char* option :
       {"--level", "--threads", "--password", "--zip64", "--store-path", "--recurse",
        "--no-recurse", "--attr", "--exclude", "--no-compress", "--base-dir", "--temp-dir",
        "--overwrite", "--ansi", "--sfx", "--one-batch", "zipwriter add", "zipwriter list"})
    EXPECT_NE(output.find(option), std::string::npos) << option;
}

TEST(ZipWriterCli, ListFormat) {
  TempDir dir;
  dir.Write("data/a.txt", "hello hello hello");
  std::string output;
  ASSERT_EQ(ZipWriter("add " + ShellQuote(dir / "l.zip") + " " + ShellQuote(dir / "data/a.txt") +
                          " --store-path none",
                      &output),
            0)
      << output;
  ASSERT_EQ(ZipWriter("list " + ShellQuote(dir / "l.zip"), &output), 0) << output;
  std::istringstream lines(output);
  std::string line, entry;
  int comments = 0;
  while (std::getline(lines, line)) {
    if (line.rfind("#", 0) == 0)
      ++comments;
    else if (!line.empty())
      entry = line;
  }
  EXPECT_GE(comments, 1);
  // name, size, compressed size, method, CRC (8 hex), offset, flags hex, attributes hex
  std::vector<std::string> fields;
  std::istringstream split(entry);
  for (std::string f; std::getline(split, f, '\t');) fields.push_back(f);
  ASSERT_EQ(fields.size(), 8u) << entry;
  EXPECT_EQ(fields[0], "a.txt");
  EXPECT_EQ(fields[1], "17");
  EXPECT_EQ(fields[3], "8");
  EXPECT_EQ(fields[4].size(), 8u);
  std::string crc = Digest("hello hello hello").substr(0, 8);
  for (char& c : crc) c = static_cast<char>(toupper(c));
  EXPECT_EQ(fields[4], crc);
  EXPECT_EQ(fields[5], "0");
}

TEST(ZipWriterCli, ExitStatusAndMessages) {
  TempDir dir;
  dir.Write("data/a.txt", "a");
  struct Case {
    std::string arguments;
    bool ok;
    std::string message;
  };
  const Case cases[] = {
      {"list " + ShellQuote(dir / "absent.zip"), false, "not found"},
      {"list " + ShellQuote(dir / "data/a.txt"), false, "Invalid archive file"},
      {"add " + ShellQuote(dir / "x.zip") + " a --level 12", false, "--level"},
      {"add " + ShellQuote(dir / "x.zip") + " a --bogus", false, "unknown option"},
      {"add " + ShellQuote(dir / "x.zip"), false, "ARCHIVE and MASK"},
      {"frobnicate", false, "unknown command"},
      {"add " + ShellQuote(dir / "x.zip") + " " + ShellQuote(dir / "data/*.txt") + " --temp-dir " +
           ShellQuote(dir / "data"),
       true, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.arguments);
    std::string output;
    int rc = ZipWriter(c.arguments, &output);
    EXPECT_EQ(rc == 0, c.ok) << output;
    EXPECT_NE(output.find(c.message), std::string::npos) << output;
  }
}

TEST(ZipWriterCli, OneBatchAndOverwriteNever) {
  TempDir dir;
  dir.Write("one/a.txt", "first");
  dir.Write("two/a.txt", "second");
  dir.Write("two/b.txt", "b");
  std::string archive = ShellQuote(dir / "o.zip");
  std::string output;
  ASSERT_EQ(ZipWriter("add " + archive + " " + ShellQuote(dir / "one/*.txt") + " " +
                          ShellQuote(dir / "two/*.txt") +
                          " --store-path none --one-batch --overwrite never",
                      &output),
            0)
      << output;
  auto digests = PythonDigests(dir / "o.zip");
  EXPECT_EQ(digests["a.txt"], Digest("first"));
  EXPECT_EQ(digests.size(), 2u);
}

TEST(ZipWriterCli, SfxStubArchive) {
  TempDir dir;
  dir.Write("stub.bin", std::string(1000, 'S'));
  dir.Write("data/a.txt", TextBytes(3000, 1));
  std::string output;
  ASSERT_EQ(ZipWriter("add " + ShellQuote(dir / "s.zip") + " " + ShellQuote(dir / "data/a.txt") +
                          " --sfx " + ShellQuote(dir / "stub.bin") + " --store-path none",
                      &output),
            0)
      << output;
  EXPECT_EQ(ReadHostFile(dir / "s.zip").substr(0, 1000), std::string(1000, 'S'));
  EXPECT_EQ(PythonDigests(dir / "s.zip")["a.txt"], Digest(TextBytes(3000, 1)));
  EXPECT_EQ(UnzipTest(dir / "s.zip"), "");
}

// Drive letters name the folders given by ZW_DRIVE_x.
TEST(ZipWriterCli, DriveLettersMapToFolders) {
  TempDir dir;
  dir.Write("data/a.txt", "on drive C");
  std::string output;
  ASSERT_EQ(RunCommand("ZW_DRIVE_C=" + ShellQuote(dir.path()) + " ZW_UI=script:/dev/null " +
                           ShellQuote(ZipWriterBin()) +
                           " add 'C:\\out.zip' 'C:\\data\\*.txt' --store-path full",
                       &output),
            0)
      << output;
  EXPECT_EQ(PythonDigests(dir / "out.zip")["data/a.txt"], Digest("on drive C"));
}

// --- Stored names and file selection, on real folders --------------------------------

// Runs zipwriter in `dir`, so relative masks and folders start there.
int ZipWriterIn(const TempDir& dir, const std::string& arguments, std::string* output) {
  return RunCommand("cd " + ShellQuote(dir.path()) + " && ZW_UI=script:/dev/null timeout 120 " +
                        ShellQuote(ZipWriterBin()) + " " + arguments,
                    output);
}

// Only a letter and a colon at the very start make a drive: a colon further on is part of
// a name, and two files whose names differ before it stay two entries.
TEST(ZipWriterCli, ColonInsideAPathIsNoDrive) {
  TempDir dir;
  dir.Write("p/a:same.txt", "first");
  dir.Write("q/b:same.txt", "second");
  std::string output;
  ASSERT_EQ(ZipWriterIn(dir, "add r.zip 'p/*.txt' 'q/*.txt' --store-path relative", &output), 0)
      << output;
  EXPECT_EQ(PythonDigests(dir / "r.zip"),
            (std::map<std::string, std::string>{{"p/a:same.txt", Digest("first")},
                                                {"q/b:same.txt", Digest("second")}}));
  // Without paths the names begin with "a:" and "b:", still no drives.
  ASSERT_EQ(ZipWriterIn(dir, "add n.zip 'p/*.txt' 'q/*.txt' --store-path none", &output), 0)
      << output;
  EXPECT_EQ(PythonDigests(dir / "n.zip"),
            (std::map<std::string, std::string>{{"a:same.txt", Digest("first")},
                                                {"b:same.txt", Digest("second")}}));
}

// A relative --base-dir is taken from the folder the tool runs in, before the search
// moves into it: names are relative to it, not the folder's full path.
TEST(ZipWriterCli, RelativeBaseDirGivesRelativeNames) {
  TempDir dir;
  dir.Write("data/ten.txt", "ten");
  dir.Write("data/sub/five.txt", "five");
  std::string output;
  ASSERT_EQ(ZipWriterIn(dir, "add b.zip '*.txt' --base-dir data --store-path relative --recurse",
                        &output),
            0)
      << output;
  EXPECT_EQ(PythonDigests(dir / "b.zip"),
            (std::map<std::string, std::string>{{"ten.txt", Digest("ten")},
                                                {"sub/five.txt", Digest("five")}}));
}

// Recursion does not follow linked folders (a link to a parent or to "/" would loop or
// run for minutes), and such a link is no folder entry either; a link to a file is
// added as that file.
TEST(ZipWriterCli, RecursionSkipsLinkedFolders) {
  TempDir dir;
  dir.Write("data/a.txt", "a");
  dir.Write("data/real/r.txt", "r");
  fs::create_directory_symlink("..", dir / "data/real/up");
  fs::create_directory_symlink("real", dir / "data/linked");
  fs::create_directory_symlink("/", dir / "data/root");
  fs::create_symlink("a.txt", dir / "data/alias.txt");
  std::string output;
  ASSERT_EQ(ZipWriterIn(dir,
                        "add l.zip '*.*' --base-dir " + ShellQuote(dir / "data") +
                            " --store-path relative --recurse --attr 0x3F",
                        &output),
            0)
      << output;
  std::string names;
  ASSERT_EQ(RunCommand("unzip -Z1 " + ShellQuote(dir / "l.zip"), &names), 0) << names;
  std::istringstream lines(names);
  std::set<std::string> found;
  for (std::string line; std::getline(lines, line);) found.insert(line);
  EXPECT_EQ(found, (std::set<std::string>{"a.txt", "alias.txt", "real/", "real/r.txt"}));
}

// With OEM names (the default) a name CP437 holds is stored in CP437; any other in
// UTF-8 with bit 11, a name that is not UTF-8 with its odd bytes escaped one to one as
// U+EF00 + byte. Each file keeps one entry of its own across runs.
TEST(ZipWriterCli, NamesOutsideCp437StayDistinctAcrossRuns) {
  TempDir dir;
  const std::string euro = "fi_\xE2\x82\xAC.dat", eAcute = "fi_\xC3\xA9.dat",
                    notUtf8 = "fi_\x80.dat";
  dir.Write("d/" + euro, "euro");
  dir.Write("d/" + eAcute, "e acute");
  dir.Write("d/" + notUtf8, "raw");
  std::string output;
  ASSERT_EQ(ZipWriterIn(dir, "add n.zip 'd/*.dat' --store-path none", &output), 0) << output;
  dir.Write("d/" + euro, "euro 2");
  dir.Write("d/" + eAcute, "e acute 2");
  dir.Write("d/" + notUtf8, "raw 2");
  ASSERT_EQ(ZipWriterIn(dir, "add n.zip 'd/*.dat' --store-path none --overwrite always", &output),
            0)
      << output;
  ExpectAllOraclesAccept(dir / "n.zip");
  // Bit 11 and the stored bytes of each entry, as Python's zipfile reads them.
  const std::string script =
      "import sys, zipfile\n"
      "for i in zipfile.ZipFile(sys.argv[1]).infolist():\n"
      "    u = i.flag_bits & 0x800\n"
      "    print(1 if u else 0, i.filename.encode('utf-8' if u else 'cp437').hex(),"
      " i.file_size)\n";
  ASSERT_EQ(RunCommand(PythonBin() + " -c " + ShellQuote(script) + " " + ShellQuote(dir / "n.zip"),
                       &output),
            0)
      << output;
  std::istringstream lines(output);
  std::set<std::string> found;
  for (std::string line; std::getline(lines, line);) found.insert(line);
  EXPECT_EQ(found, (std::set<std::string>{
                       "1 66695fe282ac2e646174 6",  // fi_€.dat in UTF-8
                       "0 66695f822e646174 9",      // fi_é.dat in CP437
                       "1 66695feebe802e646174 5",  // fi_\x80.dat, the byte escaped
                   }));
  // 7-Zip reads the same three names (it shows CP437 names as their bytes).
  ASSERT_EQ(RunCommand("7zz l -slt " + ShellQuote(dir / "n.zip"), &output), 0) << output;
  std::istringstream listing(output);
  std::set<std::string> paths;
  for (std::string line; std::getline(listing, line);)
    if (line.rfind("Path = fi_", 0) == 0) paths.insert(line.substr(7));
  EXPECT_EQ(paths, (std::set<std::string>{euro, "fi_\x82.dat", "fi_\xEE\xBE\x80.dat"}));
}

// On a terminal a progress bar is drawn on standard error; it never passes 100%,
// also when stored entries are copied around a replaced one.
TEST(ZipWriterCli, ProgressBarOnTerminal) {
  std::string output;
  if (RunCommand("command -v script >/dev/null", &output) != 0) GTEST_SKIP() << "no script(1)";
  TempDir dir;
  for (int i = 0; i < 8; ++i) dir.Write("data/f" + std::to_string(i) + ".txt", TextBytes(2000, i));
  std::string add = "ZW_UI=script:/dev/null " + ShellQuote(ZipWriterBin()) + " add " +
                    ShellQuote(dir / "p.zip") + " " + ShellQuote(dir / "data/*.txt") +
                    " --store-path none";
  ASSERT_EQ(RunCommand(add), 0);
  dir.Write("data/f0.txt", "replaced");
  ASSERT_EQ(RunCommand("script -qec " + ShellQuote(add) + " /dev/null", &output), 0) << output;
  EXPECT_NE(output.find("] 100%"), std::string::npos) << output;
  for (size_t at = output.find('['); at != std::string::npos; at = output.find('[', at + 1)) {
    size_t close = output.find(']', at);
    ASSERT_NE(close, std::string::npos);
    EXPECT_EQ(close - at, 41u) << output;  // 40 cells between the brackets
  }
  EXPECT_EQ(PythonDigests(dir / "p.zip")["f0.txt"], Digest("replaced"));
}

}  // namespace
}  // namespace zw::test

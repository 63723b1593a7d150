// The shared corpus: every archive our reading rules open must give the entries that
// Python's zipfile sees (names, sizes, CRCs, local header positions); where our rules
// give another well-defined result, the case pins it and says why; every broken
// archive fails cleanly.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <sstream>

#include "Corpus.h"
#include "StorageSupport.h"
#include "TempDir.h"

namespace zw::test {
namespace {

const std::string kCorpus = CorpusDir();

std::string StoredName(const TDirItem& item) { return item.FileName; }

// Python's view with the one change our reader makes to every name: "\" becomes "/".
std::vector<OracleEntry> PythonView(const std::string& path) {
  std::string error;
  auto entries = PythonEntries(path, &error);
  EXPECT_EQ(error, "") << "Python refuses " << path;
  for (auto& e : entries) std::replace(e.name.begin(), e.name.end(), '\\', '/');
  return entries;
}

void ExpectSameAsPython(const std::string& path, const DirectoryRead& read) {
  auto expected = PythonView(path);
  ASSERT_EQ(read.items.size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) {
    const TDirItem& item = read.items[i];
    SCOPED_TRACE("entry " + std::to_string(i) + " " + expected[i].name);
    EXPECT_EQ(StoredName(item), expected[i].name);
    EXPECT_EQ(item.RealUncompressedSize(), expected[i].size);
    EXPECT_EQ(item.RealCompressedSize(), expected[i].compressedSize);
    EXPECT_EQ(item.Crc32, expected[i].crc);
    EXPECT_EQ(item.RealLocalHeaderOffset(), expected[i].offset);
  }
}

struct CorpusCase {
  const char* file;
  // Refused with this internal code (-1: the stream's read error); 0 = opens.
  int refusedWith;
  // Opens and matches Python; otherwise `pinned` checks our own result.
  bool matchesPython;
  std::function<void(const DirectoryRead&)> pinned;
};

std::vector<std::string> Names(const DirectoryRead& r) {
  std::vector<std::string> names;
  for (const auto& item : r.items) names.push_back(item.FileName);
  return names;
}

const std::vector<CorpusCase>& Cases() {
  static const std::vector<CorpusCase> cases = {
      {"go-test.zip", 0, true,
       [](const DirectoryRead& r) { EXPECT_EQ(r.comment, "This is a zipfile comment."); }},
      {"libzip-testfile-plus-extra.zip", 0, true,
       [](const DirectoryRead& r) {
         // Both foreign central blocks are kept, in order, byte for byte.
         ASSERT_EQ(r.items[0].ExtraFields.size(), 2u);
         EXPECT_EQ(r.items[0].ExtraFields[0].HeaderID, 0x0929);
         EXPECT_EQ(r.items[0].ExtraFields[1].HeaderID, 0x0929);
       }},
      {"libarchive-test_read_format_zip_jar.jar", 0, true,
       [](const DirectoryRead& r) {
         ASSERT_EQ(r.items[0].ExtraFields.size(), 1u);
         EXPECT_EQ(r.items[0].ExtraFields[0].HeaderID, 0xCAFE);
         EXPECT_EQ(r.items[0].ExtraFields[0].DataSize, 0);
       }},
      // The stored name begins with a zero byte: it is cut there, as Python cuts it;
      // all four Unicode path blocks are kept.
      {"yauzl-unicode-path-extra-field.zip", 0, true,
       [](const DirectoryRead& r) { EXPECT_EQ(r.items[0].ExtraFields.size(), 4u); }},
      {"libzip-testempty.zip", 0, true,
       [](const DirectoryRead& r) { EXPECT_EQ(r.startOffset, 0u); }},
      // The comment length stops 24 bytes short of the end, so no end record is
      // accepted; there are no local headers either.
      {"zip2-comment_garbage.zip", 35, false, nullptr},
      {"libzip-zip64.zip", 0, true, [](const DirectoryRead& r) { EXPECT_TRUE(r.hasZip64); }},
      {"libzip-zip64-3mf.zip", 0, true, [](const DirectoryRead& r) { EXPECT_TRUE(r.hasZip64); }},
      {"go-zip64-2.zip", 0, true,
       [](const DirectoryRead& r) {
         // The Zip64 block is read and kept ahead of the foreign UT and ux blocks.
         ASSERT_GE(r.items[0].ExtraFields.size(), 3u);
         EXPECT_EQ(r.items[0].ExtraFields[0].HeaderID, 0x0001);
         EXPECT_TRUE(r.items[0].NeedsZip64);
       }},
      {"libarchive-test_read_format_zip_with_invalid_traditional_eocd.zip", 0, true, nullptr},
      {"libzip-streamed-zip64.zip", 0, true, nullptr},
      // File names hold a locator signature right before the end record. Its Zip64
      // record is nowhere and the end record needs none, so the bytes are not taken
      // for a locator: two entries, as unzip lists them (Python refuses the file).
      // Both names begin with a zero byte and so read as empty.
      {"zip2-zip64_magic_in_filename_3.zip", 0, false,
       [](const DirectoryRead& r) {
         ASSERT_EQ(r.items.size(), 2u);
         EXPECT_FALSE(r.hasZip64);
         EXPECT_EQ(r.items[1].RealLocalHeaderOffset(), 37u);
       }},
      // The Zip64 record's values are used (as Python does); the classic record's
      // contradicting ones are not.
      {"libzip-incons-eocd64.zip", 0, true, nullptr},
      // The Zip64 block ends before the local header position the all-ones field asks
      // for: refused, as Python refuses it.
      {"yauzl-zip64-extra-missing-header-offset.zip", 35, false, nullptr},
      // Entries are read by the directory's bytes; the absurd count is not used.
      {"libzip-incons-file-count-overflow.zip", 0, true, nullptr},
      {"go-go-no-datadesc-sig.zip", 0, true, nullptr},
      {"go-go-with-datadesc-sig.zip", 0, true, nullptr},
      {"libzip-streamed.zip", 0, true, nullptr},
      {"libzip-testcomment.zip", 0, true,
       [](const DirectoryRead& r) {
         EXPECT_EQ(r.comment,
                   "This is the archive comment for the file.\r\n\r\nLong.\r\n\r\nLonger.\r\n");
         EXPECT_EQ(r.items[1].FileComment, "First one had no comment.");
         EXPECT_EQ(r.items[3].FileComment, "Last.");
       }},
      {"libzip-testfile-long-comment.zip", 0, true,
       [](const DirectoryRead& r) { EXPECT_EQ(r.comment.size(), 22781u); }},
      {"minizip-large_cd_comment.zip", 0, true,
       [](const DirectoryRead& r) { EXPECT_EQ(r.comment.size(), 65535u); }},
      // The comment's own end record is the one nearest the end: its archive is read,
      // with 145 bytes of leading data (Python reads it the same way).
      {"libzip-zip-in-archive-comment.zip", 0, true,
       [](const DirectoryRead& r) { EXPECT_EQ(r.startOffset, 145u); }},
      // The last end record's comment runs past the file, so it is not accepted; the
      // earlier record whose comment reaches the end exactly is (our end-record rule).
      // Neither end record reaches the end of the file, so local headers are scanned;
      // the scan goes on behind each entry's data, so the overlapping "file" header
      // inside "FILE" is not taken: the entry unzip, Python and 7-Zip list.
      {"go-comment-truncated.zip", 0, false,
       [](const DirectoryRead& r) { EXPECT_EQ(Names(r), std::vector<std::string>{"FILE"}); }},
      {"yauzl-trailing-byte-after-eocd.zip", 0, false,
       [](const DirectoryRead& r) {
         // The byte after the end record's comment: the record is not accepted and
         // local headers are scanned; they give the same two entries.
         EXPECT_EQ(r.items.size(), 2u);
         EXPECT_EQ(r.directoryStart, -1);
       }},
      // Junk follows the comment, so the end record is not accepted; scanning the
      // local headers gives Python's entries at their true positions.
      {"go-test-prefix.zip", 0, true,
       [](const DirectoryRead& r) { EXPECT_EQ(r.directoryStart, -1); }},
      {"python-exe_with_zip", 0, true,
       [](const DirectoryRead& r) { EXPECT_EQ(r.startOffset, 713u); }},
      {"python-exe_with_z64", 0, true,
       [](const DirectoryRead& r) {
         EXPECT_TRUE(r.hasZip64);  // the record lies right before the locator
         EXPECT_EQ(r.startOffset, 713u);
       }},
      {"libarchive-test_read_format_zip_sfx", 0, true,
       [](const DirectoryRead& r) { EXPECT_EQ(r.startOffset, 1024u); }},
      // Offsets include the leading bytes already: nothing is moved.
      {"libarchive-test_compat_zip_4.zip", 0, true,
       [](const DirectoryRead& r) { EXPECT_EQ(r.startOffset, 511u); }},
      {"libzip-junk-at-start.zip", 0, true,
       [](const DirectoryRead& r) { EXPECT_EQ(r.startOffset, 4u); }},
      {"zip2-zip64_demo.zip", 0, true,
       [](const DirectoryRead& r) { EXPECT_EQ(r.startOffset, 14u); }},
      // The wrong size lands on the second central header, but the stored offset
      // holds headers that lead exactly there: both entries are read (Python reads
      // only the second, and a rewrite from that would lose the first).
      {"go-test-badbase.zip", 0, false,
       [](const DirectoryRead& r) {
         ASSERT_EQ(Names(r), (std::vector<std::string>{"test.txt", "gophercolor16x16.png"}));
         EXPECT_EQ(r.items[0].RealLocalHeaderOffset(), 0u);
       }},
      // Position minus size holds no central header; the stored offset does.
      {"go-test-baddirsz.zip", 0, false,
       [](const DirectoryRead& r) {
         EXPECT_EQ(Names(r), (std::vector<std::string>{"test.txt", "gophercolor16x16.png"}));
       }},
      {"go-test-trailing-junk.zip", 0, false,
       [](const DirectoryRead& r) {
         // The junk after the comment means no end record: local headers are scanned.
         EXPECT_EQ(Names(r), (std::vector<std::string>{"test.txt", "gophercolor16x16.png"}));
         EXPECT_EQ(r.comment, "");
       }},
      {"libzip-manyfiles-zip.zip", 0, true, nullptr},
      {"yauzl-zero-length.zip", 35, false, nullptr},
      // No end record (its signature is byte-swapped): local headers give the entry.
      {"go-readme.notzip", 0, false, [](const DirectoryRead& r) { EXPECT_EQ(r.items.size(), 1u); }},
      {"libzip-incons-central-magic-bad.zip", 35, false, nullptr},
      // The stored offset lies far past the file; the directory is found from the end
      // record's position, and the local header position read is the stored 0.
      {"libzip-incons-cdoffset.zip", 0, false,
       [](const DirectoryRead& r) {
         ASSERT_EQ(r.items.size(), 1u);
         EXPECT_EQ(r.items[0].RealLocalHeaderOffset(), 0u);
       }},
      {"libzip-incons-local-magic-bad.zip", 0, true, nullptr},
      // Directory size and offset both far beyond the file (the stray locator before
      // the end record leads nowhere and the record needs no Zip64 value).
      {"zip2-invalid_cde_number_of_files_allocation_greater_offset.zip", 35, false, nullptr},
      // No end record; the one local header's data would lie far past the end.
      {"minizip-gh_739.zip", 35, false, nullptr},
      // Sizes of 2^64-1: read as they are; no position is computed from them here.
      {"libzip-incons-zip64-checkcons-overflow.zip", 0, true, nullptr},
      // The 16th entry is cut off by the end of the file and is not taken.
      {"commons-apache-maven-2.2.1.zip.001", 0, false,
       [](const DirectoryRead& r) { EXPECT_EQ(r.items.size(), 15u); }},
      {"libzip-testfile-truncated.zip", 0, false,
       [](const DirectoryRead& r) {
         ASSERT_EQ(Names(r), std::vector<std::string>{"testfile.txt"});
         EXPECT_EQ(r.items[0].ExternalAttributes, 0x10u);  // empty, no bit 3: a folder
       }},
      {"libzip-incons-eocd-magic-bad.zip", 0, false,
       [](const DirectoryRead& r) { EXPECT_EQ(Names(r), std::vector<std::string>{"a"}); }},
      // Parts of split sets, each opened on its own as one file: the first two have
      // no end record (their local headers are scanned, Zip64 sizes taken from the
      // local Zip64 extras; entries cut by the end of a part are not taken), the last
      // one's directory reads in full. Which
      // file is which volume is decided when an archive is opened, not here.
      {"commons-split_zip_created_by_zip.z01", 0, false,
       [](const DirectoryRead& r) { EXPECT_EQ(r.items.size(), 141u); }},
      {"commons-split_zip_created_by_zip.z02", 0, false,
       [](const DirectoryRead& r) { EXPECT_EQ(r.items.size(), 121u); }},
      {"commons-split_zip_created_by_zip.zip", 0, true, nullptr},
      {"commons-split_zip_created_by_zip_zip64.z01", 0, false,
       [](const DirectoryRead& r) { EXPECT_EQ(r.items.size(), 135u); }},
      {"commons-split_zip_created_by_zip_zip64.z02", 0, false,
       [](const DirectoryRead& r) { EXPECT_EQ(r.items.size(), 121u); }},
      {"commons-split_zip_created_by_zip_zip64.zip", 0, false,
       [](const DirectoryRead& r) {
         EXPECT_EQ(r.items.size(), 272u);  // Python refuses any multi-disk archive
         EXPECT_TRUE(r.hasZip64);
       }},
      {"libzip-multidisk.zip", 0, true, nullptr},
      {"libzip-encrypt.zip", 0, true,
       [](const DirectoryRead& r) { EXPECT_EQ(r.items[0].Flags & 1, 1); }},
      {"libzip-empty-pkware.zip", 0, true,
       [](const DirectoryRead& r) { EXPECT_EQ(r.items[0].RealCompressedSize(), 12u); }},
      {"libarchive-test_read_format_zip_traditional_encryption_data.zip", 0, true, nullptr},
      {"libzip-test-cp437.zip", 0, true, nullptr},
      {"libzip-test-utf8-unmarked.zip", 0, true, nullptr},
      {"libzip-gap.zip", 0, true, nullptr},
  };
  return cases;
}

class CorpusTest : public ::testing::TestWithParam<CorpusCase> {};

TEST_P(CorpusTest, ReadsAsExpected) {
  ZW_SKIP_WITHOUT_CORPUS();
  const CorpusCase& c = GetParam();
  std::string path = kCorpus + c.file;
  std::string bytes = ReadHostFile(path);
  DirectoryRead read = ReadDirectoryOf(bytes);
  if (c.refusedWith != 0) {
    EXPECT_FALSE(read.ok);
    if (c.refusedWith > 0) {
      EXPECT_EQ(read.native, c.refusedWith) << read.error;
    }
    return;
  }
  ASSERT_TRUE(read.ok) << read.error;
  if (c.matchesPython) ExpectSameAsPython(path, read);
  if (c.pinned) c.pinned(read);
}

std::string CaseName(const ::testing::TestParamInfo<CorpusCase>& info) {
  std::string name = info.param.file;
  for (char& ch : name)
    if (!isalnum(static_cast<unsigned char>(ch))) ch = '_';
  return name;
}

INSTANTIATE_TEST_SUITE_P(Shared, CorpusTest, ::testing::ValuesIn(Cases()), CaseName);

// Every file of the corpus has a case above, so a new specimen cannot be forgotten.
TEST(CorpusCoverage, EveryFileHasACase) {
  ZW_SKIP_WITHOUT_CORPUS();
  std::string listing;
  ASSERT_EQ(RunCommand("ls " + kCorpus, &listing), 0);
  std::istringstream lines(listing);
  std::string file;
  while (std::getline(lines, file)) {
    if (file == "MANIFEST.md" || file == "commons-zip64support.tar.bz2") continue;
    bool found = std::any_of(Cases().begin(), Cases().end(),
                             [&](const CorpusCase& c) { return file == c.file; });
    EXPECT_TRUE(found) << file;
  }
}

}  // namespace
}  // namespace zw::test

namespace zw::test {
namespace {

// One archive of the many-files container, cheap enough for every run: 65,536
// entries, so the 16-bit counts of its end record read 0; the entries are read until
// the directory's bytes end.
TEST(CorpusContainer, EntryCountThatWrappedToZero) {
  ZW_SKIP_WITHOUT_CORPUS();
  TempDir dir;
  std::string file = dir / "manyfiles-65536.zip";
  std::string output;
  ASSERT_EQ(
      RunCommand("unzip -p " + kCorpus + "libzip-manyfiles-zip.zip manyfiles-65536.zip > " + file,
                 &output),
      0)
      << output;
  DirectoryRead read = ReadDirectoryOf(ReadHostFile(file));
  ASSERT_TRUE(read.ok) << read.error;
  ASSERT_EQ(read.items.size(), 65536u);
  ExpectSameAsPython(file, read);
}

}  // namespace
}  // namespace zw::test

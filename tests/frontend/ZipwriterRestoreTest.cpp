// zipwriter test and extract end to end: archives written by zipwriter itself and by
// other tools (Info-ZIP zip, 7-Zip, Python's zipfile) and the shared corpus test clean
// and extract to the same bytes as Info-ZIP's unzip gives; damaged entries are named
// one by one; hostile names write nothing outside the target folder.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>

#include "TempDir.h"

namespace zw::test {
namespace {

struct ToolRun {
  int status = -1;
  std::string output;  // standard output and standard error
};

class ZipwriterRestoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string text;
    for (int i = 0; text.size() < 2'000'000; ++i) text += "record " + std::to_string(i) + ";";
    dir.Write("src/records.dat", text);
    dir.Write("src/random.bin", RandomBytes(300'000, 7));
    dir.Write("src/empty.txt", "");
    dir.Write("src/sub/deeper/note.txt", "a note\n");
    dir.Write("src/sub/fi_\xE2\x82\xAC.txt", "euro\n");
  }

  // Runs a shell command in the test folder; questions get no answer (cancel).
  ToolRun Shell(const std::string& command) {
    WriteHostFile(dir / "answers.txt", "");
    ToolRun run;
    run.status = RunCommand(
        "(cd " + ShellQuote(dir.path()) + " && ZW_UI=script:answers.txt " + command + " 2>&1)",
        &run.output);
    return run;
  }
  ToolRun Zw(const std::string& arguments) {
    return Shell(std::string(ZW_ZIPWRITER) + " " + arguments + " </dev/null");
  }
  // Whether `zipwriter extract` gives the tree `unzip` gives (or `expected`).
  void ExpectExtractsLikeUnzip(const std::string& archive, const std::string& password = "",
                               const std::string& expected = "") {
    std::string pw = password.empty() ? "" : " --password " + ShellQuote(password);
    ToolRun tested = Zw("test " + ShellQuote(archive) + pw);
    EXPECT_EQ(tested.status, 0) << archive << "\n" << tested.output;
    Shell("rm -rf ours theirs");
    ToolRun ours = Zw("extract " + ShellQuote(archive) + pw + " --to ours");
    EXPECT_EQ(ours.status, 0) << archive << "\n" << ours.output;
    std::string reference = expected;
    if (reference.empty()) {
      reference = "theirs";
      std::string upw = password.empty() ? "" : " -P " + ShellQuote(password);
      ToolRun unzip = Shell("unzip -qq -o" + upw + " " + ShellQuote(archive) + " -d theirs");
      ASSERT_LE(unzip.status, 1) << archive << "\n" << unzip.output;
    }
    ToolRun diff = Shell("diff -r " + reference + " ours");
    EXPECT_EQ(diff.status, 0) << archive << "\n" << diff.output;
  }
  bool HasTool(const std::string& name) {
    return RunCommand("command -v " + name + " >/dev/null 2>&1") == 0;
  }

  TempDir dir;
};

TEST_F(ZipwriterRestoreTest, OwnArchivesPlainZip64EncryptedAndSplit) {
  ASSERT_EQ(Zw("add plain.zip 'src/*'").status, 0);
  ExpectExtractsLikeUnzip("plain.zip");
  ASSERT_EQ(Zw("add z64.zip 'src/*' --zip64 always").status, 0);
  ExpectExtractsLikeUnzip("z64.zip");
  ASSERT_EQ(Zw("add enc.zip 'src/*' --password s3cret").status, 0);
  ExpectExtractsLikeUnzip("enc.zip", "s3cret");
  // Without the password every encrypted entry fails, and says why.
  ToolRun none = Zw("test enc.zip");
  EXPECT_EQ(none.status, 5);
  EXPECT_NE(none.output.find("src/records.dat: failed: it is encrypted"), std::string::npos)
      << none.output;
  ToolRun wrong = Zw("test enc.zip --password nope");
  EXPECT_EQ(wrong.status, 5);
  EXPECT_NE(wrong.output.find("wrong password"), std::string::npos) << wrong.output;
  // Split sets (unzip cannot read them): the sources are the reference.
  ASSERT_EQ(Zw("add split.zip 'src/*' --spanning split --volume-size 100000").status, 0);
  ASSERT_EQ(Zw("add old.zip 'src/*' --spanning split --volume-size 100000 --classic-naming "
               "--password pw")
                .status,
            0);
  ASSERT_TRUE(std::ifstream(dir / "split_003.zip").good());
  Shell("mkdir ref && cp -r src ref/");
  ExpectExtractsLikeUnzip("split.zip", "", "ref");
  ToolRun classic = Zw("extract old.zip --password pw --to classic");
  EXPECT_EQ(classic.status, 0) << classic.output;
  EXPECT_EQ(Shell("diff -r src classic/src").status, 0);
  // add --test checks the archive after the update.
  ToolRun added = Zw("add plain.zip 'src/sub/*' --test");
  EXPECT_EQ(added.status, 0) << added.output;
  EXPECT_NE(added.output.find("plain.zip: 7 entries tested, all OK"), std::string::npos)
      << added.output;
}

TEST_F(ZipwriterRestoreTest, ArchivesOfOtherTools) {
  ASSERT_EQ(Shell("zip -qr iz.zip src && zip -qr -P pw izenc.zip src").status, 0);
  ExpectExtractsLikeUnzip("iz.zip");
  ExpectExtractsLikeUnzip("izenc.zip", "pw");
  // Written to a pipe: data descriptors and Zip64 local extras.
  ASSERT_EQ(Shell("cat src/records.dat | zip -q -fz - - > izstream.zip").status, 0);
  ExpectExtractsLikeUnzip("izstream.zip");
  ASSERT_EQ(Shell("python3 -c \"import zipfile,os\n"
                  "with zipfile.ZipFile('py.zip','w',zipfile.ZIP_DEFLATED) as z:\n"
                  "  for r,d,f in os.walk('src'):\n"
                  "    for n in f: z.write(os.path.join(r,n))\n"
                  "  with z.open('big64.bin','w',force_zip64=True) as w: w.write(b'x'*100000)\n"
                  "  z.writestr(zipfile.ZipInfo('stored.txt'),'plain')\"")
                .status,
            0);
  ExpectExtractsLikeUnzip("py.zip");
  if (!HasTool("7zz")) GTEST_SKIP() << "7zz is not installed";
  ASSERT_EQ(Shell("7zz a -tzip -bd 7z.zip src >/dev/null").status, 0);
  ExpectExtractsLikeUnzip("7z.zip");
  // Another method is named as unsupported, not taken for damage.
  ASSERT_EQ(Shell("7zz a -tzip -mm=BZip2 -bd bz.zip src/records.dat >/dev/null").status, 0);
  ToolRun bz = Zw("test bz.zip");
  EXPECT_EQ(bz.status, 5);
  EXPECT_NE(bz.output.find("compression method bzip2 is not supported"), std::string::npos)
      << bz.output;
}

TEST_F(ZipwriterRestoreTest, DamagedEntriesAreNamedOneByOneAndLeaveNoFile) {
  dir.Write("d/a.txt", std::string(50000, 'a'));
  dir.Write("d/b.txt", RandomBytes(50000, 3));
  dir.Write("d/c.txt", std::string(50000, 'c'));
  ASSERT_EQ(Zw("add dmg.zip 'd/*' --level 0").status, 0);
  // One byte in the middle of b.txt's data.
  ASSERT_EQ(Shell("printf 'X' | dd of=dmg.zip bs=1 seek=75000 conv=notrunc 2>/dev/null").status, 0);
  ToolRun tested = Zw("test dmg.zip");
  EXPECT_EQ(tested.status, 5);
  EXPECT_NE(tested.output.find("d/b.txt: failed: CRC-32 is"), std::string::npos) << tested.output;
  EXPECT_EQ(tested.output.find("a.txt:"), std::string::npos) << tested.output;
  EXPECT_NE(tested.output.find("3 entries tested, 2 OK, 1 FAILED"), std::string::npos);
  // An existing b.txt survives the failed extraction; no temporary file stays.
  dir.Write("out/d/b.txt", "old");
  ToolRun out = Zw("extract dmg.zip --to out --overwrite always");
  EXPECT_EQ(out.status, 5) << out.output;
  EXPECT_EQ(dir.Read("out/d/b.txt"), "old");
  EXPECT_EQ(dir.Read("out/d/c.txt"), std::string(50000, 'c'));
  EXPECT_EQ(Shell("ls out/d | grep -c tmp").output, "0\n");
}

TEST_F(ZipwriterRestoreTest, HostileNamesWriteNothingOutsideTheTarget) {
  Shell("mkdir -p box/target outside && ln -s ../../outside box/target/link");
  dir.Write("evil.py",
            "import zipfile\n"
            "with zipfile.ZipFile('evil.zip', 'w') as z:\n"
            "  for n in ['../x1', '/abs/x2', 'C:\\\\x3', 'a\\\\..\\\\..\\\\x4', 'link/x5',\n"
            "            'ok/../../x6', 'good.txt']:\n"
            "    z.writestr(zipfile.ZipInfo(n), 'payload')\n");
  ASSERT_EQ(Shell("python3 evil.py").status, 0);
  ToolRun run = Zw("extract evil.zip --to box/target");
  EXPECT_EQ(run.status, 5) << run.output;
  for (const char* line : {"../x1: refused", "a\\\\..\\\\..\\\\x4: refused", "link/x5: refused",
                           "ok/../../x6: refused", "/abs/x2: renamed", "C:\\\\x3: renamed"})
    EXPECT_NE(run.output.find(line), std::string::npos) << line << "\n" << run.output;
  // Only good.txt and the made-safe names arrived, all inside the target.
  EXPECT_EQ(Shell("find box outside -type f | sort").output,
            "box/target/abs/x2\nbox/target/good.txt\nbox/target/x3\n");
}

TEST_F(ZipwriterRestoreTest, OverwriteModesTimesAndReadOnly) {
  dir.Write("r/keep.txt", "new");
  ASSERT_EQ(Shell("touch -d '2020-02-03 04:05:06' r/keep.txt && chmod a-w r/keep.txt").status, 0);
  ASSERT_EQ(Zw("add ro.zip 'r/*'").status, 0);
  ASSERT_EQ(Zw("extract ro.zip --to o1").status, 0);
  struct stat st {};
  ASSERT_EQ(::stat((dir / "o1/r/keep.txt").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0222, 0u);  // the read-only attribute came back
  EXPECT_EQ(Shell("date -r o1/r/keep.txt '+%F %T'").output, "2020-02-03 04:05:06\n");
  dir.Write("o2/r/keep.txt", "old");
  EXPECT_EQ(Zw("extract ro.zip --to o2 --overwrite never").status, 0);
  EXPECT_EQ(dir.Read("o2/r/keep.txt"), "old");
  // The file is newer than the entry: if-newer keeps it, if-older replaces it.
  EXPECT_EQ(Zw("extract ro.zip --to o2 --overwrite if-newer").status, 0);
  EXPECT_EQ(dir.Read("o2/r/keep.txt"), "old");
  EXPECT_EQ(Zw("extract ro.zip --to o2 --overwrite if-older").status, 0);
  EXPECT_EQ(dir.Read("o2/r/keep.txt"), "new");
  // prompt without an answer keeps the file.
  dir.Write("o3/r/keep.txt", "old");
  ToolRun asked = Zw("extract ro.zip --to o3");
  EXPECT_EQ(asked.status, 0) << asked.output;
  EXPECT_NE(asked.output.find("r/keep.txt: kept"), std::string::npos) << asked.output;
  EXPECT_EQ(dir.Read("o3/r/keep.txt"), "old");
}

// Archives of the shared corpus that unzip extracts extract to the same bytes (names
// included: those of Unix hosts are taken as stored, as unzip does).
TEST_F(ZipwriterRestoreTest, SharedCorpusLikeUnzip) {
  std::string corpus = std::string(ZW_SHARED_DIR) + "/corpus/zip/";
  const std::vector<std::pair<std::string, std::string>> archives = {
      {"go-test.zip", ""},
      {"go-zip64-2.zip", ""},
      {"go-go-with-datadesc-sig.zip", ""},
      {"go-go-no-datadesc-sig.zip", ""},
      {"go-test-prefix.zip", ""},
      {"go-test-trailing-junk.zip", ""},
      {"libzip-streamed.zip", ""},
      {"libzip-streamed-zip64.zip", ""},
      {"libzip-zip64.zip", ""},
      {"libzip-zip64-3mf.zip", ""},
      {"libzip-manyfiles-zip.zip", ""},
      {"libzip-testfile-plus-extra.zip", ""},
      {"libzip-test-utf8-unmarked.zip", ""},
      {"libzip-encrypt.zip", "foo"},
      {"libzip-empty-pkware.zip", "1"},
      {"libarchive-test_read_format_zip_traditional_encryption_data.zip", "12345678"},
      {"libarchive-test_compat_zip_4.zip", ""},
      {"libarchive-test_read_format_zip_jar.jar", ""},
      {"libarchive-test_read_format_zip_sfx", ""},
      {"python-exe_with_z64", ""},
      {"zip2-zip64_demo.zip", ""},
      {"minizip-large_cd_comment.zip", ""},
  };
  for (const auto& [name, password] : archives) ExpectExtractsLikeUnzip(corpus + name, password);
  // Split sets of Info-ZIP, against 7-Zip.
  for (const char* name :
       {"commons-split_zip_created_by_zip.zip", "commons-split_zip_created_by_zip_zip64.zip"}) {
    if (!HasTool("7zz")) break;
    Shell("rm -rf ref7z && 7zz x -y -oref7z " + ShellQuote(corpus + name) + " >/dev/null");
    ExpectExtractsLikeUnzip(corpus + name, "", "ref7z");
  }
  // Entries whose data is damaged are named; the others still come out.
  ToolRun gap = Zw("test " + ShellQuote(corpus + "libzip-gap.zip"));
  EXPECT_EQ(gap.status, 5);
  EXPECT_NE(gap.output.find("gap: failed: CRC-32"), std::string::npos) << gap.output;
  ToolRun overflow =
      Zw("test " + ShellQuote(corpus + "libzip-incons-zip64-checkcons-overflow.zip"));
  EXPECT_EQ(overflow.status, 5) << overflow.output;
}

}  // namespace
}  // namespace zw::test

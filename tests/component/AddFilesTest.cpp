// Adding files: search by mask and attributes, exclusions, stored names, overwrite
// modes, no-compression masks, the events of queueing, and the current directory.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <thread>

#include "ComponentSupport.h"
#include "DirManager.h"
#include "LinuxFileSystem.h"
#include "ZWStrFunc.h"

namespace zw::test {
namespace {

class AddFiles : public MemArchiveTest {
 protected:
  AddFiles() {
    PutFile(mem, "C:\\church\\data\\fi0001.dat", "fi one");
    PutFile(mem, "C:\\church\\data\\fi0002.dat", "fi two");
    PutFile(mem, "C:\\church\\data\\pe0001.dat", "pe one");
    PutFile(mem, "C:\\church\\data\\Picture\\h1.jpg", RandomBytes(4000, 1));
    PutFile(mem, "C:\\church\\data\\Picture\\h2.jpg", RandomBytes(4000, 2));
    PutFile(mem, "C:\\church\\data\\Picture\\x1.txt", "x");
    PutFile(mem, "C:\\church\\vess_rpt.dic", "dictionary");
    MakeDirs(mem, "C:\\out");
    mem.SetCurrentDir("C:\\church\\data");
  }
  const TZWDirArray& Working() { return zip->DirManager()->WorkingDirectory; }
  std::vector<std::string> WorkingNames() {
    std::vector<std::string> out;
    for (int32_t i = 0; i < Working().Count(); ++i) out.push_back(Working().ItemPtr(i).FileName);
    return out;
  }
  using Names_ = std::vector<std::string>;
};

TEST_F(AddFiles, FrontEndAttributesTakeFilesOfOneFolder) {
  mem.SetHidden("C:\\church\\data\\pe0001.dat", true);
  mem.SetReadOnly("C:\\church\\data\\fi0002.dat", true);
  Open("C:\\out\\a.zip");
  Add("*.*", 0x2F);
  EXPECT_EQ(WorkingNames(), (Names_{"fi0001.dat", "fi0002.dat", "pe0001.dat"}));
  // Without the hidden bit the hidden file is left out.
  zip->CloseArchiveFile();
  mem.DeleteFile("C:\\out\\a.zip");
  Open("C:\\out\\a.zip");
  Add("*.*", 0x21);
  EXPECT_EQ(WorkingNames(), (Names_{"fi0001.dat", "fi0002.dat"}));
}

TEST_F(AddFiles, DirectoryBitTakesFoldersAndWhatIsInThem) {
  zip->Options().StorePath = spRelativePath;
  Open("C:\\out\\a.zip");
  Add("*.*", 0x3F);
  EXPECT_EQ(WorkingNames(), (Names_{"fi0001.dat", "fi0002.dat", "pe0001.dat", "Picture/",
                                    "Picture/h1.jpg", "Picture/h2.jpg", "Picture/x1.txt"}));
  zip->CloseArchiveFile();
  for (const ReadEntry& e : ReadArchive(Bytes("C:\\out\\a.zip"))) {
    if (e.name != "Picture/") continue;
    EXPECT_EQ(e.attributes & 0x10, 0x10u);
    EXPECT_EQ(e.method, 0);
    EXPECT_EQ(e.crc, 0u);
    EXPECT_EQ(e.flags, 2);
    EXPECT_EQ(e.localFlags, 2);  // both headers agree
    EXPECT_EQ(e.compressedSize, 0u);
  }
}

TEST_F(AddFiles, RecurseSearchesSubfolders) {
  zip->Options().Recurse = true;
  zip->Options().StorePath = spRelativePath;
  Open("C:\\out\\a.zip");
  Add("*.jpg", 0x2F);
  EXPECT_EQ(WorkingNames(), (Names_{"Picture/h1.jpg", "Picture/h2.jpg"}));
}

TEST_F(AddFiles, StoredNamesOfTheFrontEndMasks) {
  struct Case {
    const char* mask;
    TZWStorePathMode mode;
    Names_ names;
  };
  const Case cases[] = {
      {"fi*.dat", spNoPath, {"fi0001.dat", "fi0002.dat"}},
      {"Picture\\h*.*", spNoPath, {"h1.jpg", "h2.jpg"}},
      {"Picture\\h*.*", spRelativePath, {"Picture/h1.jpg", "Picture/h2.jpg"}},
      {"..\\vess_rpt.dic", spNoPath, {"vess_rpt.dic"}},
      {"..\\vess_rpt.dic", spRelativePath, {"church/vess_rpt.dic"}},
      {"C:\\church\\data\\..\\vess_rpt.dic", spNoPath, {"vess_rpt.dic"}},
      {"C:\\church\\data\\fi0001.dat", spFullPath, {"church/data/fi0001.dat"}},
      {"C:\\church\\data\\fi0001.dat", spFullPathWithDrive, {"C:/church/data/fi0001.dat"}},
      {"C:\\church\\data\\Picture\\*.jpg", spRelativePath, {"Picture/h1.jpg", "Picture/h2.jpg"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.mask);
    zip->Options().StorePath = c.mode;
    Open("C:\\out\\a.zip");
    Add(c.mask);
    EXPECT_EQ(WorkingNames(), c.names);
    zip->CloseArchiveFile();
    mem.DeleteFile("C:\\out\\a.zip");
  }
}

TEST_F(AddFiles, SingleFileMaskKeepsItsDiskForm) {
  Open("C:\\out\\a.zip");
  zip->BeginUpdate();
  Add("C:\\church\\data\\..\\vess_rpt.dic");
  ASSERT_EQ(Working().Count(), 1);
  EXPECT_EQ(Working().ItemPtr(0).SourceFileName, "C:\\church\\data\\..\\vess_rpt.dic");
  zip->EndUpdate();
  zip->CloseArchiveFile();
  EXPECT_EQ(Contents("C:\\out\\a.zip")["vess_rpt.dic"], "dictionary");
}

// A mask that begins with one separator is rooted: it is not joined to BaseDir.
TEST_F(AddFiles, RootedMaskIsNotJoinedToBaseDir) {
  zip->SetBaseDir("C:\\church\\data");
  Open("C:\\out\\a.zip");
  PutFile(mem, "\\rooted\\r.txt", "rooted");
  Add("\\rooted\\*.txt");
  EXPECT_EQ(WorkingNames(), Names_{"r.txt"});
  EXPECT_EQ(ExpandMask(mem, "\\rooted\\*.txt", "C:\\church\\data").pattern, "\\rooted\\*.txt");
  EXPECT_EQ(ExpandMask(mem, "\\", "C:\\church\\data").pattern, "C:\\church\\data");
  EXPECT_EQ(ExpandMask(mem, "\\\\srv\\share\\*.*", "C:\\x").pattern, "\\\\srv\\share\\*.*");
  EXPECT_TRUE(ExpandMask(mem, "a*.txt", "C:\\church").relative);
  EXPECT_EQ(ExpandMask(mem, "a*.txt", "C:\\church").pattern, "C:\\church\\a*.txt");
  EXPECT_TRUE(ExpandMask(mem, "", "C:\\church").pattern.empty());
}

TEST(StoredNames, Modes) {
  MemFileSystem mem;
  mem.CreateDirectory("C:\\");
  mem.CreateDirectory("C:\\data");
  mem.SetCurrentDir("C:\\data");
  struct Case {
    const char* path;
    const char* base;
    TZWStorePathMode mode;
    const char* stored;
  };
  const Case cases[] = {
      {"C:\\data\\a.dat", "", spNoPath, "a.dat"},
      {"C:\\data\\a.dat", "", spFullPath, "data/a.dat"},
      {"C:\\data\\a.dat", "", spFullPathWithDrive, "C:/data/a.dat"},
      {"C:\\data\\sub\\a.dat", "C:\\data", spRelativePath, "sub/a.dat"},
      {"C:\\other\\a.dat", "C:\\data", spRelativePath, "other/a.dat"},
      {"\\\\srv\\share\\dir\\a.dat", "", spFullPath, "share/dir/a.dat"},
      {"\\\\srv\\share\\dir\\a.dat", "", spNoPath, "a.dat"},
      {"C:\\data\\sub\\", "", spRelativePath, "sub"},
      {"C:\\data\\sub\\.", "", spRelativePath, "sub"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(MakeStoredName(mem, c.path, c.base, c.mode), c.stored) << c.path << " " << c.mode;
}

TEST_F(AddFiles, ArchiveNeverAddsItself) {
  Open("C:\\church\\data\\self.zip");
  Add("*.*");
  Names_ names = WorkingNames();
  EXPECT_EQ(std::count(names.begin(), names.end(), "self.zip"), 0);
  EXPECT_EQ(names.size(), 3u);
}

TEST_F(AddFiles, ExclusionMasks) {
  zip->Options().Recurse = true;
  zip->Options().StorePath = spRelativePath;
  Open("C:\\out\\a.zip");
  zip->BeginUpdate();
  Add("*.*", 0x2F, "fi*.dat");
  EXPECT_EQ(WorkingNames(),
            (Names_{"pe0001.dat", "Picture/h1.jpg", "Picture/h2.jpg", "Picture/x1.txt"}));
  zip->ResetUpdateCounter();
  zip->BeginUpdate();
  Add("*.*", 0x2F, "C:\\church\\data\\Picture\\*.*");  // a whole folder
  EXPECT_EQ(WorkingNames(), (Names_{"fi0001.dat", "fi0002.dat", "pe0001.dat"}));
  zip->ResetUpdateCounter();
  zip->BeginUpdate();
  Add("*.*", 0x3F, "Pict*");  // the folder itself, as a directory, and all below it
  EXPECT_EQ(WorkingNames(), (Names_{"fi0001.dat", "fi0002.dat", "pe0001.dat"}));
  zip->ResetUpdateCounter();
}

TEST_F(AddFiles, PathMatchesMaskRules) {
  struct Case {
    const char* path;
    const char* mask;
    bool isDirectory;
    bool matches;
  };
  const Case cases[] = {
      {"C:\\church\\data\\a.jpg", "*.*", false, true},
      {"C:\\church\\data\\a.jpg", "", false, false},
      {"C:\\church\\data\\a.jpg", "*.JPG", false, true},
      {"C:\\church\\data\\Picture\\a.jpg", "*.jpg", false, true},
      {"C:\\church\\data\\Picture\\a.jpg", "Picture\\*.jpg", false, true},
      // A relative mask is matched by its file-name part only.
      {"C:\\church\\data\\a.jpg", "Picture\\*.jpg", false, true},
      {"C:\\church\\data\\a.txt", "Picture\\*.jpg", false, false},
      {"C:\\church\\data\\Picture\\deep\\a.txt", "C:\\church\\data\\Picture\\*.*", false, true},
      {"C:\\church\\data\\Picture\\a.txt", "C:\\CHURCH\\data\\Picture\\a.*", false, true},
      {"C:\\church\\other\\a.txt", "C:\\church\\data\\*.*", false, false},
      {"C:\\church\\data\\Picture", "Pict*", true, true},
  };
  for (const Case& c : cases)
    EXPECT_EQ(PathMatchesMask(mem, c.path, c.mask, c.isDirectory), c.matches)
        << c.path << " ~ " << c.mask;
}

TEST_F(AddFiles, OverwriteModes) {
  Open("C:\\out\\a.zip");
  Add("fi*.dat");
  mem.SetFileDate("C:\\church\\data\\fi0001.dat", 0x58210000);  // 2024-01-01
  PutFile(mem, "C:\\church\\data\\upper\\FI0001.DAT", "replacement");
  mem.SetFileDate("C:\\church\\data\\upper\\FI0001.DAT", 0x58220000);
  struct Case {
    TZWOverwriteMode mode;
    int32_t entryTime;
    bool replaced;
  };
  const Case cases[] = {{omAlways, 0x58210000, true},   {omNever, 0x58210000, false},
                        {omIfNewer, 0x58210000, true},  {omIfNewer, 0x58220000, false},
                        {omIfNewer, 0x58230000, false}, {omIfOlder, 0x58230000, true},
                        {omIfOlder, 0x58220000, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.mode << " " << std::hex << c.entryTime);
    zip->Options().OverwriteMode = c.mode;
    zip->BeginUpdate();
    TDirItem& stored = const_cast<TZWDirArray&>(Working()).ItemPtr(0);
    stored.LastModDate = static_cast<uint16_t>(c.entryTime >> 16);
    stored.LastModTime = static_cast<uint16_t>(c.entryTime & 0xFFFF);
    Add("upper\\FI0001.DAT");
    EXPECT_EQ(Working().Count(), 2);  // never a second entry of the name
    EXPECT_EQ(Working().ItemPtr(0).Modified, c.replaced);
    if (c.replaced) {
      EXPECT_EQ(Working().ItemPtr(0).FileName, "FI0001.DAT");  // in place, position kept
      EXPECT_EQ(Working().ItemPtr(0).Operation, poUpdate);
    }
    zip->ResetUpdateCounter();
  }
}

TEST_F(AddFiles, ReplacedEntryKeepsItsPositionInTheArchive) {
  Open("C:\\out\\a.zip");
  Add("*.dat");
  PutFile(mem, "C:\\church\\data\\upper\\FI0001.DAT", "replacement");
  Add("upper\\FI0001.DAT");
  zip->CloseArchiveFile();
  auto entries = ReadArchive(Bytes("C:\\out\\a.zip"));
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_EQ(entries[0].name, "FI0001.DAT");
  EXPECT_EQ(entries[0].data, "replacement");
  EXPECT_EQ(entries[1].data, "fi two");
}

TEST_F(AddFiles, PromptedOverwriteUsesTheEvent) {
  Open("C:\\out\\a.zip");
  Add("fi*.dat");
  PutFile(mem, "C:\\church\\data\\upper\\fi0001.dat", "new 1");
  PutFile(mem, "C:\\church\\data\\upper\\fi0002.dat", "new 2");
  zip->Options().OverwriteMode = omPrompt;
  std::vector<std::string> asked;
  zip->OnConfirmOverwrite = [&](TZWBaseArchiver*, const std::string& source, std::string& dest,
                                bool& confirm) {
    asked.push_back(source + " -> " + dest);
    confirm = dest == "fi0002.dat";
  };
  Add("upper\\*.dat");
  EXPECT_EQ(asked, (Names_{"C:\\church\\data\\upper\\fi0001.dat -> fi0001.dat",
                           "C:\\church\\data\\upper\\fi0002.dat -> fi0002.dat"}));
  zip->CloseArchiveFile();
  auto contents = Contents("C:\\out\\a.zip");
  EXPECT_EQ(contents["fi0001.dat"], "fi one");
  EXPECT_EQ(contents["fi0002.dat"], "new 2");
}

TEST_F(AddFiles, PromptNoToAllStopsAsking) {
  ScriptedUi answers({"NoToAll"});
  zip->SetUserInterface(&answers.ui());
  Open("C:\\out\\a.zip");
  Add("fi*.dat");
  PutFile(mem, "C:\\church\\data\\upper\\fi0001.dat", "new 1");
  PutFile(mem, "C:\\church\\data\\upper\\fi0002.dat", "new 2");
  zip->Options().OverwriteMode = omPrompt;
  Add("upper\\*.dat");
  EXPECT_EQ(zip->Options().OverwriteMode, omNever);
  std::string transcript = answers.transcript();
  EXPECT_EQ(std::count(transcript.begin(), transcript.end(), '\n'), 1) << transcript;
  zip->CloseArchiveFile();
  EXPECT_EQ(Contents("C:\\out\\a.zip")["fi0002.dat"], "fi two");
}

TEST_F(AddFiles, NoCompressionMasks) {
  zip->SetNoCompressionMasks({"*.jpg"});
  zip->Options().Recurse = true;
  Open("C:\\out\\a.zip");
  Add("*.*");
  zip->CloseArchiveFile();
  for (const ReadEntry& e : ReadArchive(Bytes("C:\\out\\a.zip")))
    EXPECT_EQ(e.method, e.name.find(".jpg") != std::string::npos ? 0 : 8) << e.name;
}

TEST_F(AddFiles, StoreFileEventRenamesAndComments) {
  Open("C:\\out\\a.zip");
  std::vector<std::string> seen;
  zip->Options().StorePath = spRelativePath;
  zip->OnStoreFile = [&](TZWBaseArchiver*, std::string& name, uint32_t& attr,
                         std::string& comment) {
    seen.push_back(name);
    name = "renamed\\" + name;
    attr |= 0x01;
    comment = "c";
  };
  Add("Picture\\h1.jpg");
  EXPECT_EQ(seen, Names_{"Picture\\h1.jpg"});
  ASSERT_EQ(Working().Count(), 1);
  EXPECT_EQ(Working().ItemPtr(0).FileName, "renamed/Picture/h1.jpg");
  EXPECT_EQ(Working().ItemPtr(0).ExternalAttributes, 0x21u);
  EXPECT_EQ(Working().ItemPtr(0).FileComment, "c");
  zip->CloseArchiveFile();
  std::vector<ReadEntry> entries = ReadArchive(Bytes("C:\\out\\a.zip"));
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].comment, "c");
}

TEST_F(AddFiles, ConfirmProcessFileSkips) {
  Open("C:\\out\\a.zip");
  std::vector<std::string> seen;
  zip->OnConfirmProcessFile = [&](TZWBaseArchiver*, const std::string& name, TZWProcessOperation op,
                                  bool& confirm) {
    EXPECT_EQ(op, poAdd);
    seen.push_back(name);
    confirm = name.find("0002") == std::string::npos;
  };
  Add("fi*.dat");
  EXPECT_EQ(seen, (Names_{"C:\\church\\data\\fi0001.dat", "C:\\church\\data\\fi0002.dat"}));
  EXPECT_EQ(WorkingNames(), Names_{"fi0001.dat"});
}

TEST_F(AddFiles, CurrentDirectoryIsPutBackAlsoOnFailure) {
  zip->SetBaseDir("C:\\church\\data\\Picture");
  Open("C:\\out\\a.zip");
  Add("h*.jpg");
  EXPECT_EQ(mem.GetCurrentDir(), "C:\\church\\data");
  EXPECT_EQ(WorkingNames(), (Names_{"h1.jpg", "h2.jpg"}));
  zip->OnStoreFile = [](TZWBaseArchiver*, std::string&, uint32_t&, std::string&) {
    throw std::runtime_error("handler failed");
  };
  EXPECT_THROW(Add("x*.txt"), std::runtime_error);
  EXPECT_EQ(mem.GetCurrentDir(), "C:\\church\\data");
  EXPECT_EQ(zip->UpdateLevel(), 0);
  // The failed batch queued nothing that a later batch could take for stored.
  zip->OnStoreFile = nullptr;
  Add("x*.txt");
  zip->CloseArchiveFile();
  EXPECT_EQ(Names("C:\\out\\a.zip"), (Names_{"h1.jpg", "h2.jpg", "x1.txt"}));
}

TEST_F(AddFiles, MaskMatchingNothingStillRewritesDirectory) {
  Open("C:\\out\\a.zip");
  Add("fi*.dat");
  std::string before = Bytes("C:\\out\\a.zip");
  Add("nothing*.xyz");
  EXPECT_EQ(Bytes("C:\\out\\a.zip"), before);
  EXPECT_EQ(WorkingNames(), (Names_{"fi0001.dat", "fi0002.dat"}));
}

// Two archivers searching at once on one file system: the search lock keeps each
// one's current directory its own.
TEST_F(AddFiles, ConcurrentSearchesDoNotDisturbEachOther) {
  for (int round = 0; round < 5; ++round) {
    TZipWriter a, b;
    for (TZipWriter* z : {&a, &b}) {
      z->SetFileSystem(&mem);
      z->Options().Recurse = false;
      z->Options().StorePath = spNoPath;
    }
    a.SetBaseDir("C:\\church\\data");
    b.SetBaseDir("C:\\church\\data\\Picture");
    a.SetFileName("C:\\out\\ta.zip");
    b.SetFileName("C:\\out\\tb.zip");
    a.OpenArchiveFile();
    b.OpenArchiveFile();
    std::thread ta([&] { a.AddFilesByMask("*.*", 0x2F, ""); });
    std::thread tb([&] { b.AddFilesByMask("*.*", 0x2F, ""); });
    ta.join();
    tb.join();
    EXPECT_EQ(a.DirManager()->WorkingDirectory.Count(), 3);
    EXPECT_EQ(b.DirManager()->WorkingDirectory.Count(), 3);
    a.CloseArchiveFile();
    b.CloseArchiveFile();
    mem.DeleteFile("C:\\out\\ta.zip");
    mem.DeleteFile("C:\\out\\tb.zip");
  }
  EXPECT_EQ(mem.GetCurrentDir(), "C:\\church\\data");
}

// On the real file system a fifo has no DOS bit: the front end's attributes leave it.
TEST(AddFilesOnDisk, ObjectWithoutDosBitsIsNotTaken) {
  TempDir dir;
  LinuxFileSystem fs;
  WriteHostFile(dir / "a.txt", "a");
  ASSERT_EQ(mkfifo((dir / "pipe").c_str(), 0644), 0);
  TZipWriter zip;
  zip.SetFileSystem(&fs);
  zip.Options().StorePath = spNoPath;
  zip.Options().Recurse = false;
  zip.SetFileName(dir / "out.zip");
  zip.OpenArchiveFile();
  zip.AddFilesByMask(dir / "*", 0x2F, "");
  zip.CloseArchiveFile();
  EXPECT_EQ(PythonDigests(dir / "out.zip").size(), 1u);
  EXPECT_EQ(UnzipTest(dir / "out.zip"), "");
}

}  // namespace
}  // namespace zw::test

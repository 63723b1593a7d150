// The component's outside: defaults, property writes, stored-name property setting,
// and the events' presets and default prompts.
#include <gtest/gtest.h>

#include "ComponentSupport.h"
#include "Exceptions.h"
#include "ZWExcept.h"
#include "ZipWriter.h"

namespace zw::test {
namespace {

static_assert(clNone == 0 && clFastest == 1 && clNormal == 2 && clMax == 3);
static_assert(poAdd == 0 && poMove == 1 && poDelete == 2 && poUpdate == 3 && poExtract == 4 &&
              poTest == 5 && poRename == 6 && poChangeAttr == 7 && poChangeComment == 8 &&
              poMakeSFX == 9);
static_assert(ppStart == 0 && ppProcess == 1 && ppEnd == 2);
static_assert(fxaRetry == 0 && fxaIgnore == 1 && fxaAbort == 2);
static_assert(spNoPath == 0 && spRelativePath == 1 && spFullPath == 2 && spFullPathWithDrive == 3);
static_assert(smShareCompat == 0 && smShareExclusive == 1 && smShareDenyWrite == 2 &&
              smShareDenyRead == 3 && smShareDenyNone == 4);
static_assert(omPrompt == 0 && omAlways == 1 && omNever == 2 && omIfNewer == 3 && omIfOlder == 4);
static_assert(smNone == 0 && smSpanning == 1 && smSplitting == 2);
static_assert(vsAutoDetect == 0 && vsCustom == 1 && vs1_44MB == 2 && vs700MB == 8);
static_assert(zmDisabled == 0 && zmAuto == 1 && zmAlways == 2);

// Exposes the firing operations and the method code to the tests.
class ProbeWriter : public TZipWriter {
 public:
  using TZipWriter::TZipWriter;
  using TZWBaseArchiver::FireConfirmOverwrite;
  using TZWBaseArchiver::FireConfirmProcessFile;
  using TZWBaseArchiver::FireExtractFile;
  using TZWBaseArchiver::FireFileProgress;
  using TZWBaseArchiver::FireOverallProgress;
  using TZWBaseArchiver::FirePassword;
  using TZWBaseArchiver::FireProcessFileFailure;
  using TZWBaseArchiver::FireStoreFile;
  uint16_t Method() const { return compressionMethod_; }
};

class BaseProbe : public TZWBaseArchiver {
 public:
  uint16_t Method() const { return compressionMethod_; }
  TZip64Mode Zip64() const { return zip64Mode_; }
};

TEST(Surface, DefaultsAfterConstruction) {
  ProbeWriter zip;
  EXPECT_EQ(zip.CompressionLevel(), clFastest);
  EXPECT_EQ(zip.CompressionMode(), 1);
  EXPECT_EQ(zip.Method(), 8);
  EXPECT_EQ(zip.Zip64Mode(), zmDisabled);
  EXPECT_EQ(zip.CurrentVersion(), "2.60 ");
  EXPECT_FALSE(zip.ExtractCorruptedFiles());
  EXPECT_EQ(zip.SpanningMode(), smNone);
  EXPECT_FALSE(zip.InMemory());
  EXPECT_FALSE(zip.IsOpen());
  EXPECT_TRUE(zip.FileName().empty() && zip.Password().empty() && zip.BaseDir().empty() &&
              zip.TempDir().empty() && zip.SFXStub().empty());
  EXPECT_TRUE(zip.FileMasks().empty() && zip.ExclusionMasks().empty() &&
              zip.NoCompressionMasks().empty());
  const TZWOptions& o = zip.Options();
  EXPECT_TRUE(o.Recurse);
  EXPECT_EQ(o.StorePath, spRelativePath);
  EXPECT_EQ(o.ShareMode, smShareDenyNone);
  EXPECT_EQ(o.OverwriteMode, omAlways);
  EXPECT_TRUE(o.CreateDirs && o.ReplaceReadOnly && o.SetAttributes && o.FlushBuffers &&
              o.OEMFileNames);
  EXPECT_EQ(o.SearchAttr, 10431);
  EXPECT_TRUE(zip.SpanningOptions().AdvancedNaming);
  EXPECT_EQ(zip.SpanningOptions().VolumeSize, vsAutoDetect);

  BaseProbe base;  // the base class leaves the method unset and allows Zip64
  EXPECT_EQ(base.Method(), 0xFFFF);
  EXPECT_EQ(base.Zip64(), zmAuto);
}

TEST(Surface, CompressionLevelAndModeFollowEachOther) {
  struct Case {
    int mode;
    TZWCompressionLevel level;
    uint16_t method;
  };
  for (Case c :
       {Case{0, clNone, 0}, Case{1, clFastest, 8}, Case{3, clFastest, 8}, Case{4, clNormal, 8},
        Case{6, clNormal, 8}, Case{7, clMax, 8}, Case{9, clMax, 8}}) {
    ProbeWriter zip;
    zip.SetCompressionMode(c.mode);
    EXPECT_EQ(zip.CompressionLevel(), c.level) << c.mode;
    EXPECT_EQ(zip.Method(), c.method) << c.mode;
  }
  ProbeWriter zip;
  zip.SetCompressionLevel(clMax);
  EXPECT_EQ(zip.CompressionMode(), 9);
  zip.SetCompressionLevel(clNormal);
  EXPECT_EQ(zip.CompressionMode(), 6);
  zip.SetCompressionLevel(clNone);
  EXPECT_EQ(zip.CompressionMode(), 0);
  EXPECT_EQ(zip.Method(), 0);
  zip.SetCompressionMode(3);
  try {
    zip.SetCompressionMode(10);
    FAIL() << "mode 10 accepted";
  } catch (const EZWException& e) {
    EXPECT_EQ(e.NativeError(), 5);
    EXPECT_EQ(e.ErrorCode(), 2);
  }
  EXPECT_EQ(zip.CompressionMode(), 3);
  EXPECT_EQ(zip.CompressionLevel(), clFastest);
  EXPECT_EQ(zip.Method(), 8);
}

TEST(Surface, CurrentVersionIgnoresWrites) {
  TZipWriter zip;
  zip.SetCurrentVersion("9.99");
  EXPECT_EQ(zip.CurrentVersion(), "2.60 ");
  zip.SetPublishedProperty("CurrentVersion", "1.00 ");
  EXPECT_EQ(zip.CurrentVersion(), "2.60 ");
}

TEST(Surface, SpanningModeRefusedWhileOpen) {
  MemFileSystem mem;
  TZipWriter zip;
  zip.SetFileSystem(&mem);
  zip.SetInMemory(true);
  zip.OpenArchiveFile();
  try {
    zip.SetSpanningMode(smSplitting);
    FAIL();
  } catch (const EZWException&) {
    FAIL() << "a general error is expected, not EZWException";
  } catch (const Exception& e) {
    EXPECT_STREQ(e.what(), "Cannot set spanning mode on open archive");
  }
  EXPECT_EQ(zip.SpanningMode(), smNone);
  zip.CloseArchiveFile();
  zip.SetSpanningMode(smSplitting);
  EXPECT_EQ(zip.SpanningMode(), smSplitting);
}

TEST(Surface, OwnerNameTag) {
  TComponent form;
  auto* zip = form.CreateOwned<TZipWriter>();
  zip->SetPublishedProperty("Name", "ZipWriter1");
  zip->SetPublishedProperty("Tag", "7");
  EXPECT_EQ(zip->Owner(), &form);
  EXPECT_EQ(zip->Name(), "ZipWriter1");
  EXPECT_EQ(zip->Tag(), 7);
  try {
    zip->CheckArchiveOpen();
    FAIL();
  } catch (const EZWException& e) {
    EXPECT_STREQ(e.what(), "ZipWriter1: Archive is not open - Native error: 00013");
  }
}

// The front end's stored layout, loaded in its order.
TEST(Surface, StoredLayoutLoadsInOrder) {
  TZipWriter zip;
  const std::vector<std::pair<std::string, std::string>> layout = {
      {"Name", "ZipWriter1"},
      {"ExtractCorruptedFiles", "false"},
      {"CompressionLevel", "clFastest"},
      {"CompressionMode", "1"},
      {"CurrentVersion", "2.60 "},
      {"SpanningMode", "smNone"},
      {"SpanningOptions.AdvancedNaming", "true"},
      {"SpanningOptions.VolumeSize", "vsAutoDetect"},
      {"Options.Recurse", "false"},
      {"Options.StorePath", "spNoPath"},
      {"Options.ShareMode", "smShareCompat"},
      {"Options.FlushBuffers", "true"},
      {"Options.OEMFileNames", "true"},
      {"InMemory", "false"},
      {"Zip64Mode", "zmDisabled"},
  };
  for (const auto& [name, value] : layout) zip.SetPublishedProperty(name, value);
  EXPECT_FALSE(zip.Options().Recurse);
  EXPECT_EQ(zip.Options().StorePath, spNoPath);
  EXPECT_EQ(zip.Options().ShareMode, smShareCompat);
  EXPECT_EQ(zip.Options().OverwriteMode, omAlways);
  EXPECT_EQ(zip.Zip64Mode(), zmDisabled);
  EXPECT_EQ(zip.CompressionMode(), 1);
}

TEST(Surface, PublishedPropertiesByName) {
  TZipWriter zip;
  zip.SetPublishedProperty("CompressionLevel", "clMax");
  EXPECT_EQ(zip.CompressionMode(), 9);
  zip.SetPublishedProperty("CompressionLevel", "2");  // ordinal form
  EXPECT_EQ(zip.CompressionLevel(), clNormal);
  zip.SetPublishedProperty("Options.OverwriteMode", "omIfOlder");
  EXPECT_EQ(zip.Options().OverwriteMode, omIfOlder);
  zip.SetPublishedProperty("Options.SearchAttr", "0x2F");
  EXPECT_EQ(zip.Options().SearchAttr, 0x2F);
  zip.SetPublishedProperty("Zip64Mode", "zmAlways");
  EXPECT_EQ(zip.Zip64Mode(), zmAlways);
  zip.SetPublishedProperty("NoCompressionMasks", "*.jpg|*.png");
  EXPECT_EQ(zip.NoCompressionMasks(), (std::vector<std::string>{"*.jpg", "*.png"}));
  zip.SetPublishedProperty("SpanningOptions.CustomVolumeSize", "100");
  EXPECT_EQ(zip.SpanningOptions().CustomVolumeSize(), 65536);
  EXPECT_EQ(zip.Threads(), 0);  // as many as the process may run on
  zip.SetPublishedProperty("Threads", "3");
  EXPECT_EQ(zip.Threads(), 3);

  const std::vector<std::pair<std::string, std::string>> refused = {
      {"NoSuchProperty", "1"},   {"CompressionMode", "10"},  {"CompressionLevel", "clHuge"},
      {"CompressionLevel", "4"}, {"Options.Recurse", "yes"}, {"Zip64Mode", "3"},
      {"Tag", "seven"},          {"OnFileProgress", "x"},    {"Threads", "-1"},
      {"Threads", "65"}};
  for (const auto& [name, value] : refused)
    EXPECT_THROW(zip.SetPublishedProperty(name, value), Exception) << name << "=" << value;
  EXPECT_EQ(zip.CompressionLevel(), clNormal);
}

TEST(Surface, MaskListsAreCopies) {
  TZipWriter zip;
  std::vector<std::string> masks{"*.tmp"};
  zip.SetExclusionMasks(masks);
  masks.push_back("*.bak");
  EXPECT_EQ(zip.ExclusionMasks().size(), 1u);
}

TEST(Surface, ProgressEventsPresetCancelFalseWithoutHandler) {
  ProbeWriter zip;
  bool cancel = true;
  zip.FireOverallProgress(50.0, poAdd, ppProcess, cancel);
  EXPECT_FALSE(cancel);
  cancel = true;
  zip.FireFileProgress("a/b.txt", 1.0, poAdd, ppStart, cancel);
  EXPECT_FALSE(cancel);
  std::string seen;
  zip.OnFileProgress = [&](TZWBaseArchiver* sender, const std::string& name, double,
                           TZWProcessOperation, TZWProgressPhase, bool& c) {
    EXPECT_EQ(sender, &zip);
    seen = name;
    EXPECT_TRUE(c);  // the caller's value is passed through
  };
  cancel = true;
  zip.FireFileProgress("a/b.txt", 1.0, poAdd, ppStart, cancel);
  EXPECT_EQ(seen, "a\\b.txt");
}

TEST(Surface, ConfirmProcessFilePresetsTrue) {
  ProbeWriter zip;
  bool confirm = false;
  zip.FireConfirmProcessFile("x", poAdd, confirm);
  EXPECT_TRUE(confirm);
  zip.OnConfirmProcessFile = [](TZWBaseArchiver*, const std::string&, TZWProcessOperation,
                                bool& c) { EXPECT_TRUE(c); };
  confirm = false;
  zip.FireConfirmProcessFile("x", poAdd, confirm);
  EXPECT_TRUE(confirm);
}

TEST(Surface, StoreFileShowsBackslashesAndPutsSlashesBack) {
  ProbeWriter zip;
  std::string name = "dir/a.txt", comment;
  uint32_t attr = 0x20;
  zip.FireStoreFile(name, attr, comment);
  EXPECT_EQ(name, "dir/a.txt");
  std::string seen;
  zip.OnStoreFile = [&](TZWBaseArchiver*, std::string& n, uint32_t&, std::string&) { seen = n; };
  zip.FireStoreFile(name, attr, comment);
  EXPECT_EQ(seen, "dir\\a.txt");
  EXPECT_EQ(name, "dir/a.txt");
  name = "x/y";
  zip.FireExtractFile(name, attr, comment);  // converted even without a handler
  EXPECT_EQ(name, "x\\y");
}

TEST(Surface, ProcessFileFailurePresetIgnore) {
  ProbeWriter zip;
  zip.OnProcessFileFailure = [](TZWBaseArchiver*, const std::string&, TZWProcessOperation, int32_t,
                                int32_t, const std::string&, TZWAction&) {};
  TZWAction action = fxaAbort;
  zip.FireProcessFileFailure("f", poAdd, 33, 12, "m", action);
  EXPECT_EQ(action, fxaIgnore);
}

// The default prompts go through the user interaction services.
TEST(Surface, DefaultFailurePromptMapsButtons) {
  struct Case {
    const char* answer;
    TZWAction action;
  };
  for (Case c : {Case{"Retry", fxaRetry}, Case{"Ignore", fxaIgnore}, Case{"Abort", fxaAbort},
                 Case{"<cancel>", fxaAbort}}) {
    ScriptedUi ui({c.answer});
    ProbeWriter zip;
    zip.SetUserInterface(&ui.ui());
    TZWAction action = fxaRetry;
    zip.FireProcessFileFailure("f", poAdd, 33, 12, "Cannot open file", action);
    EXPECT_EQ(action, c.action) << c.answer;
    EXPECT_NE(
        ui.transcript().find("Cannot open file. File processing error, possibly disk is full"),
        std::string::npos)
        << ui.transcript();
    EXPECT_NE(ui.transcript().find("Abort,Retry,Ignore"), std::string::npos) << ui.transcript();
  }
}

TEST(Surface, DefaultOverwritePrompt) {
  struct Case {
    const char* answer;
    bool confirm;
    TZWOverwriteMode mode;
  };
  for (Case c :
       {Case{"Yes", true, omPrompt}, Case{"No", false, omPrompt}, Case{"NoToAll", false, omNever},
        Case{"YesToAll", true, omAlways}, Case{"<cancel>", false, omPrompt}}) {
    ScriptedUi ui({c.answer});
    ProbeWriter zip;
    zip.SetUserInterface(&ui.ui());
    zip.Options().OverwriteMode = omPrompt;
    std::string dest = "a.txt";
    bool confirm = !c.confirm;
    zip.FireConfirmOverwrite("C:\\d\\a.txt", dest, confirm);
    EXPECT_EQ(confirm, c.confirm) << c.answer;
    EXPECT_EQ(zip.Options().OverwriteMode, c.mode) << c.answer;
    EXPECT_NE(ui.transcript().find("Overwrite file \"a.txt\" with \"C:\\d\\a.txt\""),
              std::string::npos)
        << ui.transcript();
  }
}

TEST(Surface, DefaultPasswordPrompt) {
  {
    ScriptedUi ui({"secret"});
    ProbeWriter zip;
    zip.SetUserInterface(&ui.ui());
    std::string password = "old";
    bool skip = true;
    zip.FirePassword("x.dat", password, skip);
    EXPECT_EQ(password, "secret");
    EXPECT_FALSE(skip);
    EXPECT_NE(ui.transcript().find("Password for \"x.dat\"\tEnter password: \told"),
              std::string::npos)
        << ui.transcript();
  }
  ScriptedUi ui({"<cancel>"});
  ProbeWriter zip;
  zip.SetUserInterface(&ui.ui());
  std::string password;
  bool skip = false;
  zip.FirePassword("x.dat", password, skip);
  EXPECT_TRUE(skip);
}

TEST(Surface, AfterOpenFiresOnEveryOpening) {
  MemFileSystem mem;
  TZipWriter zip;
  zip.SetFileSystem(&mem);
  int opened = 0;
  zip.AfterOpen = [&](TZWBaseArchiver* sender) {
    EXPECT_EQ(sender, &zip);
    ++opened;
  };
  zip.SetFileName("C:\\a.zip");
  mem.CreateDirectory("C:\\");
  zip.OpenArchiveFile();
  zip.OpenArchiveFile();
  EXPECT_EQ(opened, 2);
}

}  // namespace
}  // namespace zw::test

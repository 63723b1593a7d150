// zipwriter: a command-line tool over the archive component.
//
//   zipwriter add ARCHIVE MASK... [options]   add files (each mask one batch)
//   zipwriter list ARCHIVE                    the directory as the component reads it
//   zipwriter test ARCHIVE [MASK...]          read and check every (matching) entry
//   zipwriter extract ARCHIVE [MASK...] --to DIR
#include "ZipWriter.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "Exceptions.h"
#include "FileSystem.h"
#include "Process.h"
#include "Restore.h"
#include "ScriptUserInterface.h"
#include "Terminal.h"
#include "UserInterface.h"
#include "ZWExcept.h"

namespace zw {
namespace {

const char kUsage[] =
    "Usage:\n"
    "  zipwriter add ARCHIVE MASK... [options]\n"
    "  zipwriter list ARCHIVE\n"
    "  zipwriter test ARCHIVE [MASK...] [password option]\n"
    "  zipwriter extract ARCHIVE [MASK...] --to DIR [--overwrite MODE] [password option]\n"
    "\n"
    "add: opens ARCHIVE (or creates it) and adds the files matching each MASK, one batch per\n"
    "mask. A MASK is a path with wildcards (* and ?) in its last part, e.g. 'data/*.dat'.\n"
    "Options:\n"
    "  --level N            compression mode 0 (store) to 9 (default 1)\n"
    "  --threads N          threads that deflate large files, 1 to 64 (default: the\n"
    "                       processors available); 1 gives the single-stream bytes\n"
    "  --password TEXT      encrypt new entries (traditional ZIP encryption); other users\n"
    "                       can see TEXT in the process list, so prefer one of:\n"
    "  --password-prompt    ask for the password on the terminal, without echo\n"
    "  --password-file FILE the password is FILE's first line (without its line end)\n"
    "                       With none of these, a non-empty ZW_PASSWORD environment\n"
    "                       variable gives the password.\n"
    "  --zip64 MODE         disabled | auto | always (default auto)\n"
    "  --store-path MODE    none | relative | full | drive (default relative)\n"
    "  --recurse            search sub-folders (default)\n"
    "  --no-recurse         do not search sub-folders\n"
    "  --attr N             search attributes, decimal or 0x-hex (default 0x28BF)\n"
    "  --exclude MASK       leave out matching files\n"
    "  --no-compress MASK   store matching files without compression (repeatable)\n"
    "  --base-dir DIR       folder that relative masks and stored names start from\n"
    "  --temp-dir DIR       folder for temporary files\n"
    "  --overwrite MODE     prompt | always | never | if-newer | if-older (default always)\n"
    "  --ansi               store names in the system code page instead of CP437\n"
    "  --sfx FILE           stub copied to the front of a new archive\n"
    "  --no-flush           no device syncs (faster; the journal then protects against a killed\n"
    "                       process, not against a power cut)\n"
    "  --one-batch          add all masks in one batch (always so for a multi-volume archive)\n"
    "  --spanning MODE      none | span | split (default none)\n"
    "  --volume-size SIZE   auto | 1.44MB | 100MB | 200MB | 250MB | 600MB | 650MB | 700MB | BYTES\n"
    "  --first-volume-size BYTES   size limit of the first volume\n"
    "  --classic-naming     volume names Backup.Z01 ... instead of Backup_001.zip ...\n"
    "  --test               test the whole archive after the update (as the test command)\n"
    "\n"
    "test: reads every entry (those matching a MASK, when given; * also spans '/') and\n"
    "checks its CRC-32 and size; one line per failing entry, then a summary.\n"
    "extract: writes the entries below DIR (created when missing). Stored names never\n"
    "leave DIR: a drive letter or leading separator is dropped, backslashes separate\n"
    "folders, names with '..' or through a symbolic link are refused; each is reported.\n"
    "Each file is written under a temporary name (~zwXXXX.tmp) and renamed once it checks\n"
    "out. --overwrite decides about existing files (default prompt); --no-flush skips the\n"
    "device sync before a file replaces an existing one.\n"
    "\n"
    "list: first lines beginning with '#' (entry count, start offset, Zip64 found, comment,\n"
    "where the directory came from: 'end record' or 'rebuilt by scanning local headers'),\n"
    "then one line per entry, tab-separated: name, uncompressed size, compressed size,\n"
    "method, CRC-32, local header offset, flags (hex), external attributes (hex).\n"
    "In names and the comment a backslash is written \\\\, tab \\t, line feed \\n, carriage\n"
    "return \\r, and any other byte below 0x20 or 0x7F as \\xHH (two hex digits).\n"
    "\n"
    "Questions (overwrite, failures, volumes) go through ZW_UI: console (default), gui\n"
    "(desktop dialogs, when the desktop provider is installed), or script:FILE.\n"
    "\n"
    "Exit status:\n"
    "  0  every file went in\n"
    "  1  an error ended the run (message on standard error); its batch was rolled back\n"
    "  2  usage error\n"
    "  3  a batch was aborted (Abort) and rolled back; later masks were not added\n"
    "  4  files that could not be read were skipped (Ignore); everything else went in\n"
    "  5  test, extract, add --test: an entry failed its check, could not be read or\n"
    "     written, or was refused (each named on standard output); a MASK matched nothing\n";

// Exit statuses; scripts rely on them, so they never change meaning.
enum ExitStatus : int {
  kExitDone = 0,
  kExitError = 1,
  kExitUsage = 2,
  kExitAborted = 3,
  kExitSkipped = 4,
  kExitEntriesFailed = 5,
};

class UsageError : public Exception {
 public:
  using Exception::Exception;
};

// Where the password comes from; at most one option names it.
enum class PasswordSource { kNone, kText, kFile, kPrompt };

struct AddOptions {
  std::string archive;
  PasswordSource passwordSource = PasswordSource::kNone;
  std::string password;  // the text, or the file to read it from
  std::vector<std::string> masks;
  std::vector<std::string> noCompress;
  std::string exclude;
  int32_t attributes = -1;
  bool oneBatch = false;
  bool test = false;      // add: test the archive after the update
  std::string extractTo;  // extract: the target folder
};

template <typename T>
T Pick(const std::string& option, const std::string& value,
       const std::vector<std::pair<const char*, T>>& choices) {
  for (const auto& [name, v] : choices)
    if (value == name) return v;
  throw UsageError("invalid value '" + value + "' for " + option);
}

int64_t Number(const std::string& option, const std::string& value) {
  try {
    size_t used = 0;
    long long n = std::stoll(value, &used, 0);
    if (used == value.size()) return n;
  } catch (const std::exception&) {
  }
  throw UsageError("invalid number '" + value + "' for " + option);
}

void ApplyVolumeSize(TZipWriter& zip, const std::string& value) {
  TZWSpanningOptions& o = zip.SpanningOptions();
  const std::vector<std::pair<const char*, TZWVolumeSize>> sizes = {
      {"auto", vsAutoDetect}, {"1.44MB", vs1_44MB}, {"100MB", vs100MB}, {"200MB", vs200MB},
      {"250MB", vs250MB},     {"600MB", vs600MB},   {"650MB", vs650MB}, {"700MB", vs700MB}};
  for (const auto& [name, size] : sizes)
    if (value == name) return void(o.VolumeSize = size);
  o.VolumeSize = vsCustom;
  o.SetCustomVolumeSize(Number("--volume-size", value));
}

// Applies one option; returns how many arguments it took.
size_t ApplyOption(TZipWriter& zip, AddOptions& add, const std::vector<std::string>& args,
                   size_t i) {
  const std::string& opt = args[i];
  auto value = [&]() -> const std::string& {
    if (i + 1 >= args.size()) throw UsageError(opt + " needs a value");
    return args[i + 1];
  };
  auto passwordFrom = [&](PasswordSource source) {
    if (add.passwordSource != PasswordSource::kNone)
      throw UsageError("only one of --password, --password-file, --password-prompt");
    add.passwordSource = source;
  };
  TZWOptions& o = zip.Options();
  if (opt == "--recurse") return o.Recurse = true, 1;
  if (opt == "--no-recurse") return o.Recurse = false, 1;
  if (opt == "--ansi") return o.OEMFileNames = false, 1;
  if (opt == "--one-batch") return add.oneBatch = true, 1;
  if (opt == "--test") return add.test = true, 1;
  if (opt == "--no-flush") return o.FlushBuffers = false, 1;
  if (opt == "--classic-naming") return zip.SpanningOptions().AdvancedNaming = false, 1;
  if (opt == "--password-prompt") return passwordFrom(PasswordSource::kPrompt), 1;
  if (opt == "--level") {
    int64_t level = Number(opt, value());
    if (level < 0 || level > 9) throw UsageError("--level must be 0 to 9");
    zip.SetCompressionMode(static_cast<int>(level));
  } else if (opt == "--threads") {
    int64_t threads = Number(opt, value());
    if (threads < 1 || threads > 64) throw UsageError("--threads must be 1 to 64");
    zip.SetThreads(static_cast<int32_t>(threads));
  } else if (opt == "--password" || opt == "--password-file") {
    passwordFrom(opt == "--password" ? PasswordSource::kText : PasswordSource::kFile);
    add.password = value();
  } else if (opt == "--zip64") {
    zip.SetZip64Mode(Pick<TZip64Mode>(
        opt, value(), {{"disabled", zmDisabled}, {"auto", zmAuto}, {"always", zmAlways}}));
  } else if (opt == "--store-path") {
    o.StorePath = Pick<TZWStorePathMode>(opt, value(),
                                         {{"none", spNoPath},
                                          {"relative", spRelativePath},
                                          {"full", spFullPath},
                                          {"drive", spFullPathWithDrive}});
  } else if (opt == "--attr") {
    add.attributes = static_cast<int32_t>(Number(opt, value()));
  } else if (opt == "--exclude") {
    add.exclude = value();
  } else if (opt == "--no-compress") {
    add.noCompress.push_back(value());
  } else if (opt == "--base-dir") {
    zip.SetBaseDir(value());
  } else if (opt == "--temp-dir") {
    zip.SetTempDir(value());
  } else if (opt == "--overwrite") {
    o.OverwriteMode = Pick<TZWOverwriteMode>(opt, value(),
                                             {{"prompt", omPrompt},
                                              {"always", omAlways},
                                              {"never", omNever},
                                              {"if-newer", omIfNewer},
                                              {"if-older", omIfOlder}});
  } else if (opt == "--to") {
    add.extractTo = value();
  } else if (opt == "--sfx") {
    zip.SetSFXStub(value());
  } else if (opt == "--spanning") {
    zip.SetSpanningMode(Pick<TZWSpanningMode>(
        opt, value(), {{"none", smNone}, {"span", smSpanning}, {"split", smSplitting}}));
  } else if (opt == "--volume-size") {
    ApplyVolumeSize(zip, value());
  } else if (opt == "--first-volume-size") {
    zip.SpanningOptions().FirstVolumeSize = Number(opt, value());
  } else {
    throw UsageError("unknown option " + opt);
  }
  return 2;
}

// Whether the progress bar's line still waits for its end; other lines on standard
// error start on a line of their own.
bool progressLineOpen = false;

void EndProgressLine() {
  if (progressLineOpen) std::fputc('\n', stderr);
  progressLineOpen = false;
}

// The component answers a batch's outcome only through its events: the closing
// progress event comes only after a commit, and an Abort answer (or a cancel) rolls the
// batch back without an exception. The default failure question is kept as it is.
class ToolZipWriter : public TZipWriter {
 public:
  // Asks for the archive's password through the password event; false when the
  // question was cancelled or nothing was entered.
  bool AskPassword(const std::string& archive, std::string& password) {
    bool skip = false;
    FirePassword(archive, password, skip);
    return !skip && !password.empty();
  }
  // Call before each batch; afterwards RolledBack() tells whether it was undone.
  void StartBatch() { started_ = ended_ = false; }
  bool RolledBack() const { return started_ && !ended_; }
  int32_t Skipped() const { return skipped_; }

 protected:
  void FireOverallProgress(double progress, TZWProcessOperation op, TZWProgressPhase phase,
                           bool& cancel) override {
    TZipWriter::FireOverallProgress(progress, op, phase, cancel);
    if (phase == ppStart) started_ = true;
    if (phase == ppEnd) ended_ = true;
  }
  void FireProcessFileFailure(const std::string& fileName, TZWProcessOperation op,
                              int32_t nativeError, int32_t errorCode, const std::string& message,
                              TZWAction& action) override {
    EndProgressLine();
    TZipWriter::FireProcessFileFailure(fileName, op, nativeError, errorCode, message, action);
    if (action != fxaIgnore) return;
    ++skipped_;
    std::fprintf(stderr, "zipwriter: skipped %s\n", Files().DisplayName(fileName).c_str());
  }
  // The component's own question echoes what is typed; a password must not show.
  void FirePassword(const std::string& fileName, std::string& newPassword,
                    bool& skipFile) override {
    if (OnPassword) return TZipWriter::FirePassword(fileName, newPassword, skipFile);
    skipFile =
        !UI().AskPassword("Password for \"" + fileName + "\"", "Enter password: ", newPassword);
  }

 private:
  bool started_ = false;
  bool ended_ = false;
  int32_t skipped_ = 0;
};

// What the last opening found, one line each; the archive itself is complete either way.
void ReportOpening(const TZipWriter& zip, const std::string& archive) {
  if (zip.LastOpenRestored())
    std::fprintf(stderr,
                 "zipwriter: %s: an interrupted update was undone; the archive is as it was "
                 "before that update\n",
                 archive.c_str());
  if (int32_t dropped = zip.LastOpenDroppedEntries(); dropped > 0)
    std::fprintf(stderr, "zipwriter: %s: the archive had no directory; %d unfinished %s left out\n",
                 archive.c_str(), dropped, dropped == 1 ? "entry was" : "entries were");
}

// The first line of a file, without its line end.
std::string ReadPasswordFile(const std::string& path) {
  FileSystem& files = ActiveFileSystem();
  auto file = files.Open(path, FileMode::fmOpenRead | FileMode::fmShareDenyNone);
  if (!file) throw Exception("cannot read the password file " + path);
  std::string text;
  char buffer[4096];
  // Up to the first line end only: a pipe need not be read to its end.
  while (text.find('\n') == std::string::npos) {
    int64_t got = file->Read(buffer, sizeof buffer);
    if (got < 0) throw Exception("cannot read the password file " + path);
    if (got == 0) break;
    text.append(buffer, static_cast<size_t>(got));
  }
  text = text.substr(0, text.find('\n'));
  if (!text.empty() && text.back() == '\r') text.pop_back();
  return text;
}

// Sets the password from wherever the options (or ZW_PASSWORD) say it comes from.
void ApplyPassword(ToolZipWriter& zip, const AddOptions& add) {
  std::string password;
  switch (add.passwordSource) {
    case PasswordSource::kText:
      password = add.password;
      break;
    case PasswordSource::kFile:
      password = ReadPasswordFile(add.password);
      if (password.empty()) throw Exception("the password file " + add.password + " is empty");
      break;
    case PasswordSource::kPrompt:
      if (!zip.AskPassword(add.archive, password))
        throw Exception("no password was entered; nothing was done");
      break;
    case PasswordSource::kNone:
      if (const char* env = std::getenv("ZW_PASSWORD")) password = env;
      break;
  }
  if (!password.empty()) zip.SetPassword(password);
}

// A progress bar on standard error, redrawn when the whole percentage changes.
void InstallProgressBar(TZipWriter& zip) {
  if (!StandardErrorIsTerminal()) return;
  zip.OnOverallProgress = [last = -1](TZWBaseArchiver*, double progress, TZWProcessOperation,
                                      TZWProgressPhase phase, bool&) mutable {
    // The overall figure counts copied entries too, so it can pass 100 when stored
    // entries are copied around a few new ones.
    int percent = std::clamp(static_cast<int>(progress), 0, 100);
    if (percent == last && phase == ppProcess) return;
    last = percent;
    int filled = percent * 40 / 100;
    std::fprintf(stderr, "\r[%-40s] %3d%%", std::string(static_cast<size_t>(filled), '#').c_str(),
                 percent);
    if (phase == ppEnd) std::fprintf(stderr, "\n");
    progressLineOpen = phase != ppEnd;
    std::fflush(stderr);
  };
}

int TestArchiveFile(ToolZipWriter& zip, const std::string& archive,
                    const std::vector<std::string>& masks);

int RunAdd(const std::vector<std::string>& args) {
  ToolZipWriter zip;
  zip.SetZip64Mode(zmAuto);
  AddOptions add;
  for (size_t i = 1; i < args.size();) {
    if (args[i].rfind("--", 0) == 0) {
      i += ApplyOption(zip, add, args, i);
    } else {
      (add.archive.empty() ? add.archive : add.masks.emplace_back()) = args[i];
      ++i;
    }
  }
  if (add.archive.empty() || add.masks.empty()) throw UsageError("add needs ARCHIVE and MASK");
  if (!add.extractTo.empty()) throw UsageError("--to belongs to extract");
  zip.SetNoCompressionMasks(add.noCompress);
  int32_t attributes = add.attributes >= 0 ? add.attributes : zip.Options().SearchAttr;
  ApplyPassword(zip, add);
  InstallProgressBar(zip);
  zip.SetFileName(add.archive);
  zip.OpenArchiveFile();
  ReportOpening(zip, add.archive);
  // A multi-volume archive that holds entries takes changes only inside one batch.
  bool oneBatch = add.oneBatch || zip.SpanningMode() != smNone;
  bool rolledBack = false;
  if (oneBatch) {
    zip.StartBatch();
    zip.BeginUpdate();
    for (const std::string& mask : add.masks) zip.AddFilesByMask(mask, attributes, add.exclude);
    zip.EndUpdate();
    rolledBack = zip.RolledBack();
  } else {
    // Abort means stop: the masks after an aborted batch are not added either.
    for (const std::string& mask : add.masks) {
      zip.StartBatch();
      zip.AddFilesByMask(mask, attributes, add.exclude);
      if ((rolledBack = zip.RolledBack())) break;
    }
  }
  zip.CloseArchiveFile();
  if (rolledBack) {
    EndProgressLine();
    std::fprintf(stderr,
                 "zipwriter: %s: the update was aborted; the archive keeps the entries it had "
                 "before that batch\n",
                 add.archive.c_str());
    return kExitAborted;
  }
  int status = zip.Skipped() > 0 ? kExitSkipped : kExitDone;
  if (add.test) {
    int tested = TestArchiveFile(zip, add.archive, {});
    if (status == kExitDone) status = tested;
  }
  return status;
}

// `text` with backslash escapes for a backslash and every control byte, so that a
// name never breaks the tab-separated line it is on; other bytes are kept.
std::string Escaped(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (unsigned char c : text) {
    if (c == '\\') {
      out += "\\\\";
    } else if (c == '\t') {
      out += "\\t";
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c < 0x20 || c == 0x7F) {
      const char hex[] = "0123456789ABCDEF";
      out += {'\\', 'x', hex[c >> 4], hex[c & 15]};
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

int RunList(const std::vector<std::string>& args) {
  if (args.size() != 2) throw UsageError("list needs exactly one ARCHIVE");
  TZipWriter zip;
  zip.SetFileName(args[1]);
  zip.OpenArchiveFileWithMode(64);
  ReportOpening(zip, args[1]);
  TZWArchiveListing listing = zip.Listing();
  std::printf("# entries: %zu\n", listing.Entries.size());
  std::printf("# start offset: %llu\n", static_cast<unsigned long long>(listing.StartOffset));
  std::printf("# zip64: %s\n", listing.HasZip64 ? "yes" : "no");
  std::printf("# comment: %s\n", Escaped(listing.Comment).c_str());
  std::printf("# directory: %s\n",
              listing.RebuiltFromLocalHeaders ? "rebuilt by scanning local headers" : "end record");
  for (const TZWListedEntry& entry : listing.Entries) {
    std::printf("%s\t%llu\t%llu\t%u\t%08X\t%llu\t%04X\t%08X\n", Escaped(entry.Name).c_str(),
                static_cast<unsigned long long>(entry.UncompressedSize),
                static_cast<unsigned long long>(entry.CompressedSize), entry.Method, entry.Crc32,
                static_cast<unsigned long long>(entry.LocalHeaderOffset), entry.Flags,
                entry.ExternalAttributes);
  }
  return 0;
}

// --- test and extract ---

// Parses `command ARCHIVE [MASK...] [options]`, taking only the options in `allowed`.
AddOptions ParseRestoreArgs(ToolZipWriter& zip, const std::vector<std::string>& args,
                            const std::vector<std::string>& allowed) {
  AddOptions opts;
  for (size_t i = 1; i < args.size();) {
    if (args[i].rfind("--", 0) != 0) {
      (opts.archive.empty() ? opts.archive : opts.masks.emplace_back()) = args[i];
      ++i;
      continue;
    }
    if (std::find(allowed.begin(), allowed.end(), args[i]) == allowed.end())
      throw UsageError("option " + args[i] + " does not apply to " + args[0]);
    i += ApplyOption(zip, opts, args, i);
  }
  if (opts.archive.empty()) throw UsageError(args[0] + " needs ARCHIVE");
  return opts;
}

// Prints one line per note of a test or extraction, on standard output.
void PrintNote(const TZWRestoreNote& note) {
  static const char* const kKinds[] = {"failed", "refused", "kept", "renamed"};
  EndProgressLine();
  std::printf("%s: %s: %s\n", Escaped(note.Name).c_str(), kKinds[note.What],
              Escaped(note.Text).c_str());
  std::fflush(stdout);
}

// Feeds the restorer's byte counts to the progress bar InstallProgressBar set up.
void ConnectProgress(ToolZipWriter& zip, TZWRestorer& restorer, TZWProcessOperation op) {
  if (!zip.OnOverallProgress) return;
  restorer.OnProgress = [&zip, op](uint64_t done, uint64_t total) {
    bool cancel = false;
    double percent = total == 0 ? 100.0 : 100.0 * static_cast<double>(done) / total;
    zip.OnOverallProgress(&zip, percent, op, ppProcess, cancel);
  };
}

void EndProgress(ToolZipWriter& zip, TZWProcessOperation op) {
  bool cancel = false;
  if (zip.OnOverallProgress && progressLineOpen)
    zip.OnOverallProgress(&zip, 100, op, ppEnd, cancel);
}

// Masks that matched no entry, each named on standard error; true when there are none.
bool EveryMaskMatched(const TZWRestoreTotals& totals) {
  for (const std::string& mask : totals.UnmatchedMasks)
    std::fprintf(stderr, "zipwriter: no entry matches %s\n", mask.c_str());
  return totals.UnmatchedMasks.empty();
}

// Opens the archive read-only (when not open yet) and tests the entries.
int TestArchiveFile(ToolZipWriter& zip, const std::string& archive,
                    const std::vector<std::string>& masks) {
  zip.SetFileName(archive);
  zip.OpenArchiveFileWithMode(64);
  ReportOpening(zip, archive);
  TZWRestorer restorer(zip);
  restorer.Masks = masks;
  restorer.OnNote = PrintNote;
  ConnectProgress(zip, restorer, poTest);
  TZWRestoreTotals totals = restorer.Test();
  EndProgress(zip, poTest);
  zip.CloseArchiveFile();
  if (totals.AllPassed())
    std::printf("%s: %d %s tested, all OK\n", archive.c_str(), totals.Selected,
                totals.Selected == 1 ? "entry" : "entries");
  else
    std::printf("%s: %d %s tested, %d OK, %d FAILED\n", archive.c_str(), totals.Selected,
                totals.Selected == 1 ? "entry" : "entries", totals.Passed, totals.Failed);
  bool masksMatched = EveryMaskMatched(totals);
  return totals.AllPassed() && masksMatched ? kExitDone : kExitEntriesFailed;
}

int RunTest(const std::vector<std::string>& args) {
  ToolZipWriter zip;
  AddOptions opts =
      ParseRestoreArgs(zip, args, {"--password", "--password-file", "--password-prompt"});
  ApplyPassword(zip, opts);
  InstallProgressBar(zip);
  return TestArchiveFile(zip, opts.archive, opts.masks);
}

int RunExtract(const std::vector<std::string>& args) {
  ToolZipWriter zip;
  zip.Options().OverwriteMode = omPrompt;
  AddOptions opts = ParseRestoreArgs(
      zip, args,
      {"--to", "--overwrite", "--no-flush", "--password", "--password-file", "--password-prompt"});
  if (opts.extractTo.empty()) throw UsageError("extract needs --to DIR");
  ApplyPassword(zip, opts);
  InstallProgressBar(zip);
  FileSystem& files = zip.Files();
  if (!files.DirectoryExists(opts.extractTo) && !files.CreateDirectory(opts.extractTo))
    throw Exception("cannot create the folder " + opts.extractTo + ": " +
                    files.LastError().message);
  zip.SetFileName(opts.archive);
  zip.OpenArchiveFileWithMode(64);
  ReportOpening(zip, opts.archive);
  TZWRestorer restorer(zip);
  restorer.Masks = opts.masks;
  restorer.FlushFiles = zip.Options().FlushBuffers;
  restorer.OnNote = PrintNote;
  ConnectProgress(zip, restorer, poExtract);
  TZWRestoreTotals totals = restorer.Extract(opts.extractTo);
  EndProgress(zip, poExtract);
  zip.CloseArchiveFile();
  std::printf("%s: %d extracted, %d kept, %d FAILED\n", opts.archive.c_str(), totals.Passed,
              totals.Kept, totals.Failed);
  bool masksMatched = EveryMaskMatched(totals);
  return totals.AllPassed() && masksMatched ? kExitDone : kExitEntriesFailed;
}

}  // namespace
}  // namespace zw

int main(int argc, char** argv) {
  zw::IgnoreFileSizeLimitSignal();
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty() || args[0] == "--help" || args[0] == "-h") {
    std::fputs(zw::kUsage, args.empty() ? stderr : stdout);
    return args.empty() ? zw::kExitUsage : zw::kExitDone;
  }
  const char* spec = std::getenv("ZW_UI");
  auto ui = zw::CreateUserInterface(spec && *spec ? spec : "console");
  if (!ui) {
    std::fprintf(stderr, "zipwriter: unknown ZW_UI value \"%s\"\n", spec);
    return zw::kExitUsage;
  }
  if (auto* script = dynamic_cast<zw::ScriptUserInterface*>(ui.get());
      script && !script->AnswersProblem().empty()) {
    std::fprintf(stderr, "zipwriter: ZW_UI=%s: %s\n", spec, script->AnswersProblem().c_str());
    return zw::kExitUsage;
  }
  ui->SetApplicationTitle("zipwriter");
  zw::SetActiveUserInterface(std::move(ui));
  try {
    if (args[0] == "add") return zw::RunAdd(args);
    if (args[0] == "list") return zw::RunList(args);
    if (args[0] == "test") return zw::RunTest(args);
    if (args[0] == "extract") return zw::RunExtract(args);
    throw zw::UsageError("unknown command " + args[0]);
  } catch (const zw::UsageError& e) {
    std::fprintf(stderr, "zipwriter: %s\n\n%s", e.what(), zw::kUsage);
    return zw::kExitUsage;
  } catch (const std::exception& e) {
    zw::EndProgressLine();
    std::fprintf(stderr, "zipwriter: %s\n", e.what());
    return zw::kExitError;
  }
}

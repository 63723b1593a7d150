// Testing and extracting the entries of an open archive.
//
// A TZWRestorer works on the archive its archiver holds open (any mode) and reads
// every selected entry through a TZWEntryReader (EntryReader.h).
//
// Test: every selected entry is read and checked; nothing is written.
//
// Extract: every selected entry is written below a target folder through the
// archiver's file system. Contract:
//   - A stored name never reaches outside the target folder. Backslashes count as
//     separators, and a leading drive letter or separator is dropped, each reported
//     as a change of the name; a name with a ".." part, or one whose path in the
//     target folder leads through a symbolic link already there, is refused.
//   - Names are taken as UTF-8 when general purpose bit 11 is set or a Unicode path
//     extra field (0x7075) matches the stored name, else as CP437; the byte escapes
//     of names that were not UTF-8 (U+EF00 + byte, see CodePage.h) give the original
//     bytes back.
//   - Data goes to a temporary file "~zwXXXX.tmp" in the file's folder; only when the
//     entry checked out (CRC-32 and size) is that file given the entry's time (DOS
//     date and time) and read-only attribute and renamed over the real name in one
//     step. A failed, cancelled or interrupted extraction therefore never leaves a
//     partial file under the real name nor destroys a file that was there. With
//     FlushFiles, a file that replaces an existing one reaches the device first, so
//     that not even a power cut can leave the name empty.
//   - An existing file is handled by the archiver's Options.OverwriteMode: always,
//     never, if-newer / if-older (the entry's time against the file's), prompt (the
//     archiver's overwrite event; "to all" answers change the mode).
//   - Every entry that fails, is refused, kept or renamed is reported through OnNote;
//     the run goes on with the next entry. Exceptions of the archive (a cancelled
//     volume request) end the run.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "EntryReader.h"

namespace zw {

class TZWBaseArchiver;
struct TZWRestoreContext;
struct TDirItem;

struct TZWRestoreNote {
  enum Kind {
    kFailed,   // the entry could not be read or written (Text says why)
    kRefused,  // the name would leave the target folder; nothing written
    kKept,     // an existing file was kept (overwrite mode or answer)
    kRenamed,  // the name was made safe (Text says how); the entry was written
  };
  Kind What = kFailed;
  std::string Name;  // the entry's name as decoded
  std::string Text;
};

struct TZWRestoreTotals {
  int32_t Selected = 0;
  int32_t Passed = 0;  // read and checked (and written, when extracting)
  int32_t Failed = 0;  // failed or refused
  int32_t Kept = 0;
  std::vector<std::string> UnmatchedMasks;  // masks that selected no entry
  bool AllPassed() const { return Failed == 0; }
};

class TZWRestorer {
 public:
  explicit TZWRestorer(TZWBaseArchiver& archiver);
  // The same on the parts of an archiver (RestoreContext.h, for the engine).
  explicit TZWRestorer(const TZWRestoreContext& context);
  ~TZWRestorer();
  TZWRestorer(const TZWRestorer&) = delete;
  TZWRestorer& operator=(const TZWRestorer&) = delete;

  // Entries whose decoded names match one of the masks (TMask rules; "*" also spans
  // "/"); all entries when empty.
  std::vector<std::string> Masks;
  bool FlushFiles = true;
  std::function<void(const TZWRestoreNote&)> OnNote;
  // Bytes of selected entries read so far, of all selected entries' stated sizes.
  std::function<void(uint64_t done, uint64_t total)> OnProgress;

  TZWRestoreTotals Test();
  // `folder` must exist.
  TZWRestoreTotals Extract(const std::string& folder);

  // The stored name made relative and safe: parts joined by "/", or false when it
  // must be refused; `changes` describes what was changed or why it was refused.
  static bool SafeRelativePath(const std::string& name, std::string& relative,
                               std::string& changes);

 private:
  std::vector<int32_t> Selection(TZWRestoreTotals& totals);
  void Note(TZWRestoreNote::Kind kind, const std::string& name, const std::string& text);
  bool ExtractOne(TZWEntryReader& reader, int32_t index, const std::string& folder);
  bool PrepareFolders(const std::string& folder, const std::string& relative,
                      const std::string& name, bool leafIsFolder);
  bool ShouldReplace(const TDirItem& item, const std::string& target, const std::string& name);
  bool WriteEntry(TZWEntryReader& reader, int32_t index, const std::string& target,
                  const std::string& name, bool replacing);
  void Progress(uint64_t bytes);
  // The name a file `leaf` in `folder` has on disk (in whatever letter case), or empty.
  std::string ExistingName(const std::string& folder, const std::string& leaf);

  std::unique_ptr<TZWRestoreContext> c_;
  uint64_t done_ = 0;
  uint64_t total_ = 0;
  int32_t kept_ = 0;
  // The files of each folder written to, by case-folded name: read once per folder
  // and kept up to date, so that a folder of many files is not searched per file.
  std::unordered_map<std::string, std::unordered_map<std::string, std::string>> folders_;
};

}  // namespace zw

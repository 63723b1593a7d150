// Runs build/bin/bkup in a fresh folder with drive C: mapped to it and the scripted
// user interface, and reads back what it printed and what it wrote.
#pragma once

#include <string>
#include <vector>

#include "TempDir.h"

namespace zw::test {

struct BkupRun {
  int status = -1;
  std::vector<std::string> transcript;  // one entry per line of standard output
  std::string errors;                   // standard error
};

class BkupHarness {
 public:
  BkupHarness();
  ~BkupHarness();
  BkupHarness(const BkupHarness&) = delete;
  BkupHarness& operator=(const BkupHarness&) = delete;

  // Host folder that drive C: maps to, and a host path below it ("church/data").
  std::string C(const std::string& relative = "") const;
  // Writes a file below drive C: (e.g. "church/data/fi0001.dat").
  void Put(const std::string& relative, const std::string& bytes) const;
  // The sample data set: fi/pe/sy/arc/vi files, notes.txt, Picture/, and the report
  // dictionary in the data folder's parent when `withDictionary`.
  void PutSampleData(bool withDictionary) const;
  // Maps drive `letter` to a fresh sub-folder (created) and returns its host path.
  std::string MapDrive(char letter, const std::string& folder);
  // MapDrive to a folder nothing can be written in, as a diskette with its Write Lock
  // tab set: a read-only tmpfs when running as root (whom permissions do not stop),
  // else a folder without write permission. Unmounted when the harness goes.
  std::string MapWriteProtectedDrive(char letter, const std::string& folder);
  // Later runs get this file size limit (ulimit -f, in the shell's blocks).
  void LimitFileSize(int blocks) { limit_ = "ulimit -f " + std::to_string(blocks) + " && "; }

  BkupRun Run(const std::vector<std::string>& args, const std::vector<std::string>& answers = {},
              const std::string& extraEnv = "") const;

  // Names of the entries in an archive (unzip -Z1), in directory order.
  std::vector<std::string> Entries(const std::string& hostArchive) const;
  bool ArchiveTests(const std::string& hostArchive) const;  // unzip -t passes

  const TempDir& dir() const { return dir_; }

 private:
  TempDir dir_;
  std::string drives_;
  std::string limit_;
  std::vector<std::string> mounts_;
};

// Tab-separated transcript line.
std::string Line(const std::vector<std::string>& fields);
// The standard opening lines: the window, then "Specify a Location".
std::vector<std::string> Opening();

}  // namespace zw::test

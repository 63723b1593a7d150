// Helpers of the multi-volume tests: a layout check of a volume set, outside oracles
// run on a set written to a host folder, and a scripted user who swaps disks.
#pragma once

#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "FileSystem.h"
#include "ScriptUserInterface.h"
#include "TempDir.h"

namespace zw::test {

// One volume set in volume order (the last volume holds the end records).
using VolumeSet = std::vector<std::string>;

struct LayoutEntry {
  std::string name;
  uint32_t disk = 0;
  uint64_t offset = 0;
};

// Walks a volume set as a strict reader would: the end record (and Zip64 records) on
// the last volume, every central header whole on one volume from the directory's
// start volume on, every local header whole on the volume its entry names, with the
// central header's name. Returns "" when all holds, else the first fault; fills
// `entries` and `zip64Fields` (Zip64 record: this disk, directory disk; locator:
// record disk, total disks) when given.
std::string CheckLayout(const VolumeSet& volumes, std::vector<LayoutEntry>* entries = nullptr,
                        std::vector<uint64_t>* zip64Fields = nullptr);

// Writes the set into a fresh folder as base.z01 ... base.zip and runs `7zz t`.
// Returns "" when 7-Zip reports "Everything is Ok", else its output.
std::string SevenZipTestSet(const VolumeSet& volumes);
// The same set merged by Info-ZIP (`zip -s 0`) and tested with `unzip -t`.
std::string InfoZipMergeTest(const VolumeSet& volumes);
// `7zz t` on an archive file given by its host path (volumes beside it).
std::string SevenZipTest(const std::string& path);

std::string RandomData(size_t count, uint32_t seed);

// A script provider whose user, before confirming a request for a blank disk,
// inserts a new one (the callback, with the disk number shown, 1-based), and before
// confirming a request for a written disk puts that one back (`returnDisk`, given
// the disk number shown, 1 for the first disk, 0 for the last).
class DiskSwappingUi : public ScriptUserInterface {
 public:
  DiskSwappingUi(const std::string& answers, std::ostream* out, std::function<void(int)> insertDisk,
                 std::function<void(int)> returnDisk = {})
      : ScriptUserInterface(answers, out),
        insertDisk_(std::move(insertDisk)),
        returnDisk_(std::move(returnDisk)) {}
  int AskChoice(const std::string& text, TMsgDlgType kind, TMsgDlgButtons buttons) override;

 private:
  std::function<void(int)> insertDisk_;
  std::function<void(int)> returnDisk_;
};

// Records volume labels set through it.
class LabelRecordingFileSystem : public ForwardingFileSystem {
 public:
  using ForwardingFileSystem::ForwardingFileSystem;
  bool SetVolumeLabel(const std::string& root, const std::string& label) override {
    labels.push_back(root + "=" + label);
    return ForwardingFileSystem::SetVolumeLabel(root, label);
  }
  std::vector<std::string> labels;
};

// Lines of a script provider's transcript that hold a question, as "text -> answer".
std::vector<std::string> Questions(const std::string& transcript);

}  // namespace zw::test

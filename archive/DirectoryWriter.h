// Writing the central directory: the central headers, the Zip64 end records when
// needed, and the end record with the archive comment.
//
// A single-file archive takes everything at the end of the stream given. A
// multi-volume archive takes it through the archiver's volume writes: a central
// header is begun only on a volume that can take it whole, and the end records stay
// together on the last volume, which then takes the archive's own name.
#pragma once

#include <cstdint>
#include <vector>

#include "DirectoryReader.h"

namespace zw {

class TStream;
class TZWBaseArchiver;

class TZWDirWriter {
 public:
  // `volumes`: the archiver whose volumes take a multi-volume archive's directory;
  // null for a single stream.
  TZWDirWriter(TZWDirectory& dir, bool oemNames, TZWBaseArchiver* volumes = nullptr);

  // Writes the directory at the end of `stream` (a multi-volume archive: where its
  // volumes stand) and updates `dir` to what was written (name and extra field
  // lengths, end records, DirectoryStart). Returns the stream that holds the end
  // records: `stream`, or the archive's last volume.
  TStream* Write(TStream* stream);
  // Encodes the item's central record; its name and extra field lengths become those
  // written.
  void EncodeCentralRecord(TDirItem& item, std::vector<uint8_t>& out) const;

 private:
  void Finish(int64_t dirStart, uint32_t dirVolume, uint64_t dirSize);
  void EmitEndRecords(const std::vector<uint8_t>& bytes);
  uint32_t CurrentVolume() const;

  TZWDirectory& dir_;
  bool oemNames_;
  TZWBaseArchiver* volumes_;
  TStream* stream_ = nullptr;
};

}  // namespace zw

// Writing the central directory: the central headers, the Zip64 end records when
// needed, and the end record with the archive comment.
//
// Everything goes through an archive sink: each central header is one group that
// lands whole on a volume, the end records another, on the volume they name as the
// last one. A plain stream is written through a stream sink at its end.
#pragma once

#include <cstdint>
#include <vector>

#include "DirectoryReader.h"

namespace zw {

class TStream;
class TZWArchiveSink;
struct TZWArchivePlace;

class TZWDirWriter {
 public:
  TZWDirWriter(TZWDirectory& dir, bool oemNames);

  // Writes the directory where `sink` stands, then finishes the sink, and updates
  // `dir` to what was written (name and extra field lengths, end records,
  // DirectoryStart).
  void Write(TZWArchiveSink& sink);
  // The same at the end of `stream`.
  void Write(TStream* stream);
  // Encodes the item's central record; its name and extra field lengths become those
  // written.
  // Appends the item's central header; the name and extra field lengths it took are
  // returned for the item to keep.
  void EncodeCentralRecord(const TDirItem& item, std::vector<uint8_t>& out, uint16_t& nameLength,
                           uint16_t& extraLength) const;

 private:
  void Finish(TZWArchiveSink& sink, TZWArchivePlace start, uint64_t dirSize);

  TZWDirectory& dir_;
  bool oemNames_;
};

}  // namespace zw

// A read-only listing of the directory of an open archive, as the component read it
// (TZWBaseArchiver::Listing). A copy: it stays valid after the archive is closed or
// changed, and changing it changes nothing in the archive.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zw {

struct TZWListedEntry {
  std::string Name;  // "/" separates; ANSI code page, or as stored when flagged UTF-8
  uint64_t UncompressedSize = 0;
  uint64_t CompressedSize = 0;
  uint16_t Method = 0;
  uint32_t Crc32 = 0;
  uint64_t LocalHeaderOffset = 0;
  uint16_t Flags = 0;
  uint32_t ExternalAttributes = 0;
};

struct TZWArchiveListing {
  std::vector<TZWListedEntry> Entries;  // in directory order
  // Size of the leading data (a self-extractor stub) in front of the first entry.
  uint64_t StartOffset = 0;
  bool HasZip64 = false;
  std::string Comment;
  // No end record was found: the entries were taken from a scan of local headers.
  bool RebuiltFromLocalHeaders = false;
};

}  // namespace zw

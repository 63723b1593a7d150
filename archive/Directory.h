// The central directory of one archive as held in memory: its entries, comment and end
// records. Made by the directory reader (DirectoryReader.h) and the recovery scan
// (RecoveryScan.h), kept by the directory manager, written by the directory writer.
#pragma once

#include <cstdint>
#include <string>

#include "DirItem.h"
#include "ZipRecords.h"

namespace zw {

// One archive's central directory as read, or as last written.
struct TZWDirectory {
  TZWDirArray WorkingDirectory;  // the entries, in directory order
  std::string ArchiveComment;
  TZip64Locator Zip64Locator;
  TZip64EndRecord Zip64EndRecord;
  TEndOfCentralDir EndRecord;
  // Size of the leading data (a stub) in front of the first local header.
  uint64_t StartOffset = 0;
  bool HasZip64 = false;
  // Where the central directory read or last written begins; -1 when unknown (the
  // entries were found by scanning local headers).
  int64_t DirectoryStart = -1;
  // Entries the last local-header scan left out (cut off by the end of the file, never
  // completed, or failing their check).
  int32_t DroppedEntries = 0;
};

}  // namespace zw

// Fuzz target: reads a central directory from arbitrary bytes.
//
// Every input must either read cleanly or fail with EZWException or a stream error.
// A directory that was read is written out again and read back; the second reading
// must give the same entries (names, sizes, CRCs, offsets), so what the reader keeps
// is always something the writer can express.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "ArchiverState.h"
#include "DirManager.h"
#include "Exceptions.h"
#include "Streams.h"
#include "ZWExcept.h"
#include "ZipWriter.h"

namespace {

using zw::TDirItem;
using zw::TZWDirManager;

bool SameEntry(const TDirItem& a, const TDirItem& b) {
  return a.FileName == b.FileName && a.FileComment == b.FileComment && a.Crc32 == b.Crc32 &&
         a.CompressionMethod == b.CompressionMethod && a.Flags == b.Flags &&
         a.RealCompressedSize() == b.RealCompressedSize() &&
         a.RealUncompressedSize() == b.RealUncompressedSize() &&
         a.RealLocalHeaderOffset() == b.RealLocalHeaderOffset();
}

// Writes the directory that was read behind the entries' bytes (what lies in front of
// the old directory) and reads it back.
void CheckRoundTrip(zw::TZipWriter& zip, TZWDirManager& first, const uint8_t* data, size_t size) {
  zw::TMemoryStream written;
  size_t kept = first.DirectoryStart >= 0 ? static_cast<size_t>(first.DirectoryStart) : size;
  written.WriteBuffer(data, static_cast<int64_t>(kept));
  first.WriteDirectory(&written);
  TZWDirManager second(&written, zip, false);
  second.ReadDirectory();
  const auto& a = first.WorkingDirectory;
  const auto& b = second.WorkingDirectory;
  if (a.Count() != b.Count() || first.ArchiveComment != second.ArchiveComment) std::abort();
  for (int32_t i = 0; i < a.Count(); ++i)
    if (!SameEntry(a.ItemPtr(i), b.ItemPtr(i))) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  zw::TZipWriter zip;
  // The last byte chooses the name code page, so both decodings are exercised.
  zip.Options().OEMFileNames = size > 0 && (data[size - 1] & 1);
  zw::TReadOnlyMemoryStream input(data, static_cast<int64_t>(size));
  TZWDirManager manager(&input, zip, false);
  try {
    manager.ReadDirectory();
  } catch (const zw::EZWException&) {
    return 0;
  } catch (const zw::EStreamError&) {
    return 0;
  }
  CheckRoundTrip(zip, manager, data, size);
  return 0;
}

// Fuzz target: reads a central directory from arbitrary bytes.
//
// Every input must either read cleanly or fail with EZWException or a stream error.
// A directory that was read is written out again and read back; the second reading
// must give the same entries (names, sizes, CRCs, offsets), so what the reader keeps
// is always something the writer can express.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "DirectoryReader.h"
#include "DirectoryWriter.h"
#include "Exceptions.h"
#include "Streams.h"
#include "ZWExcept.h"

namespace {

using zw::TDirItem;
using zw::TZWDirectory;
using zw::TZWDirReadOptions;

bool SameEntry(const TDirItem& a, const TDirItem& b) {
  return a.FileName == b.FileName && a.FileComment == b.FileComment && a.Crc32 == b.Crc32 &&
         a.CompressionMethod == b.CompressionMethod && a.Flags == b.Flags &&
         a.RealCompressedSize() == b.RealCompressedSize() &&
         a.RealUncompressedSize() == b.RealUncompressedSize() &&
         a.RealLocalHeaderOffset() == b.RealLocalHeaderOffset();
}

// Writes the directory that was read behind the entries' bytes (what lies in front of
// the old directory) and reads it back.
void CheckRoundTrip(const TZWDirReadOptions& options, TZWDirectory& first, const uint8_t* data,
                    size_t size) {
  zw::TMemoryStream written;
  size_t kept = first.DirectoryStart >= 0 ? static_cast<size_t>(first.DirectoryStart) : size;
  written.WriteBuffer(data, static_cast<int64_t>(kept));
  zw::TZWDirWriter(first, options.OemNames).Write(&written);
  TZWDirectory second;
  zw::TZWDirReader(written, options).Read(second);
  const auto& a = first.WorkingDirectory;
  const auto& b = second.WorkingDirectory;
  if (a.Count() != b.Count() || first.ArchiveComment != second.ArchiveComment) std::abort();
  for (int32_t i = 0; i < a.Count(); ++i)
    if (!SameEntry(a.ItemPtr(i), b.ItemPtr(i))) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TZWDirReadOptions options;
  // The last byte chooses the name code page, so both decodings are exercised.
  options.OemNames = size > 0 && (data[size - 1] & 1);
  zw::TReadOnlyMemoryStream input(data, static_cast<int64_t>(size));
  TZWDirectory directory;
  try {
    zw::TZWDirReader(input, options).Read(directory);
  } catch (const zw::EZWException&) {
    return 0;
  } catch (const zw::EStreamError&) {
    return 0;
  }
  CheckRoundTrip(options, directory, data, size);
  return 0;
}

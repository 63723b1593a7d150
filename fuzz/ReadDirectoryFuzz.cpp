// Fuzz target: reads a central directory from arbitrary bytes, then tests and
// extracts its entries.
//
// Every input must either read cleanly or fail with EZWException or a stream error.
// A directory that was read is written out again and read back; the second reading
// must give the same entries (names, sizes, CRCs, offsets), so what the reader keeps
// is always something the writer can express. The archive is then opened from an
// in-memory file system, every entry tested and extracted into one folder there:
// each problem must be an entry's outcome, and no file may appear outside that folder.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "DirectoryReader.h"
#include "DirectoryWriter.h"
#include "Exceptions.h"
#include "MemFileSystem.h"
#include "Restore.h"
#include "Streams.h"
#include "ZWExcept.h"
#include "ZipWriter.h"

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

// Inputs whose entries claim more than this in all are tested and extracted only up
// to what they hold: a deflate bomb repeated over overlapping entries would otherwise
// spend the fuzzer's time and memory on nothing new.
constexpr uint64_t kMaxClaimedBytes = 64ull << 20;

uint64_t ClaimedBytes(const zw::TZipWriter& zip) {
  uint64_t total = 0;
  for (const zw::TZWListedEntry& entry : zip.Listing().Entries) total += entry.UncompressedSize;
  return total;
}

void CheckTestAndExtract(const uint8_t* data, size_t size) {
  zw::MemFileSystem mem;
  if (!mem.WriteWholeFile("C:\\in.zip", std::string(reinterpret_cast<const char*>(data), size)))
    std::abort();
  mem.CreateDirectory("C:\\out");
  zw::TZipWriter zip;
  zip.SetFileSystem(&mem);
  zip.Options().OverwriteMode = zw::omAlways;
  // Volumes are found as the default handlers find them, without asking anybody.
  auto present = [&mem](std::string& name, bool& cancel) { cancel = !mem.FileExists(name); };
  zip.OnRequestFirstVolume = [&](zw::TZWBaseArchiver*, std::string& n, bool& c) { present(n, c); };
  zip.OnRequestLastVolume = [&](zw::TZWBaseArchiver*, std::string& n, bool& c) { present(n, c); };
  zip.OnRequestMiddleVolume = [&](zw::TZWBaseArchiver*, int32_t, std::string& n, bool& c) {
    present(n, c);
  };
  zip.OnPassword = [](zw::TZWBaseArchiver*, const std::string&, std::string& p, bool&) {
    p = "password";
  };
  zip.SetFileName("C:\\in.zip");
  try {
    zip.OpenArchiveFileWithMode(64);
    if (ClaimedBytes(zip) > kMaxClaimedBytes) return;
    zw::TZWRestorer restorer(zip);
    zw::TZWRestoreTotals tested = restorer.Test();
    zw::TZWRestoreTotals extracted = restorer.Extract("C:\\out");
    if (tested.Selected != extracted.Selected) std::abort();
  } catch (const zw::EZWException&) {
    return;
  } catch (const zw::EStreamError&) {
    return;
  }
  zip.CloseArchiveFile();
  for (const std::string& path : mem.AllFiles())
    if (path != "/C/in.zip" && path.rfind("/C/out/", 0) != 0) std::abort();
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
  CheckTestAndExtract(data, size);
  return 0;
}

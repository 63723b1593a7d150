// Helper of the restore benchmark (run.sh): the bare zlib loop that testing an
// archive is measured against.
//
//   bare_inflate ARCHIVE
//       Reads the central directory of ARCHIVE (single file, no Zip64 records), then
//       for every entry in directory order reads its local header and inflates its
//       deflated data (or copies stored data) in chunks of 256 KiB through one reused
//       raw inflate stream, computing the CRC-32, and compares it with the stored one.
//       Nothing is written. Exits 1 when an entry does not check out.
#include <zlib.h>

#include <cstdint>
#include <cstdio>
#include <algorithm>
#include <cstring>
#include <vector>

namespace {

constexpr size_t kChunk = 256 * 1024;

uint32_t U32(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | uint32_t{p[3]} << 24; }
uint16_t U16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }

struct Entry {
  uint16_t method;
  uint32_t crc, compressed, size, offset;
};

bool ReadAt(std::FILE* f, long at, void* out, size_t n) {
  return std::fseek(f, at, SEEK_SET) == 0 && std::fread(out, 1, n, f) == n;
}

std::vector<Entry> Directory(std::FILE* f) {
  std::fseek(f, 0, SEEK_END);
  long size = std::ftell(f);
  std::vector<uint8_t> tail(static_cast<size_t>(std::min<long>(size, 65557)));
  ReadAt(f, size - static_cast<long>(tail.size()), tail.data(), tail.size());
  std::vector<Entry> entries;
  for (size_t i = tail.size() - 22 + 1; i-- > 0;) {
    if (U32(&tail[i]) != 0x06054B50) continue;
    uint32_t dirSize = U32(&tail[i + 12]), dirOffset = U32(&tail[i + 16]);
    std::vector<uint8_t> dir(dirSize);
    if (!ReadAt(f, dirOffset, dir.data(), dir.size())) return entries;
    for (size_t at = 0; at + 46 <= dir.size();) {
      const uint8_t* h = &dir[at];
      entries.push_back({U16(h + 10), U32(h + 16), U32(h + 20), U32(h + 24), U32(h + 42)});
      at += 46 + U16(h + 28) + U16(h + 30) + U16(h + 32);
    }
    break;
  }
  return entries;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  std::FILE* f = std::fopen(argv[1], "rb");
  if (!f) return 2;
  std::vector<uint8_t> in(kChunk), out(kChunk);
  z_stream zs{};
  inflateInit2(&zs, -MAX_WBITS);
  int bad = 0;
  for (const Entry& e : Directory(f)) {
    uint8_t header[30];
    if (!ReadAt(f, e.offset, header, sizeof header)) return 1;
    std::fseek(f, e.offset + 30 + U16(header + 26) + U16(header + 28), SEEK_SET);
    uLong crc = crc32(0, nullptr, 0);
    inflateReset(&zs);
    for (uint32_t left = e.compressed; left > 0;) {
      size_t n = std::fread(in.data(), 1, std::min<size_t>(left, kChunk), f);
      if (n == 0) return 1;
      left -= static_cast<uint32_t>(n);
      if (e.method == 0) {
        crc = crc32(crc, in.data(), static_cast<uInt>(n));
        continue;
      }
      zs.next_in = in.data();
      zs.avail_in = static_cast<uInt>(n);
      do {
        zs.next_out = out.data();
        zs.avail_out = static_cast<uInt>(out.size());
        if (inflate(&zs, Z_NO_FLUSH) < 0) return 1;
        crc = crc32(crc, out.data(), static_cast<uInt>(out.size() - zs.avail_out));
      } while (zs.avail_out == 0);
    }
    bad += static_cast<uint32_t>(crc) != e.crc;
  }
  inflateEnd(&zs);
  std::fclose(f);
  return bad == 0 ? 0 : 1;
}

// Compression throughput: CompressEntry against a bare zlib loop doing the same work.
//
//   compress_bench [MEGABYTES=300] [RUNS=5] [MODE=1] [THREADS=1]
//
// Writes MEGABYTES of deterministic record-like text to a temporary file, then
// compresses it RUNS times through CompressEntry (file stream in, counting sink out)
// and RUNS times through a bare loop: one raw deflate stream per file (no zlib header or
// Adler-32, as in an archive), chunks of the mode's
// buffer size (512 KiB at mode 1) read from the file, crc32 over each chunk,
// Z_SYNC_FLUSH for every chunk but the last and Z_FINISH for the last. Prints the
// median time of each and their ratio (CompressEntry / bare loop). THREADS above 1
// deflates the chunks on that many threads (0: every core), against the same one-thread loop.
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "Compress.h"
#include "DirItem.h"
#include "Streams.h"
#include "ZipWriter.h"

namespace {

using Clock = std::chrono::steady_clock;

// Lines like a member register export: number, names, address, dates, amounts.
void WriteRecords(const std::string& path, int64_t bytes) {
  static const char* const kNames[] = {"SMITH",  "JOHNSON", "MILLER", "BERG",   "OLSEN",
                                       "HANSEN", "LARSEN",  "PETERS", "KRAUSE", "WEBER"};
  static const char* const kStreets[] = {"CHURCH ST", "MAIN ST", "MILL RD", "OAK AVE", "LAKE DR"};
  FILE* out = std::fopen(path.c_str(), "wb");
  if (!out) std::exit(2);
  uint32_t x = 12345;
  auto next = [&] { return x = x * 1664525u + 1013904223u; };
  char line[256];
  for (int64_t written = 0, n = 0; written < bytes; ++n) {
    int length =
        std::snprintf(line, sizeof line, "%08lld;%s;%s;%u %s;%05u;%04u-%02u-%02u;%u.%02u\r\n",
                      static_cast<long long>(n), kNames[next() % 10], kNames[next() % 10],
                      next() % 999 + 1, kStreets[next() % 5], next() % 99999, 1930 + next() % 90,
                      next() % 12 + 1, next() % 28 + 1, next() % 5000, next() % 100);
    length = static_cast<int>(std::min<int64_t>(length, bytes - written));
    std::fwrite(line, 1, static_cast<size_t>(length), out);
    written += length;
  }
  std::fclose(out);
}

class CountingSink : public zw::TStream {
 public:
  int64_t Read(void*, int64_t) override { return 0; }
  int64_t Write(const void*, int64_t count) override {
    written += count;
    return count;
  }
  int64_t Seek(int64_t, zw::SeekOrigin) override { return written; }
  void SetSize(int64_t) override {}
  int64_t GetSize() override { return written; }
  int64_t written = 0;
};

double RunEngine(zw::TZipWriter& zip, const std::string& path, int mode, int64_t& out) {
  auto start = Clock::now();
  zw::TFileStream source(path, zw::FileMode::fmOpenRead | zw::FileMode::fmShareDenyNone);
  CountingSink sink;
  zw::TDirItem item;
  item.FileName = "records.txt";
  item.CompressionMode = static_cast<uint8_t>(mode);
  item.CompressionMethod = mode ? 8 : 0;
  zw::CompressEntry(zip, source, sink, item);
  out = sink.written;
  return std::chrono::duration<double>(Clock::now() - start).count();
}

double RunBare(const std::string& path, int mode, int64_t size, int64_t& out) {
  auto start = Clock::now();
  FILE* in = std::fopen(path.c_str(), "rb");
  size_t chunk = zw::CompressionBufferSize(mode);
  std::vector<unsigned char> input(chunk), output(chunk + chunk / 10 + 12 + 256);
  z_stream zs{};
  deflateInit2(&zs, mode, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
  uLong crc = crc32(0, nullptr, 0);
  out = 0;
  for (int64_t done = 0; done < size;) {
    size_t n =
        std::fread(input.data(), 1, static_cast<size_t>(std::min<int64_t>(chunk, size - done)), in);
    if (n == 0) break;
    crc = crc32(crc, input.data(), static_cast<uInt>(n));
    done += static_cast<int64_t>(n);
    zs.next_in = input.data();
    zs.avail_in = static_cast<uInt>(n);
    zs.next_out = output.data();
    zs.avail_out = static_cast<uInt>(output.size());
    deflate(&zs, done == size ? Z_FINISH : Z_SYNC_FLUSH);
    out += static_cast<int64_t>(output.size() - zs.avail_out);
  }
  deflateEnd(&zs);
  std::fclose(in);
  if (crc == 0) std::puts("");  // keep the CRC work
  return std::chrono::duration<double>(Clock::now() - start).count();
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  int64_t megabytes = argc > 1 ? std::atoll(argv[1]) : 300;
  int runs = argc > 2 ? std::atoi(argv[2]) : 5;
  int mode = argc > 3 ? std::atoi(argv[3]) : 1;
  int threads = argc > 4 ? std::atoi(argv[4]) : 1;
  int64_t size = megabytes * 1000 * 1000;
  std::string path = "/tmp/zw_compress_bench_" + std::to_string(size) + ".txt";
  WriteRecords(path, size);
  zw::TZipWriter zip;
  zip.SetThreads(threads);
  std::vector<double> engine, bare;
  int64_t engineOut = 0, bareOut = 0;
  for (int i = 0; i < runs; ++i) {  // alternating, so both meet the same conditions
    engine.push_back(RunEngine(zip, path, mode, engineOut));
    bare.push_back(RunBare(path, mode, size, bareOut));
  }
  double e = Median(engine), b = Median(bare);
  std::printf("source %lld bytes, mode %d, %d runs each\n", static_cast<long long>(size), mode,
              runs);
  std::printf("CompressEntry: median %.3f s (%.1f MB/s), %lld bytes out\n", e, size / e / 1e6,
              static_cast<long long>(engineOut));
  std::printf("bare zlib loop: median %.3f s (%.1f MB/s), %lld bytes out\n", b, size / b / 1e6,
              static_cast<long long>(bareOut));
  std::printf("ratio CompressEntry / bare loop: %.3f\n", e / b);
  std::remove(path.c_str());
  return 0;
}

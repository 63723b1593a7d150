// Helper of the component benchmark (run.sh).
//
//   zw_bench deflate [--fresh] [--level N] OUT DIR
//       The bare zlib loop the archive component is measured against: every file of
//       DIR (sorted by name) is read in chunks of 512 KiB (1 MiB at levels 4-6,
//       1.5 MiB at 7-9, as the component cuts them), each chunk deflated at
//       level N (default 1) into a raw stream with one call (Z_SYNC_FLUSH, the last Z_FINISH) and
//       checked with CRC-32, and written to OUT after a 30-byte header and the name, as an archive
//       would hold it. The stream and buffers are reused across files (deflateReset)
//       unless --fresh asks for a new stream per file.
//   zw_bench run CMD ARGS...
//       Runs a command and prints "seconds peak_kib written_bytes read_bytes
//       cpu_seconds" on stderr's last line: wall time, peak resident memory, the
//       bytes the command passed to write() and read() (all files, temporary ones
//       included), and its user plus system time.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

// The component's chunk size at each level.
size_t ChunkSize(int level) {
  if (level >= 1 && level <= 3) return 512 * 1024;
  if (level >= 7 && level <= 9) return 1536 * 1024;
  return 1024 * 1024;
}

class BareLoop {
 public:
  BareLoop(bool fresh, int level)
      : fresh_(fresh),
        level_(level),
        chunk_(ChunkSize(level)),
        input_(chunk_),
        output_(chunk_ + chunk_ / 10 + 64) {}
  ~BareLoop() {
    if (initialised_) deflateEnd(&zs_);
  }

  bool AddFile(const std::filesystem::path& path, std::FILE* out) {
    std::FILE* in = std::fopen(path.c_str(), "rb");
    if (!in) return false;
    std::string name = path.filename().string();
    unsigned char header[30] = {'P', 'K', 3, 4};
    std::fwrite(header, 1, sizeof header, out);
    std::fwrite(name.data(), 1, name.size(), out);
    Start();
    uint32_t crc = 0;
    uint64_t size = std::filesystem::file_size(path), done = 0;
    while (done < size || size == 0) {
      size_t n = std::fread(input_.data(), 1, chunk_, in);
      done += n;
      bool last = done >= size;
      crc = static_cast<uint32_t>(crc32(crc, input_.data(), static_cast<uInt>(n)));
      zs_.next_in = input_.data();
      zs_.avail_in = static_cast<uInt>(n);
      zs_.next_out = output_.data();
      zs_.avail_out = static_cast<uInt>(output_.size());
      deflate(&zs_, last ? Z_FINISH : Z_SYNC_FLUSH);
      // A raw stream: every byte produced is entry data, as in the archive.
      std::fwrite(output_.data(), 1, output_.size() - zs_.avail_out, out);
      if (last || n == 0) break;
    }
    std::fwrite(&crc, sizeof crc, 1, out);
    std::fclose(in);
    return true;
  }

 private:
  void Start() {
    if (initialised_ && !fresh_) {
      deflateReset(&zs_);
      return;
    }
    if (initialised_) deflateEnd(&zs_);
    std::memset(&zs_, 0, sizeof zs_);
    deflateInit2(&zs_, level_, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
    initialised_ = true;
  }
  bool fresh_;
  int level_;
  size_t chunk_;
  bool initialised_ = false;
  z_stream zs_{};
  std::vector<unsigned char> input_, output_;
};

int Deflate(int argc, char** argv) {
  bool fresh = false;
  int i = 2;
  int level = 1;
  if (i < argc && std::strcmp(argv[i], "--fresh") == 0) fresh = true, ++i;
  if (i + 1 < argc && std::strcmp(argv[i], "--level") == 0) level = std::atoi(argv[i + 1]), i += 2;
  if (argc - i != 2 || level < 1 || level > 9)
    return std::fprintf(stderr, "usage: zw_bench deflate [--fresh] [--level N] OUT DIR\n"), 2;
  std::vector<std::filesystem::path> files;
  for (const auto& e : std::filesystem::directory_iterator(argv[i + 1]))
    if (e.is_regular_file()) files.push_back(e.path());
  std::sort(files.begin(), files.end());
  std::FILE* out = std::fopen(argv[i], "wb");
  if (!out) return std::perror(argv[i]), 1;
  BareLoop loop(fresh, level);
  for (const auto& f : files)
    if (!loop.AddFile(f, out)) return std::perror(f.c_str()), 1;
  std::fclose(out);
  return 0;
}

long long IoField(const std::string& text, const char* key) {
  size_t at = text.find(key);
  return at == std::string::npos ? -1 : std::atoll(text.c_str() + at + std::strlen(key));
}

int Run(int argc, char** argv) {
  if (argc < 3) return std::fprintf(stderr, "usage: zw_bench run CMD ARGS...\n"), 2;
  auto start = std::chrono::steady_clock::now();
  pid_t pid = fork();
  if (pid == 0) {
    execvp(argv[2], argv + 2);
    std::perror(argv[2]);
    _exit(127);
  }
  // Wait without reaping, so the child's I/O counters can still be read.
  siginfo_t info{};
  waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOWAIT);
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::ifstream io("/proc/" + std::to_string(pid) + "/io");
  std::string text((std::istreambuf_iterator<char>(io)), std::istreambuf_iterator<char>());
  int status = 0;
  struct rusage usage {};
  wait4(pid, &status, 0, &usage);
  double cpu = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
               static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
  std::fprintf(stderr, "%.3f %ld %lld %lld %.3f\n", seconds, usage.ru_maxrss,
               IoField(text, "wchar: "), IoField(text, "rchar: "), cpu);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 2 && std::strcmp(argv[1], "deflate") == 0) return Deflate(argc, argv);
  if (argc >= 2 && std::strcmp(argv[1], "run") == 0) return Run(argc, argv);
  std::fprintf(stderr,
               "usage: zw_bench deflate [--fresh] [--level N] OUT DIR | zw_bench run CMD...\n");
  return 2;
}

// A fresh host folder for one test, removed with everything in it afterwards.
#pragma once

#include <cstdint>
#include <string>

namespace zw::test {

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  // Host path of the folder ("/tmp/zwtest-XXXXXX"), and of a name inside it.
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

  // Writes a file (folders on the way are created); returns its host path.
  std::string Write(const std::string& name, const std::string& bytes) const;
  std::string Read(const std::string& name) const;

 private:
  std::string path_;
};

// Whole content of a host file ("" when it cannot be read).
std::string ReadHostFile(const std::string& path);
void WriteHostFile(const std::string& path, const std::string& bytes);
// Runs a shell command; returns its exit status and fills `output` with stdout+stderr.
int RunCommand(const std::string& command, std::string* output = nullptr);
// `text` as one shell word (single-quoted).
std::string ShellQuote(const std::string& text);
// Deterministic pseudo-random bytes.
std::string RandomBytes(size_t count, uint32_t seed);

}  // namespace zw::test

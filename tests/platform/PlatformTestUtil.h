// Shared pieces of the platform tests: readable error codes in failure messages and
// the two real providers set up with a folder to work in.
#pragma once

#include <sys/stat.h>

#include <cctype>
#include <memory>
#include <ostream>
#include <string>

#include "FileSystem.h"
#include "LinuxFileSystem.h"
#include "MemFileSystem.h"
#include "ScopedEnv.h"
#include "TempDir.h"

namespace zw {

// GoogleTest prints enum classes as raw bytes otherwise.
inline void PrintTo(OsErrorCode code, std::ostream* os) { *os << static_cast<int>(code); }

namespace test {

// A provider with a drive to put files on. Names given to the helpers are file
// names on that drive; PathOf gives the Windows-style path the services take.
class ProviderEnv {
 public:
  virtual ~ProviderEnv() = default;
  virtual FileSystem& fs() = 0;
  virtual std::string PathOf(const std::string& name) = 0;
  virtual void Put(const std::string& name, const std::string& bytes) = 0;
  virtual std::string Content(const std::string& name) = 0;
  virtual void MakeReadOnly(const std::string& name) = 0;
};

// The real provider with drive S: mapped to a fresh temporary folder.
class LinuxEnv : public ProviderEnv {
 public:
  LinuxEnv() : drive_("ZW_DRIVE_S", dir_.path()) {}
  FileSystem& fs() override { return fs_; }
  std::string PathOf(const std::string& name) override { return "S:\\" + name; }
  void Put(const std::string& name, const std::string& bytes) override { dir_.Write(name, bytes); }
  std::string Content(const std::string& name) override { return dir_.Read(name); }
  void MakeReadOnly(const std::string& name) override { chmod((dir_ / name).c_str(), 0444); }
  const TempDir& dir() const { return dir_; }

 private:
  TempDir dir_;
  ScopedEnv drive_;
  LinuxFileSystem fs_;
};

class MemEnv : public ProviderEnv {
 public:
  FileSystem& fs() override { return fs_; }
  std::string PathOf(const std::string& name) override { return "C:\\" + name; }
  void Put(const std::string& name, const std::string& bytes) override {
    fs_.WriteWholeFile(PathOf(name), bytes);
  }
  std::string Content(const std::string& name) override {
    return fs_.ReadWholeFile(PathOf(name)).value_or("<missing>");
  }
  void MakeReadOnly(const std::string& name) override { fs_.SetReadOnly(PathOf(name), true); }
  MemFileSystem& mem() { return fs_; }

 private:
  MemFileSystem fs_;
};

// True for "<folder><prefix><four upper-case hex digits>.tmp". (std::regex trips
// GCC's uninitialised-use warning under the sanitizers, hence by hand.)
inline bool IsTempName(const std::string& path, const std::string& folderAndPrefix) {
  if (path.size() != folderAndPrefix.size() + 8 || path.rfind(folderAndPrefix, 0) != 0)
    return false;
  for (size_t i = folderAndPrefix.size(); i < folderAndPrefix.size() + 4; ++i)
    if (!std::isdigit(static_cast<unsigned char>(path[i])) && (path[i] < 'A' || path[i] > 'F'))
      return false;
  return path.compare(path.size() - 4, 4, ".tmp") == 0;
}

inline std::unique_ptr<ProviderEnv> MakeEnv(const std::string& kind) {
  if (kind == "Linux") return std::make_unique<LinuxEnv>();
  return std::make_unique<MemEnv>();
}

}  // namespace test
}  // namespace zw

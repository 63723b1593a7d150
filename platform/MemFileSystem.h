// An in-memory provider of the file system services, for tests.
//
// Keeps the contract of FileSystem (sharing modes between its handles, read-only
// attribute, no delete or rename of an open file) without touching the disk. Host
// paths are case-sensitive, as on Linux. Drive letters map to folders "/A" ... "/Z"
// unless mapped elsewhere or removed with UnmapDrive. A capacity can be set for a
// folder: files below it then count against it, writes beyond it fail with
// kDiskFull, and GetFreeSpace reports what is left (a small "disk").
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "FileSystem.h"

namespace zw {

class MemFileSystem : public FileSystem {
 public:
  MemFileSystem();
  ~MemFileSystem() override;

  // Set-up helpers (paths are Windows-style, as for every other operation).
  void MapDrive(char letter, const std::string& hostFolder);
  void UnmapDrive(char letter);
  void SetDriveType(char letter, DriveType type);
  bool WriteWholeFile(const std::string& path, const std::string& bytes);
  std::optional<std::string> ReadWholeFile(const std::string& path);
  bool SetReadOnly(const std::string& path, bool readOnly);
  bool SetFileDate(const std::string& path, int32_t dosDateTime);
  bool SetHidden(const std::string& path, bool hidden);
  void SetCapacity(const std::string& folder, int64_t bytes);
  // Every file path currently held (host form), sorted.
  std::vector<std::string> AllFiles();

  std::unique_ptr<FileHandle> Open(const std::string& path, uint16_t mode) override;
  bool FileExists(const std::string& path) override;
  bool DirectoryExists(const std::string& path) override;
  int32_t GetAttributes(const std::string& path) override;
  bool GetFileDate(const std::string& path, int32_t& dosDateTime) override;
  bool DeleteFile(const std::string& path) override;
  bool RenameFile(const std::string& from, const std::string& to) override;
  bool SyncFolderOf(const std::string& path) override;
  bool CreateDirectory(const std::string& path) override;
  bool RemoveDirectory(const std::string& path) override;
  bool FindFiles(const std::string& pattern, int32_t attrMask,
                 std::vector<TSearchRec>& out) override;
  std::string GetCurrentDir() override;
  bool SetCurrentDir(const std::string& path) override;
  std::string GetTempDir() override;
  bool CreateTempFile(const std::string& dir, const std::string& prefix,
                      std::string& path) override;
  int64_t GetFreeSpace(const std::string& path) override;
  DriveType GetDriveType(const std::string& root) override;
  bool SetVolumeLabel(const std::string& root, const std::string& label) override;
  OsError LastError() const override;
  // Labels set through SetVolumeLabel, by drive letter.
  std::map<char, std::string> Labels();

  struct State;  // shared with the handles

 private:
  bool ToHost(const std::string& path, std::string& host);
  std::shared_ptr<State> state_;
};

}  // namespace zw

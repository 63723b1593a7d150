// An in-memory provider of the file system services, for tests.
//
// Keeps the contract of FileSystem (sharing modes between its handles, read-only
// attribute, no delete or rename of an open file) without touching the disk. Host
// paths are case-sensitive, as on Linux. Drive letters map to folders "/A" ... "/Z"
// unless mapped elsewhere or removed with UnmapDrive. A capacity can be set for a
// folder: files below it then count against it, writes beyond it fail with
// kDiskFull, and GetFreeSpace reports what is left (a small "disk").
//
// Crash model (what survives `SimulatePowerCut`), as on a journalling disk:
//   - A file's bytes are durable as of the last FileHandle::Flush on any handle of
//     it. A new file has no durable bytes; emptying a file with fmCreate is lost
//     like any other change until a Flush.
//   - File names (creation, deletion, rename) are durable as of the last
//     SyncFolderOf for a path in their folder. At a power cut a file created since
//     then disappears, a deleted one comes back, and a rename is undone: the source
//     name comes back and the target name holds what it held before (nothing, or
//     the file it replaced).
//   - Bytes belong to the file, names to the folder: a file flushed under a new name
//     and then given back its durable name by the cut keeps the flushed bytes.
//   - Not modelled, durable at once: folders (creating and removing them; a folder
//     that must hold a file that comes back is made again), attributes and dates.
//   - After a cut every handle opened before it is stale: its operations fail with
//     kInvalidHandle and its sharing no longer binds; destroying it is safe.
// The set-up helper WriteWholeFile makes its file durable at once (bytes and name),
// so initial contents survive cuts without a sync; MarkAllDurable does that for
// everything present.
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
  // Creates or replaces the file; on success its bytes and name are durable.
  bool WriteWholeFile(const std::string& path, const std::string& bytes);
  std::optional<std::string> ReadWholeFile(const std::string& path);
  bool SetReadOnly(const std::string& path, bool readOnly) override;
  bool SetFileDate(const std::string& path, int32_t dosDateTime) override;
  bool SetHidden(const std::string& path, bool hidden);
  void SetCapacity(const std::string& folder, int64_t bytes);
  // Every file path currently held (host form), sorted.
  std::vector<std::string> AllFiles();
  // Everything present now is durable: bytes and names (set-up after writing files
  // through handles).
  void MarkAllDurable();
  // Every file goes back to its durable state (see above) and every open handle
  // becomes stale, as after losing power and restarting.
  void SimulatePowerCut();

  std::unique_ptr<FileHandle> Open(const std::string& path, uint16_t mode) override;
  bool FileExists(const std::string& path) override;
  bool DirectoryExists(const std::string& path) override;
  int32_t GetAttributes(const std::string& path) override;
  bool GetFileDate(const std::string& path, int32_t& dosDateTime) override;
  bool DeleteFile(const std::string& path) override;
  bool RenameFile(const std::string& from, const std::string& to) override;
  bool ReplaceFile(const std::string& from, const std::string& to) override;
  bool IsSymbolicLink(const std::string&) override { return false; }  // no links here
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

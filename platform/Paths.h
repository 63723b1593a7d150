// Windows-style path texts on any host.
//
// Both "\" and "/" separate. Forms recognised:
//   "C:\dir\name"   drive path (drive letters map to host folders, see HostPathWithDrives)
//   "C:name"        drive-relative; taken as "C:\name"
//   "\dir\name"     rooted: absolute on the host ("/dir/name")
//   "\\srv\share\x" UNC
//   anything else   relative to a current directory
// Expanded paths use "\" throughout, resolve "." and "..", and never climb above
// their root. All functions here are pure text operations unless they take a
// FileSystem (for its current directory).
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace zw {

class FileSystem;

inline bool IsPathDelimiter(char c) { return c == '\\' || c == '/'; }

// A drive is one ASCII letter and a colon at the very start; a colon anywhere else is
// part of a name (Linux allows it, and "p/a:b" must not lose "p/a").
bool StartsWithDrive(std::string_view path);

// "C:" for a drive path, "\\srv\share" for a UNC path, "" otherwise.
std::string ExtractFileDrive(std::string_view path);
// Text after the last separator or the drive's colon.
std::string ExtractFileName(std::string_view path);
// Text up to and including the last separator or the drive's colon.
std::string ExtractFilePath(std::string_view path);
// ExtractFilePath without its trailing separator, except for a root ("C:\", "\").
std::string ExtractFileDir(std::string_view path);
// From the last "." of the file-name part (with the dot); "" when there is none.
std::string ExtractFileExt(std::string_view path);
std::string ChangeFileExt(std::string_view path, std::string_view ext);
std::string IncludeTrailingPathDelimiter(std::string_view path);
std::string ExcludeTrailingPathDelimiter(std::string_view path);

// True for drive paths with a separator after the colon, rooted and UNC paths.
bool IsAbsolutePath(std::string_view path);

// Absolute form of `path`, relative paths taken against `currentDir` (itself absolute).
// A trailing separator is kept.
std::string ExpandFileNameIn(std::string_view path, std::string_view currentDir);
// Absolute form against the current directory of `fs`.
std::string ExpandFileName(FileSystem& fs, std::string_view path);

// Host path for an expanded Windows-style path: drive X maps to the host folder that
// `driveFolder(X)` gives (nullopt: the drive does not exist), a rooted path maps to
// itself with "/" separators. UNC paths have no host form.
std::optional<std::string> HostPathWithDrives(std::string_view absolutePath,
                                              std::optional<std::string> (*driveFolder)(char));

// Drive folders from the environment: ZW_DRIVE_A ... ZW_DRIVE_Z.
std::optional<std::string> DriveFolderFromEnvironment(char driveLetter);

// Host path ("/a/b") to the rooted Windows-style form ("\a\b").
std::string FromHostPath(std::string_view hostPath);

}  // namespace zw

// Path functions of the component, on Windows-style path texts ("\" and "/" both
// separate). They read the file system's current directory; none changes it.
#pragma once

#include <string>

#include "ZWTypes.h"

namespace zw {

class FileSystem;

// `directory` resolved to an absolute folder without trailing separator (except at a
// root); the current directory when empty. A text that begins with a drive, or names
// a folder that does not exist, is returned unchanged.
std::string ResolveDirectory(FileSystem& fs, const std::string& directory);
// `path` made absolute as if `directory` (or the current directory when empty) were
// the current directory.
std::string ExpandInDirectory(FileSystem& fs, const std::string& directory,
                              const std::string& path);
// `path` relative to the folder `base` (folder names compared without regard to
// case): common leading folders dropped, "..\" for each folder of base left over.
std::string RelativePath(const std::string& base, const std::string& path);
// The name under which a file is stored ("/" separators), by StorePath mode.
std::string MakeStoredName(FileSystem& fs, const std::string& diskPath, const std::string& baseDir,
                           TZWStorePathMode mode);
// The same with the base already resolved (ResolveDirectory): a search that stores
// many names resolves its base once instead of asking the file system per name.
std::string MakeStoredNameInResolved(FileSystem& fs, const std::string& diskPath,
                                     const std::string& resolvedBase, TZWStorePathMode mode);

struct ExpandedMask {
  std::string pattern;
  bool relative = false;
};
// The full search pattern of a mask: relative masks are joined to `directory`; a mask
// that begins with a single separator or a drive, or climbs with "..\" is
// taken as it stands.
ExpandedMask ExpandMask(FileSystem& fs, const std::string& mask, const std::string& directory);
// Whether a disk path matches an exclusion or no-compression mask.
bool PathMatchesMask(FileSystem& fs, const std::string& path, const std::string& mask,
                     bool isDirectory);

}  // namespace zw

#include "ZWStrFunc.h"

#include <algorithm>
#include <vector>

#include "CodePage.h"
#include "FileSystem.h"
#include "Paths.h"
#include "ZWMasks.h"

namespace zw {

namespace {

std::vector<std::string> Components(const std::string& path) {
  std::vector<std::string> parts;
  std::string current;
  for (char c : path) {
    if (IsPathDelimiter(c)) {
      if (!current.empty()) parts.push_back(current);
      current.clear();
    } else {
      current += c;
    }
  }
  if (!current.empty()) parts.push_back(current);
  return parts;
}

bool HasDelimiter(const std::string& text) {
  return text.find('\\') != std::string::npos || text.find('/') != std::string::npos;
}

// Index where the stored name of a full path begins: after its drive, or after a UNC
// server.
size_t NameStart(const std::string& text, bool& empty) {
  empty = false;
  size_t start = 0;
  if (StartsWithDrive(text)) {
    start = 2;
    if (start >= text.size()) empty = true;
  } else {
    for (size_t i = 0; i + 1 < text.size(); ++i) {
      if (IsPathDelimiter(text[i]) && IsPathDelimiter(text[i + 1])) {
        size_t j = i + 2;
        while (j < text.size() && !IsPathDelimiter(text[j])) ++j;
        start = j < text.size() ? j + 1 : j;
        break;
      }
    }
  }
  if (start < text.size() && IsPathDelimiter(text[start])) ++start;
  return start;
}

}  // namespace

std::string ResolveDirectory(FileSystem& fs, const std::string& directory) {
  if (StartsWithDrive(directory)) return directory;
  std::string d = directory.empty() ? fs.GetCurrentDir() : IncludeTrailingPathDelimiter(directory);
  if (!directory.empty() && !fs.DirectoryExists(d)) return directory;
  std::string full = ExpandFileName(fs, d);
  if (full.size() > 1 && IsPathDelimiter(full.back()) &&
      !(full.size() == 3 && StartsWithDrive(full)))
    full.pop_back();
  return full;
}

std::string ExpandInDirectory(FileSystem& fs, const std::string& directory,
                              const std::string& path) {
  std::string base = directory.empty() ? fs.GetCurrentDir() : ExpandFileName(fs, directory);
  return ExpandFileNameIn(path, base);
}

std::string RelativePath(const std::string& base, const std::string& path) {
  std::vector<std::string> b = Components(base), p = Components(path);
  std::string baseDrive = ExtractFileDrive(base), pathDrive = ExtractFileDrive(path);
  if (!AnsiSameText(baseDrive, pathDrive)) return path;
  size_t common = 0;
  while (common < b.size() && common + 1 < p.size() && AnsiSameText(b[common], p[common])) ++common;
  std::string out;
  for (size_t i = common; i < b.size(); ++i) out += "..\\";
  for (size_t i = common; i < p.size(); ++i) out += p[i] + (i + 1 < p.size() ? "\\" : "");
  return out;
}

std::string MakeStoredName(FileSystem& fs, const std::string& diskPath, const std::string& baseDir,
                           TZWStorePathMode mode) {
  return MakeStoredNameInResolved(fs, diskPath, ResolveDirectory(fs, baseDir), mode);
}

std::string MakeStoredNameInResolved(FileSystem& fs, const std::string& diskPath,
                                     const std::string& base, TZWStorePathMode mode) {
  std::string full = ExpandInDirectory(fs, base, diskPath);
  if (!full.empty() && IsPathDelimiter(full.back())) full.pop_back();
  if (!full.empty() && full.back() == '.') full.pop_back();
  std::string text;
  // Only a full path has a drive or server to drop: a name or relative path that
  // begins with "b:" is a file's own name.
  bool rooted = false;
  switch (mode) {
    case spNoPath:
      text = ExtractFileName(full);
      break;
    case spRelativePath: {
      std::string relative = RelativePath(base, full);
      bool climbs =
          relative.find("..\\") != std::string::npos || relative.find("../") != std::string::npos;
      rooted = climbs || !AnsiSameText(ExtractFileDrive(base), ExtractFileDrive(full));
      text = rooted ? full : relative;
      break;
    }
    case spFullPath:
      text = full;
      rooted = true;
      break;
    case spFullPathWithDrive:
      text = ExpandFileName(fs, full);
      break;
  }
  if (rooted) {
    bool empty = false;
    size_t start = NameStart(text, empty);
    text = empty ? std::string() : text.substr(std::min(start, text.size()));
  }
  std::replace(text.begin(), text.end(), '\\', '/');
  return text;
}

ExpandedMask ExpandMask(FileSystem& fs, const std::string& mask, const std::string& directory) {
  if (mask.empty()) return {};
  if (IsPathDelimiter(mask[0])) {
    if (mask.size() == 1) return {ResolveDirectory(fs, directory), false};
    return {mask, false};  // UNC, or rooted: it names that path
  }
  if (StartsWithDrive(mask) || mask.find("..\\") != std::string::npos ||
      mask.find("../") != std::string::npos)
    return {mask, false};
  return {IncludeTrailingPathDelimiter(ResolveDirectory(fs, directory)) + mask, true};
}

bool PathMatchesMask(FileSystem& fs, const std::string& path, const std::string& mask,
                     bool isDirectory) {
  if (mask == "*.*") return true;
  if (mask.empty()) return false;
  std::string p = path, m = mask;
  if (isDirectory) {
    p = IncludeTrailingPathDelimiter(p);
    if (m.back() != '*') m = IncludeTrailingPathDelimiter(m);
  }
  ExpandedMask expanded = ExpandMask(fs, m, "");
  std::string patternName = ExtractFileName(expanded.pattern);
  if (expanded.relative) {
    std::string relative = RelativePath(fs.GetCurrentDir(), ExpandFileName(fs, p));
    if (!HasDelimiter(m))
      relative =
          ExtractFileName(ExcludeTrailingPathDelimiter(relative)) + (isDirectory ? "\\" : "");
    return TextMatchesMask(relative, patternName);
  }
  std::string pathDir = AsciiLowerCase(ExtractFilePath(p));
  std::string patternDir = AsciiLowerCase(ExtractFilePath(expanded.pattern));
  if (pathDir == patternDir) return TextMatchesMask(p, expanded.pattern);
  return patternName == "*.*" && pathDir.compare(0, patternDir.size(), patternDir) == 0;
}

}  // namespace zw

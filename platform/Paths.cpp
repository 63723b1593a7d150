#include "Paths.h"

#include <cctype>
#include <cstdlib>
#include <vector>

#include "FileSystem.h"

namespace zw {
namespace {

bool HasDrive(std::string_view p) { return StartsWithDrive(p); }

bool IsUnc(std::string_view p) {
  return p.size() >= 2 && IsPathDelimiter(p[0]) && IsPathDelimiter(p[1]);
}

// Index just past the "\\srv\share" prefix of a UNC path.
size_t UncPrefixEnd(std::string_view p) {
  size_t i = 2;
  while (i < p.size() && !IsPathDelimiter(p[i])) ++i;  // server
  if (i < p.size()) ++i;
  while (i < p.size() && !IsPathDelimiter(p[i])) ++i;  // share
  return i;
}

size_t LastDelimiter(std::string_view path, bool withColon) {
  for (size_t i = path.size(); i > 0; --i) {
    char c = path[i - 1];
    if (IsPathDelimiter(c) || (withColon && i == 2 && HasDrive(path))) return i - 1;
  }
  return std::string_view::npos;
}

// Splits the part after the root into components, resolving "." and "..".
std::string NormaliseComponents(std::string_view rest) {
  std::vector<std::string> parts;
  size_t i = 0;
  while (i <= rest.size()) {
    size_t j = i;
    while (j < rest.size() && !IsPathDelimiter(rest[j])) ++j;
    std::string_view part = rest.substr(i, j - i);
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!part.empty() && part != ".") {
      parts.emplace_back(part);
    }
    i = j + 1;
  }
  std::string out;
  for (size_t k = 0; k < parts.size(); ++k) {
    if (k) out += '\\';
    out += parts[k];
  }
  bool trailing = !rest.empty() && IsPathDelimiter(rest.back()) && !out.empty();
  if (trailing) out += '\\';
  return out;
}

}  // namespace

bool StartsWithDrive(std::string_view path) {
  if (path.size() < 2 || path[1] != ':') return false;
  char c = path[0];
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

std::string ExtractFileDrive(std::string_view path) {
  if (HasDrive(path)) return std::string(path.substr(0, 2));
  if (IsUnc(path)) return std::string(path.substr(0, UncPrefixEnd(path)));
  return "";
}

std::string ExtractFileName(std::string_view path) {
  size_t i = LastDelimiter(path, true);
  return std::string(i == std::string_view::npos ? path : path.substr(i + 1));
}

std::string ExtractFilePath(std::string_view path) {
  size_t i = LastDelimiter(path, true);
  return i == std::string_view::npos ? std::string() : std::string(path.substr(0, i + 1));
}

std::string ExtractFileDir(std::string_view path) {
  size_t i = LastDelimiter(path, true);
  if (i == std::string_view::npos) return "";
  // Keep the separator of a root: "C:\", "\".
  if (i > 0 && IsPathDelimiter(path[i]) && !(i == 2 && HasDrive(path)) &&
      !(i == 1 && IsPathDelimiter(path[0])))
    return std::string(path.substr(0, i));
  if (i == 0) return std::string(path.substr(0, 1));
  return std::string(path.substr(0, i + 1));
}

std::string ExtractFileExt(std::string_view path) {
  std::string name = ExtractFileName(path);
  size_t dot = name.rfind('.');
  return dot == std::string::npos ? std::string() : name.substr(dot);
}

std::string ChangeFileExt(std::string_view path, std::string_view ext) {
  std::string name = ExtractFileName(path);
  size_t dot = name.rfind('.');
  size_t cut = dot == std::string::npos ? path.size() : path.size() - name.size() + dot;
  return std::string(path.substr(0, cut)) + std::string(ext);
}

std::string IncludeTrailingPathDelimiter(std::string_view path) {
  std::string out(path);
  if (out.empty() || !IsPathDelimiter(out.back())) out += '\\';
  return out;
}

std::string ExcludeTrailingPathDelimiter(std::string_view path) {
  std::string out(path);
  if (!out.empty() && IsPathDelimiter(out.back())) out.pop_back();
  return out;
}

bool IsAbsolutePath(std::string_view path) {
  if (HasDrive(path)) return path.size() >= 3 && IsPathDelimiter(path[2]);
  return !path.empty() && IsPathDelimiter(path[0]);
}

std::string ExpandFileNameIn(std::string_view path, std::string_view currentDir) {
  if (HasDrive(path)) {
    std::string drive(1, static_cast<char>(std::toupper(static_cast<unsigned char>(path[0]))));
    return drive + ":\\" + NormaliseComponents(path.substr(2));
  }
  if (IsUnc(path)) {
    size_t end = UncPrefixEnd(path);
    std::string prefix(path.substr(0, end));
    for (char& c : prefix)
      if (c == '/') c = '\\';
    std::string rest = NormaliseComponents(path.substr(end));
    // "\\srv\share\" keeps its trailing separator like any other expanded folder.
    if (rest.empty())
      return end < path.size() && IsPathDelimiter(path.back()) ? prefix + "\\" : prefix;
    return prefix + "\\" + rest;
  }
  if (!path.empty() && IsPathDelimiter(path[0])) return "\\" + NormaliseComponents(path);
  std::string base = currentDir.empty() ? std::string("\\") : std::string(currentDir);
  // A bare drive ("C:") is that drive's root, not a relative name.
  if (!IsAbsolutePath(base) && !HasDrive(base)) base = "\\" + base;
  return ExpandFileNameIn(IncludeTrailingPathDelimiter(base) + std::string(path), "\\");
}

std::string ExpandFileName(FileSystem& fs, std::string_view path) {
  return ExpandFileNameIn(path, fs.GetCurrentDir());
}

std::optional<std::string> HostPathWithDrives(std::string_view absolutePath,
                                              std::optional<std::string> (*driveFolder)(char)) {
  std::string p(absolutePath);
  if (IsUnc(p)) return std::nullopt;
  std::string host;
  if (HasDrive(p)) {
    auto folder = driveFolder(static_cast<char>(std::toupper(static_cast<unsigned char>(p[0]))));
    if (!folder) return std::nullopt;
    host = *folder;
    while (host.size() > 1 && host.back() == '/') host.pop_back();
    std::string rest = p.substr(2);
    while (!rest.empty() && IsPathDelimiter(rest.front())) rest.erase(rest.begin());
    if (!rest.empty()) host += (host == "/" ? "" : "/") + rest;
  } else {
    host = p;
  }
  for (char& c : host)
    if (c == '\\') c = '/';
  if (host.empty()) host = "/";
  return host;
}

std::optional<std::string> DriveFolderFromEnvironment(char driveLetter) {
  char name[] = "ZW_DRIVE_A";
  name[9] = static_cast<char>(std::toupper(static_cast<unsigned char>(driveLetter)));
  const char* value = std::getenv(name);
  if (!value || !*value) return std::nullopt;
  return std::string(value);
}

std::string FromHostPath(std::string_view hostPath) {
  std::string out(hostPath);
  for (char& c : out)
    if (c == '/') c = '\\';
  return out;
}

}  // namespace zw

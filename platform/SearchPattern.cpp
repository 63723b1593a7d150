#include "SearchPattern.h"

#include <algorithm>
#include <numeric>
#include <string>

#include "CodePage.h"

namespace zw {
namespace {

// Code points of a UTF-8 text; a malformed byte becomes one unit of its own.
std::u32string Units(std::string_view text) {
  std::u32string out;
  for (size_t i = 0; i < text.size();) {
    unsigned char b = static_cast<unsigned char>(text[i]);
    int len = b < 0x80             ? 1
              : (b & 0xE0) == 0xC0 ? 2
              : (b & 0xF0) == 0xE0 ? 3
              : (b & 0xF8) == 0xF0 ? 4
                                   : 0;
    bool ok = len > 0 && i + len <= text.size();
    char32_t cp = len == 1 ? b : (len > 1 ? (b & (0x7F >> len)) : 0);
    for (int k = 1; ok && k < len; ++k) {
      unsigned char c = static_cast<unsigned char>(text[i + k]);
      ok = (c & 0xC0) == 0x80;
      cp = (cp << 6) | (c & 0x3F);
    }
    if (!ok) {
      out += static_cast<char32_t>(0xDC00 + b);
      ++i;
    } else {
      out += cp;
      i += len;
    }
  }
  return out;
}

// Iterative glob with single-star backtracking: linear in practice, never recursive.
bool Glob(const std::u32string& p, const std::u32string& n) {
  size_t pi = 0, ni = 0, starP = std::u32string::npos, starN = 0;
  while (ni < n.size()) {
    // "*" first: a host name may hold a literal "*", which must not eat the wildcard.
    if (pi < p.size() && p[pi] == U'*') {
      starP = pi++;
      starN = ni;
    } else if (pi < p.size() && (p[pi] == U'?' || p[pi] == n[ni])) {
      ++pi;
      ++ni;
    } else if (starP != std::u32string::npos) {
      pi = starP + 1;
      ni = ++starN;
    } else {
      return false;
    }
  }
  while (pi < p.size() && p[pi] == U'*') ++pi;
  return pi == p.size();
}

}  // namespace

bool SearchPatternMatches(std::string_view pattern, std::string_view name) {
  if (pattern == "*" || pattern == "*.*") return true;
  std::u32string p = Units(AnsiUpperCase(pattern));
  std::u32string n = Units(AnsiUpperCase(name));
  if (Glob(p, n)) return true;
  // "name.*" also finds "name" (no extension), as the Windows search does.
  if (p.size() >= 2 && p.compare(p.size() - 2, 2, U".*") == 0 &&
      n.find(U'.') == std::u32string::npos)
    return Glob(p.substr(0, p.size() - 2), n);
  return false;
}

void SortSearchResults(std::vector<TSearchRec>& results) {
  std::vector<std::string> keys;
  keys.reserve(results.size());
  for (const TSearchRec& r : results) keys.push_back(AnsiUpperCase(r.Name));
  std::vector<size_t> order(results.size());
  std::iota(order.begin(), order.end(), size_t{0});
  std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
    int c = keys[a].compare(keys[b]);
    return c != 0 ? c < 0 : results[a].Name < results[b].Name;
  });
  std::vector<TSearchRec> sorted;
  sorted.reserve(results.size());
  for (size_t i : order) sorted.push_back(std::move(results[i]));
  results = std::move(sorted);
}

}  // namespace zw

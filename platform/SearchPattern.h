// Name matching of the directory search, as the Windows search does it: "*" matches
// any run, "?" one character, letters compare without regard to case (by locale),
// and "*.*" or "name.*" also match names that have no dot at all.
#pragma once

#include <string_view>

namespace zw {

bool SearchPatternMatches(std::string_view pattern, std::string_view name);

}  // namespace zw

// Name matching of the directory search, as the Windows search does it: "*" matches
// any run, "?" one character, letters compare without regard to case (by locale),
// and "*.*" or "name.*" also match names that have no dot at all.
#pragma once

#include <string_view>
#include <vector>

#include "FileSystem.h"

namespace zw {

bool SearchPatternMatches(std::string_view pattern, std::string_view name);

// Puts search results in the order an NTFS volume yields them: names compared without
// regard to case (by locale), ties broken by the exact bytes. Each name is folded once.
void SortSearchResults(std::vector<TSearchRec>& results);

}  // namespace zw

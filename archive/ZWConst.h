// The component's message texts and the map from internal codes to them.
#pragma once

#include <cstdint>

namespace zw {

constexpr int kErrorMessageCount = 35;
constexpr int kErrorCodeMapCount = 61;

// Text of an `ErrorCode` (0-33, and 34 for internal code 60: an interrupted update
// that could not be undone yet); "" for -1 or any other value.
const char* ErrorMessageText(int errorCode);
// The `ErrorCode` of an internal code: its pair in the map, or 0 when it has none.
int ErrorCodeOf(int nativeError);

}  // namespace zw

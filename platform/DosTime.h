// MS-DOS packed date and time (date in the high 16 bits, time in the low 16 bits).
#pragma once

#include <cstdint>
#include <ctime>

namespace zw {

// Local-time DOS date-time of a Unix time; false when the date lies outside
// 1980-2107, which the DOS format cannot hold.
bool UnixToDosDateTime(std::time_t t, int32_t& dosDateTime);
// The current local time as a DOS date-time.
int32_t CurrentDosDateTime();

}  // namespace zw

// MS-DOS packed date and time (date in the high 16 bits, time in the low 16 bits).
#pragma once

#include <cstdint>
#include <ctime>

namespace zw {

// Local-time DOS date-time of a Unix time; false when the date lies outside
// 1980-2107, which the DOS format cannot hold.
bool UnixToDosDateTime(std::time_t t, int32_t& dosDateTime);
// The Unix time of a local-time DOS date-time; false for fields out of range (month
// 0 or 13, second 60 and more, ...).
bool DosDateTimeToUnix(int32_t dosDateTime, std::time_t& t);
// The current local time as a DOS date-time.
int32_t CurrentDosDateTime();

}  // namespace zw

#include "DosTime.h"

namespace zw {

bool UnixToDosDateTime(std::time_t t, int32_t& dosDateTime) {
  std::tm tm{};
  if (!localtime_r(&t, &tm)) return false;
  int year = tm.tm_year + 1900;
  if (year < 1980 || year > 2107) return false;
  uint32_t date = (static_cast<uint32_t>(year - 1980) << 9) |
                  (static_cast<uint32_t>(tm.tm_mon + 1) << 5) | static_cast<uint32_t>(tm.tm_mday);
  uint32_t time = (static_cast<uint32_t>(tm.tm_hour) << 11) |
                  (static_cast<uint32_t>(tm.tm_min) << 5) |
                  static_cast<uint32_t>((tm.tm_sec > 59 ? 59 : tm.tm_sec) / 2);
  dosDateTime = static_cast<int32_t>((date << 16) | time);
  return true;
}

int32_t CurrentDosDateTime() {
  int32_t value = 0;
  if (!UnixToDosDateTime(std::time(nullptr), value)) value = (1 << 21) | (1 << 16);  // 1980-01-01
  return value;
}

}  // namespace zw

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

bool DosDateTimeToUnix(int32_t dosDateTime, std::time_t& t) {
  auto value = static_cast<uint32_t>(dosDateTime);
  std::tm tm{};
  tm.tm_year = static_cast<int>((value >> 25) & 0x7F) + 80;
  tm.tm_mon = static_cast<int>((value >> 21) & 0x0F) - 1;
  tm.tm_mday = static_cast<int>((value >> 16) & 0x1F);
  tm.tm_hour = static_cast<int>((value >> 11) & 0x1F);
  tm.tm_min = static_cast<int>((value >> 5) & 0x3F);
  tm.tm_sec = static_cast<int>(value & 0x1F) * 2;
  if (tm.tm_mon < 0 || tm.tm_mon > 11 || tm.tm_mday < 1 || tm.tm_hour > 23 || tm.tm_min > 59 ||
      tm.tm_sec > 59)
    return false;
  tm.tm_isdst = -1;  // the zone's rule for that date decides
  t = std::mktime(&tm);
  return t != static_cast<std::time_t>(-1);
}

int32_t CurrentDosDateTime() {
  int32_t value = 0;
  if (!UnixToDosDateTime(std::time(nullptr), value)) value = (1 << 21) | (1 << 16);  // 1980-01-01
  return value;
}

}  // namespace zw

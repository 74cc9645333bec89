#include <cstdio>
#include <cstdlib>

#include "Db/DbTypes.h"

const char* DB_DATETIME::toString(bool withFraction) {
  if (withFraction)
    std::snprintf(text_, sizeof text_, "%4.4d-%2.2d-%2.2d %2.2d:%2.2d:%2.2d.%3.3d", year, month, day, hour, minute,
                  second, static_cast<int>(fraction));
  else
    std::snprintf(text_, sizeof text_, "%4.4d-%2.2d-%2.2d %2.2d:%2.2d:%2.2d", year, month, day, hour, minute, second);
  return text_;
}

bool DB_DATETIME::parse(const char* text) {
  clear();
  if (text == nullptr) return false;
  int y, mo, d, h, mi, s;
  int consumed = 0;
  if (std::sscanf(text, "%d-%d-%d %d:%d:%d%n", &y, &mo, &d, &h, &mi, &s, &consumed) != 6) return false;
  const char* rest = text + consumed;
  unsigned ms = 0;
  if (*rest == '.') {
    // Keep milliseconds whatever the number of digits given.
    ++rest;
    int digits = 0;
    while (*rest >= '0' && *rest <= '9') {
      if (digits < 3) ms = ms * 10 + static_cast<unsigned>(*rest - '0');
      ++digits;
      ++rest;
    }
    for (; digits < 3; ++digits) ms *= 10;
  }
  if (*rest != '\0') return false;
  year = static_cast<int16_t>(y);
  month = static_cast<uint16_t>(mo);
  day = static_cast<uint16_t>(d);
  hour = static_cast<uint16_t>(h);
  minute = static_cast<uint16_t>(mi);
  second = static_cast<uint16_t>(s);
  fraction = ms;
  return true;
}

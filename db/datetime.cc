#include <cstdio>
#include <cstdlib>

#include "Db/DbTypes.h"

const char* DB_DATETIME::toString(bool withFraction) {
  if (withFraction)
    std::snprintf(m_text, sizeof m_text, "%4.4d-%2.2d-%2.2d %2.2d:%2.2d:%2.2d.%3.3d", year, month, day, hour, minute,
                  second, static_cast<int>(fraction));
  else
    std::snprintf(m_text, sizeof m_text, "%4.4d-%2.2d-%2.2d %2.2d:%2.2d:%2.2d", year, month, day, hour, minute, second);
  return m_text;
}

namespace {
// Reads an unsigned decimal of 1..maxDigits digits; false when none.
bool number(const char*& p, int maxDigits, int& out) {
  int v = 0, n = 0;
  while (n < maxDigits && *p >= '0' && *p <= '9') {
    v = v * 10 + (*p++ - '0');
    ++n;
  }
  out = v;
  return n > 0;
}
}  // namespace

// Every row read parses up to three of these, so this avoids sscanf.
bool DB_DATETIME::parse(const char* text) {
  clear();
  if (text == nullptr) return false;
  const char* p = text;
  int y, mo, d, h, mi, s;
  bool negative = *p == '-';
  if (negative) ++p;
  if (!number(p, 5, y) || *p++ != '-' || !number(p, 2, mo) || *p++ != '-' || !number(p, 2, d) || *p++ != ' ' ||
      !number(p, 2, h) || *p++ != ':' || !number(p, 2, mi) || *p++ != ':' || !number(p, 2, s))
    return false;
  unsigned ms = 0;
  if (*p == '.') {
    // Keep milliseconds whatever the number of digits given.
    ++p;
    int digits = 0;
    while (*p >= '0' && *p <= '9') {
      if (digits < 3) ms = ms * 10 + static_cast<unsigned>(*p - '0');
      ++digits;
      ++p;
    }
    for (; digits < 3; ++digits) ms *= 10;
  }
  if (*p != '\0') {
    clear();
    return false;
  }
  year = static_cast<int16_t>(negative ? -y : y);
  month = static_cast<uint16_t>(mo);
  day = static_cast<uint16_t>(d);
  hour = static_cast<uint16_t>(h);
  minute = static_cast<uint16_t>(mi);
  second = static_cast<uint16_t>(s);
  fraction = ms;
  return true;
}

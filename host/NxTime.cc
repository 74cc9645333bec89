#include "host/NxTime.h"

#include <cstdio>
#include <cstring>

struct tm* NX_gmtime(const time_t* t, struct tm* result) {
  if (t == nullptr || result == nullptr) return nullptr;
  return gmtime_r(t, result);
}

struct tm* NX_localtime(const time_t* t, struct tm* result) {
  if (t == nullptr || result == nullptr) return nullptr;
  return localtime_r(t, result);
}

char* NX_asctime(const struct tm* t, char* buffer, size_t size) {
  static const char kDays[7][4] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static const char kMonths[12][4] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                      "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  if (t == nullptr || buffer == nullptr || size == 0) return nullptr;
  if (t->tm_wday < 0 || t->tm_wday > 6 || t->tm_mon < 0 || t->tm_mon > 11) return nullptr;
  // The year is printed in full; a wide year only makes the text longer,
  // and snprintf cuts it to the buffer.
  std::snprintf(buffer, size, "%.3s %.3s%3d %.2d:%.2d:%.2d %lld\n", kDays[t->tm_wday], kMonths[t->tm_mon], t->tm_mday,
                t->tm_hour, t->tm_min, t->tm_sec, static_cast<long long>(t->tm_year) + 1900);
  return buffer;
}

char* NX_ctime(const time_t* t, char* buffer, size_t size) {
  struct tm parts;
  std::memset(&parts, 0, sizeof parts);
  if (buffer == nullptr || size == 0 || NX_localtime(t, &parts) == nullptr) return nullptr;
  return NX_asctime(&parts, buffer, size);
}

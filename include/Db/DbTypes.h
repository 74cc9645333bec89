// Value types shared by the database layer and its callers: result codes,
// the calendar date-time of a row, and the date-time literal marker.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>

// Result codes of every database-layer call.
enum DbResult : int {
  DB_SUCCESS = 0,
  DB_NO_DATA = 100,
  // A row was read, but a text value was longer than its fixed-size column in
  // the row buffer and was cut to fit. The row is otherwise complete, so
  // callers that tolerate a cut value treat this like DB_SUCCESS.
  DB_SUCCESS_TRUNCATED = 1004,
  // Errors raised by the layer itself. Backend errors carry the backend's own
  // code (SQLite extended result codes; PostgreSQL SQLSTATEs folded into
  // DB_PG_ERROR_BASE + base-36 value), always outside 0, 100 and 1004.
  DB_ERR_CONNECT = 9001,    // the configured database cannot be opened
  DB_ERR_NO_SCHEMA = 9002,  // the database lacks our tables: run `evdetect init`
  DB_ERR_FORMAT = 9003,     // a where/SET/values format the layer cannot parse
  DB_ERR_USAGE = 9004,      // call out of order (update without a read, ...)
  DB_ERR_TRANSACTION = 9005,
  // A value the database holds does not fit the row buffer's column (a
  // serial past 2^31-1 read into an int32 column): nothing is written there.
  DB_ERR_RANGE = 9006,
  DB_PG_ERROR_BASE = 100000000,
};

// True when a read call delivered a row: a cut text (1004) is still a row, so
// every read loop asks this instead of comparing with 0.
constexpr bool DBrowRead(int rc) { return rc == DB_SUCCESS || rc == DB_SUCCESS_TRUNCATED; }

// The layer's timestamp structure (16 bytes, as the ODBC one it mirrors).
struct tagTIMESTAMP_STRUCT {
  int16_t year = 0;
  uint16_t month = 0;
  uint16_t day = 0;
  uint16_t hour = 0;
  uint16_t minute = 0;
  uint16_t second = 0;
  uint32_t fraction = 0;  // milliseconds
};
static_assert(sizeof(tagTIMESTAMP_STRUCT) == 16);

struct NXTIMESTAMP_STRUCT : tagTIMESTAMP_STRUCT {};

// A calendar date-time column value. The all-zero value means "no time" and
// survives a round trip through both backends.
class DB_DATETIME {
 public:
  int16_t year;
  uint16_t month, day, hour, minute, second;
  uint32_t fraction;

  DB_DATETIME() { clear(); }
  DB_DATETIME(const DB_DATETIME& o) { *this = o; }
  DB_DATETIME& operator=(const DB_DATETIME& o) {
    year = o.year; month = o.month; day = o.day; hour = o.hour;
    minute = o.minute; second = o.second; fraction = o.fraction;
    m_text[0] = '\0';
    return *this;
  }
  DB_DATETIME& operator=(const tagTIMESTAMP_STRUCT& ts) {
    year = ts.year; month = ts.month; day = ts.day; hour = ts.hour;
    minute = ts.minute; second = ts.second; fraction = ts.fraction;
    m_text[0] = '\0';
    return *this;
  }
  void clear() {
    year = 0; month = day = hour = minute = second = 0; fraction = 0;
    m_text[0] = '\0';
  }
  bool isZero() const {
    return year == 0 && month == 0 && day == 0 && hour == 0 && minute == 0 &&
           second == 0 && fraction == 0;
  }
  tagTIMESTAMP_STRUCT toStruct() const {
    tagTIMESTAMP_STRUCT t;
    t.year = year; t.month = month; t.day = day; t.hour = hour;
    t.minute = minute; t.second = second; t.fraction = fraction;
    return t;
  }
  // "YYYY-MM-DD HH:MM:SS" or, with the flag, "YYYY-MM-DD HH:MM:SS.mmm". The
  // returned pointer stays valid until the value changes or is rendered again.
  const char* toString(bool withFraction);
  // Parses what toString(true) or toString(false) wrote; false on anything else.
  bool parse(const char* text);
  bool operator==(const DB_DATETIME& o) const {
    return year == o.year && month == o.month && day == o.day && hour == o.hour &&
           minute == o.minute && second == o.second && fraction == o.fraction;
  }

 private:
  char m_text[64];
};

// Marks a date-time argument of a format's %p conversion:
//   tbl.rowUpdate("startTime = %p", DBodbcDate(&start));
inline const void* DBodbcDate(const DB_DATETIME* dt) { return dt; }

#include "db/postgres/pg_result.h"

#include <cstring>

#include "Db/DbTypes.h"

namespace Db::detail {

std::string postgresSqlState(int code) {
  if (code < DB_PG_ERROR_BASE || code >= DB_PG_ERROR_BASE + 60466176) return "";
  int v = code - DB_PG_ERROR_BASE;
  std::string s(5, '0');
  for (int i = 4; i >= 0; --i, v /= 36) {
    const int d = v % 36;
    s[static_cast<size_t>(i)] = static_cast<char>(d < 10 ? '0' + d : 'A' + d - 10);
  }
  return s;
}

int postgresErrorCode(const char* sqlstate) {
  if (sqlstate == nullptr || std::strlen(sqlstate) != 5) return DB_PG_ERROR_BASE;
  int v = 0;
  for (int i = 0; i < 5; ++i) {
    char c = sqlstate[i];
    int d = (c >= '0' && c <= '9') ? c - '0' : (c >= 'A' && c <= 'Z') ? c - 'A' + 10 : 0;
    v = v * 36 + d;
  }
  return DB_PG_ERROR_BASE + v;
}

std::string firstLine(const char* msg) {
  std::string s = msg ? msg : "";
  for (const char* prefix : {"ERROR:  ", "FATAL:  "})
    if (s.rfind(prefix, 0) == 0) s = s.substr(std::strlen(prefix));
  auto nl = s.find('\n');
  if (nl != std::string::npos) s.resize(nl);
  return s;
}

// SQLSTATE of an error the client library raised itself (no server answer):
// the connection is gone.
constexpr const char* kConnectionFailure = "08006";

int describeFailure(PGconn* conn, const PGresult* r, std::string* text) {
  const char* state = r ? PQresultErrorField(r, PG_DIAG_SQLSTATE) : nullptr;
  std::string msg = firstLine(r ? PQresultErrorMessage(r) : nullptr);
  if (msg.empty()) msg = firstLine(PQerrorMessage(conn));
  if (msg.empty()) msg = "PostgreSQL request failed";
  if (state == nullptr || std::strlen(state) != 5)
    state = PQstatus(conn) == CONNECTION_BAD ? kConnectionFailure : "XX000";
  *text = msg + " (SQLSTATE " + state + ")";
  return postgresErrorCode(state);
}

bool succeeded(const PGresult* r) {
  ExecStatusType st = PQresultStatus(r);
  return st == PGRES_COMMAND_OK || st == PGRES_TUPLES_OK || st == PGRES_EMPTY_QUERY;
}

PGresult* nextQueryResult(PGconn* conn) {
  PGresult* first = nullptr;
  while (PGresult* r = PQgetResult(conn)) {
    if (first == nullptr) first = r; else PQclear(r);
  }
  return first;
}

}  // namespace Db::detail

#include "bench/capture.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "db/sql_format.h"
#include "detector/EvNDetector.h"
#include "host/event_json.h"

namespace evd::bench {

const char* g_program = "bench";
Sequence* g_capture = nullptr;
thread_local int g_inPqExec = 0;
unsigned long long g_pqWaits = 0;
bool g_pqSent = false;

namespace {

// ---- SQLite capture ----

// Splits SQL into its text fragments around placeholders (?, ?N, $x, :x, @x),
// outside quoted text and identifiers.
void splitPlaceholders(const std::string& sql, std::vector<std::string>& fragments,
                       std::vector<std::string>& names) {
  std::string cur;
  for (size_t i = 0; i < sql.size();) {
    const char c = sql[i];
    if (c == '\'' || c == '"') {
      const size_t end = sql.find(c, i + 1);
      const size_t stop = end == std::string::npos ? sql.size() : end + 1;
      cur.append(sql, i, stop - i);
      i = stop;
    } else if (c == '?' || ((c == '$' || c == ':' || c == '@') && i + 1 < sql.size() &&
                            (std::isalnum(static_cast<unsigned char>(sql[i + 1])) || sql[i + 1] == '_'))) {
      size_t j = i + 1;
      while (j < sql.size() && (std::isalnum(static_cast<unsigned char>(sql[j])) || sql[j] == '_')) ++j;
      fragments.push_back(cur);
      cur.clear();
      names.push_back(sql.substr(i, j - i));
      i = j;
    } else {
      cur += c;
      ++i;
    }
  }
  fragments.push_back(cur);
}

// Reads the literal sqlite3_expanded_sql wrote for one bound value at POS.
bool readLiteral(const std::string& text, size_t& pos, Value& v) {
  if (text.compare(pos, 4, "NULL") == 0) {
    v.kind = Value::Null;
    pos += 4;
    return true;
  }
  if (text[pos] == '\'') {
    v.kind = Value::Text;
    for (size_t i = pos + 1; i < text.size(); ++i) {
      if (text[i] != '\'') {
        v.s += text[i];
      } else if (i + 1 < text.size() && text[i + 1] == '\'') {
        v.s += '\'';
        ++i;
      } else {
        pos = i + 1;
        return true;
      }
    }
    return false;
  }
  size_t end = pos;
  while (end < text.size() && (std::isdigit(static_cast<unsigned char>(text[end])) ||
                               std::strchr("+-.eE", text[end]) != nullptr))
    ++end;
  if (end == pos) return false;
  const std::string number = text.substr(pos, end - pos);
  if (number.find_first_of(".eE") == std::string::npos) {
    v.kind = Value::Int;
    v.i = std::atoll(number.c_str());
  } else {
    v.kind = Value::Real;
    v.d = std::atof(number.c_str());
  }
  v.s = number;
  pos = end;
  return true;
}

bool g_captureFailed = false;

int traceStatement(unsigned type, void*, void* p, void* x) {
  if (type != SQLITE_TRACE_STMT || g_capture == nullptr) return 0;
  const char* text = static_cast<const char*>(x);
  if (std::strncmp(text, "--", 2) == 0) return 0;  // a trigger's statement, not one the handler sent
  auto* stmt = static_cast<sqlite3_stmt*>(p);
  Statement s;
  s.sql = sqlite3_sql(stmt);
  std::vector<std::string> fragments;
  splitPlaceholders(s.sql, fragments, s.placeholders);
  char* expanded = sqlite3_expanded_sql(stmt);
  const std::string full = expanded ? expanded : "";
  sqlite3_free(expanded);
  size_t pos = fragments[0].size();
  bool ok = full.compare(0, pos, fragments[0]) == 0;
  for (size_t k = 0; ok && k < s.placeholders.size(); ++k) {
    Value v;
    ok = readLiteral(full, pos, v) && full.compare(pos, fragments[k + 1].size(), fragments[k + 1]) == 0;
    pos += fragments[k + 1].size();
    s.values.push_back(v);
  }
  if (!ok) {
    std::fprintf(stderr, "%s: cannot read the values of: %s\n", g_program, full.c_str());
    g_captureFailed = true;
  }
  g_capture->push_back(std::move(s));
  return 0;
}

}  // namespace

bool createsOccurrence(const std::string& sql) {
  return sql.rfind("INSERT INTO NTDetectedAlerts", 0) == 0 && sql.find("RETURNING") != std::string::npos;
}

int installTrace(sqlite3* db, char**, const sqlite3_api_routines*) {
  sqlite3_trace_v2(db, SQLITE_TRACE_STMT, traceStatement, nullptr);
  return SQLITE_OK;
}

// ---- PostgreSQL capture ----

std::map<std::string, std::string>& preparedTexts() {
  static std::map<std::string, std::string> m;
  return m;
}
void recordPq(const std::string& sql, int n, const char* const* values, bool viaExec) {
  if (g_capture == nullptr) return;
  Statement s;
  s.sql = sql;
  s.viaExec = viaExec;
  for (int k = 0; k < n; ++k) {
    Value v;
    if (values && values[k]) {
      v.kind = Value::Text;
      v.s = values[k];
    }
    s.values.push_back(v);
  }
  g_capture->push_back(std::move(s));
}

EvAlertEx parse(const std::string& json) {
  EvAlertEx a;
  EventReadError err;
  if (!parseEventLine(json, a, err)) std::fprintf(stderr, "%s: %s\n", g_program, err.message.c_str());
  return a;
}

bool capture(Stream& stream) {
  EvNDetector d;
  EvAlertEx warm = parse(stream.events[0]);
  if (!d.StoreNotiData(warm)) return false;
  for (const std::string& e : stream.events) {
    EvAlertEx a = parse(e);
    Sequence seq;
    g_capture = &seq;
    const bool ok = d.StoreNotiData(a);
    g_capture = nullptr;
    if (!ok || g_captureFailed) return false;
    stream.captured.push_back(std::move(seq));
    const bool created = [&] {
      for (const Statement& s : stream.captured.back())
        if (createsOccurrence(s.sql)) return true;
      return false;
    }();
    stream.capturedIds.push_back(created ? d.getEventId() : 0);
  }
  return true;
}

void printStatements(const char* backend, const Stream& stream) {
  const Sequence& seq = stream.captured[0];
  std::map<std::string, int> counts;
  int control = 0;
  for (const Statement& s : seq) {
    ++counts[s.sql];
    control += Db::detail::isTransactionControl(s.sql);
  }
  std::printf("\n%s/%s: one event issues %zu statements (%d of them transaction control, not replayed)\n", backend,
              stream.name.c_str(), seq.size(), control);
  for (const auto& [sql, n] : counts) std::printf("  %3d x %.150s\n", n, sql.c_str());
  // What the per-event settings reads ask for.
  for (const Statement& s : seq)
    if (s.sql.find("FROM EvdSettings") != std::string::npos) {
      std::printf("        EvdSettings read:");
      for (const Value& v : s.values) std::printf(" '%s'", v.s.c_str());
      std::printf("\n");
    }
}

}  // namespace evd::bench

// What the handler benchmarks share: an event stream is run through
// EvNDetector::StoreNotiData and, in the same run, the SQL statements one
// event issues are replayed raw, as prepared statements through sqlite3 /
// libpq with one commit per statement (autocommit). The raw side is the
// floor the handler is measured against.
//
// "The same statements" are captured, not written by hand: each event of a
// stream runs once more through a detector while
//   - SQLite: an auto-extension installs sqlite3_trace_v2(SQLITE_TRACE_STMT)
//     on the connection the database layer opens; each traced statement is
//     recorded as its text (sqlite3_sql) and its bound values, read back from
//     sqlite3_expanded_sql against the placeholders of the text;
//   - PostgreSQL: PQprepare, PQexecPrepared, PQexec and PQexecParams (and
//     the PQsend* forms the layer uses inside a transaction) are
//     interposed by this program (the real ones are found with dlsym
//     RTLD_NEXT), recording each prepared statement's text and the values of
//     each execution.
// The replay binds the recorded values again; the event id a new occurrence
// gets from "INSERT INTO NTDetectedAlerts ... RETURNING" replaces the
// captured event id in the statements after it. Transaction control
// statements of the handler path (BEGIN, COMMIT, ...) are counted and listed
// but not replayed: the floor commits every statement on its own. A second
// floor, for hosts that commit once per event (or per group of events), wraps
// each event's statements (or a group's) in one BEGIN ... COMMIT of its own
// (Replayer::begin / commit).
//
// A benchmark program states its streams and rules as a Suite and calls
// runSuite from main. It prints, per backend and stream, the statements one
// event issues (with a count per distinct statement) and at the end events/s
// and handler / raw. PostgreSQL is measured when EVD_BENCH_PG_URI names a
// server (scripts/bench.sh starts one).
//
// The libpq entry points below are definitions: include this header in one
// translation unit of a program only (each bench/*_bench.cc is a program).
#pragma once

#include <benchmark/benchmark.h>
#include <dlfcn.h>
#include <libpq-fe.h>
#include <sqlite3.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "Db/Database.h"
#include "db/backend.h"
#include "db/sql_format.h"
#include "host/EvAlertDebug.h"
#include "detector/EvNDetector.h"
#include "host/EvAlertEx.h"
#include "host/event_json.h"

namespace evd::bench {

// The program's name, for its error lines, scratch files and schema.
inline const char* g_program = "bench";
inline constexpr int kRounds = 3;

// ---- one captured statement ----

struct Value {
  enum Kind { Null, Int, Real, Text } kind = Null;
  long long i = 0;
  double d = 0;
  std::string s;  // Text, and the text form of every kind for PostgreSQL
};

struct Statement {
  std::string sql;
  std::vector<std::string> placeholders;  // SQLite: the placeholder of each value, in order
  std::vector<Value> values;
  bool viaExec = false;  // PostgreSQL: sent unprepared with PQexec
};
using Sequence = std::vector<Statement>;

using Db::detail::isTransactionControl;

inline bool createsOccurrence(const std::string& sql) {
  return sql.rfind("INSERT INTO NTDetectedAlerts", 0) == 0 && sql.find("RETURNING") != std::string::npos;
}

inline Sequence* g_capture = nullptr;  // set while a scratch event is traced
// Set inside an interposed PQexec* call: libpq may make it through its own
// PQsend* entry points, which must not record the statement a second time.
inline thread_local int g_inPqExec = 0;
struct PqExecScope {
  PqExecScope() { ++g_inPqExec; }
  ~PqExecScope() { --g_inPqExec; }
  PqExecScope(const PqExecScope&) = delete;
  PqExecScope& operator=(const PqExecScope&) = delete;
};

// ---- SQLite capture ----

// Splits SQL into its text fragments around placeholders (?, ?N, $x, :x, @x),
// outside quoted text and identifiers.
inline void splitPlaceholders(const std::string& sql, std::vector<std::string>& fragments,
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
inline bool readLiteral(const std::string& text, size_t& pos, Value& v) {
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

inline bool g_captureFailed = false;

inline int traceStatement(unsigned type, void*, void* p, void* x) {
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

inline int installTrace(sqlite3* db, char**, const sqlite3_api_routines*) {
  sqlite3_trace_v2(db, SQLITE_TRACE_STMT, traceStatement, nullptr);
  return SQLITE_OK;
}


template <class F>
inline F realPq(const char* name) {
  return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}
inline std::map<std::string, std::string>& preparedTexts() {
  static std::map<std::string, std::string> m;
  return m;
}
inline void recordPq(const std::string& sql, int n, const char* const* values, bool viaExec) {
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


inline EvAlertEx parse(const std::string& json) {
  EvAlertEx a;
  EventReadError err;
  if (!parseEventLine(json, a, err)) std::fprintf(stderr, "%s: %s\n", g_program, err.message.c_str());
  return a;
}


struct Stream {
  std::string name;
  std::vector<std::string> events;
  std::vector<Sequence> captured;
  std::vector<int> capturedIds;  // the new occurrence's event id, 0 when none was made
};

// ---- raw replay ----

class Replayer {
 public:
  virtual ~Replayer() = default;
  // Runs SEQ once; false on a failed statement.
  virtual bool run(const Sequence& seq, int capturedId) = 0;
  // A transaction around the sequences run until commit().
  virtual bool begin() = 0;
  virtual bool commit() = 0;
  // Prints the plan of each distinct statement of SEQ, run with its
  // captured values; a line that reads a whole table is marked "<< scan".
  // Returns the number of marked lines.
  virtual int explain(const Sequence& seq) = 0;
};

// A plan line that reads every row of a table or index (SQLite "SCAN t",
// also through an index; PostgreSQL "Seq Scan", or a whole "Index Only
// Scan" is not told apart and not marked): what makes an event's cost grow
// with the stored history. A scan of a small table is harmless; the reader
// judges by the table.
inline bool readsWholeTable(const std::string& line) {
  return (line.find("SCAN ") != std::string::npos && line.find("SCAN CONSTANT") == std::string::npos) ||
         line.find("Seq Scan") != std::string::npos;
}

inline Value remapped(const Value& v, int capturedId, long long newId) {
  if (newId == 0 || capturedId == 0) return v;
  const std::string id = std::to_string(capturedId);
  if ((v.kind == Value::Int && v.i == capturedId) || (v.kind == Value::Text && v.s == id)) {
    Value out = v;
    out.i = newId;
    out.s = std::to_string(newId);
    return out;
  }
  return v;
}

class SqliteReplayer final : public Replayer {
 public:
  ~SqliteReplayer() override {
    for (auto& [sql, st] : stmts_) sqlite3_finalize(st);
    sqlite3_close(db_);
  }
  bool open(const std::string& path) {
    if (sqlite3_open(path.c_str(), &db_) != SQLITE_OK) return false;
    sqlite3_exec(db_, "PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL", nullptr, nullptr, nullptr);
    sqlite3_busy_timeout(db_, 10000);
    return true;
  }
  sqlite3* db() { return db_; }
  bool begin() override { return sqlite3_exec(db_, "BEGIN", nullptr, nullptr, nullptr) == SQLITE_OK; }
  bool commit() override { return sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr) == SQLITE_OK; }
  int explain(const Sequence& seq) override {
    std::map<std::string, const Statement*> distinct;
    for (const Statement& s : seq)
      if (!isTransactionControl(s.sql)) distinct.emplace(s.sql, &s);
    int marked = 0;
    for (const auto& [sql, s] : distinct) {
      sqlite3_stmt* st = nullptr;
      if (sqlite3_prepare_v2(db_, ("EXPLAIN QUERY PLAN " + sql).c_str(), -1, &st, nullptr) != SQLITE_OK) continue;
      bind(st, *s, 0, 0);
      std::printf("  %.160s\n", sql.c_str());
      while (sqlite3_step(st) == SQLITE_ROW) {
        const std::string line = reinterpret_cast<const char*>(sqlite3_column_text(st, 3));
        const bool scan = readsWholeTable(line);
        marked += scan;
        std::printf("      %s%s\n", line.c_str(), scan ? "   << scan" : "");
      }
      sqlite3_finalize(st);
    }
    return marked;
  }
  bool prepareAll(const std::vector<Sequence>& seqs) {
    for (const Sequence& seq : seqs)
      for (const Statement& s : seq) {
        if (isTransactionControl(s.sql) || stmts_.count(s.sql)) continue;
        sqlite3_stmt* st = nullptr;
        if (sqlite3_prepare_v2(db_, s.sql.c_str(), -1, &st, nullptr) != SQLITE_OK) {
          std::fprintf(stderr, "%s: raw prepare: %s\n", g_program, sqlite3_errmsg(db_));
          return false;
        }
        stmts_[s.sql] = st;
      }
    return true;
  }
  bool run(const Sequence& seq, int capturedId) override {
    long long newId = 0;
    for (const Statement& s : seq) {
      if (isTransactionControl(s.sql)) continue;
      sqlite3_stmt* st = stmts_[s.sql];
      bind(st, s, capturedId, newId);
      int rc;
      bool first = true;
      while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
        // Read every column, as the layer fills its row buffer.
        const int n = sqlite3_column_count(st);
        for (int c = 0; c < n; ++c) benchmark::DoNotOptimize(sqlite3_column_text(st, c));
        if (first && createsOccurrence(s.sql)) newId = sqlite3_column_int64(st, 0);
        first = false;
      }
      sqlite3_reset(st);
      if (rc != SQLITE_DONE) {
        std::fprintf(stderr, "%s: raw statement failed: %s  in: %.120s\n", g_program, sqlite3_errmsg(db_),
                     s.sql.c_str());
        return false;
      }
    }
    return true;
  }

 private:
  static void bind(sqlite3_stmt* st, const Statement& s, int capturedId, long long newId) {
    int anonymous = 0;
    for (size_t k = 0; k < s.values.size(); ++k) {
      const std::string& ph = s.placeholders[k];
      int idx = ph == "?" ? ++anonymous
                : ph[0] == '?' ? std::atoi(ph.c_str() + 1)
                               : sqlite3_bind_parameter_index(st, ph.c_str());
      if (idx > anonymous) anonymous = idx;
      const Value v = remapped(s.values[k], capturedId, newId);
      switch (v.kind) {
        case Value::Null: sqlite3_bind_null(st, idx); break;
        case Value::Int: sqlite3_bind_int64(st, idx, v.i); break;
        case Value::Real: sqlite3_bind_double(st, idx, v.d); break;
        case Value::Text: sqlite3_bind_text(st, idx, v.s.data(), static_cast<int>(v.s.size()), SQLITE_TRANSIENT);
      }
    }
  }

  sqlite3* db_ = nullptr;
  std::map<std::string, sqlite3_stmt*> stmts_;
};

class PgReplayer final : public Replayer {
 public:
  ~PgReplayer() override {
    if (conn_) PQfinish(conn_);
  }
  bool open(const std::string& uri) {
    conn_ = PQconnectdb(uri.c_str());
    return PQstatus(conn_) == CONNECTION_OK;
  }
  bool exec(const std::string& sql) {
    PGresult* r = PQexec(conn_, sql.c_str());
    const bool ok = PQresultStatus(r) == PGRES_COMMAND_OK || PQresultStatus(r) == PGRES_TUPLES_OK;
    if (!ok) std::fprintf(stderr, "%s: %s", g_program, PQerrorMessage(conn_));
    PQclear(r);
    return ok;
  }
  bool begin() override { return exec("BEGIN"); }
  bool commit() override { return exec("COMMIT"); }
  int explain(const Sequence& seq) override {
    int marked = 0;
    std::map<std::string, bool> seen;
    for (const Statement& s : seq) {
      if (s.viaExec || isTransactionControl(s.sql) || seen[s.sql] || !names_.count(s.sql)) continue;
      seen[s.sql] = true;
      std::string args;
      for (const Value& v : s.values) {
        if (!args.empty()) args += ", ";
        if (v.kind == Value::Null) {
          args += "NULL";
          continue;
        }
        args += '\'';
        for (char c : v.s) args += c == '\'' ? std::string("''") : std::string(1, c);
        args += '\'';
      }
      const std::string sql = "EXPLAIN EXECUTE " + names_[s.sql] + (args.empty() ? "" : "(" + args + ")");
      PGresult* r = PQexec(conn_, sql.c_str());
      std::printf("  %.160s\n", s.sql.c_str());
      if (PQresultStatus(r) == PGRES_TUPLES_OK) {
        for (int row = 0; row < PQntuples(r); ++row) {
          const std::string line = PQgetvalue(r, row, 0);
          const bool scan = readsWholeTable(line);
          marked += scan;
          std::printf("      %s%s\n", line.c_str(), scan ? "   << scan" : "");
        }
      } else {
        std::printf("      (no plan: %s)\n", PQerrorMessage(conn_));
      }
      PQclear(r);
    }
    return marked;
  }
  bool prepareAll(const std::vector<Sequence>& seqs) {
    for (const Sequence& seq : seqs)
      for (const Statement& s : seq) {
        if (s.viaExec || isTransactionControl(s.sql) || names_.count(s.sql)) continue;
        const std::string name = "evd_bench_" + std::to_string(names_.size() + 1);
        PGresult* r = PQprepare(conn_, name.c_str(), s.sql.c_str(), static_cast<int>(s.values.size()), nullptr);
        const bool ok = PQresultStatus(r) == PGRES_COMMAND_OK;
        PQclear(r);
        if (!ok) {
          std::fprintf(stderr, "%s: raw prepare: %s", g_program, PQerrorMessage(conn_));
          return false;
        }
        names_[s.sql] = name;
      }
    return true;
  }
  bool run(const Sequence& seq, int capturedId) override {
    long long newId = 0;
    std::vector<std::string> texts;
    std::vector<const char*> values;
    for (const Statement& s : seq) {
      if (isTransactionControl(s.sql)) continue;
      PGresult* r;
      if (s.viaExec) {
        r = PQexec(conn_, s.sql.c_str());
      } else {
        texts.assign(s.values.size(), std::string());
        values.assign(s.values.size(), nullptr);
        for (size_t k = 0; k < s.values.size(); ++k) {
          const Value v = remapped(s.values[k], capturedId, newId);
          if (v.kind == Value::Null) continue;
          texts[k] = v.s;
          values[k] = texts[k].c_str();
        }
        r = PQexecPrepared(conn_, names_[s.sql].c_str(), static_cast<int>(values.size()), values.data(), nullptr,
                           nullptr, 0);
      }
      const ExecStatusType st = PQresultStatus(r);
      const bool ok = st == PGRES_COMMAND_OK || st == PGRES_TUPLES_OK;
      if (ok && st == PGRES_TUPLES_OK) {
        for (int row = 0; row < PQntuples(r); ++row)
          for (int c = 0; c < PQnfields(r); ++c) benchmark::DoNotOptimize(PQgetvalue(r, row, c));
        if (PQntuples(r) > 0 && createsOccurrence(s.sql)) newId = std::atoll(PQgetvalue(r, 0, 0));
      }
      PQclear(r);
      if (!ok) {
        std::fprintf(stderr, "%s: raw statement failed: %s  in: %.120s\n", g_program, PQerrorMessage(conn_),
                     s.sql.c_str());
        return false;
      }
    }
    return true;
  }

 private:
  PGconn* conn_ = nullptr;
  std::map<std::string, std::string> names_;
};


// ---- benchmarks ----

inline void Handler(benchmark::State& state, const Stream* stream) {
  std::vector<EvAlertEx> events;
  for (const std::string& e : stream->events) events.push_back(parse(e));
  EvNDetector d;  // one detector for the stream, as the host keeps one
  size_t k = 0;
  for (auto _ : state) {
    if (!d.StoreNotiData(events[k++ % events.size()])) {
      state.SkipWithError("StoreNotiData failed");
      break;
    }
  }
  state.SetItemsProcessed(state.iterations());
}

inline void Raw(benchmark::State& state, Replayer* replayer, const Stream* stream) {
  size_t k = 0;
  for (auto _ : state) {
    const size_t i = k++ % stream->captured.size();
    if (!replayer->run(stream->captured[i], stream->capturedIds[i])) {
      state.SkipWithError("raw statement failed");
      break;
    }
  }
  state.SetItemsProcessed(state.iterations());
}

// Runs each event of STREAM once more through a detector while its
// statements are recorded. The detector has seen an event before, as in a
// running host.
inline bool capture(Stream& stream) {
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

inline void printStatements(const char* backend, const Stream& stream) {
  const Sequence& seq = stream.captured[0];
  std::map<std::string, int> counts;
  int control = 0;
  for (const Statement& s : seq) {
    ++counts[s.sql];
    control += isTransactionControl(s.sql);
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

class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& r : runs) {
      if (r.error_occurred || r.run_type == Run::RT_Aggregate) continue;
      std::string name = r.benchmark_name();
      if (const size_t cut = name.find("/real_time"); cut != std::string::npos) name.erase(cut);
      if (const size_t cut = name.find('#'); cut != std::string::npos) name.erase(cut);
      const double t = r.GetAdjustedRealTime();
      auto it = times_.find(name);
      if (it == times_.end() || t < it->second) times_[name] = t;  // the best round
    }
    ConsoleReporter::ReportRuns(runs);
  }
  void printRatios() {
    std::printf("\nevents/s and handler / raw, best of %d rounds (target <= 1.3)\n", kRounds);
    for (const auto& [name, t] : times_) {
      const size_t slash = name.rfind("/Handler");
      if (slash == std::string::npos || slash + 8 != name.size()) continue;
      const std::string base = name.substr(0, slash);
      auto raw = times_.find(base + "/Raw");
      if (raw == times_.end() || raw->second <= 0 || t <= 0) continue;
      // Times are in the reports' unit (ns unless --benchmark_time_unit says otherwise).
      std::printf("  %-26s handler %8.0f ev/s   raw %8.0f ev/s   ratio %.2f\n", base.c_str(), 1e9 / t,
                  1e9 / raw->second, t / raw->second);
    }
  }

 private:
  std::map<std::string, double> times_;
};

}  // namespace evd::bench

// ---- PostgreSQL capture: this program's own libpq entry points ----

extern "C" PGresult* PQprepare(PGconn* conn, const char* stmtName, const char* query, int nParams,
                               const Oid* paramTypes) {
  static const auto real =
      evd::bench::realPq<PGresult* (*)(PGconn*, const char*, const char*, int, const Oid*)>("PQprepare");
  evd::bench::preparedTexts()[stmtName ? stmtName : ""] = query ? query : "";
  return real(conn, stmtName, query, nParams, paramTypes);
}

extern "C" PGresult* PQexecPrepared(PGconn* conn, const char* stmtName, int nParams, const char* const* paramValues,
                                    const int* paramLengths, const int* paramFormats, int resultFormat) {
  static const auto real =
      evd::bench::realPq<PGresult* (*)(PGconn*, const char*, int, const char* const*, const int*, const int*, int)>(
          "PQexecPrepared");
  if (evd::bench::g_capture)
    evd::bench::recordPq(evd::bench::preparedTexts()[stmtName ? stmtName : ""], nParams, paramValues, false);
  evd::bench::PqExecScope inside;
  return real(conn, stmtName, nParams, paramValues, paramLengths, paramFormats, resultFormat);
}

extern "C" PGresult* PQexecParams(PGconn* conn, const char* command, int nParams, const Oid* paramTypes,
                                  const char* const* paramValues, const int* paramLengths, const int* paramFormats,
                                  int resultFormat) {
  static const auto real = evd::bench::realPq<PGresult* (*)(PGconn*, const char*, int, const Oid*, const char* const*,
                                                const int*, const int*, int)>("PQexecParams");
  if (evd::bench::g_capture) evd::bench::recordPq(command ? command : "", nParams, paramValues, false);
  evd::bench::PqExecScope inside;
  return real(conn, command, nParams, paramTypes, paramValues, paramLengths, paramFormats, resultFormat);
}

// Inside a transaction the layer sends each statement under a savepoint in
// one pipeline (PQsend*): those are recorded the same way.
extern "C" int PQsendPrepare(PGconn* conn, const char* stmtName, const char* query, int nParams,
                             const Oid* paramTypes) {
  static const auto real =
      evd::bench::realPq<int (*)(PGconn*, const char*, const char*, int, const Oid*)>("PQsendPrepare");
  evd::bench::preparedTexts()[stmtName ? stmtName : ""] = query ? query : "";
  return real(conn, stmtName, query, nParams, paramTypes);
}

extern "C" int PQsendQueryPrepared(PGconn* conn, const char* stmtName, int nParams, const char* const* paramValues,
                                   const int* paramLengths, const int* paramFormats, int resultFormat) {
  static const auto real =
      evd::bench::realPq<int (*)(PGconn*, const char*, int, const char* const*, const int*, const int*, int)>(
          "PQsendQueryPrepared");
  if (evd::bench::g_capture && evd::bench::g_inPqExec == 0)
    evd::bench::recordPq(evd::bench::preparedTexts()[stmtName ? stmtName : ""], nParams, paramValues, false);
  return real(conn, stmtName, nParams, paramValues, paramLengths, paramFormats, resultFormat);
}

extern "C" int PQsendQueryParams(PGconn* conn, const char* command, int nParams, const Oid* paramTypes,
                                 const char* const* paramValues, const int* paramLengths, const int* paramFormats,
                                 int resultFormat) {
  static const auto real = evd::bench::realPq<int (*)(PGconn*, const char*, int, const Oid*, const char* const*,
                                                      const int*, const int*, int)>("PQsendQueryParams");
  if (evd::bench::g_capture && evd::bench::g_inPqExec == 0)
    evd::bench::recordPq(command ? command : "", nParams, paramValues, false);
  return real(conn, command, nParams, paramTypes, paramValues, paramLengths, paramFormats, resultFormat);
}

extern "C" PGresult* PQexec(PGconn* conn, const char* query) {
  static const auto real = evd::bench::realPq<PGresult* (*)(PGconn*, const char*)>("PQexec");
  if (evd::bench::g_capture) evd::bench::recordPq(query ? query : "", 0, nullptr, true);
  evd::bench::PqExecScope inside;
  return real(conn, query);
}


namespace evd::bench {

// What a benchmark program measures.
struct Suite {
  // Notification rules to seed: (alert type, category).
  std::vector<std::pair<int, int>> rules;
  // The streams, made once per backend on its fresh schema (with the rules
  // in place); events run here make the occurrences a stream repeats.
  std::function<bool(std::vector<std::unique_ptr<Stream>>&)> makeStreams;
};

// One backend: schema, rules, streams, capture, then handler and raw interleaved.
inline bool runBackend(const char* backend, const std::string& uri, const Suite& suite, Replayer& replayer,
                       const std::function<bool(const std::string&)>& rawExec,
                       const std::function<bool(const std::vector<Sequence>&)>& prepareAll, RatioReporter& rep) {
  std::string err, report;
  Db::closeThreadConnection();
  Db::dropSchema(uri, &err);
  if (Db::initSchema(uri, &report, &err) != 0) {
    std::fprintf(stderr, "%s: %s\n", g_program, err.c_str());
    return false;
  }
  Db::configure(uri);
  for (const auto& [type, category] : suite.rules) {
    const std::string t = std::to_string(type);
    if (!rawExec("INSERT INTO NTnotificationRule (alertTypeId, status) VALUES (" + t + ", 0)") ||
        !rawExec("INSERT INTO NTAlertType (id, categoryID) SELECT " + t + ", " + std::to_string(category) +
                 " WHERE NOT EXISTS (SELECT 1 FROM NTAlertType WHERE id = " + t + ")"))
      return false;
  }

  static std::vector<std::unique_ptr<Stream>> kept;  // registered benchmarks keep pointers
  std::vector<std::unique_ptr<Stream>> streams;
  if (!suite.makeStreams(streams)) {
    std::fprintf(stderr, "%s: %s: making the streams failed\n", g_program, backend);
    return false;
  }

  const bool sqlite = uri.rfind("sqlite:", 0) == 0;
  if (sqlite) {
    sqlite3_auto_extension(reinterpret_cast<void (*)()>(installTrace));
    Db::closeThreadConnection();  // the next connection carries the trace
  }
  bool captured = true;
  for (auto& s : streams) captured = captured && capture(*s);
  if (sqlite) {
    sqlite3_cancel_auto_extension(reinterpret_cast<void (*)()>(installTrace));
    Db::closeThreadConnection();  // measured without it
  }
  if (!captured) {
    std::fprintf(stderr, "%s: %s: capturing the statements of an event failed\n", g_program, backend);
    return false;
  }
  for (auto& s : streams) printStatements(backend, *s);
  for (auto& s : streams)
    if (!prepareAll(s->captured)) return false;

  benchmark::ClearRegisteredBenchmarks();
  // Interleaved rounds, so that a slow phase of a loaded machine hits both
  // sides alike; the best round of each counts.
  for (int round = 1; round <= kRounds; ++round)
    for (auto& s : streams) {
      const std::string base = std::string(backend) + "/" + s->name, tag = "#" + std::to_string(round);
      benchmark::RegisterBenchmark((base + "/Handler" + tag).c_str(), Handler, s.get())->UseRealTime();
      benchmark::RegisterBenchmark((base + "/Raw" + tag).c_str(), Raw, &replayer, s.get())->UseRealTime();
    }
  std::fflush(stdout);
  benchmark::RunSpecifiedBenchmarks(&rep);
  for (auto& s : streams) kept.push_back(std::move(s));
  Db::closeThreadConnection();
  return true;
}

inline std::string withSchema(const std::string& base, const std::string& schema) {
  return base + (base.find('?') == std::string::npos ? "?" : "&") + "options=-csearch_path%3D" + schema;
}

// The whole program: SQLite in a scratch file, then PostgreSQL in a schema
// of its own when EVD_BENCH_PG_URI is set; the ratios at the end.
inline int runSuite(int argc, char** argv, const char* program, const Suite& suite) {
  g_program = program;
  benchmark::Initialize(&argc, argv);
  RatioReporter rep;
  const std::string stem = std::string("/tmp/evd-") + program + "-" + std::to_string(getpid());
  alertInstance.setPath(stem + ".log");

  const std::string path = stem + ".db";
  {
    SqliteReplayer raw;
    // The raw connection opens after the schema exists; the file is created here.
    if (raw.open(path)) {
      runBackend(
          "sqlite", "sqlite:" + path, suite, raw,
          [&](const std::string& sql) {
            char* msg = nullptr;
            const bool ok = sqlite3_exec(raw.db(), sql.c_str(), nullptr, nullptr, &msg) == SQLITE_OK;
            if (!ok) std::fprintf(stderr, "%s: %s\n", g_program, msg ? msg : "?");
            sqlite3_free(msg);
            return ok;
          },
          [&](const std::vector<Sequence>& s) { return raw.prepareAll(s); }, rep);
    }
  }
  for (const char* ext : {"", "-wal", "-shm"}) std::remove((path + ext).c_str());

  if (const char* pg = std::getenv("EVD_BENCH_PG_URI"); pg && *pg) {
    std::string err;
    auto admin = Db::detail::openBackend(pg, &err);
    const std::string schema = std::string("evd_") + program;
    if (admin && admin->exec("DROP SCHEMA IF EXISTS " + schema + " CASCADE; CREATE SCHEMA " + schema) == 0) {
      const std::string uri = withSchema(pg, schema);
      PgReplayer raw;
      if (raw.open(uri)) {
        runBackend(
            "postgres", uri, suite, raw, [&](const std::string& sql) { return raw.exec(sql); },
            [&](const std::vector<Sequence>& s) { return raw.prepareAll(s); }, rep);
      } else {
        std::fprintf(stderr, "%s: PostgreSQL: cannot connect\n", g_program);
      }
      Db::closeThreadConnection();
      admin->exec("DROP SCHEMA IF EXISTS " + schema + " CASCADE");
    } else {
      std::fprintf(stderr, "%s: PostgreSQL: %s\n", g_program, admin ? admin->lastError().c_str() : err.c_str());
    }
  }
  rep.printRatios();
  std::remove((stem + ".log").c_str());
  benchmark::Shutdown();
  return 0;
}

}  // namespace evd::bench

#include "bench/replay.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>

#include "db/sql_format.h"

namespace evd::bench {

using Db::detail::isTransactionControl;

namespace {

Value remapped(const Value& v, int capturedId, long long newId) {
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

}  // namespace

bool readsWholeTable(const std::string& line) {
  return (line.find("SCAN ") != std::string::npos && line.find("SCAN CONSTANT") == std::string::npos) ||
         line.find("Seq Scan") != std::string::npos;
}

SqliteReplayer::~SqliteReplayer() {
  for (auto& [sql, st] : m_stmts) sqlite3_finalize(st);
  sqlite3_close(m_db);
}

bool SqliteReplayer::open(const std::string& path) {
  if (sqlite3_open(path.c_str(), &m_db) != SQLITE_OK) return false;
  sqlite3_exec(m_db, "PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL", nullptr, nullptr, nullptr);
  sqlite3_busy_timeout(m_db, 10000);
  return true;
}

bool SqliteReplayer::exec(const std::string& sql) {
  char* msg = nullptr;
  const bool ok = sqlite3_exec(m_db, sql.c_str(), nullptr, nullptr, &msg) == SQLITE_OK;
  if (!ok) std::fprintf(stderr, "%s: %s\n", g_program, msg ? msg : "?");
  sqlite3_free(msg);
  return ok;
}

bool SqliteReplayer::begin() { return sqlite3_exec(m_db, "BEGIN", nullptr, nullptr, nullptr) == SQLITE_OK; }

bool SqliteReplayer::commit() { return sqlite3_exec(m_db, "COMMIT", nullptr, nullptr, nullptr) == SQLITE_OK; }

int SqliteReplayer::explain(const Sequence& seq) {
  std::map<std::string, const Statement*> distinct;
  for (const Statement& s : seq)
    if (!isTransactionControl(s.sql)) distinct.emplace(s.sql, &s);
  int marked = 0;
  for (const auto& [sql, s] : distinct) {
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(m_db, ("EXPLAIN QUERY PLAN " + sql).c_str(), -1, &st, nullptr) != SQLITE_OK) continue;
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

bool SqliteReplayer::prepareAll(const std::vector<Sequence>& seqs) {
  for (const Sequence& seq : seqs)
    for (const Statement& s : seq) {
      if (isTransactionControl(s.sql) || m_stmts.count(s.sql)) continue;
      sqlite3_stmt* st = nullptr;
      if (sqlite3_prepare_v2(m_db, s.sql.c_str(), -1, &st, nullptr) != SQLITE_OK) {
        std::fprintf(stderr, "%s: raw prepare: %s\n", g_program, sqlite3_errmsg(m_db));
        return false;
      }
      m_stmts[s.sql] = st;
    }
  return true;
}

bool SqliteReplayer::run(const Sequence& seq, int capturedId) {
  long long newId = 0;
  for (const Statement& s : seq) {
    if (isTransactionControl(s.sql)) continue;
    sqlite3_stmt* st = m_stmts[s.sql];
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
      std::fprintf(stderr, "%s: raw statement failed: %s  in: %.120s\n", g_program, sqlite3_errmsg(m_db),
                   s.sql.c_str());
      return false;
    }
  }
  return true;
}

void SqliteReplayer::bind(sqlite3_stmt* st, const Statement& s, int capturedId, long long newId) {
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

PgReplayer::~PgReplayer() {
  if (m_conn) PQfinish(m_conn);
}

bool PgReplayer::open(const std::string& uri) {
  m_conn = PQconnectdb(uri.c_str());
  return PQstatus(m_conn) == CONNECTION_OK;
}

bool PgReplayer::exec(const std::string& sql) {
  PGresult* r = PQexec(m_conn, sql.c_str());
  const bool ok = PQresultStatus(r) == PGRES_COMMAND_OK || PQresultStatus(r) == PGRES_TUPLES_OK;
  if (!ok) std::fprintf(stderr, "%s: %s", g_program, PQerrorMessage(m_conn));
  PQclear(r);
  return ok;
}

bool PgReplayer::begin() { return exec("BEGIN"); }

bool PgReplayer::commit() { return exec("COMMIT"); }

int PgReplayer::explain(const Sequence& seq) {
  int marked = 0;
  std::map<std::string, bool> seen;
  for (const Statement& s : seq) {
    if (s.viaExec || isTransactionControl(s.sql) || seen[s.sql] || !m_names.count(s.sql)) continue;
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
    const std::string sql = "EXPLAIN EXECUTE " + m_names[s.sql] + (args.empty() ? "" : "(" + args + ")");
    PGresult* r = PQexec(m_conn, sql.c_str());
    std::printf("  %.160s\n", s.sql.c_str());
    if (PQresultStatus(r) == PGRES_TUPLES_OK) {
      for (int row = 0; row < PQntuples(r); ++row) {
        const std::string line = PQgetvalue(r, row, 0);
        const bool scan = readsWholeTable(line);
        marked += scan;
        std::printf("      %s%s\n", line.c_str(), scan ? "   << scan" : "");
      }
    } else {
      std::printf("      (no plan: %s)\n", PQerrorMessage(m_conn));
    }
    PQclear(r);
  }
  return marked;
}

bool PgReplayer::prepareAll(const std::vector<Sequence>& seqs) {
  for (const Sequence& seq : seqs)
    for (const Statement& s : seq) {
      if (s.viaExec || isTransactionControl(s.sql) || m_names.count(s.sql)) continue;
      const std::string name = "evd_bench_" + std::to_string(m_names.size() + 1);
      PGresult* r = PQprepare(m_conn, name.c_str(), s.sql.c_str(), static_cast<int>(s.values.size()), nullptr);
      const bool ok = PQresultStatus(r) == PGRES_COMMAND_OK;
      PQclear(r);
      if (!ok) {
        std::fprintf(stderr, "%s: raw prepare: %s", g_program, PQerrorMessage(m_conn));
        return false;
      }
      m_names[s.sql] = name;
    }
  return true;
}

bool PgReplayer::run(const Sequence& seq, int capturedId) {
  long long newId = 0;
  std::vector<std::string> texts;
  std::vector<const char*> values;
  for (const Statement& s : seq) {
    if (isTransactionControl(s.sql)) continue;
    PGresult* r;
    if (s.viaExec) {
      r = PQexec(m_conn, s.sql.c_str());
    } else {
      texts.assign(s.values.size(), std::string());
      values.assign(s.values.size(), nullptr);
      for (size_t k = 0; k < s.values.size(); ++k) {
        const Value v = remapped(s.values[k], capturedId, newId);
        if (v.kind == Value::Null) continue;
        texts[k] = v.s;
        values[k] = texts[k].c_str();
      }
      r = PQexecPrepared(m_conn, m_names[s.sql].c_str(), static_cast<int>(values.size()), values.data(), nullptr,
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
      std::fprintf(stderr, "%s: raw statement failed: %s  in: %.120s\n", g_program, PQerrorMessage(m_conn),
                   s.sql.c_str());
      return false;
    }
  }
  return true;
}

}  // namespace evd::bench

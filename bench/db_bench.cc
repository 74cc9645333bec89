// The cost of one insert, one read by key and one update by key through the
// database layer, against raw prepared statements of the same backend, in
// the same run. Prints the layer/raw ratio of each operation at the end.
//
//   build/bench/db_bench [--benchmark_min_time=0.5] [--benchmark_repetitions=5]
// PostgreSQL is measured when EVD_BENCH_PG_URI names a server
// (scripts/bench.sh starts one).
#include <benchmark/benchmark.h>
#include <libpq-fe.h>
#include <sqlite3.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>

#include "Db/AllBindings.h"
#include "Db/Database.h"

namespace {

constexpr int kSeedRows = 10000;

std::string sqlitePath() { return "/tmp/evd-bench-" + std::to_string(getpid()) + ".db"; }

// Prepares a database with kSeedRows occurrences and makes it current.
bool prepare(const std::string& uri) {
  std::string err, report;
  Db::dropSchema(uri, &err);
  if (Db::initSchema(uri, &report, &err) != 0) {
    std::fprintf(stderr, "db_bench: %s\n", err.c_str());
    return false;
  }
  Db::configure(uri);
  DBtran tran;
  tran.startTran();
  for (int i = 0; i < kSeedRows; ++i) {
    NTDetectedAlerts t(nullptr);
    t.getDataPtr()->alertType = i % 70;
    t.getDataPtr()->processStat = 1;
    Db::assignText(t.getDataPtr()->entityId, ("Client|" + std::to_string(i)).c_str());
    if (t.rowInsert(true) != 0) return false;
  }
  return tran.commitTran() == 0;
}

// ---- through the layer ----

void LayerInsert(benchmark::State& state) {
  int i = 0;
  for (auto _ : state) {
    NTDparams t(nullptr);
    t.getDataPtr()->eventId = ++i;
    t.getDataPtr()->type = 26;
    dbCopyText(t.getDataPtr()->value, "Client");
    t.getDataPtr()->created = 1700000000;
    if (t.rowInsert(true) != 0) state.SkipWithError("insert failed");
  }
}

void LayerRead(benchmark::State& state) {
  int i = 0;
  for (auto _ : state) {
    NTDetectedAlerts t(nullptr);
    t.setWhere("eventId = %d", 1 + (i++ % kSeedRows));
    if (t.getOneRow() != 0) state.SkipWithError("read failed");
    benchmark::DoNotOptimize(t.getDataPtr()->processStat);
  }
}

void LayerUpdate(benchmark::State& state) {
  int i = 0;
  for (auto _ : state) {
    NTDetectedAlerts t(nullptr);
    t.setWhere("eventId = %d", 1 + (i % kSeedRows));
    if (t.rowUpdate("processStat = %d", 1 + (i++ & 1)) != 0) state.SkipWithError("update failed");
  }
}

// ---- raw SQLite ----

struct RawSqlite {
  sqlite3* db = nullptr;
  sqlite3_stmt* ins = nullptr;
  sqlite3_stmt* sel = nullptr;
  sqlite3_stmt* upd = nullptr;
  bool open(const std::string& path) {
    if (sqlite3_open(path.c_str(), &db) != SQLITE_OK) return false;
    sqlite3_exec(db, "PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL", nullptr, nullptr, nullptr);
    sqlite3_busy_timeout(db, 10000);
    return sqlite3_prepare_v2(db, "INSERT INTO NTDparams (eventId, type, value, created) VALUES (?, ?, ?, ?)", -1,
                              &ins, nullptr) == SQLITE_OK &&
           sqlite3_prepare_v2(db,
                              "SELECT eventId, criteria, alertType, category, status, processStat, occurTime, "
                              "processTime, ntNotificationId, entityId, nextTriggerTime FROM NTDetectedAlerts "
                              "WHERE eventId = ?",
                              -1, &sel, nullptr) == SQLITE_OK &&
           sqlite3_prepare_v2(db, "UPDATE NTDetectedAlerts SET processStat = ? WHERE eventId = ?", -1, &upd,
                              nullptr) == SQLITE_OK;
  }
  ~RawSqlite() {
    sqlite3_finalize(ins);
    sqlite3_finalize(sel);
    sqlite3_finalize(upd);
    sqlite3_close(db);
  }
};
RawSqlite* g_raw = nullptr;

// What a caller of raw statements would keep of a row: the same fields the
// layer's row buffer gets.
struct RawRow {
  int ints[7];
  std::string entity;
  DB_DATETIME times[3];
};

void RawSqliteInsert(benchmark::State& state) {
  int i = 0;
  for (auto _ : state) {
    sqlite3_bind_int(g_raw->ins, 1, ++i);
    sqlite3_bind_int(g_raw->ins, 2, 26);
    sqlite3_bind_text(g_raw->ins, 3, "Client", -1, SQLITE_STATIC);
    sqlite3_bind_int64(g_raw->ins, 4, 1700000000);
    if (sqlite3_step(g_raw->ins) != SQLITE_DONE) state.SkipWithError("insert failed");
    sqlite3_reset(g_raw->ins);
  }
}

void RawSqliteRead(benchmark::State& state) {
  int i = 0;
  RawRow row;
  for (auto _ : state) {
    sqlite3_bind_int(g_raw->sel, 1, 1 + (i++ % kSeedRows));
    if (sqlite3_step(g_raw->sel) != SQLITE_ROW) state.SkipWithError("read failed");
    int n = 0;
    for (int c : {0, 1, 2, 3, 4, 5, 8}) row.ints[n++] = sqlite3_column_int(g_raw->sel, c);
    row.entity = reinterpret_cast<const char*>(sqlite3_column_text(g_raw->sel, 9));
    n = 0;
    for (int c : {6, 7, 10}) row.times[n++].parse(reinterpret_cast<const char*>(sqlite3_column_text(g_raw->sel, c)));
    sqlite3_reset(g_raw->sel);
    benchmark::DoNotOptimize(row);
  }
}

void RawSqliteUpdate(benchmark::State& state) {
  int i = 0;
  for (auto _ : state) {
    sqlite3_bind_int(g_raw->upd, 1, 1 + (i & 1));
    sqlite3_bind_int(g_raw->upd, 2, 1 + (i++ % kSeedRows));
    if (sqlite3_step(g_raw->upd) != SQLITE_DONE) state.SkipWithError("update failed");
    sqlite3_reset(g_raw->upd);
  }
}

// ---- raw PostgreSQL ----

PGconn* g_pg = nullptr;

bool pgPrepare(const char* name, const char* sql) {
  PGresult* r = PQprepare(g_pg, name, sql, 0, nullptr);
  bool ok = PQresultStatus(r) == PGRES_COMMAND_OK;
  PQclear(r);
  return ok;
}

bool pgRun(const char* name, int n, const char* const* values, int expect, RawRow* row = nullptr) {
  PGresult* r = PQexecPrepared(g_pg, name, n, values, nullptr, nullptr, 0);
  bool ok = PQresultStatus(r) == expect;
  if (ok && row && PQntuples(r) == 1) {
    int k = 0;
    for (int c : {0, 1, 2, 3, 4, 5, 8}) row->ints[k++] = std::atoi(PQgetvalue(r, 0, c));
    row->entity = PQgetvalue(r, 0, 9);
    k = 0;
    for (int c : {6, 7, 10}) row->times[k++].parse(PQgetvalue(r, 0, c));
  }
  PQclear(r);
  return ok;
}

void RawPgInsert(benchmark::State& state) {
  int i = 0;
  for (auto _ : state) {
    std::string id = std::to_string(++i);
    const char* v[] = {id.c_str(), "26", "Client", "1700000000"};
    if (!pgRun("ins", 4, v, PGRES_COMMAND_OK)) state.SkipWithError("insert failed");
  }
}

void RawPgRead(benchmark::State& state) {
  int i = 0;
  RawRow row;
  for (auto _ : state) {
    std::string id = std::to_string(1 + (i++ % kSeedRows));
    const char* v[] = {id.c_str()};
    if (!pgRun("sel", 1, v, PGRES_TUPLES_OK, &row)) state.SkipWithError("read failed");
    benchmark::DoNotOptimize(row);
  }
}

void RawPgUpdate(benchmark::State& state) {
  int i = 0;
  for (auto _ : state) {
    std::string stat = std::to_string(1 + (i & 1)), id = std::to_string(1 + (i++ % kSeedRows));
    const char* v[] = {stat.c_str(), id.c_str()};
    if (!pgRun("upd", 2, v, PGRES_COMMAND_OK)) state.SkipWithError("update failed");
  }
}

// Collects each run's time per iteration and prints layer/raw ratios.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    // With --benchmark_repetitions the median stands for the benchmark.
    for (const Run& r : runs) {
      if (r.error_occurred) continue;
      if (r.run_type == Run::RT_Aggregate) {
        if (r.aggregate_name == "median") m_medians[r.run_name.str()] = r.GetAdjustedRealTime();
      } else {
        m_times[r.benchmark_name()] = r.GetAdjustedRealTime();
      }
    }
    ConsoleReporter::ReportRuns(runs);
  }
  void printRatios() {
    for (auto& [name, t] : m_medians) m_times[name] = t;
    std::printf("\nlayer / raw (lower is better; target <= 1.25)\n");
    for (const char* backend : {"sqlite", "postgres"})
      for (const char* op : {"Insert", "Read", "Update"}) {
        auto l = m_times.find(std::string(backend) + "/Layer" + op);
        auto r = m_times.find(std::string(backend) + "/Raw" + op);
        if (l != m_times.end() && r != m_times.end() && r->second > 0)
          std::printf("  %-9s %-7s %.2f\n", backend, op, l->second / r->second);
      }
  }

 private:
  std::map<std::string, double> m_times;
  std::map<std::string, double> m_medians;
};

void runSet(const char* backend, void (*ins)(benchmark::State&), void (*rd)(benchmark::State&),
            void (*up)(benchmark::State&), RatioReporter& rep) {
  std::string b = backend;
  benchmark::ClearRegisteredBenchmarks();
  // Interleave so a slow phase of a noisy machine hits both sides alike.
  benchmark::RegisterBenchmark((b + "/LayerInsert").c_str(), LayerInsert);
  benchmark::RegisterBenchmark((b + "/RawInsert").c_str(), ins);
  benchmark::RegisterBenchmark((b + "/LayerRead").c_str(), LayerRead);
  benchmark::RegisterBenchmark((b + "/RawRead").c_str(), rd);
  benchmark::RegisterBenchmark((b + "/LayerUpdate").c_str(), LayerUpdate);
  benchmark::RegisterBenchmark((b + "/RawUpdate").c_str(), up);
  benchmark::RunSpecifiedBenchmarks(&rep);
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  RatioReporter rep;
  const std::string path = sqlitePath();
  if (prepare("sqlite:" + path)) {
    RawSqlite raw;
    if (!raw.open(path)) return 1;
    g_raw = &raw;
    runSet("sqlite", RawSqliteInsert, RawSqliteRead, RawSqliteUpdate, rep);
    g_raw = nullptr;
  }
  Db::closeThreadConnection();
  for (const char* ext : {"", "-wal", "-shm"}) std::remove((path + ext).c_str());

  if (const char* pg = std::getenv("EVD_BENCH_PG_URI"); pg && *pg && prepare(pg)) {
    g_pg = PQconnectdb(pg);
    if (PQstatus(g_pg) == CONNECTION_OK &&
        pgPrepare("ins", "INSERT INTO NTDparams (eventId, type, value, created) VALUES ($1, $2, $3, $4)") &&
        pgPrepare("sel", "SELECT eventId, criteria, alertType, category, status, processStat, occurTime, "
                         "processTime, ntNotificationId, entityId, nextTriggerTime FROM NTDetectedAlerts "
                         "WHERE eventId = $1") &&
        pgPrepare("upd", "UPDATE NTDetectedAlerts SET processStat = $1 WHERE eventId = $2")) {
      PQclear(PQexec(g_pg, "SET DateStyle = 'ISO, YMD'"));
      runSet("postgres", RawPgInsert, RawPgRead, RawPgUpdate, rep);
    } else {
      std::fprintf(stderr, "db_bench: PostgreSQL: %s\n", PQerrorMessage(g_pg));
    }
    PQfinish(g_pg);
  }
  rep.printRatios();
  benchmark::Shutdown();
  return 0;
}

// The cost of one repeated-alert look-up (EvNDetector::GetExistingEventIdEx)
// with 10 thousand and with 1 million stored occurrences, each backend.
// Prints cost(1M) / cost(10k) per backend at the end: the look-up must stay
// an index seek as the history grows.
//
// The stored occurrences are what matching itself leaves behind: every
// alert on an object (entity id, alert type, criteria, category, old
// condition) has one pending occurrence and one earlier, cleared one, so half
// of the rows are pending and no object has two pending rows. Objects are
// clients, subclients, jobs and libraries over 60 alert types and three old
// conditions. The look-ups ask for client objects: half of them with the
// stored old condition (a hit), half with another one (a miss).
//
//   build/bench/repeat_match_bench [--benchmark_min_time=0.5]
// PostgreSQL is measured when EVD_BENCH_PG_URI names a server
// (scripts/bench.sh starts one).
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "Db/Database.h"
#include "db/backend.h"
#include "detector/EvNDetector.h"

namespace {

constexpr int kSmall = 10000;
constexpr int kLarge = 1000000;
constexpr int kRounds = 3;

// The object of alert J (1 .. rows / 2), the same formulas as the SQL below.
// Every fourth alert is about a client (criteria 43); the others about a
// job (94), a subclient (45) and a library (20).
struct Seed {
  static int alertType(long long j) { return static_cast<int>(1 + (j / 4) % 60); }
  static int category(long long j) { return 1 + alertType(j) % 8; }
  static int status(long long j) { return static_cast<int>(((j * 2654435761LL) / 1024) % 3); }
  static int client(long long j) { return static_cast<int>(1 + j / 240); }
};

const char* kColumns =
    "criteria, alertType, category, status, processStat, occurTime, processTime, ntNotificationId, entityId";

// The SELECT list over (i, j): row i is about alert j; the second half of the
// rows is the pending one of each alert.
std::string selectList(const char* time, int rows) {
  return std::string(
             "CASE j % 4 WHEN 0 THEN 43 WHEN 1 THEN 94 WHEN 2 THEN 45 ELSE 20 END, "
             "1 + (j / 4) % 60, 1 + (1 + (j / 4) % 60) % 8, ((j * 2654435761) / 1024) % 3, "
             "CASE WHEN i > ") +
         std::to_string(rows / 2) + " THEN 1 ELSE 4 END, " + time + ", " + time +
         ", 1 + j % 50, "
         "CASE j % 4 WHEN 0 THEN 'Client|' || (1 + j / 240) WHEN 1 THEN 'Job|' || (4294967296 + j) "
         "WHEN 2 THEN 'SubClient|' || (1 + j / 240) ELSE 'Library|' || (1 + j / 240) END";
}

// Fills a fresh schema at URI with N occurrences in one transaction.
bool seed(const std::string& uri, int n) {
  std::string err, report;
  Db::closeThreadConnection();
  Db::dropSchema(uri, &err);
  if (Db::initSchema(uri, &report, &err) != 0) {
    std::fprintf(stderr, "repeat_match_bench: %s\n", err.c_str());
    return false;
  }
  auto b = Db::detail::openBackend(uri, &err);
  if (!b) {
    std::fprintf(stderr, "repeat_match_bench: %s\n", err.c_str());
    return false;
  }
  const bool sqlite = b->dialect() == Db::detail::Dialect::SQLite;
  const std::string count = std::to_string(n), half = std::to_string(n / 2);
  const std::string series =
      sqlite ? "(WITH RECURSIVE s(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM s WHERE i < " + count +
                   ") SELECT i, (i - 1) % " + half + " + 1 AS j FROM s) t"
             : "(SELECT i, (i - 1) % " + half + " + 1 AS j FROM generate_series(1::bigint, " + count + ") AS s(i)) t";
  const std::string sql = "BEGIN; INSERT INTO NTDetectedAlerts (" + std::string(kColumns) + ") SELECT " +
                          selectList(sqlite ? "'2024-05-01 10:00:00.000'" : "TIMESTAMP '2024-05-01 10:00:00'", n) +
                          " FROM " + series + "; COMMIT; ANALYZE NTDetectedAlerts;" +
                          // A server's database is in steady state, not behind a WAL of the seed.
                          (sqlite ? " PRAGMA wal_checkpoint(TRUNCATE);" : "");
  if (b->exec(sql) != 0) {
    std::fprintf(stderr, "repeat_match_bench: seeding %d rows: %s\n", n, b->lastError().c_str());
    return false;
  }
  return true;
}

class BenchDetector : public EvNDetector {
 public:
  void setAlertStatus(int status) { m_alertStatus = status; }
};

// One database of each size for one backend.
struct Target {
  std::string uri;
  int rows = 0;
};

// Looks up client objects in a scattered order, alternating hits and misses.
void Lookup(benchmark::State& state, const Target* t) {
  // The detector keeps its connection from event to event: switch only when
  // the target changes, not on every run of the same benchmark.
  static const Target* current = nullptr;
  std::string err;
  if (current != t) {
    Db::closeThreadConnection();
    Db::configure(t->uri);
    current = t;
  }
  if (Db::openThreadConnection(&err) != 0) {
    current = nullptr;
    state.SkipWithError(err.c_str());
    return;
  }
  const long long clientAlerts = t->rows / 2 / 4;
  BenchDetector d;
  d.SetNotiCriteria(43);
  long long k = 0, hits = 0, expectedHits = 0;
  for (auto _ : state) {
    const long long j = 4 * (1 + (++k * 7919) % clientAlerts);
    const bool hit = (k & 1) == 0;
    d.SetNotiCategoryAndType(Seed::category(j), Seed::alertType(j));
    d.setAlertStatus(hit ? Seed::status(j) : (Seed::status(j) + 1) % 3);
    const int id = d.GetExistingEventIdEx(0, 0, 0, 0, 0, 0, Seed::client(j), 0, 0, 0, 0, 0, 0);
    hits += id != 0;
    expectedHits += hit;
    benchmark::DoNotOptimize(id);
  }
  // A fast look-up that finds the wrong rows measures nothing.
  if (hits != expectedHits) state.SkipWithError("look-ups did not find exactly the pending occurrences");
  state.counters["hit%"] = state.iterations() ? 100.0 * static_cast<double>(hits) / state.iterations() : 0;
}

// Keeps the fastest round of each benchmark and prints the ratios.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& r : runs) {
      if (r.error_occurred) continue;
      std::string name = r.benchmark_name();
      name = name.substr(0, name.find('#'));
      auto it = m_times.find(name);
      const double t = r.GetAdjustedRealTime();
      if (it == m_times.end() || t < it->second) m_times[name] = t;
    }
    ConsoleReporter::ReportRuns(runs);
  }
  void printRatios() {
    std::printf("\ncost(1M) / cost(10k) of one look-up (best of %d rounds; target <= 1.5)\n", kRounds);
    for (const char* backend : {"sqlite", "postgres"}) {
      auto s = m_times.find(std::string(backend) + "/10k");
      auto l = m_times.find(std::string(backend) + "/1M");
      if (s != m_times.end() && l != m_times.end() && s->second > 0)
        std::printf("  %-9s 10k %8.1f us   1M %8.1f us   ratio %.2f\n", backend, s->second / 1000.0,
                    l->second / 1000.0, l->second / s->second);
    }
  }

 private:
  std::map<std::string, double> m_times;
};

void runBackend(const char* backend, const Target& small, const Target& large, RatioReporter& rep) {
  benchmark::ClearRegisteredBenchmarks();
  // Alternate the sizes so a slow phase of a noisy machine hits both alike.
  for (int r = 1; r <= kRounds; ++r) {
    std::string round = std::to_string(r);
    round.insert(0, 1, '#');
    benchmark::RegisterBenchmark((std::string(backend) + "/10k" + round).c_str(), Lookup, &small);
    benchmark::RegisterBenchmark((std::string(backend) + "/1M" + round).c_str(), Lookup, &large);
  }
  benchmark::RunSpecifiedBenchmarks(&rep);
  Db::closeThreadConnection();
}

std::string withSchema(const std::string& base, const std::string& schema) {
  return base + (base.find('?') == std::string::npos ? "?" : "&") + "options=-csearch_path%3D" + schema;
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  RatioReporter rep;

  const std::string stem = "/tmp/evd-rmbench-" + std::to_string(getpid());
  const Target sqliteSmall{"sqlite:" + stem + "-10k.db", kSmall}, sqliteLarge{"sqlite:" + stem + "-1M.db", kLarge};
  if (seed(sqliteSmall.uri, kSmall) && seed(sqliteLarge.uri, kLarge))
    runBackend("sqlite", sqliteSmall, sqliteLarge, rep);
  for (const char* size : {"-10k.db", "-1M.db"})
    for (const char* ext : {"", "-wal", "-shm"}) std::remove((stem + size + ext).c_str());

  if (const char* pg = std::getenv("EVD_BENCH_PG_URI"); pg && *pg) {
    std::string err;
    auto admin = Db::detail::openBackend(pg, &err);
    const std::string s10 = "evd_rmbench_10k", s1m = "evd_rmbench_1m";
    if (admin && admin->exec("DROP SCHEMA IF EXISTS " + s10 + " CASCADE; DROP SCHEMA IF EXISTS " + s1m +
                             " CASCADE; CREATE SCHEMA " + s10 + "; CREATE SCHEMA " + s1m) == 0) {
      const Target small{withSchema(pg, s10), kSmall}, large{withSchema(pg, s1m), kLarge};
      if (seed(small.uri, kSmall) && seed(large.uri, kLarge)) runBackend("postgres", small, large, rep);
      admin->exec("DROP SCHEMA IF EXISTS " + s10 + " CASCADE; DROP SCHEMA IF EXISTS " + s1m + " CASCADE");
    } else {
      std::fprintf(stderr, "repeat_match_bench: PostgreSQL: %s\n", admin ? admin->lastError().c_str() : err.c_str());
    }
  }
  rep.printRatios();
  benchmark::Shutdown();
  return 0;
}

#include "bench/bench_support.h"

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <map>

#include "Db/Database.h"
#include "db/backend.h"
#include "detector/EvNDetector.h"
#include "host/EvAlertDebug.h"

namespace evd::bench {
namespace {

void Handler(benchmark::State& state, const Stream* stream) {
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

void Raw(benchmark::State& state, Replayer* replayer, const Stream* stream) {
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

class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& r : runs) {
      if (r.error_occurred || r.run_type == Run::RT_Aggregate) continue;
      std::string name = r.benchmark_name();
      if (const size_t cut = name.find("/real_time"); cut != std::string::npos) name.erase(cut);
      if (const size_t cut = name.find('#'); cut != std::string::npos) name.erase(cut);
      const double t = r.GetAdjustedRealTime();
      auto it = m_times.find(name);
      if (it == m_times.end() || t < it->second) m_times[name] = t;  // the best round
    }
    ConsoleReporter::ReportRuns(runs);
  }
  void printRatios() {
    std::printf("\nevents/s and handler / raw, best of %d rounds (target <= 1.3)\n", kRounds);
    for (const auto& [name, t] : m_times) {
      const size_t slash = name.rfind("/Handler");
      if (slash == std::string::npos || slash + 8 != name.size()) continue;
      const std::string base = name.substr(0, slash);
      auto raw = m_times.find(base + "/Raw");
      if (raw == m_times.end() || raw->second <= 0 || t <= 0) continue;
      // Times are in the reports' unit (ns unless --benchmark_time_unit says otherwise).
      std::printf("  %-26s handler %8.0f ev/s   raw %8.0f ev/s   ratio %.2f\n", base.c_str(), 1e9 / t,
                  1e9 / raw->second, t / raw->second);
    }
  }

 private:
  std::map<std::string, double> m_times;
};

// One backend: schema, rules, streams, capture, then handler and raw interleaved.
bool runBackend(const char* backend, const std::string& uri, const Suite& suite, Replayer& replayer,
                RatioReporter& rep) {
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
    if (!replayer.exec("INSERT INTO NTnotificationRule (alertTypeId, status) VALUES (" + t + ", 0)") ||
        !replayer.exec("INSERT INTO NTAlertType (id, categoryID) SELECT " + t + ", " + std::to_string(category) +
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
    if (!replayer.prepareAll(s->captured)) return false;

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

}  // namespace

std::string withSchema(const std::string& base, const std::string& schema) {
  return base + (base.find('?') == std::string::npos ? "?" : "&") + "options=-csearch_path%3D" + schema;
}

int runSuite(int argc, char** argv, const char* program, const Suite& suite) {
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
      runBackend("sqlite", "sqlite:" + path, suite, raw, rep);
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
        runBackend("postgres", uri, suite, raw, rep);
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

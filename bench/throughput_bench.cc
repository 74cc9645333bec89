// Events per second a host gets from the detector, per backend and commit
// mode, each beside the raw floor measured in the same run: the statements
// one event issues, captured and replayed as prepared statements
// (bench_support.h) with the same commit pattern. Beside them the ceilings
// (bench/ceiling.h): only the rows the event stores, one row per statement
// and multi-row, with the same commit pattern; the ratio printed last is
// the detector's against the multi-row ceiling.
//
// Streams:
//   BackupFailure         failed backups (alert type 3, criteria 1); every
//                         event a new occurrence
//   RepeatedClientConfig  free-space alerts (type 10, criteria 77) on eight
//                         clients whose occurrences are pending; every event
//                         updates one in place
//   Mixed                 every line of examples/events.jsonl: one event of
//                         every alert type, repeats and cleared conditions
// Modes (floor in brackets):
//   per-statement  StoreNotiData alone, each statement commits [autocommit]
//   per-event      EvNEventBatch, group 1 [BEGIN ... COMMIT per event]
//   per-event+pipe PostgreSQL only: the same with pipelining [per event]
//   group-100      EvNEventBatch, group 100 [BEGIN ... COMMIT per 100]
// Then the history ratio: events/s of BackupFailure and RepeatedClientConfig
// (per-event) with 10 thousand stored occurrences against a large history
// (default 1 million, half pending; tools/history), with the plans of their
// statements on the large history; and memory: VmRSS after a warm-up
// against after a long run of the Mixed stream.
//
//   build/bench/throughput_bench [--json FILE] [--history N] [--events N]
//                                [--seconds S] [--skip-history] [--skip-rss]
//                                [--one-row]
// --one-row: the detector writes every parameter row by a statement of its
// own, to compare with its multi-row writes.
// Environment: EVD_BENCH_PG_URI (PostgreSQL server; scripts/bench.sh starts
// one), EVD_BENCH_JSON, EVD_BENCH_HISTORY, EVD_BENCH_EVENTS (long run on
// SQLite, default 1000000), EVD_BENCH_PG_EVENTS (on PostgreSQL, default
// 100000), EVD_BENCH_SECONDS (per measurement, default 1).
#include <malloc.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

#include "Db/AllBindings.h"
#include "Db/Database.h"
#include "bench/bench_events.h"
#include "bench/bench_support.h"
#include "bench/ceiling.h"
#include "db/backend.h"
#include "detector/EvNDetector.h"
#include "detector/EvNEventBatch.h"
#include "detector/alert_types.h"
#include "host/EvAlertDebug.h"
#include "params/EvNDetectParams.h"
#include "tools/history/history.h"

namespace {

using evd::bench::Replayer;
using evd::bench::Stream;
using Clock = std::chrono::steady_clock;

struct Config {
  std::string json = "build/bench/throughput.json";
  long long history = 1000000, smallHistory = 10000;
  long long events = 1000000, pgEvents = 100000;
  double seconds = 1.0;
  bool skipHistory = false, skipRss = false;
  bool oneRow = false;
};

enum class Mode { PerStatement, PerEvent, PerEventPipelined, Group };
struct ModeInfo {
  Mode mode;
  const char* name;
  size_t group;     // events per commit of the handler and of its floor (0: per statement)
  bool pipeline;
  bool postgresOnly;
};
constexpr ModeInfo kModes[] = {
    {Mode::PerStatement, "per-statement", 0, false, false},
    {Mode::PerEvent, "per-event", 1, false, false},
    {Mode::PerEventPipelined, "per-event+pipe", 1, true, true},
    {Mode::Group, "group-100", 100, true, false},
};

const char* floorName(size_t group) {
  return group == 0 ? "autocommit" : group == 1 ? "commit/event" : "commit/100";
}

// One measured row of the table.
struct Row {
  std::string stream, backend, mode, floor;
  double evs = 0, floorEvs = 0;
  double oneRowEvs = 0, multiRowEvs = 0;  // the ceilings
  double waits = -1;  // PostgreSQL round trips the detector waited for, per event
  std::string target;  // what it must reach, empty when nothing is asked
  bool met = true;
  std::string note;
};

// Runs UNIT events at a time through STEP until SECONDS have passed; events/s,
// 0 when a step failed.
double timed(double seconds, size_t unit, const std::function<bool(size_t)>& step) {
  const auto t0 = Clock::now();
  long long n = 0;
  double elapsed = 0;
  do {
    if (!step(unit)) return 0;
    n += static_cast<long long>(unit);
    elapsed = std::chrono::duration<double>(Clock::now() - t0).count();
  } while (elapsed < seconds);
  return n / elapsed;
}

// The handler side: one detector per stream, kept across rounds as a host keeps one.
struct HandlerRun {
  std::vector<EvAlertEx> events;
  EvNDetector detector;
  size_t next = 0;
  std::string error;
  // PostgreSQL round trips waited for, and events run, across measurements.
  unsigned long long waits = 0, run = 0;

  // Runs events for SECONDS in MODE; events/s (0 on a failed event).
  double measure(const ModeInfo& m, double seconds) {
    const unsigned long long waited = evd::bench::g_pqWaits;
    const size_t first = next;
    const double evs = measureEvents(m, seconds);
    waits += evd::bench::g_pqWaits - waited;
    run += next - first;
    return evs;
  }
  double measureEvents(const ModeInfo& m, double seconds) {
    if (m.mode == Mode::PerStatement) {
      return timed(seconds, 20, [&](size_t n) {
        for (size_t i = 0; i < n; ++i)
          if (!detector.StoreNotiData(events[next++ % events.size()])) return fail("StoreNotiData failed");
        return true;
      });
    }
    bool ok = true;
    EvNEventBatch batch(detector, {EvNCommitMode::PerEvent, m.group, m.pipeline}, [&](const EvNEventResult& r) {
      if (!r.ok || !r.committed) {
        ok = false;
        error = r.lastDatabaseError.empty() ? "an event failed" : r.lastDatabaseError;
      }
    });
    const double evs = timed(seconds, std::max<size_t>(m.group, 20), [&](size_t n) {
      for (size_t i = 0; i < n; ++i) batch.store(events[next++ % events.size()]);
      return ok;
    });
    if (batch.flush() != 0 || !ok) return fail(error.empty() ? "group commit failed" : error);
    return evs;
  }
  bool fail(const std::string& why) {
    error = why;
    return false;
  }
};

// Replays SEQS (one per event, with the event ids they were captured with)
// committing per statement (GROUP 0) or per GROUP events.
double measureRaw(Replayer& raw, const std::vector<evd::bench::Sequence>& seqs, const std::vector<int>& ids,
                  size_t group, double seconds, size_t& next) {
  return timed(seconds, std::max<size_t>(group, 20), [&](size_t n) {
    for (size_t i = 0; i < n; ++i) {
      if (group > 0 && i % group == 0 && !raw.begin()) return false;
      const size_t k = next++ % seqs.size();
      if (!raw.run(seqs[k], ids[k])) return false;
      if (group > 0 && (i + 1) % group == 0 && !raw.commit()) return false;
    }
    return true;
  });
}

// Resident memory, whole and its private part. SQLite maps the database
// file (mmap_size): the pages of it that were read count in VmRSS as file
// pages (RssFile) and grow with the file, up to the mapping's size; a leak
// shows in the private part (RssAnon). The private part only grows past
// the process's high-water mark, which an earlier phase may have set: the
// bytes the allocator has handed out (heap in use) show growth below it.
struct Rss {
  long long vm = 0, anon = 0, file = 0, heap = 0;
};
Rss rss() {
  std::ifstream in("/proc/self/status");
  Rss r;
  r.heap = static_cast<long long>(mallinfo2().uordblks / 1024);
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("VmRSS:", 0) == 0) r.vm = std::atoll(line.c_str() + 6);
    else if (line.rfind("RssAnon:", 0) == 0) r.anon = std::atoll(line.c_str() + 8);
    else if (line.rfind("RssFile:", 0) == 0) r.file = std::atoll(line.c_str() + 8);
  }
  return r;
}

double growth(long long from, long long to) { return 100.0 * (to - from) / std::max(1LL, from); }

std::vector<std::string> exampleEvents() {
  std::ifstream in(std::string(EVD_SOURCE_DIR) + "/examples/events.jsonl");
  std::vector<std::string> out;
  for (std::string line; std::getline(in, line);)
    if (line.find('{') != std::string::npos) out.push_back(line);
  return out;
}

// Streams made on the backend's fresh schema; the events are run once so the
// repeats find their pending occurrences. Mixed keeps the events the detector
// takes (an event-log alert with nothing new, for one, records nothing but is
// kept: it is still an event the host hands over).
bool makeStreams(std::vector<std::unique_ptr<Stream>>& out) {
  auto backup = std::make_unique<Stream>();
  backup->name = "BackupFailure";
  backup->events = {evd::bench::kBackupFailure};
  auto repeated = std::make_unique<Stream>();
  repeated->name = "RepeatedClientConfig";
  for (int i = 0; i < 8; ++i) repeated->events.push_back(evd::bench::clientConfigEvent(12 + i, i % 4));
  auto mixed = std::make_unique<Stream>();
  mixed->name = "Mixed";
  EvNDetector d;
  for (const std::string& e : repeated->events) {
    EvAlertEx a = evd::bench::parse(e);
    if (!d.StoreNotiData(a)) return false;
  }
  for (const std::string& e : exampleEvents()) {
    EvAlertEx a = evd::bench::parse(e);
    if (d.StoreNotiData(a)) mixed->events.push_back(e);
    else std::fprintf(stderr, "throughput_bench: Mixed: left out (the detector refuses it): %.100s\n", e.c_str());
  }
  out.push_back(std::move(backup));
  out.push_back(std::move(repeated));
  if (!mixed->events.empty()) out.push_back(std::move(mixed));
  return true;
}

// Alert types of every stream: the saved-query rules come first, as rules 1
// to 3, since their results name them by id (examples/README.md).
bool addRules(const std::function<bool(const std::string&)>& exec) {
  std::vector<std::pair<int, int>> rules = {{65, 0}, {65, 0x12000}, {57, 0}};
  std::vector<int> types = {3, 10};
  for (const std::string& e : exampleEvents()) {
    const size_t p = e.find("\"alertType\":");
    if (p != std::string::npos) types.push_back(std::atoi(e.c_str() + p + 12));
  }
  std::sort(types.begin(), types.end());
  types.erase(std::unique(types.begin(), types.end()), types.end());
  for (int t : types)
    if (t != 65 && t != 57) rules.push_back({t, 0});
  for (const auto& [type, status] : rules) {
    const AlertTypeInfo* info = findAlertType(type);
    if (!exec("INSERT INTO NTnotificationRule (alertTypeId, categoryId, status, notificationName) VALUES (" +
              std::to_string(type) + ", " + std::to_string(info ? info->category : 0) + ", " +
              std::to_string(status) + ", 'Benchmark rule')"))
      return false;
  }
  return true;
}

double ratio(double evs, double of) { return of > 0 ? evs / of : 0; }

// Round trips waited for per event, "-" where none are counted (SQLite).
std::string waitsText(const Row& r) {
  char buf[32];
  if (r.waits < 0) return "     -";
  std::snprintf(buf, sizeof buf, "%6.2f", r.waits);
  return buf;
}

// What each row must reach (empty: nothing asked), against a ceiling
// measured in the same run.
void setTarget(Row& r) {
  const bool sqlite = r.backend == "sqlite";
  if (r.stream != "BackupFailure") return;
  const auto against = [&](double share, bool multiRow) {
    r.target = ">= " + std::to_string(share).substr(0, 4) + " of " + (multiRow ? "multi-row" : "one-row") + " ceiling";
    r.met = ratio(r.evs, multiRow ? r.multiRowEvs : r.oneRowEvs) >= share;
  };
  if (sqlite && r.mode == "per-event") against(0.9, true);
  else if (sqlite && r.mode == "group-100") against(0.85, true);
  else if (!sqlite && r.mode == "per-event+pipe") against(0.8, false);
  else if (!sqlite && r.mode == "group-100") against(0.7, true);
}

struct HistoryRow {
  std::string backend, stream;
  long long small = 0, large = 0;  // stored occurrences at each measurement
  double smallEvs = 0, largeEvs = 0;
  double generateSeconds = 0;
  int scans = 0;  // plan lines reading a whole table, on the large history
};
struct RssRow {
  std::string backend, mode;
  long long events = 0;
  Rss warm, end;
};

struct Results {
  std::vector<Row> rows;
  std::vector<HistoryRow> history;
  std::vector<RssRow> rss;
};

class Backend {
 public:
  Backend(const char* name, std::string uri, Replayer& raw, const Config& cfg)
      : m_name(name), m_uri(std::move(uri)), m_raw(raw), m_cfg(cfg), m_sqlite(m_uri.rfind("sqlite:", 0) == 0) {}

  // Schema, alert types, rules, streams and their captured statements.
  bool setUp() {
    std::string err, report;
    m_streams.clear();
    Db::closeThreadConnection();
    Db::dropSchema(m_uri, &err);
    if (Db::initSchema(m_uri, &report, &err) != 0) return say(err);
    Db::configure(m_uri);
    if (seedAlertTypes(&err) != 0) return say(err);
    if (!addRules([this](const std::string& sql) { return m_raw.exec(sql); })) return say("cannot add the rules");
    if (!makeStreams(m_streams)) return say("making the streams failed");
    if (m_sqlite) {
      sqlite3_auto_extension(reinterpret_cast<void (*)()>(evd::bench::installTrace));
      Db::closeThreadConnection();
    }
    bool captured = true;
    for (auto& s : m_streams) captured = captured && evd::bench::capture(*s);
    if (m_sqlite) {
      sqlite3_cancel_auto_extension(reinterpret_cast<void (*)()>(evd::bench::installTrace));
      Db::closeThreadConnection();
    }
    if (!captured) return say("capturing the statements of an event failed");
    m_ceilings.clear();
    for (auto& s : m_streams) {
      Ceilings c;
      for (const evd::bench::Sequence& seq : s->captured) {
        c.oneRow.push_back(evd::bench::ceilingOf(seq, false, !m_sqlite));
        c.multiRow.push_back(evd::bench::ceilingOf(seq, true, !m_sqlite));
      }
      if (!m_raw.prepareAll(s->captured) || !m_raw.prepareAll(c.oneRow) || !m_raw.prepareAll(c.multiRow))
        return say("preparing the raw statements failed");
      m_ceilings.push_back(std::move(c));
    }
    m_runs.clear();
    for (auto& s : m_streams) {
      auto h = std::make_unique<HandlerRun>();
      for (const std::string& e : s->events) h->events.push_back(evd::bench::parse(e));
      m_runs.push_back(std::move(h));
    }
    return true;
  }

  // Every stream in every mode of this backend, beside its floor; the best
  // of three interleaved rounds of each.
  void throughput(Results& out) {
    for (auto& s : m_streams) evd::bench::printStatements(m_name, *s);
    for (size_t i = 0; i < m_streams.size(); ++i)
      for (const ModeInfo& m : kModes) {
        if (m.postgresOnly && m_sqlite) continue;
        Row r;
        r.stream = m_streams[i]->name;
        r.backend = m_name;
        r.mode = m.name;
        r.floor = floorName(m.group);
        const Stream& s = *m_streams[i];
        const Ceilings& c = m_ceilings[i];
        size_t next = 0, nextOne = 0, nextMulti = 0;
        HandlerRun& run = *m_runs[i];
        run.waits = run.run = 0;
        for (int round = 0; round < evd::bench::kRounds; ++round) {
          r.evs = std::max(r.evs, m_runs[i]->measure(m, m_cfg.seconds));
          r.floorEvs = std::max(r.floorEvs, measureRaw(m_raw, s.captured, s.capturedIds, m.group, m_cfg.seconds, next));
          r.oneRowEvs =
              std::max(r.oneRowEvs, measureRaw(m_raw, c.oneRow, s.capturedIds, m.group, m_cfg.seconds, nextOne));
          r.multiRowEvs =
              std::max(r.multiRowEvs, measureRaw(m_raw, c.multiRow, s.capturedIds, m.group, m_cfg.seconds, nextMulti));
          if (!m_runs[i]->error.empty()) r.note = m_runs[i]->error;
        }
        if (!m_sqlite && run.run > 0) r.waits = static_cast<double>(run.waits) / static_cast<double>(run.run);
        setTarget(r);
        std::printf("%-22s %-9s %-15s %9.0f ev/s %s  floor %-13s %9.0f ev/s   ratio %5.2f   ceiling one-row %9.0f "
                    "multi-row %9.0f ev/s   ratio %5.2f %s\n",
                    r.stream.c_str(), m_name, r.mode.c_str(), r.evs, waitsText(r).c_str(), r.floor.c_str(),
                    r.floorEvs, ratio(r.evs, r.floorEvs), r.oneRowEvs, r.multiRowEvs, ratio(r.evs, r.multiRowEvs), r.note.c_str());
        std::fflush(stdout);
        out.rows.push_back(r);
      }
  }

  // BackupFailure and RepeatedClientConfig per event with a small and a
  // large stored history; rows the measurement adds are taken out again, so
  // that each side runs against the history it names.
  bool history(Results& out) {
    if (!setUp()) return false;
    const ModeInfo& mode = kModes[1];
    std::vector<HistoryRow> rows;
    for (size_t i = 0; i < 2; ++i) {
      rows.emplace_back();
      rows.back().backend = m_name;
      rows.back().stream = m_streams[i]->name + " (" + mode.name + ")";
    }
    double generated = 0;
    for (const long long target : {m_cfg.smallHistory, m_cfg.history}) {
      const long long stored = count("SELECT COUNT(*) FROM NTDetectedAlerts");
      evd::history::Options o;
      o.occurrences = std::max(0LL, target - stored);
      evd::history::Result hr;
      std::string err;
      const auto t0 = Clock::now();
      if (evd::history::generate(m_uri, o, &hr, &err) != 0) return say("history: " + err);
      generated += std::chrono::duration<double>(Clock::now() - t0).count();
      if (!m_sqlite) m_raw.exec("ANALYZE");
      const long long mark = count("SELECT MAX(eventId) FROM NTDetectedAlerts");
      const long long now = count("SELECT COUNT(*) FROM NTDetectedAlerts");
      std::printf("%s: %lld stored occurrences (%lld pending)\n", m_name, now,
                  count("SELECT COUNT(*) FROM NTDetectedAlerts WHERE (processStat & 67) <> 0"));
      std::fflush(stdout);
      for (size_t i = 0; i < 2; ++i) {
        double best = 0;
        for (int round = 0; round < evd::bench::kRounds; ++round) {
          best = std::max(best, m_runs[i]->measure(mode, m_cfg.seconds));
          if (!removeAfter(mark)) return false;
        }
        (target == m_cfg.smallHistory ? rows[i].small : rows[i].large) = now;
        (target == m_cfg.smallHistory ? rows[i].smallEvs : rows[i].largeEvs) = best;
      }
    }
    std::printf("\n%s: plans of the statements of one event on the large history:\n", m_name);
    for (size_t i = 0; i < 2; ++i) {
      rows[i].generateSeconds = generated;
      rows[i].scans = m_raw.explain(m_streams[i]->captured[0]);
    }
    for (const HistoryRow& h : rows) {
      std::printf("%-40s %-9s %8lld stored %8.0f ev/s   %8lld stored %8.0f ev/s   ratio %.2f\n", h.stream.c_str(),
                  m_name, h.small, h.smallEvs, h.large, h.largeEvs, h.largeEvs > 0 ? h.smallEvs / h.largeEvs : 0);
      out.history.push_back(h);
    }
    std::fflush(stdout);
    return true;
  }

  // VmRSS after a warm-up against after EVENTS more of the Mixed stream.
  void memory(long long events, Results& out) {
    if (m_streams.size() < 3 || !setUp()) return;
    HandlerRun& run = *m_runs[2];
    const ModeInfo& mode = kModes[3];
    // A tenth of the run: enough for SQLite's page cache (16 MiB) to fill as
    // the file grows, which a new file reaches only after tens of thousands
    // of events; growth before that is the cache, not the detector.
    const long long warm = events / 10 + 1;
    const auto go = [&](long long n) {
      const long long step = mode.mode == Mode::Group ? 100 : 20;
      for (long long done = 0; done < n; done += step)
        if (run.measure(mode, 0) == 0) return false;  // one unit per call
      return true;
    };
    if (!go(warm)) return (void)say(run.error);
    RssRow r;
    r.backend = m_name;
    r.mode = mode.name;
    r.events = events;
    r.warm = rss();
    const auto t0 = Clock::now();
    if (!go(events)) return (void)say(run.error);
    r.end = rss();
    std::printf("%s: after %lld warm-up events VmRSS %lld KiB (private %lld, heap in use %lld), after %lld more "
                "(%s, %.0f s) %lld KiB (private %lld, heap in use %lld)\n",
                m_name, warm, r.warm.vm, r.warm.anon, r.warm.heap, events, mode.name,
                std::chrono::duration<double>(Clock::now() - t0).count(), r.end.vm, r.end.anon, r.end.heap);
    std::fflush(stdout);
    out.rss.push_back(r);
  }

 private:
  long long count(const std::string& sql) {
    std::string err;
    auto b = Db::detail::openBackend(m_uri, &err, false);
    int rc = 0;
    auto st = b ? b->prepare(sql, &rc) : nullptr;
    if (!st || st->execute({}) != 0 || st->fetch() != 0) return -1;
    return st->getInt(0);
  }
  // Every row written under an event id after MARK.
  bool removeAfter(long long mark) {
    const std::string m = std::to_string(mark);
    for (const char* t : {"NTDdpDr", "NTDclntAgentMAConfig", "NTDparams", "NTDMsgParam", "JMFailureReasonMsgParam",
                          "NTDetectedAlerts"})
      if (!m_raw.exec(std::string("DELETE FROM ") + t + " WHERE eventId > " + m)) return false;
    return true;
  }
  bool say(const std::string& why) {
    std::fprintf(stderr, "throughput_bench: %s: %s\n", m_name, why.c_str());
    return false;
  }

  const char* m_name;
  std::string m_uri;
  Replayer& m_raw;
  const Config& m_cfg;
  bool m_sqlite;
  std::vector<std::unique_ptr<Stream>> m_streams;
  // The ceilings of each stream's captured events.
  struct Ceilings {
    std::vector<evd::bench::Sequence> oneRow, multiRow;
  };
  std::vector<Ceilings> m_ceilings;
  std::vector<std::unique_ptr<HandlerRun>> m_runs;
};

void runBackend(Backend& b, const Config& cfg, long long events, Results& out) {
  if (!b.setUp()) return;
  b.throughput(out);
  if (!cfg.skipHistory) b.history(out);
  if (!cfg.skipRss) b.memory(events, out);
  Db::closeThreadConnection();
}

void printTable(const Results& res) {
  std::printf("\n%-22s %-9s %-15s %10s %6s %-13s %10s %6s %10s %6s %10s %6s  %s\n", "stream", "backend", "mode",
              "events/s", "waits", "floor", "floor ev/s", "ratio", "one-row", "ratio", "multi-row", "ratio", "target");
  for (const Row& r : res.rows) {
    std::printf("%-22s %-9s %-15s %10.0f %6s %-13s %10.0f %6.2f %10.0f %6.2f %10.0f %6.2f  %s%s%s\n", r.stream.c_str(),
                r.backend.c_str(), r.mode.c_str(), r.evs, waitsText(r).c_str(), r.floor.c_str(), r.floorEvs, ratio(r.evs, r.floorEvs),
                r.oneRowEvs, ratio(r.evs, r.oneRowEvs), r.multiRowEvs, ratio(r.evs, r.multiRowEvs),
                r.target.c_str(), r.target.empty() ? "" : (r.met ? "  met" : "  MISSED"),
                r.note.empty() ? "" : ("  (" + r.note + ")").c_str());
  }
  if (!res.history.empty()) {
    std::printf("\nhistory: events/s with a small and a large stored history (target: ratio <= 1.5)\n");
    for (const HistoryRow& h : res.history) {
      const double ratio = h.largeEvs > 0 ? h.smallEvs / h.largeEvs : 0;
      std::printf("  %-40s %-9s %8lld: %8.0f ev/s  %8lld: %8.0f ev/s  ratio %.2f  %s  (whole-table plan lines: %d)\n",
                  h.stream.c_str(), h.backend.c_str(), h.small, h.smallEvs, h.large, h.largeEvs, ratio,
                  ratio > 0 && ratio <= 1.5 ? "met" : "MISSED", h.scans);
    }
  }
  for (const RssRow& r : res.rss) {
    const double g = growth(r.warm.vm, r.end.vm), anon = growth(r.warm.anon, r.end.anon);
    const double heap = growth(r.warm.heap, r.end.heap);
    std::printf("\nmemory %-9s %lld events (%s): VmRSS %lld -> %lld KiB, growth %.1f%% (target <= 10%%) %s;\n"
                "       private (RssAnon) %lld -> %lld KiB, growth %.1f%% %s; heap in use %lld -> %lld KiB, growth "
                "%.1f%% (no target: SQLite's page cache fills up to 16 MiB); file pages (RssFile) %lld -> %lld KiB\n",
                r.backend.c_str(), r.events, r.mode.c_str(), r.warm.vm, r.end.vm, g, g <= 10 ? "met" : "MISSED",
                r.warm.anon, r.end.anon, anon, anon <= 10 ? "met" : "MISSED", r.warm.heap, r.end.heap, heap,
                r.warm.file, r.end.file);
  }
}

std::string jsonText(const std::string& s) {
  std::string out = "\"";
  for (char c : s) {
    if (c == '"' || c == '\\') out += '\\';
    if (static_cast<unsigned char>(c) >= 0x20) out += c;
  }
  return out + "\"";
}

void writeJson(const Results& res, const std::string& path) {
  std::ostringstream j;
  j << "{\n  \"throughput\": [";
  for (size_t i = 0; i < res.rows.size(); ++i) {
    const Row& r = res.rows[i];
    j << (i ? ",\n    " : "\n    ") << "{\"stream\": " << jsonText(r.stream) << ", \"backend\": " << jsonText(r.backend)
      << ", \"mode\": " << jsonText(r.mode) << ", \"eventsPerSecond\": " << static_cast<long long>(r.evs)
      << ", \"waitsPerEvent\": " << (r.waits < 0 ? std::string("null") : std::to_string(r.waits))
      << ", \"floor\": " << jsonText(r.floor) << ", \"floorEventsPerSecond\": " << static_cast<long long>(r.floorEvs)
      << ", \"ratio\": " << ratio(r.evs, r.floorEvs)
      << ", \"oneRowCeilingEventsPerSecond\": " << static_cast<long long>(r.oneRowEvs)
      << ", \"multiRowCeilingEventsPerSecond\": " << static_cast<long long>(r.multiRowEvs)
      << ", \"ratioToOneRowCeiling\": " << ratio(r.evs, r.oneRowEvs)
      << ", \"ratioToMultiRowCeiling\": " << ratio(r.evs, r.multiRowEvs) << ", \"target\": " << jsonText(r.target)
      << ", \"met\": " << (r.target.empty() || r.met ? "true" : "false") << ", \"note\": " << jsonText(r.note) << "}";
  }
  j << "\n  ],\n  \"history\": [";
  for (size_t i = 0; i < res.history.size(); ++i) {
    const HistoryRow& h = res.history[i];
    j << (i ? ",\n    " : "\n    ") << "{\"stream\": " << jsonText(h.stream) << ", \"backend\": " << jsonText(h.backend)
      << ", \"smallHistory\": " << h.small << ", \"smallEventsPerSecond\": " << static_cast<long long>(h.smallEvs)
      << ", \"largeHistory\": " << h.large << ", \"largeEventsPerSecond\": " << static_cast<long long>(h.largeEvs)
      << ", \"ratio\": " << (h.largeEvs > 0 ? h.smallEvs / h.largeEvs : 0)
      << ", \"generateSeconds\": " << h.generateSeconds << ", \"wholeTablePlanLines\": " << h.scans << "}";
  }
  j << "\n  ],\n  \"memory\": [";
  for (size_t i = 0; i < res.rss.size(); ++i) {
    const RssRow& r = res.rss[i];
    j << (i ? ",\n    " : "\n    ") << "{\"backend\": " << jsonText(r.backend) << ", \"mode\": " << jsonText(r.mode)
      << ", \"events\": " << r.events << ", \"warmRssKiB\": " << r.warm.vm << ", \"endRssKiB\": " << r.end.vm
      << ", \"growthPercent\": " << growth(r.warm.vm, r.end.vm) << ", \"warmAnonKiB\": " << r.warm.anon
      << ", \"endAnonKiB\": " << r.end.anon << ", \"anonGrowthPercent\": " << growth(r.warm.anon, r.end.anon)
      << ", \"warmFileKiB\": " << r.warm.file << ", \"endFileKiB\": " << r.end.file
      << ", \"warmHeapInUseKiB\": " << r.warm.heap << ", \"endHeapInUseKiB\": " << r.end.heap
      << ", \"heapGrowthPercent\": " << growth(r.warm.heap, r.end.heap) << "}";
  }
  j << "\n  ]\n}\n";
  std::error_code ec;
  if (const auto dir = std::filesystem::path(path).parent_path(); !dir.empty())
    std::filesystem::create_directories(dir, ec);
  std::ofstream out(path);
  out << j.str();
  if (!out) std::fprintf(stderr, "throughput_bench: cannot write %s\n", path.c_str());
  else std::printf("\nwritten: %s\n", path.c_str());
}

bool parseArgs(int argc, char** argv, Config& cfg) {
  const auto env = [](const char* name) { const char* v = std::getenv(name); return v && *v ? v : nullptr; };
  if (const char* v = env("EVD_BENCH_JSON")) cfg.json = v;
  if (const char* v = env("EVD_BENCH_HISTORY")) cfg.history = std::atoll(v);
  if (const char* v = env("EVD_BENCH_EVENTS")) cfg.events = cfg.pgEvents = std::atoll(v);
  if (const char* v = env("EVD_BENCH_PG_EVENTS")) cfg.pgEvents = std::atoll(v);
  if (const char* v = env("EVD_BENCH_SECONDS")) cfg.seconds = std::atof(v);
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    const bool hasValue = i + 1 < argc;
    if (a == "--json" && hasValue) cfg.json = argv[++i];
    else if (a == "--history" && hasValue) cfg.history = std::atoll(argv[++i]);
    else if (a == "--events" && hasValue) cfg.events = cfg.pgEvents = std::atoll(argv[++i]);
    else if (a == "--seconds" && hasValue) cfg.seconds = std::atof(argv[++i]);
    else if (a == "--skip-history") cfg.skipHistory = true;
    else if (a == "--skip-rss") cfg.skipRss = true;
    else if (a == "--one-row") cfg.oneRow = true;
    else {
      std::fprintf(stderr,
                   "usage: throughput_bench [--json FILE] [--history N] [--events N] [--seconds S] [--skip-history] "
                   "[--skip-rss] [--one-row]\n");
      return false;
    }
  }
  if (cfg.history < cfg.smallHistory || cfg.events < 1 || cfg.pgEvents < 1 || !(cfg.seconds > 0)) {
    std::fprintf(stderr, "throughput_bench: --history must be at least %lld, --events and --seconds above 0\n",
                 cfg.smallHistory);
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  Config cfg;
  if (!parseArgs(argc, argv, cfg)) return 2;
  EvNDetectParams::setMultiRowWrites(!cfg.oneRow);
  evd::bench::g_program = "throughput_bench";
  const std::string stem = "/tmp/evd-throughput_bench-" + std::to_string(getpid());
  alertInstance.setPath(stem + ".log");
  Results res;

  const std::string path = stem + ".db";
  {
    evd::bench::SqliteReplayer raw;
    if (raw.open(path)) {
      Backend b("sqlite", "sqlite:" + path, raw, cfg);
      runBackend(b, cfg, cfg.events, res);
    }
  }
  for (const char* ext : {"", "-wal", "-shm"}) std::remove((path + ext).c_str());

  if (const char* pg = std::getenv("EVD_BENCH_PG_URI"); pg && *pg) {
    std::string err;
    auto admin = Db::detail::openBackend(pg, &err);
    const std::string schema = "evd_throughput_bench";
    if (admin && admin->exec("DROP SCHEMA IF EXISTS " + schema + " CASCADE; CREATE SCHEMA " + schema) == 0) {
      const std::string uri = evd::bench::withSchema(pg, schema);
      evd::bench::PgReplayer raw;
      if (raw.open(uri)) {
        Backend b("postgres", uri, raw, cfg);
        runBackend(b, cfg, cfg.pgEvents, res);
      } else {
        std::fprintf(stderr, "throughput_bench: PostgreSQL: cannot connect\n");
      }
      Db::closeThreadConnection();
      admin->exec("DROP SCHEMA IF EXISTS " + schema + " CASCADE");
    } else {
      std::fprintf(stderr, "throughput_bench: PostgreSQL: %s\n", admin ? admin->lastError().c_str() : err.c_str());
    }
  }
  printTable(res);
  writeJson(res, cfg.json);
  std::remove((stem + ".log").c_str());
  return 0;
}

// evdetect run: feeds events (JSON Lines) to one detector, in order.
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <deque>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <utility>
#include <vector>

#include "detector/EvNDetector.h"
#include "detector/EvNEventBatch.h"
#include "host/EvAlertEx.h"
#include "host/event_json.h"
#include "tools/evdetect/commands.h"
#include "tools/evdetect/run_input.h"
#include "tools/evdetect/run_position.h"
#include "tools/evdetect/run_metrics.h"

namespace evdetect {
namespace {

struct Summary {
  long read = 0, made = 0, repeat = 0, cleared = 0, unchanged = 0;
  long dropped = 0, blocked = 0, invalid = 0, unreadable = 0, failed = 0;
  long databaseErrors = 0;  // events that went on past a database error (failed ones are in failed)
  bool readError = false;
  long handled() const { return made + repeat + cleared + unchanged; }
  long stoppedAt = 0;  // the line where the database refused writes for good
};

// How often --metrics rewrites its file while the run goes on.
constexpr std::chrono::seconds kMetricsInterval{5};

// --events: one JSON object per input line, in input order, for scripts
// that follow a run. An unreadable line read while a group's events wait
// for their commit is held back until they are written.
class EventLines {
 public:
  explicit EventLines(FILE* out) : m_out(out) {}
  void write(long long line, const char* kind, int occurrenceId, int occurrences, int alertType, int criteria,
             const std::string& reason) {
    if (!m_out) return;
    while (!m_held.empty() && m_held.front().first < line) release();
    put(line, kind, occurrenceId, occurrences, alertType, criteria, reason);
  }
  void unreadable(long long line, const std::string& reason, bool hold) {
    if (!m_out) return;
    if (hold) m_held.emplace_back(line, reason);
    else put(line, "unreadable", 0, 0, 0, 0, reason);
  }
  void releaseAll() {
    while (!m_held.empty()) release();
  }

 private:
  void release() {
    put(m_held.front().first, "unreadable", 0, 0, 0, 0, m_held.front().second);
    m_held.pop_front();
  }
  void put(long long line, const char* kind, int occurrenceId, int occurrences, int alertType, int criteria,
           const std::string& reason) {
    nlohmann::ordered_json j;
    j["line"] = line;
    j["kind"] = kind;
    j["occurrenceId"] = occurrenceId;
    j["occurrences"] = occurrences;
    j["alertType"] = alertType;
    j["criteria"] = criteria;
    j["reason"] = reason;
    const std::string text = j.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
    // Flushed line by line: a script follows the file as the run goes, and
    // a killed run leaves no half line for the next one to append to.
    std::fputs(text.c_str(), m_out);
    std::fflush(m_out);
  }

  FILE* m_out;
  std::deque<std::pair<long long, std::string>> m_held;
};

// A progress line on a terminal, once the run has taken more than a second.
class Progress {
 public:
  Progress() : m_enabled(isatty(STDERR_FILENO) != 0), m_start(Clock::now()), m_last(m_start) {}
  void update(const Summary& s) {
    if (!m_enabled) return;
    auto now = Clock::now();
    if (now - m_start < std::chrono::seconds(1) || now - m_last < std::chrono::milliseconds(200)) return;
    m_last = now;
    m_shown = true;
    std::fprintf(stderr, "\r%ld events read, %ld handled, %ld failed ...", s.read, s.handled(),
                 s.failed + s.invalid);
    std::fflush(stderr);
  }
  void done() {
    if (m_shown) std::fprintf(stderr, "\r\033[K");
  }

 private:
  using Clock = std::chrono::steady_clock;
  bool m_enabled;
  bool m_shown = false;
  Clock::time_point m_start, m_last;
};

struct RunOptions {
  std::string file = "-";
  bool json = false;
  std::string commit = "per-event";
  size_t group = 1;
  std::string events;   // --events: a file, "-" for standard output, "" for none
  std::string metrics;  // --metrics: the file to keep rewritten, "" for none
  bool follow = false;  // --follow: read FILE as it grows, across rotations, until stopped
  bool resume = false;  // --resume: start after the position kept in the database, and keep it
};

// Refuses options that do not go together: kExitUsage having said why, or 0.
int checkOptions(const RunOptions& o) {
  const char* positionFlag = o.follow ? "--follow" : "--resume";
  if (o.commit == "per-statement" && o.group > 1) {
    error("--group needs --commit per-event: statements that commit one by one cannot be grouped");
    return kExitUsage;
  }
  if ((o.follow || o.resume) && o.file == "-") {
    error(std::string(positionFlag) + " needs a FILE: standard input has no position to keep");
    return kExitUsage;
  }
  if ((o.follow || o.resume) && o.commit == "per-statement") {
    error(std::string(positionFlag) + " needs --commit per-event: the position is committed with the events");
    return kExitUsage;
  }
  return 0;
}

// One `evdetect run`: reads the input line by line, feeds the events to the
// batch, and counts what became of each once it is settled.
class EventRun {
 public:
  explicit EventRun(const RunOptions& o)
      : m_o(o),
        m_keepPosition(o.follow || o.resume),
        m_input(o.file, o.follow, m_keepPosition),
        m_position(positionSource(o.file), m_input),
        m_where(o.file == "-" ? "<stdin>" : shown(o.file)),
        m_summaryOut(o.events == "-" ? stderr : stdout),
        m_reader(STDIN_FILENO, o.follow, nullptr) {}

  // Opens the input, the database and the outputs: 0, or the exit status.
  int open(const std::string& db) {
    if (m_o.file != "-") {
      // Input that cannot be opened is unreadable input, like input that
      // cannot be read to its end.
      if (const std::string why = m_input.open(); !why.empty()) {
        error("cannot read '" + m_o.file + "': " + why);
        return kExitUnreadable;
      }
      if (!m_input.isOpen()) {
        error(std::string("stopped by ") + StopSignals::name() + " before '" + m_o.file + "' appeared");
        return kStoppedEarly;
      }
    }
    if (int rc = openDatabase(db)) return rc;
    if (int rc = openOutputs()) return rc;
    FilePosition from;
    if (m_keepPosition)
      if (int rc = m_position.start(from)) return rc;
    // The position may have opened a rotated file in the input's place.
    const int fd = m_o.file == "-" ? STDIN_FILENO : m_input.fd();
    if (from.offset > 0 && ::lseek(fd, from.offset, SEEK_SET) < 0) {
      error("cannot read '" + m_o.file + "' from its kept position: " + std::strerror(errno));
      return kExitUnreadable;
    }
    m_lineNo = from.line;
    m_reader.reset(fd, from.offset);
    m_reader.setIdle([this] { idle(); });
    EvNBatchOptions options;
    options.mode = m_o.commit == "per-statement" ? EvNCommitMode::PerStatement : EvNCommitMode::PerEvent;
    options.group = m_o.group;
    if (m_keepPosition)
      options.beforeCommit = [this](long long line, std::string* err) { return m_position.beforeCommit(line, err); };
    m_batch = std::make_unique<EvNEventBatch>(m_detector, options, [this](const EvNEventResult& r) { settle(r); });
    return 0;
  }

  // Reads to the end of the input, a stop request, a read error or a
  // database that refuses writes, and settles every event.
  void readAll() {
    std::string line;
    while (!StopSignals::requested()) {
      const LineReader::Status st = m_reader.next(line);
      if (st == LineReader::Status::Stopped) break;
      if (st == LineReader::Status::End) {
        if ((m_o.follow || m_input.switchPending()) && startAnew(true)) continue;
        break;
      }
      if (st == LineReader::Status::Wait) {
        idle();
        const InputFile::Change change = m_input.look(m_reader.scanned());
        if (change == InputFile::Change::Rotated) m_reader.finish();
        if (change == InputFile::Change::Truncated) {
          error("'" + m_o.file + "' was truncated: reading it again from the start");
          startAnew(false);
        }
        continue;
      }
      if (st == LineReader::Status::Error) {
        // What follows is lost: say so instead of ending as if the input had.
        m_progress.done();
        std::fprintf(stderr, "evdetect: %s: read error after line %lld: %s\n", m_where.c_str(), m_lineNo,
                     std::strerror(m_reader.error()));
        m_s.readError = true;
        break;
      }
      ++m_lineNo;
      m_figures.line = m_lineNo;
      m_figures.offset = m_reader.offset();
      if (st == LineReader::Status::TooLong) {
        unreadable("line longer than " + std::to_string(kMaxEventLineBytes) + " bytes, refused");
        continue;
      }
      if (line.find_first_not_of(" \t\r") == std::string::npos) continue;
      if (!storeLine(line)) break;
    }
    timed([&] { m_batch->flush(); });
    if (m_keepPosition && !m_batch->stopped() && !m_s.readError) m_position.saveIdle(m_lineNo, m_reader.offset());
    m_eventLines.releaseAll();
    m_progress.done();
  }

  // Prints the summary; the exit status.
  int finish() {
    if (m_metrics) {
      updateFigures();
      if (const std::string failure = m_metrics->write(m_figures, m_commits); !failure.empty()) error(failure);
    }
    bool outputLost = false;
    if (m_eventsFile && (std::fflush(m_eventsFile.get()) != 0 || std::ferror(m_eventsFile.get()))) {
      error("cannot write events to '" + m_o.events + "': " + std::strerror(errno));
      outputLost = true;
    }
    printSummary();
    if (m_o.events == "-" && (std::fflush(stdout) != 0 || std::ferror(stdout))) {
      error("cannot write standard output");
      outputLost = true;
    }
    const bool failed = m_s.failed || m_s.invalid;
    if (m_s.stoppedAt) return kExitDatabase;
    const bool unreadableInput = m_s.unreadable || m_s.readError;
    if (failed && unreadableInput) return kExitBoth;
    if (failed) return kExitFailed;
    if (m_s.databaseErrors) return kExitDatabase;
    if (unreadableInput) return kExitUnreadable;
    if (outputLost) return kExitOutput;
    return 0;
  }

  // open() answers this when a stop request came before the input appeared.
  static constexpr int kStoppedEarly = -1;

 private:
  int openOutputs() {
    // With the event lines on standard output, the summary goes to standard
    // error so that the output stays one JSON object per line.
    if (m_o.events == "-") {
      m_eventLines = EventLines(stdout);
    } else if (!m_o.events.empty()) {
      m_eventsFile.reset(std::fopen(m_o.events.c_str(), m_keepPosition ? "a" : "w"));
      if (!m_eventsFile) {
        error("cannot write events to '" + m_o.events + "': " + std::strerror(errno));
        return kExitUsage;
      }
      m_eventLines = EventLines(m_eventsFile.get());
    }
    if (!m_o.metrics.empty()) {
      m_metrics = std::make_unique<MetricsFile>(m_o.metrics);
      if (const std::string failure = m_metrics->write(m_figures, m_commits); !failure.empty()) {
        error(failure);
        return kExitUsage;
      }
    }
    return 0;
  }

  // Parses LINE and gives its event to the batch. False when the database
  // refuses writes for good: nothing more is run.
  bool storeLine(const std::string& line) {
    EvAlertEx event;
    EventReadError err;
    if (!parseEventLine(line, event, err)) {
      unreadable(err.message);
      return true;
    }
    ++m_s.read;
    if (m_keepPosition) m_position.taken(m_lineNo, m_reader.offset());
    timed([&] { m_batch->store(event, m_lineNo); });
    refreshMetrics();
    if (!m_batch->stopped()) return true;
    m_s.stoppedAt = m_lineNo;
    m_progress.done();
    std::fprintf(stderr, "evdetect: %s:%lld: the database refuses writes, stopped here\n", m_where.c_str(), m_lineNo);
    return false;
  }

  // Counted only once the event's transaction has committed: an event of a
  // group that could not commit is a failed one, whatever its handler said.
  void settle(const EvNEventResult& r) {
    ++m_settledCount;
    m_position.settled(r.tag);
    EvNEventKind kind = r.kind;
    switch (kind) {
      case EvNEventKind::New: ++m_s.made; break;
      case EvNEventKind::Repeat: ++m_s.repeat; break;
      case EvNEventKind::Cleared: ++m_s.cleared; break;
      case EvNEventKind::Unchanged: ++m_s.unchanged; break;
      case EvNEventKind::NoRule: ++m_s.dropped; break;
      case EvNEventKind::Blocked: ++m_s.blocked; break;
      case EvNEventKind::Invalid: ++m_s.invalid; break;
      default:
        kind = EvNEventKind::Failed;
        ++m_s.failed;
    }
    std::string reason = r.reason;
    if (kind == EvNEventKind::Failed && reason.empty()) reason = "the event failed and the detector logged no error for it";
    if (kind == EvNEventKind::Failed || kind == EvNEventKind::Invalid) {
      std::fprintf(stderr, "evdetect: %s:%lld: %s\n", m_where.c_str(), r.tag, shown(reason).c_str());
    } else if (r.databaseErrors > 0) {
      // The detector logs a database error and goes on where the event can
      // still be recorded (a marker or trace write); the run must not end
      // as if nothing was lost.
      ++m_s.databaseErrors;
      std::fprintf(stderr, "evdetect: %s:%lld: database error: %s\n", m_where.c_str(), r.tag,
                   shown(r.lastDatabaseError).c_str());
    }
    ++m_figures.kinds[eventKindName(kind)];
    m_figures.databaseErrors += static_cast<long long>(r.databaseErrors);
    if (r.committed)
      m_figures.lastCommit = std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
    m_eventLines.write(r.tag, eventKindName(kind), r.occurrenceId, r.newCount + r.repeatCount + r.clearedCount,
                       r.alertType, r.criteria, reason);
    m_progress.update(m_s);
  }

  void unreadable(const std::string& reason) {
    ++m_s.read;
    ++m_s.unreadable;
    ++m_figures.kinds["unreadable"];
    std::fprintf(stderr, "evdetect: %s:%lld: %s\n", m_where.c_str(), m_lineNo, shown(reason).c_str());
    m_eventLines.unreadable(m_lineNo, reason, m_batch->pending() > 0);
  }

  // Before the run waits for input: the events of an open group are
  // committed, so a slow writer never holds them back, and the position
  // passes the lines read since.
  void idle() {
    if (m_batch->pending() > 0) timed([&] { m_batch->flush(); });
    if (m_keepPosition && !m_batch->stopped()) m_position.saveIdle(m_lineNo, m_reader.offset());
    refreshMetrics();
  }

  // The followed file starts anew (rotated, truncated): the events and the
  // position of the old one are committed first, so that no transaction
  // spans both and no position names one file with the other's offset.
  bool startAnew(bool rotated) {
    idle();
    if (rotated ? !m_input.reopen() : ::lseek(m_input.fd(), 0, SEEK_SET) != 0) return false;
    m_lineNo = 0;
    m_reader.reset(m_input.fd(), 0);
    return true;
  }

  void updateFigures() {
    m_figures.read = m_s.read;
    m_figures.failed = m_s.failed + m_s.invalid;
  }
  void refreshMetrics() {
    if (!m_metrics) return;
    updateFigures();
    // A metrics file that cannot be written is said once per failing spell;
    // the run goes on, since the events matter more than their figures.
    const std::string failure = m_metrics->writeEvery(kMetricsInterval, m_figures, m_commits);
    if (!failure.empty() && !m_metricsFailing) error(failure);
    m_metricsFailing = !failure.empty();
  }
  // Times the batch calls that commit: those that settled an event.
  template <class Call>
  void timed(const Call& call) {
    const long before = m_settledCount;
    const auto start = std::chrono::steady_clock::now();
    call();
    if (m_settledCount != before)
      m_commits.observe(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  }

  void printSummary() {
    const std::string stoppedBy = StopSignals::name();
    const Summary& s = m_s;
    if (m_o.json) {
      std::fprintf(m_summaryOut,
                   "{\"read\": %ld, \"handled\": %ld, \"new\": %ld, \"repeat\": %ld, \"cleared\": %ld, "
                   "\"unchanged\": %ld, \"dropped\": %ld, \"blocked\": %ld, \"invalid\": %ld, \"unreadable\": %ld, "
                   "\"failed\": %ld, \"databaseErrors\": %ld, \"readError\": %s, \"stoppedBy\": %s, \"line\": %lld}\n",
                   s.read, s.handled(), s.made, s.repeat, s.cleared, s.unchanged, s.dropped, s.blocked, s.invalid,
                   s.unreadable, s.failed, s.databaseErrors, s.readError ? "true" : "false",
                   stoppedBy.empty() ? "null" : ("\"" + stoppedBy + "\"").c_str(), m_lineNo);
      return;
    }
    std::fprintf(m_summaryOut,
                 "%ld read, %ld handled (%ld new, %ld repeat, %ld cleared, %ld unchanged), %ld dropped (no rule), "
                 "%ld blocked, %ld invalid, %ld unreadable, %ld failed%s%s%s\n",
                 s.read, s.handled(), s.made, s.repeat, s.cleared, s.unchanged, s.dropped, s.blocked, s.invalid,
                 s.unreadable, s.failed,
                 s.databaseErrors ? (", " + std::to_string(s.databaseErrors) + " with database errors").c_str() : "",
                 s.readError ? ", input cut short by a read error" : "",
                 stoppedBy.empty() ? "" : (", stopped by " + stoppedBy + " after line " + std::to_string(m_lineNo)).c_str());
  }

  const RunOptions& m_o;
  const bool m_keepPosition;
  InputFile m_input;
  PositionKeeper m_position;
  const std::string m_where;
  FILE* m_summaryOut;
  std::unique_ptr<FILE, int (*)(FILE*)> m_eventsFile{nullptr, &std::fclose};
  EventLines m_eventLines{nullptr};
  LineReader m_reader;
  long long m_lineNo = 0;
  Summary m_s;
  Progress m_progress;
  RunFigures m_figures;
  LatencyHistogram m_commits;
  std::unique_ptr<MetricsFile> m_metrics;
  bool m_metricsFailing = false;
  long m_settledCount = 0;
  EvNDetector m_detector;
  std::unique_ptr<EvNEventBatch> m_batch;  // last: its destructor commits the open group
};

int runEvents(const std::string& db, const RunOptions& o) {
  if (int rc = checkOptions(o)) return rc;
  StopSignals stopSignals;
  EventRun run(o);
  if (const int rc = run.open(db)) return rc == EventRun::kStoppedEarly ? 0 : rc;
  run.readAll();
  return run.finish();
}

}  // namespace

void addRun(CLI::App& app, std::vector<Command>& out) {
  CLI::App* sub = app.add_subcommand("run", "run alert events (JSON Lines, one event per line) through the detector");
  auto o = std::make_shared<RunOptions>();
  sub->add_option("file", o->file, "event file, or - for standard input")->capture_default_str();
  sub->add_flag("--json", o->json, "print the summary as one JSON object");
  sub->add_option("--commit", o->commit,
                  "per-event: one transaction per event (a killed run leaves no half-written occurrence); "
                  "per-statement: every statement commits on its own")
      ->check(CLI::IsMember({"per-event", "per-statement"}))
      ->capture_default_str();
  sub->add_option("--group", o->group,
                  "commit this many events together, each under a savepoint of its own (per-event only); "
                  "events are counted once their group committed")
      ->check(CLI::Range(size_t{1}, size_t{100000}))
      ->capture_default_str();
  sub->add_option("--events", o->events,
                  "write one JSON line per input line (line, kind, occurrenceId, occurrences, alertType, criteria, "
                  "reason) to FILE, or - for standard output (the summary then goes to standard error)");
  sub->add_flag("--follow", o->follow,
                "read FILE as it grows, like tail -F (across rotation by rename or truncation), until SIGINT or "
                "SIGTERM; keeps its position like --resume");
  sub->add_flag("--resume", o->resume,
                "start after the position of FILE kept in the database, and keep it there, committed with the "
                "events, so that a run killed at any moment and started again records every event once");
  sub->add_option("--metrics", o->metrics,
                  "keep FILE rewritten (every 5 seconds and at the end) with the run's figures in the text "
                  "exposition format (docs/metrics.md)");
  sub->footer(
      "Lines longer than 1 MiB are refused. SIGINT or SIGTERM: the event in hand is finished, the open group "
      "committed and the summary printed; the status is then that of the events read; a second signal ends at once "
      "(status 128 + the signal) and rolls back what is not committed. Exit status: 0 all events read and none failed; 4 an event failed "
      "or was refused as invalid; 8 the events could not be written; "
      "5 the input could not be opened, a line could not be read or the input could not be read to its end; 6 both; 3 the database cannot be "
      "used or a database operation failed.");
  out.push_back({sub, [o](const std::string& db) { return runEvents(db, *o); }});
}

}  // namespace evdetect

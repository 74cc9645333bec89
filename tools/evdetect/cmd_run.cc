// evdetect run: feeds events (JSON Lines) to one detector, in order.
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <deque>
#include <functional>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <utility>
#include <vector>

#include "Db/Database.h"
#include "detector/EvNDetector.h"
#include "detector/EvNEventBatch.h"
#include "host/EvAlertEx.h"
#include "host/event_json.h"
#include "Db/DBtable.h"
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

// The position a run keeps (--resume, --follow): written with every commit,
// inside its transaction, and when the run waits or ends with nothing open.
class PositionKeeper {
 public:
  PositionKeeper(std::string source, InputFile& input) : m_source(std::move(source)), m_input(input) {}

  // Where the run starts: 0 and the offset and line to start at, or an exit
  // status having said why.
  int start(FilePosition& from) {
    FilePosition at;
    bool found = false;
    std::string err;
    if (loadPosition(m_source, at, &found, &err) != 0) {
      error("cannot read the run position of '" + m_source + "': " + err);
      return kExitDatabase;
    }
    from = m_input.identity();
    if (!found) return 0;
    if (!at.sameFile(from) && m_input.openRotated(m_source + ".1", at)) {
      // Rotated while no run read it: the rest of the old file comes first.
      error("'" + m_source + "' was rotated since its position was kept: reading the rest of '" + m_source +
            ".1' first");
      from = at;
      m_saved = at;
    } else if (!at.sameFile(from)) {
      error("'" + m_source + "' is not the file its kept position was taken in (rotated or replaced): reading it "
            "from the start");
    } else if (m_input.size() < at.offset) {
      error("'" + m_source + "' is shorter than its kept position (truncated): reading it from the start");
    } else {
      from.offset = at.offset;
      from.line = at.line;
      m_saved = at;
    }
    return 0;
  }
  // An event of LINE, ending at OFFSET, goes to the batch.
  void taken(long long line, long long offset) { m_open.emplace_back(line, offset); }
  // The events up to LINE are settled.
  void settled(long long line) {
    while (!m_open.empty() && m_open.front().first <= line) m_open.pop_front();
  }
  // Inside the transaction that commits the events up to LINE.
  bool beforeCommit(long long line, std::string* error) {
    FilePosition at = m_input.identity();
    at.line = line;
    at.offset = m_saved.offset;
    for (const auto& [l, offset] : m_open)
      if (l == line) at.offset = offset;
    if (savePosition(m_source, at, error) != 0) return false;
    m_saved = at;
    return true;
  }
  // With no event open: the lines since the last commit (unreadable, empty)
  // are passed too.
  void saveIdle(long long line, long long offset) {
    FilePosition at = m_input.identity();
    at.line = line;
    at.offset = offset;
    if (at.sameFile(m_saved) && at.offset == m_saved.offset) return;
    DBtran tran;
    std::string err;
    int rc = tran.startTran();
    if (rc == 0) rc = savePosition(m_source, at, &err);
    if (rc == 0) rc = tran.commitTran();
    if (rc == 0) {
      m_saved = at;
      return;
    }
    if (tran.isActive()) tran.rollbackTran();
    if (err.empty()) err = tran.getErrorStr(rc);
    error("cannot keep the run position of '" + m_source + "': " + err);
  }

 private:
  std::string m_source;
  InputFile& m_input;
  FilePosition m_saved;
  std::deque<std::pair<long long, long long>> m_open;  // line, offset after it
};

int runEvents(const std::string& db, const RunOptions& o) {
  const std::string& file = o.file;
  if (o.commit == "per-statement" && o.group > 1) {
    error("--group needs --commit per-event: statements that commit one by one cannot be grouped");
    return kExitUsage;
  }
  const bool keepPosition = o.follow || o.resume;
  if (keepPosition && file == "-") {
    error(std::string(o.follow ? "--follow" : "--resume") + " needs a FILE: standard input has no position to keep");
    return kExitUsage;
  }
  if (keepPosition && o.commit == "per-statement") {
    error(std::string(o.follow ? "--follow" : "--resume") +
          " needs --commit per-event: the position is committed with the events");
    return kExitUsage;
  }
  StopSignals stopSignals;
  InputFile input(file, o.follow, keepPosition);
  if (file != "-") {
    // Input that cannot be opened is unreadable input, like input that
    // cannot be read to its end.
    if (const std::string why = input.open(); !why.empty()) {
      error("cannot read '" + file + "': " + why);
      return kExitUnreadable;
    }
  }
  if (file != "-" && !input.isOpen()) {
    error(std::string("stopped by ") + StopSignals::name() + " before '" + file + "' appeared");
    return 0;
  }
  if (int rc = openDatabase(db)) return rc;
  const std::string where = file == "-" ? "<stdin>" : shown(file);

  // With the event lines on standard output, the summary goes to standard
  // error so that the output stays one JSON object per line.
  FILE* eventsOut = nullptr;
  std::unique_ptr<FILE, int (*)(FILE*)> eventsFile(nullptr, &std::fclose);
  if (o.events == "-") {
    eventsOut = stdout;
  } else if (!o.events.empty()) {
    eventsFile.reset(std::fopen(o.events.c_str(), o.follow || o.resume ? "a" : "w"));
    if (!eventsFile) {
      error("cannot write events to '" + o.events + "': " + std::strerror(errno));
      return kExitUsage;
    }
    eventsOut = eventsFile.get();
  }
  FILE* summaryOut = o.events == "-" ? stderr : stdout;
  EventLines eventLines(eventsOut);

  PositionKeeper position(positionSource(file), input);
  FilePosition from;
  if (keepPosition && input.isOpen())
    if (int rc = position.start(from)) return rc;
  const int fd = file == "-" ? STDIN_FILENO : input.fd();
  if (from.offset > 0 && ::lseek(fd, from.offset, SEEK_SET) < 0) {
    error("cannot read '" + file + "' from its kept position: " + std::strerror(errno));
    return kExitUnreadable;
  }

  RunFigures figures;
  LatencyHistogram commits;
  std::unique_ptr<MetricsFile> metrics;
  bool metricsFailing = false;
  // A metrics file that cannot be written is said once per failing spell;
  // the run goes on, since the events matter more than their figures.
  const auto metricsWritten = [&](const std::string& failure) {
    if (!failure.empty() && !metricsFailing) error(failure);
    metricsFailing = !failure.empty();
  };
  if (!o.metrics.empty()) {
    metrics = std::make_unique<MetricsFile>(o.metrics);
    if (const std::string failure = metrics->write(figures, commits); !failure.empty()) {
      error(failure);
      return kExitUsage;
    }
  }

  Summary s;
  Progress progress;
  EvNDetector detector;
  EvNBatchOptions options;
  options.mode = o.commit == "per-statement" ? EvNCommitMode::PerStatement : EvNCommitMode::PerEvent;
  options.group = o.group;
  if (keepPosition)
    options.beforeCommit = [&](long long line, std::string* err) { return position.beforeCommit(line, err); };
  long settledCount = 0;
  // Counted only once the event's transaction has committed: an event of a
  // group that could not commit is a failed one, whatever its handler said.
  EvNEventBatch batch(detector, options, [&](const EvNEventResult& r) {
    ++settledCount;
    position.settled(r.tag);
    EvNEventKind kind = r.kind;
    switch (kind) {
      case EvNEventKind::New: ++s.made; break;
      case EvNEventKind::Repeat: ++s.repeat; break;
      case EvNEventKind::Cleared: ++s.cleared; break;
      case EvNEventKind::Unchanged: ++s.unchanged; break;
      case EvNEventKind::NoRule: ++s.dropped; break;
      case EvNEventKind::Blocked: ++s.blocked; break;
      case EvNEventKind::Invalid: ++s.invalid; break;
      default:
        kind = EvNEventKind::Failed;
        ++s.failed;
    }
    std::string reason = r.reason;
    if (kind == EvNEventKind::Failed && reason.empty()) reason = "the event failed and the detector logged no error for it";
    if (kind == EvNEventKind::Failed || kind == EvNEventKind::Invalid) {
      std::fprintf(stderr, "evdetect: %s:%lld: %s\n", where.c_str(), r.tag, shown(reason).c_str());
    } else if (r.databaseErrors > 0) {
      // The detector logs a database error and goes on where the event can
      // still be recorded (a marker or trace write); the run must not end
      // as if nothing was lost.
      ++s.databaseErrors;
      std::fprintf(stderr, "evdetect: %s:%lld: database error: %s\n", where.c_str(), r.tag,
                   shown(r.lastDatabaseError).c_str());
    }
    ++figures.kinds[eventKindName(kind)];
    figures.databaseErrors += static_cast<long long>(r.databaseErrors);
    if (r.committed)
      figures.lastCommit = std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
    eventLines.write(r.tag, eventKindName(kind), r.occurrenceId, r.newCount + r.repeatCount + r.clearedCount,
                     r.alertType, r.criteria, reason);
    progress.update(s);
  });
  const auto refreshMetrics = [&] {
    if (!metrics) return;
    figures.read = s.read;
    figures.failed = s.failed + s.invalid;
    metricsWritten(metrics->writeEvery(kMetricsInterval, figures, commits));
  };
  // Times the batch calls that commit: those that settled an event.
  const auto timed = [&](const auto& call) {
    const long before = settledCount;
    const auto start = std::chrono::steady_clock::now();
    call();
    if (settledCount != before)
      commits.observe(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  };
  long long lineNo = from.line;
  // Events waiting in an open group are committed before the run waits for
  // more input, so a slow writer never holds them back.
  LineReader reader(fd, o.follow, nullptr);
  reader.reset(fd, from.offset);
  const auto idle = [&] {
    if (batch.pending() > 0) timed([&] { batch.flush(); });
    if (keepPosition && !batch.stopped()) position.saveIdle(lineNo, reader.offset());
    refreshMetrics();
  };
  reader.setIdle(idle);
  std::string line;
  const auto unreadable = [&](const std::string& reason) {
    ++s.read;
    ++s.unreadable;
    ++figures.kinds["unreadable"];
    std::fprintf(stderr, "evdetect: %s:%lld: %s\n", where.c_str(), lineNo, shown(reason).c_str());
    eventLines.unreadable(lineNo, reason, batch.pending() > 0);
  };
  // The followed file starts anew (rotated, truncated): the events and the
  // position of the old one are committed first, so that no transaction
  // spans both and no position names one file with the other's offset.
  const auto startAnew = [&](bool rotated) {
    idle();
    if (rotated ? !input.reopen() : ::lseek(input.fd(), 0, SEEK_SET) != 0) return false;
    lineNo = 0;
    reader.reset(input.fd(), 0);
    return true;
  };
  while (!StopSignals::requested()) {
    const LineReader::Status st = reader.next(line);
    if (st == LineReader::Status::Stopped) break;
    if (st == LineReader::Status::End) {
      if ((o.follow || input.switchPending()) && startAnew(true)) continue;
      break;
    }
    if (st == LineReader::Status::Wait) {
      idle();
      const InputFile::Change change = input.look(reader.scanned());
      if (change == InputFile::Change::Rotated) reader.finish();
      if (change == InputFile::Change::Truncated) {
        error("'" + file + "' was truncated: reading it again from the start");
        startAnew(false);
      }
      continue;
    }
    if (st == LineReader::Status::Error) {
      // What follows is lost: say so instead of ending as if the input had.
      progress.done();
      std::fprintf(stderr, "evdetect: %s: read error after line %lld: %s\n", where.c_str(), lineNo,
                   std::strerror(reader.error()));
      s.readError = true;
      break;
    }
    ++lineNo;
    figures.line = lineNo;
    figures.offset = reader.offset();
    if (st == LineReader::Status::TooLong) {
      unreadable("line longer than " + std::to_string(kMaxEventLineBytes) + " bytes, refused");
      continue;
    }
    if (line.find_first_not_of(" \t\r") == std::string::npos) continue;
    EvAlertEx event;
    EventReadError err;
    if (!parseEventLine(line, event, err)) {
      unreadable(err.message);
      continue;
    }
    ++s.read;
    if (keepPosition) position.taken(lineNo, reader.offset());
    timed([&] { batch.store(event, lineNo); });
    refreshMetrics();
    if (batch.stopped()) {
      // Every later event would fail the same way: nothing more is run.
      s.stoppedAt = lineNo;
      progress.done();
      std::fprintf(stderr, "evdetect: %s:%lld: the database refuses writes, stopped here\n", where.c_str(), lineNo);
      break;
    }
  }
  timed([&] { batch.flush(); });
  if (keepPosition && !batch.stopped() && !s.readError) position.saveIdle(lineNo, reader.offset());
  eventLines.releaseAll();
  progress.done();
  if (metrics) {
    figures.read = s.read;
    figures.failed = s.failed + s.invalid;
    if (const std::string failure = metrics->write(figures, commits); !failure.empty()) error(failure);
  }

  bool outputLost = false;
  if (eventsFile && (std::fflush(eventsFile.get()) != 0 || std::ferror(eventsFile.get()))) {
    error("cannot write events to '" + o.events + "': " + std::strerror(errno));
    outputLost = true;
  }
  const std::string stoppedBy = StopSignals::name();
  if (o.json) {
    std::fprintf(summaryOut,
                 "{\"read\": %ld, \"handled\": %ld, \"new\": %ld, \"repeat\": %ld, \"cleared\": %ld, "
                 "\"unchanged\": %ld, \"dropped\": %ld, \"blocked\": %ld, \"invalid\": %ld, \"unreadable\": %ld, "
                 "\"failed\": %ld, \"databaseErrors\": %ld, \"readError\": %s, \"stoppedBy\": %s, \"line\": %lld}\n",
                 s.read, s.handled(), s.made, s.repeat, s.cleared, s.unchanged, s.dropped, s.blocked, s.invalid,
                 s.unreadable, s.failed, s.databaseErrors, s.readError ? "true" : "false",
                 stoppedBy.empty() ? "null" : ("\"" + stoppedBy + "\"").c_str(), lineNo);
  } else {
    std::fprintf(summaryOut,
                 "%ld read, %ld handled (%ld new, %ld repeat, %ld cleared, %ld unchanged), %ld dropped (no rule), "
                 "%ld blocked, %ld invalid, %ld unreadable, %ld failed%s%s%s\n",
                 s.read, s.handled(), s.made, s.repeat, s.cleared, s.unchanged, s.dropped, s.blocked, s.invalid,
                 s.unreadable, s.failed,
                 s.databaseErrors ? (", " + std::to_string(s.databaseErrors) + " with database errors").c_str() : "",
                 s.readError ? ", input cut short by a read error" : "",
                 stoppedBy.empty() ? "" : (", stopped by " + stoppedBy + " after line " + std::to_string(lineNo)).c_str());
  }
  if (o.events == "-" && (std::fflush(stdout) != 0 || std::ferror(stdout))) {
    error("cannot write standard output");
    outputLost = true;
  }
  const bool failed = s.failed || s.invalid;
  if (s.stoppedAt) return kExitDatabase;
  const bool unreadableInput = s.unreadable || s.readError;
  if (failed && unreadableInput) return kExitBoth;
  if (failed) return kExitFailed;
  if (s.databaseErrors) return kExitDatabase;
  if (unreadableInput) return kExitUnreadable;
  if (outputLost) return kExitOutput;
  return 0;
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

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
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Db/Database.h"
#include "detector/EvNDetector.h"
#include "detector/EvNEventBatch.h"
#include "host/EvAlertEx.h"
#include "host/event_json.h"
#include "tools/evdetect/commands.h"

namespace evdetect {
namespace {

struct Summary {
  long read = 0, handled = 0, dropped = 0, blocked = 0, unreadable = 0, failed = 0;
  long databaseErrors = 0;  // events that went on past a database error (failed ones are in failed)
  bool readError = false;
  long stoppedAt = 0;  // the line where the database refused writes for good
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
    std::fprintf(stderr, "\r%ld events read, %ld handled, %ld failed ...", s.read, s.handled, s.failed);
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

// Lines of a descriptor, each at most kMaxEventLineBytes: the rest of a longer
// line is skipped unread, so memory stays bounded whatever arrives. A read
// error is told apart from the end of the input.
class LineReader {
 public:
  enum class Status { Line, TooLong, End, Error };
  // IDLE is called before a read that would wait for more input.
  LineReader(int fd, std::function<void()> idle) : m_fd(fd), m_buf(64 * 1024), m_idle(std::move(idle)) {}

  Status next(std::string& line) {
    line.clear();
    bool started = false, tooLong = false;
    while (true) {
      if (m_pos == m_end) {
        if (m_eof) break;
        if (m_idle) {
          pollfd p{m_fd, POLLIN, 0};
          if (::poll(&p, 1, 0) == 0) m_idle();
        }
        const ssize_t n = ::read(m_fd, m_buf.data(), m_buf.size());
        if (n < 0) {
          if (errno == EINTR) continue;
          m_errno = errno;
          return Status::Error;
        }
        if (n == 0) {
          m_eof = true;
          break;
        }
        m_pos = 0;
        m_end = static_cast<size_t>(n);
      }
      started = true;
      const char* from = m_buf.data() + m_pos;
      const void* nl = std::memchr(from, '\n', m_end - m_pos);
      const size_t len = nl ? static_cast<size_t>(static_cast<const char*>(nl) - from) : m_end - m_pos;
      if (!tooLong && line.size() + len <= kMaxEventLineBytes) {
        line.append(from, len);
      } else if (!tooLong) {
        tooLong = true;
        std::string().swap(line);
      }
      m_pos += len;
      if (nl) {
        ++m_pos;
        return tooLong ? Status::TooLong : Status::Line;
      }
    }
    if (!started) return Status::End;
    return tooLong ? Status::TooLong : Status::Line;
  }
  int error() const { return m_errno; }

 private:
  int m_fd;
  std::vector<char> m_buf;
  size_t m_pos = 0, m_end = 0;
  bool m_eof = false;
  int m_errno = 0;
  std::function<void()> m_idle;
};

struct RunOptions {
  std::string file = "-";
  bool json = false;
  std::string commit = "per-event";
  size_t group = 1;
};

int runEvents(const std::string& db, const RunOptions& o) {
  const std::string& file = o.file;
  if (o.commit == "per-statement" && o.group > 1) {
    error("--group needs --commit per-event: statements that commit one by one cannot be grouped");
    return kExitUsage;
  }
  int fd = STDIN_FILENO;
  if (file != "-") {
    fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat st;
    if (fd >= 0 && ::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
      ::close(fd);
      fd = -1;
      errno = EISDIR;
    }
    // Input that cannot be opened is unreadable input, like input that
    // cannot be read to its end.
    if (fd < 0) {
      error("cannot read '" + file + "': " + std::strerror(errno));
      return kExitUnreadable;
    }
  }
  struct Closer {
    int fd;
    ~Closer() {
      if (fd != STDIN_FILENO) ::close(fd);
    }
  } closer{fd};
  if (int rc = openDatabase(db)) return rc;
  const std::string where = file == "-" ? "<stdin>" : shown(file);

  Summary s;
  Progress progress;
  EvNDetector detector;
  EvNBatchOptions options;
  options.mode = o.commit == "per-statement" ? EvNCommitMode::PerStatement : EvNCommitMode::PerEvent;
  options.group = o.group;
  // Counted only once the event's transaction has committed: an event of a
  // group that could not commit is a failed one, whatever its handler said.
  EvNEventBatch batch(detector, options, [&](const EvNEventResult& r) {
    switch (r.outcome) {
      case EvNDetector::Outcome::Blocked: ++s.blocked; break;
      case EvNDetector::Outcome::NoRule: ++s.dropped; break;
      default:
        if (r.ok && r.committed) ++s.handled;
        else ++s.failed;
    }
    // The detector logs a database error and goes on where the event can
    // still be recorded (a marker or trace write); the run must not end as
    // if nothing was lost.
    if (r.databaseErrors > 0) {
      if (r.ok && r.committed) ++s.databaseErrors;
      std::fprintf(stderr, "evdetect: %s:%lld: database error: %s\n", where.c_str(), r.tag,
                   shown(r.lastDatabaseError).c_str());
    }
    progress.update(s);
  });
  // Events waiting in an open group are committed before the run waits for
  // more input, so a slow pipe never holds them back.
  LineReader reader(fd, [&batch] {
    if (batch.pending() > 0) batch.flush();
  });
  std::string line;
  long lineNo = 0;
  for (LineReader::Status st; (st = reader.next(line)) != LineReader::Status::End;) {
    if (st == LineReader::Status::Error) {
      // What follows is lost: say so instead of ending as if the input had.
      progress.done();
      std::fprintf(stderr, "evdetect: %s: read error after line %ld: %s\n", where.c_str(), lineNo,
                   std::strerror(reader.error()));
      s.readError = true;
      break;
    }
    ++lineNo;
    if (st == LineReader::Status::TooLong) {
      ++s.read;
      ++s.unreadable;
      std::fprintf(stderr, "evdetect: %s:%ld: line longer than %zu bytes, refused\n", where.c_str(), lineNo,
                   kMaxEventLineBytes);
      continue;
    }
    if (line.find_first_not_of(" \t\r") == std::string::npos) continue;
    ++s.read;
    EvAlertEx event;
    EventReadError err;
    if (!parseEventLine(line, event, err)) {
      ++s.unreadable;
      std::fprintf(stderr, "evdetect: %s:%ld: %s\n", where.c_str(), lineNo, shown(err.message).c_str());
      continue;
    }
    batch.store(event, lineNo);
    if (batch.stopped()) {
      // Every later event would fail the same way: nothing more is run.
      s.stoppedAt = lineNo;
      progress.done();
      std::fprintf(stderr, "evdetect: %s:%ld: the database refuses writes, stopped here\n", where.c_str(), lineNo);
      break;
    }
  }
  batch.flush();
  progress.done();

  if (o.json) {
    std::printf("{\"read\": %ld, \"handled\": %ld, \"dropped\": %ld, \"blocked\": %ld, \"unreadable\": %ld, "
                "\"failed\": %ld, \"databaseErrors\": %ld, \"readError\": %s}\n",
                s.read, s.handled, s.dropped, s.blocked, s.unreadable, s.failed, s.databaseErrors,
                s.readError ? "true" : "false");
  } else {
    std::printf("%ld read, %ld handled, %ld dropped (no rule), %ld blocked, %ld unreadable, %ld failed%s%s\n",
                s.read, s.handled, s.dropped, s.blocked, s.unreadable, s.failed,
                s.databaseErrors ? (", " + std::to_string(s.databaseErrors) + " with database errors").c_str() : "",
                s.readError ? ", input cut short by a read error" : "");
  }
  const bool unreadable = s.unreadable || s.readError;
  if (s.stoppedAt) return kExitDatabase;
  if (s.failed && unreadable) return kExitBoth;
  if (s.failed) return kExitFailed;
  if (s.databaseErrors) return kExitDatabase;
  if (unreadable) return kExitUnreadable;
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
  sub->footer(
      "Lines longer than 1 MiB are refused. Exit status: 0 all events read and none failed; 4 an event failed; "
      "5 the input could not be opened, a line could not be read or the input could not be read to its end; 6 both; 3 the database cannot be "
      "used or a database operation failed.");
  out.push_back({sub, [o](const std::string& db) { return runEvents(db, *o); }});
}

}  // namespace evdetect

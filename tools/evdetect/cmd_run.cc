// evdetect run: feeds events (JSON Lines) to one detector, in order.
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <memory>
#include <string>

#include "detector/EvNDetector.h"
#include "host/EvAlertEx.h"
#include "host/event_json.h"
#include "tools/evdetect/commands.h"

namespace evdetect {
namespace {

struct Summary {
  long read = 0, handled = 0, dropped = 0, blocked = 0, unreadable = 0, failed = 0;
};

// A progress line on a terminal, once the run has taken more than a second.
class Progress {
 public:
  Progress() : enabled_(isatty(STDERR_FILENO) != 0), start_(Clock::now()), last_(start_) {}
  void update(const Summary& s) {
    if (!enabled_) return;
    auto now = Clock::now();
    if (now - start_ < std::chrono::seconds(1) || now - last_ < std::chrono::milliseconds(200)) return;
    last_ = now;
    shown_ = true;
    std::fprintf(stderr, "\r%ld events read, %ld handled, %ld failed ...", s.read, s.handled, s.failed);
    std::fflush(stderr);
  }
  void done() {
    if (shown_) std::fprintf(stderr, "\r\033[K");
  }

 private:
  using Clock = std::chrono::steady_clock;
  bool enabled_;
  bool shown_ = false;
  Clock::time_point start_, last_;
};

int runEvents(const std::string& db, const std::string& file, bool json) {
  std::istream* in = &std::cin;
  std::ifstream f;
  if (file != "-") {
    f.open(file);
    if (!f) {
      error("cannot read '" + file + "'");
      return kExitUsage;
    }
    in = &f;
  }
  if (int rc = openDatabase(db)) return rc;
  const std::string where = file == "-" ? "<stdin>" : file;

  Summary s;
  Progress progress;
  EvNDetector detector;
  std::string line;
  long lineNo = 0;
  while (std::getline(*in, line)) {
    ++lineNo;
    if (line.find_first_not_of(" \t\r") == std::string::npos) continue;
    ++s.read;
    EvAlertEx event;
    EventReadError err;
    if (!parseEventLine(line, event, err)) {
      ++s.unreadable;
      std::fprintf(stderr, "evdetect: %s:%ld: %s\n", where.c_str(), lineNo, err.message.c_str());
      continue;
    }
    const bool ok = detector.StoreNotiData(event);
    switch (detector.lastOutcome()) {
      case EvNDetector::Outcome::Blocked: ++s.blocked; break;
      case EvNDetector::Outcome::NoRule: ++s.dropped; break;
      default:
        if (ok) ++s.handled;
        else ++s.failed;
    }
    progress.update(s);
  }
  progress.done();

  if (json) {
    std::printf("{\"read\": %ld, \"handled\": %ld, \"dropped\": %ld, \"blocked\": %ld, \"unreadable\": %ld, "
                "\"failed\": %ld}\n",
                s.read, s.handled, s.dropped, s.blocked, s.unreadable, s.failed);
  } else {
    std::printf("%ld read, %ld handled, %ld dropped (no rule), %ld blocked, %ld unreadable, %ld failed\n", s.read,
                s.handled, s.dropped, s.blocked, s.unreadable, s.failed);
  }
  if (s.failed && s.unreadable) return kExitBoth;
  if (s.failed) return kExitFailed;
  if (s.unreadable) return kExitUnreadable;
  return 0;
}

}  // namespace

void addRun(CLI::App& app, std::vector<Command>& out) {
  CLI::App* sub = app.add_subcommand("run", "run alert events (JSON Lines, one event per line) through the detector");
  auto file = std::make_shared<std::string>("-");
  auto json = std::make_shared<bool>(false);
  sub->add_option("file", *file, "event file, or - for standard input")->capture_default_str();
  sub->add_flag("--json", *json, "print the summary as one JSON object");
  sub->footer(
      "Exit status: 0 all events read and none failed; 4 an event failed; 5 a line could not be read; 6 both; "
      "3 the database cannot be used.");
  out.push_back({sub, [file, json](const std::string& db) { return runEvents(db, *file, *json); }});
}

}  // namespace evdetect

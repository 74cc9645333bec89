// A small host of the detector library: opens a database, creates its schema
// when it is missing, feeds it the events of a JSON Lines file (one alert
// event per line) with one commit per event, and prints how each ended.
//
//   embed_host DATABASE EVENTS.jsonl
//
// DATABASE is an SQLite path or a postgresql:// URI. The exit status is 0
// when every event was handled, 1 when one was not, 2 on a usage or set-up
// error.
#include <cstdio>
#include <fstream>
#include <iostream>
#include <string>

#include "Db/Database.h"
#include "detector/EvNDetector.h"
#include "detector/EvNEventBatch.h"
#include "host/EvAlertEx.h"
#include "host/event_json.h"

namespace {

const char* outcomeName(EvNDetector::Outcome o) {
  switch (o) {
    case EvNDetector::Outcome::Handled: return "handled";
    case EvNDetector::Outcome::NoRule: return "no rule";
    case EvNDetector::Outcome::Blocked: return "blocked";
    case EvNDetector::Outcome::Invalid: return "invalid";
    case EvNDetector::Outcome::NoCategory: return "no category";
    case EvNDetector::Outcome::NoHandler: return "no handler";
    case EvNDetector::Outcome::Failed: return "failed";
    case EvNDetector::Outcome::None: break;
  }
  return "none";
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s DATABASE EVENTS.jsonl\n", argv[0]);
    return 2;
  }
  std::string error, report;
  // Creating the schema is safe on a database that has it: nothing changes.
  if (Db::initSchema(argv[1], &report, &error) != 0) {
    std::fprintf(stderr, "embed_host: %s\n", error.c_str());
    return 2;
  }
  Db::configure(argv[1]);
  std::ifstream in(argv[2]);
  if (!in) {
    std::fprintf(stderr, "embed_host: cannot read %s\n", argv[2]);
    return 2;
  }

  int status = 0;
  EvNDetector detector;
  EvNEventBatch batch(detector, {EvNCommitMode::PerEvent, 1}, [&](const EvNEventResult& r) {
    std::printf("event %lld: %s, alert type %d, event id %d\n", r.tag, outcomeName(r.outcome),
                detector.getAlertType(), detector.getEventId());
    if (!r.ok || !r.committed) status = 1;
  });
  std::string line;
  for (long long n = 1; std::getline(in, line); ++n) {
    if (line.empty()) continue;
    EvAlertEx event;
    EventReadError bad;
    if (!parseEventLine(line, event, bad)) {
      std::fprintf(stderr, "%s:%lld: %s\n", argv[2], n, bad.message.c_str());
      status = 1;
      continue;
    }
    batch.store(event, n);
  }
  if (batch.flush() != 0) status = 1;
  return status;
}

// What the handler benchmarks share: an event stream is run through
// EvNDetector::StoreNotiData and, in the same run, the SQL statements one
// event issues are replayed raw (bench/capture.h captures them,
// bench/replay.h replays them) with one commit per statement (autocommit).
// The raw side is the floor the handler is measured against. A second floor,
// for hosts that commit once per event (or per group of events), wraps each
// event's statements (or a group's) in one BEGIN ... COMMIT of its own
// (Replayer::begin / commit).
//
// A benchmark program states its streams and rules as a Suite and calls
// runSuite from main. It prints, per backend and stream, the statements one
// event issues (with a count per distinct statement) and at the end events/s
// and handler / raw. PostgreSQL is measured when EVD_BENCH_PG_URI names a
// server (scripts/bench.sh starts one).
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "bench/capture.h"
#include "bench/replay.h"

namespace evd::bench {

// What a benchmark program measures.
struct Suite {
  // Notification rules to seed: (alert type, category).
  std::vector<std::pair<int, int>> rules;
  // The streams, made once per backend on its fresh schema (with the rules
  // in place); events run here make the occurrences a stream repeats.
  std::function<bool(std::vector<std::unique_ptr<Stream>>&)> makeStreams;
};

// BASE, a libpq URI, with its search path set to SCHEMA.
std::string withSchema(const std::string& base, const std::string& schema);

// The whole program: SQLite in a scratch file, then PostgreSQL in a schema
// of its own when EVD_BENCH_PG_URI is set; the ratios at the end.
int runSuite(int argc, char** argv, const char* program, const Suite& suite);

}  // namespace evd::bench

// Events per second through EvNDetector::StoreNotiData for repeated client
// configuration alerts, each backend, against the raw floor measured in the
// same run (bench_support.h tells how the floor is captured and replayed):
//
//   Repeated10  client free-space alerts (alert type 10, criteria 77) on one
//               client whose occurrence is pending: every event refreshes
//               the occurrence, rewrites its detail row and rebuilds its
//               parameters and folder figures (in percent).
//
//   build/bench/config_bench --benchmark_min_time=0.5
// PostgreSQL is measured when EVD_BENCH_PG_URI names a server
// (scripts/bench.sh starts one).
#include "bench/bench_events.h"
#include "bench/bench_support.h"
#include "detector/EvNDetector.h"

namespace {

using evd::bench::Stream;

constexpr int kVariants = 4;

bool makeStreams(std::vector<std::unique_ptr<Stream>>& out) {
  auto repeated = std::make_unique<Stream>();
  repeated->name = "Repeated10";
  for (int i = 0; i < kVariants; ++i) repeated->events.push_back(evd::bench::clientConfigEvent(12, i));
  EvNDetector d;  // the pending occurrence the stream refreshes
  EvAlertEx first = evd::bench::parse(repeated->events[0]);
  if (!d.StoreNotiData(first)) return false;
  out.push_back(std::move(repeated));
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  return evd::bench::runSuite(argc, argv, "config_bench", {{{10, 5}}, makeStreams});
}

// Events per second through EvNDetector::StoreNotiData for two job-alert
// streams, each backend, against the raw floor measured in the same run
// (bench_support.h tells how the floor is captured and replayed):
//
//   BackupFailure  failed backups (alert type 3, criteria 1) with failure
//                  reasons, media lists, catalogue messages and an
//                  additional-information message in the description; every
//                  event is a new occurrence.
//   Repeated65     repeated criteria-65 backup alerts on eight subclients
//                  whose occurrences are pending; every event only refreshes
//                  its occurrence.
//
//   build/bench/job_bench --benchmark_min_time=0.5
// PostgreSQL is measured when EVD_BENCH_PG_URI names a server
// (scripts/bench.sh starts one).
#include "bench/bench_events.h"
#include "bench/bench_support.h"
#include "detector/EvNDetector.h"

namespace {

using evd::bench::kBackupFailure;
using evd::bench::Stream;

constexpr int kRepeatObjects = 8;

std::string repeatedEvent(int object) {
  return R"({"alertType":3,"alertCriteria":65,"alertStatus":1,"clientId":12,"subClientId":)" +
         std::to_string(200 + object) +
         R"(,"appTypeId":33,"jobId":184500,"startTime":1733572800,"endTime":1733576400,)"
         R"("failureReason":"The subclient has not been backed up for 3 days."})";
}

bool makeStreams(std::vector<std::unique_ptr<Stream>>& out) {
  auto backup = std::make_unique<Stream>();
  backup->name = "BackupFailure";
  backup->events = {kBackupFailure};
  auto repeated = std::make_unique<Stream>();
  repeated->name = "Repeated65";
  for (int i = 0; i < kRepeatObjects; ++i) repeated->events.push_back(repeatedEvent(i));
  EvNDetector d;  // the pending occurrences the repeats refresh
  for (const std::string& e : repeated->events) {
    EvAlertEx a = evd::bench::parse(e);
    if (!d.StoreNotiData(a)) return false;
  }
  out.push_back(std::move(backup));
  out.push_back(std::move(repeated));
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  return evd::bench::runSuite(argc, argv, "job_bench", {{{3, 2}}, makeStreams});
}

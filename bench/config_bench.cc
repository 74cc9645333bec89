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
#include "bench/bench_support.h"

namespace {

using evd::bench::Stream;

constexpr int kVariants = 4;

std::string clientEvent(int variant) {
  const std::string free = std::to_string(8 + variant);
  return R"({"alertType":10,"alertCriteria":77,"clientId":12,"clientName":"fs01","subClientId":118,)"
         R"("subClientName":"default","appTypeId":33,"instanceId":1,"instanceName":"DefaultInstance",)"
         R"("backupsetId":40,"backupsetName":"defaultBackupSet","mediaAgentId":7,"jobId":)" +
         std::to_string(184700 + variant) + R"(,"freeSpace":)" + free + R"(,"threshold":10,"whomId":1,)"
         R"("failureReason":"Free space on client fs01 is below its threshold.","comment":"Job results folder",)"
         R"("noOfDaysLicenseToExpire":30,"objStoreCacheDir":"/opt/cache",)"
         R"("foldersList":["/opt/jobresults","/var/log"],"freeSpaceList":[)" + free + R"(,40],)"
         R"("thresholdsList":[10,10],)"
         R"("eventMsgList":[{"tokenId":1241514762,"msgId":1241514761,"type":11,"msgIndex":1,"data":"fs01"}],)"
         R"("description":"<message type=\"30,2192\" class=\"503988448\"><int field=\"1\" key=\"7176824\">1)"
         R"(</int></message>"})";
}

bool makeStreams(std::vector<std::unique_ptr<Stream>>& out) {
  auto repeated = std::make_unique<Stream>();
  repeated->name = "Repeated10";
  for (int i = 0; i < kVariants; ++i) repeated->events.push_back(clientEvent(i));
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

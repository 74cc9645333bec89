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
#include "bench/bench_support.h"

namespace {

using evd::bench::Stream;

const char* kBackupFailure =
    R"({"alertType":3,"alertCriteria":1,"alertStatus":1,"clientId":12,"clientName":"fs01","subClientId":118,)"
    R"("subClientName":"default","backupsetId":40,"appTypeId":33,"instanceId":1,"mediaAgentId":7,"jobId":184467,)"
    R"("backupLevel":2,"startTime":1733400000,"endTime":1733403600,"scheduledTime":1733400000,"taskId":55,)"
    R"("schedPolicyId":9,"failureReason":"Failed to mount the disk media.","failureReasons":[72,1011,1290],)"
    R"("phaseFailuresCount":1,"networkFailuresCount":0,"protectedCount":15234,"failedCount":17,)"
    R"("xferSizeBytes":5368709120,"xferTimeSecs":3540,"xferThruPutGB":"5.46",)"
    R"("jobErrString":"Error occurred in Disk Media, Path [D:\\mp01].",)"
    R"("mediaList":["V_000123","V_000124","V_000125"],"vtStoragePolicyList":["SP-Gold"],)"
    R"("attachmentName":"job184467.log","numberOfItems":2400,)"
    R"("eventMsgList":[{"tokenId":1241514762,"msgId":1241514761,"type":11,"msgIndex":1,"data":"fs01"},)"
    R"({"tokenId":1241514762,"msgId":1241514761,"type":11,"msgIndex":1,"data":"D:\\mp01"},)"
    R"({"tokenId":1241514764,"msgId":1241514763,"type":11,"msgIndex":2,"data":"ma01"}],)"
    R"("description":"<message type=\"30,1880\" class=\"507417001\"><int field=\"1\" key=\"4371981\">5368709120)"
    R"(</int><int field=\"2\" key=\"4663322\">12</int><int field=\"3\" key=\"13716006\">3600</int>)"
    R"(<int field=\"7\" key=\"1848506\">1024</int></message>"})";

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

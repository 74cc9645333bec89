// Software download, installation and upgrade alerts (alert types 19, 20,
// 24, 26, 67, 68, 69) end to end through StoreNotiData, on both backends.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <utility>
#include <vector>

#include "jobs/job_harness.h"

namespace {

using evd::test::JobTest;
using ParamSet = std::multiset<std::pair<int, std::string>>;

// Job 21474836487: high half 5, low half 7.
constexpr const char* kJob =
    R"("alertCriteria":1,"jobId":21474836487,"startTime":1733400000,"endTime":1733403600,"scheduledTime":1733399000,)"
    R"("elapsedTime":3600,"taskId":55,"schedPolicyId":9,"whomId":4,"failureReason":"Install failed: can't reach 'C:\\'",)"
    R"("numberOfAvailFiles":10,"numberOfDownloadedFiles":8,"kBDoanloaded":2048,"zentraRelease":"11.32",)"
    R"("cXupgradeTime":1733500000,"clientIdsList":[12,14,15],"updatesList":["Update 11.32.5","Update 11.32.7"])";

EvAlertEx softwareEvent(int type, const std::string& more = kJob) {
  return JobTest::event(R"({"alertType":)" + std::to_string(type) + "," + more + "}");
}

class SoftwareTest : public JobTest {
 protected:
  void SetUp() override {
    JobTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    for (int type : {19, 20, 24, 26, 67, 68, 69}) seedRule(type, 7);
    // Clients of job 7; job 5 (the high half) and job 8 are other jobs.
    exec("INSERT INTO JMMaltrexUpdateStatus (jobId, clientId, clientName, status, category) VALUES "
         "(7, 12, 'fs01', 2, 0), (7, 14, 'fs02', 3, 0), (5, 98, 'x', 2, 0), (8, 99, 'y', 2, 0)");
    // Downloads of job 7 (version, OS, service pack, update number, status);
    // update 7 has status 0.
    exec("INSERT INTO JMMaltrexDownloadStatus (jobId, OSType, MVersion, isSrvPack, updateNumber, status) VALUES "
         "(7, 3, '11', 0, 5, 2), (7, 3, '11', 0, 7, 0), (7, 3, '11', 1, 24, 2), (7, 5, '11', 0, 0, 2), "
         "(8, 1, '11', 0, 9, 2)");
  }
  ParamSet paramSet(int eventId) {
    const Params p = params(eventId);
    return ParamSet(p.begin(), p.end());
  }
  // jobId_h, jobId_l, elapsed, files available, downloaded, KB, task, schedule
  // policy, then start, end and scheduled time in seconds.
  std::vector<long long> detail(int eventId) {
    std::vector<long long> out;
    for (const char* c : {"jobId_h", "jobId_l", "elapsedTime", "totFilesAvail", "filesDownloaded", "kbDownloaded",
                          "taskId", "schedPolicyId"})
      out.push_back(detailInt("NTDftpDistToClnt", c, eventId));
    NTDftpDistToClnt t(nullptr);
    t.setWhere("eventId = %d", eventId);
    if (DBrowRead(t.getOneRow()))
      for (DB_DATETIME* dt : {&t.getDataPtr()->startTime, &t.getDataPtr()->endTime, &t.getDataPtr()->schedTime})
        out.push_back(EvNDetector::DbDatetimeToUlongTime(nullptr, *dt, false));
    return out;
  }
};

TEST_P(SoftwareTest, JobsStoreTheirDetailRowAndParameters) {
  const std::string reason = "Install failed: can't reach 'C:\\'";
  const ParamSet clients{{35, "12"}, {35, "14"}};
  const std::string winx64 = "[Ver : 11] [OS: WinX64]", end = "] MsgNewLine_MsgTab_";
  const ParamSet download{{24, "4"},
                          {29, winx64 + "[Updates : 5, 7" + end},
                          {29, winx64 + "[Service Pack : 24" + end},
                          {29, "[Ver : 11] [OS: Unix][Package : Unix" + end},
                          {30, winx64 + "[Updates : 5" + end},
                          {30, winx64 + "[Service Pack : 24" + end},
                          {30, "[Ver : 11] [OS: Unix][Package : Unix" + end}};
  ParamSet install = clients, patch = clients;
  install.insert({{24, "4"}, {1, reason}});
  patch.insert({24, "4"});
  const std::vector<long long> times{1733400000, 1733403600, 1733399000};
  const struct {
    int type;
    std::vector<long long> counts;  // files available, downloaded, KB
    ParamSet params;
  } cases[] = {
      {19, {10, 8, 2048}, download}, {20, {0, 0, 0}, patch},   {67, {0, 0, 0}, install},
      {68, {0, 0, 0}, install},      {69, {0, 0, 0}, install},
  };
  for (const auto& c : cases) {
    EvAlertEx a = softwareEvent(c.type);
    ASSERT_TRUE(run(a)) << c.type;
    const int id = lastEventId();
    EXPECT_EQ(c.type, detected(id).alertType);
    EXPECT_EQ(1, detected(id).processStat) << c.type;
    std::vector<long long> expected{5, 7, 3600};
    expected.insert(expected.end(), c.counts.begin(), c.counts.end());
    expected.insert(expected.end(), {55, 9});
    expected.insert(expected.end(), times.begin(), times.end());
    EXPECT_EQ(expected, detail(id)) << c.type;
    EXPECT_EQ(c.params, paramSet(id)) << c.type;
  }
}

TEST_P(SoftwareTest, ReleaseUpgradeAndAvailableUpdatesKeepNoDetailRow) {
  const ParamSet updates{{30, "Update 11.32.5"}, {30, "Update 11.32.7"}};
  ParamSet available = updates, upgrade = updates;
  available.insert({24, "4"});
  upgrade.insert({{36, "11.32"}, {24, "4"}, {49, "1733500000"}, {35, "12"}, {35, "14"}, {35, "15"}});
  for (const auto& [type, expected] : {std::pair{24, available}, std::pair{26, upgrade}}) {
    EvAlertEx a = softwareEvent(type);
    ASSERT_TRUE(run(a)) << type;
    const int id = lastEventId();
    EXPECT_EQ(1, detected(id).processStat) << type;
    EXPECT_EQ(expected, paramSet(id)) << type;
  }
  EXPECT_EQ(0, countRows("NTDftpDistToClnt"));
}

TEST_P(SoftwareTest, JobsWithoutUpdateRowsAreStillRecorded) {
  // Job 42 has no client and no download rows: the install still completes
  // with an empty client list, the download without update blocks.
  const std::string job = R"("alertCriteria":1,"jobId":42,"whomId":4,"failureReason":"none")";
  for (int type : {20, 69, 19}) {
    EvAlertEx a = softwareEvent(type, job);
    ASSERT_TRUE(run(a)) << type;
    const int id = lastEventId();
    EXPECT_EQ(1, detected(id).processStat) << type;
    EXPECT_EQ(1, detailRows("NTDftpDistToClnt", id)) << type;
    const Params p = params(id);
    EXPECT_EQ(0u, p.count(35) + p.count(29) + p.count(30)) << type;
    EXPECT_EQ(1u, p.count(24)) << type;
  }
  EXPECT_TRUE(log().contains("No update downloaded as part of jobId  [42]"));
  // An upgrade without clients or updates stores neither list.
  EvAlertEx bare = softwareEvent(26, R"("alertCriteria":1,"zentraRelease":"11.32")");
  ASSERT_TRUE(run(bare));
  EXPECT_EQ((ParamSet{{36, "11.32"}, {24, "0"}, {49, "0"}}), paramSet(lastEventId()));
}

EVD_INSTANTIATE_BACKENDS(SoftwareTest);

}  // namespace

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

class SoftwareTest : public JobTest {};

TEST_P(SoftwareTest, EachAlertStoresItsDetailRowAndParameters) {
  for (int type : {19, 20, 24, 26, 67, 68, 69}) seedRule(type, 7);
  // Clients and downloads of job 7 (jobs 5 and 8 are others); update 7 has status 0.
  exec("INSERT INTO JMMaltrexUpdateStatus (jobId, clientId, clientName, status, category) VALUES "
       "(7, 12, 'fs01', 2, 0), (7, 14, 'fs02', 3, 0), (5, 98, 'x', 2, 0), (8, 99, 'y', 2, 0)");
  exec("INSERT INTO JMMaltrexDownloadStatus (jobId, OSType, MVersion, isSrvPack, updateNumber, status) VALUES "
       "(7, 3, '11', 0, 5, 2), (7, 3, '11', 0, 7, 0), (7, 3, '11', 1, 24, 2), (7, 5, '11', 0, 0, 2), "
       "(8, 1, '11', 0, 9, 2)");
  // Job 21474836487: high half 5, low half 7.
  const std::string job =
      R"("jobId":21474836487,"elapsedTime":3600,"taskId":55,"whomId":4,"failureReason":"can't reach 'C:\\'",)"
      R"("numberOfAvailFiles":10,"numberOfDownloadedFiles":8,"kBDoanloaded":2048,"zentraRelease":"11.32",)"
      R"("cXupgradeTime":1733500000,"clientIdsList":[12,15],"updatesList":["Update 5"])";
  const std::string noRows = R"("jobId":42,"whomId":4)";
  const std::string win = "[Ver : 11] [OS: WinX64]", end = "] MsgNewLine_MsgTab_";
  const std::string package = "[Ver : 11] [OS: Unix][Package : Unix" + end;
  const ParamSet who{{24, "4"}}, clients{{35, "12"}, {35, "14"}}, reason{{1, "can't reach 'C:\\'"}};
  const ParamSet downloads{{29, win + "[Updates : 5, 7" + end}, {29, win + "[Service Pack : 24" + end}, {29, package},
                           {30, win + "[Updates : 5" + end},    {30, win + "[Service Pack : 24" + end}, {30, package}};
  const ParamSet upgrade{{36, "11.32"}, {49, "1733500000"}, {35, "12"}, {35, "15"}, {30, "Update 5"}};
  const struct {
    int type;
    std::string event;
    std::vector<long long> detail;  // jobId_h, jobId_l, elapsed, files available, downloaded, KB, task; {} for none
    std::vector<ParamSet> params;
  } cases[] = {
      {19, job, {5, 7, 3600, 10, 8, 2048, 55}, {who, downloads}},
      {20, job, {5, 7, 3600, 0, 0, 0, 55}, {who, clients}},
      {67, job, {5, 7, 3600, 0, 0, 0, 55}, {who, reason, clients}},
      {68, job, {5, 7, 3600, 0, 0, 0, 55}, {who, reason, clients}},
      {69, job, {5, 7, 3600, 0, 0, 0, 55}, {who, reason, clients}},
      {24, job, {}, {who, {{30, "Update 5"}}}},
      {26, job, {}, {who, upgrade}},
      // A job without update rows: an empty client list, no update blocks.
      {20, noRows, {0, 42, 0, 0, 0, 0, 0}, {who}},
      {19, noRows, {0, 42, 0, 0, 0, 0, 0}, {who}},
  };
  for (const auto& c : cases) {
    const std::string what = std::to_string(c.type) + " " + c.event;
    EvAlertEx a = event(R"({"alertType":)" + std::to_string(c.type) + R"(,"alertCriteria":1,)" + c.event + "}");
    ASSERT_TRUE(run(a)) << what;
    const int id = lastEventId();
    EXPECT_EQ(1, detected(id).processStat) << what;
    std::vector<long long> detail;
    if (detailRows("NTDftpDistToClnt", id) > 0)
      for (const char* col : {"jobId_h", "jobId_l", "elapsedTime", "totFilesAvail", "filesDownloaded",
                              "kbDownloaded", "taskId"})
        detail.push_back(detailInt("NTDftpDistToClnt", col, id));
    EXPECT_EQ(c.detail, detail) << what;
    ParamSet expected;
    for (const ParamSet& p : c.params) expected.insert(p.begin(), p.end());
    const Params stored = params(id);
    EXPECT_EQ(expected, ParamSet(stored.begin(), stored.end())) << what;
  }
  EXPECT_TRUE(log().contains("No update downloaded as part of jobId  [42]"));
}

EVD_INSTANTIATE_BACKENDS(SoftwareTest);

}  // namespace

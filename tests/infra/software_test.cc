// Software download, installation and upgrade alerts (alert types 19, 20,
// 24, 26, 67, 68, 69) through StoreNotiData, on both backends.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <utility>

#include "jobs/job_harness.h"

namespace {

using evd::test::JobTest;
using ParamSet = std::multiset<std::pair<int, std::string>>;

class SoftwareTest : public JobTest {};

TEST_P(SoftwareTest, EachAlertStoresItsOwnParameters) {
  for (int type : {19, 20, 24, 26, 67}) seedRule(type, 7);
  // Job 21474836487 is job 7 by its low half (jobs 5 and 8 are others); update 7 has status 0.
  exec("INSERT INTO JMMaltrexUpdateStatus (jobId, clientId, clientName, status, category) VALUES "
       "(7, 12, 'fs01', 2, 0), (7, 14, 'fs02', 3, 0), (5, 98, 'x', 2, 0), (8, 99, 'y', 2, 0)");
  exec("INSERT INTO JMMaltrexDownloadStatus (jobId, OSType, MVersion, isSrvPack, updateNumber, status) VALUES "
       "(7, 3, '11', 0, 5, 2), (7, 3, '11', 0, 7, 0), (7, 3, '11', 1, 24, 2), (7, 5, '11', 0, 0, 2), "
       "(8, 1, '11', 0, 9, 2)");
  const std::string job = R"(,"jobId":21474836487,"whomId":4,"failureReason":"can't reach 'C:\\'",)"
                          R"("kBDoanloaded":2048,"zentraRelease":"11.32","cXupgradeTime":1733500000,)"
                          R"("clientIdsList":[12,15],"updatesList":["Update 5"])";
  const std::string win = "[Ver : 11] [OS: WinX64]", end = "] MsgNewLine_MsgTab_";
  const std::string package = "[Ver : 11] [OS: Unix][Package : Unix" + end;
  const struct {
    int type;
    ParamSet params;
    long long kb;  // -1: no detail row
  } cases[] = {
      // Downloads grouped per OS and kind; 29 lists everything, 30 what completed.
      {19,
       {{24, "4"}, {29, win + "[Updates : 5, 7" + end}, {29, win + "[Service Pack : 24" + end}, {29, package},
        {30, win + "[Updates : 5" + end}, {30, win + "[Service Pack : 24" + end}, {30, package}},
       2048},
      {20, {{24, "4"}, {35, "12"}, {35, "14"}}, 0},
      {67, {{1, "can't reach 'C:\\'"}, {24, "4"}, {35, "12"}, {35, "14"}}, 0},
      {24, {{24, "4"}, {30, "Update 5"}}, -1},
      {26, {{24, "4"}, {36, "11.32"}, {49, "1733500000"}, {35, "12"}, {35, "15"}, {30, "Update 5"}}, -1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.type);
    EvAlertEx a = jobAlert(c.type, 1, job);
    ASSERT_TRUE(run(a));
    const int id = lastEventId();
    EXPECT_EQ(1, detected(id).processStat);
    EXPECT_EQ(c.kb, detailInt("NTDftpDistToClnt", "kbDownloaded", id));
    const Params stored = params(id);
    EXPECT_EQ(c.params, ParamSet(stored.begin(), stored.end()));
  }
}

EVD_INSTANTIATE_BACKENDS(SoftwareTest);

}  // namespace

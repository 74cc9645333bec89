// Restore (alert type 4), data-aging (1) and disaster-recovery-backup (5)
// job alerts end to end through StoreNotiData, on both backends, checked by
// reading the stored rows back.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "jobs/job_harness.h"

namespace {

using evd::test::JobTest;

// An event of ALERTTYPE and CRITERIA with the keys of MORE (job 184490 unless MORE names another).
EvAlertEx jobEvent(int alertType, int criteria, const std::string& more = "") {
  return JobTest::jobAlert(alertType, criteria, more, {{"jobId", "184490"}});
}

const std::string kRestoreInfo = R"(<message type=\"30,1879\" class=\"513549765\">)";

class RecoveryMaintenanceTest : public JobTest {
 protected:
  void SetUp() override {
    JobTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    for (int type : {1, 4, 5}) seedRule(type, 2);
  }
};

TEST_P(RecoveryMaintenanceTest, FailedRestoreStoresRestoreColumnsParametersAndMessage) {
  EvAlertEx a = jobEvent(4, 3, R"(,"jobId":21474836487,"clientId":12,"appTypeId":33,"instanceId":1,
    "backupsetId":40,"subClientId":118,"libraryId":3,"mediaRequired":true,"failedCount":9,"recoveredCount":2391,
    "skippedCount":4,"protectedCount":77,"backupLevel":2,"vSS":true,"rdJob":true,"taskId":55,"schedPolicyId":9,
    "containerName":"CNT-7","exportLocName":"Vault A","mediaLable":"V_000123","failureReason":"Some files failed.",
    "whomId":4,"eventMsgList":[{"msgIndex":1,"data":"fs01"}],"jobErrString":"err","restoreUserName":"admin",
    "numberOfItems":2400,"restoreSize":734003200,"mediaList":["V_000123","V_000124"],"description":")" +
                          kRestoreInfo +
                          R"(<int field=\"1\">42</int><int field=\"2\">7</int><int field=\"6\">11</int>)"
                          R"(<int field=\"7\">65536</int><int field=\"8\">13</int></message>")");
  ASSERT_TRUE(run(a));
  const auto row = detected(lastEventId());
  EXPECT_EQ(1, row.processStat);
  const int id = row.eventId;
  // The restore side only: backup level, VSS and RD flags keep their initial 0.
  expectColumns("NTDdpDr",
                {{"jobId_h", 5}, {"jobId_l", 7}, {"clientId", 12}, {"appTypeId", 33}, {"instanceId", 1},
                 {"backupSetId", 40}, {"subClientId", 118}, {"libraryId", 3}, {"mediaRequired", 1},
                 {"failedCount", 9}, {"protectedCount", 2391}, {"skippedCount", 4}, {"taskId", 55},
                 {"schedPolicyId", 9}, {"backupLevel", 0}, {"isVSS", 0}, {"isRDJob", 0}},
                id);
  EXPECT_EQ("CNT-7|Vault A|V_000123",
            queryText("SELECT container || '|' || exportLoc || '|' || mediaLabel FROM NTDdpDr WHERE eventId = " +
                      std::to_string(id)));

  const Params expected = {{1, "Some files failed."}, {2, "V_000123"}, {2, "V_000124"}, {22, ""},  {24, "4"},
                           {53, "err"},  {62, "admin"},  {63, "2400"}, {64, "734003200"}, {258, "42"},
                           {259, "7"},   {264, "65536"}, {265, "11"},  {266, "13"}};
  EXPECT_EQ(expected, params(id));
  EXPECT_EQ(std::vector<std::string>{"fs01"}, msgParams(id));
}

TEST_P(RecoveryMaintenanceTest, RestoreStateAndDescriptionVariants) {
  struct Case {
    int criteria, appType;
    std::string description;
    int state;
    std::set<int> extra;  // parameter types beyond the always-stored ones
  };
  const std::vector<Case> cases = {
      {3, 106, "", 128, {}},
      {1, 106, "", 128, {}},
      {57, 106, "", 128, {}},
      {9, 106, "", 1, {}},
      {3, 33, "", 1, {}},
      // Fields 1 and 2 are stored whenever the message reads, set or not.
      {3, 33, kRestoreInfo + "</message>", 1, {258, 259}},
      {3, 33, kRestoreInfo + R"(<int field=\"8\">5</int></message>)", 1, {258, 259, 266}},
      {3, 33, R"(<message type=\"30,1880\"><int field=\"1\">5</int></message>)", 1, {}},
      {3, 33, "Restore failed on fs01", 1, {}},
  };
  const std::set<int> always = {1, 22, 24, 53, 62, 63, 64};
  for (const Case& c : cases) {
    const std::string json = ",\"appTypeId\":" + std::to_string(c.appType) +
                             (c.description.empty() ? "" : ",\"description\":\"" + c.description + "\"");
    EvAlertEx a = jobEvent(4, c.criteria, json);
    ASSERT_TRUE(run(a)) << c.criteria << json;
    const int id = lastEventId();
    EXPECT_EQ(c.state, detected(id).processStat) << c.criteria << json;
    std::set<int> want = always;
    want.insert(c.extra.begin(), c.extra.end());
    EXPECT_EQ(want, storedTypes(id)) << json;
    if (c.extra.count(258)) {
      EXPECT_EQ("0", param(id, 258)) << json;
    }
  }
}

TEST_P(RecoveryMaintenanceTest, LongRestoreTextsAreCutToTheirColumnsOnACharacterBoundary) {
  std::string container(511, 'c');
  container += "\xc3\xa9\xc3\xa9";  // the first two-byte character straddles the 512-byte limit
  EvAlertEx a = jobEvent(4, 3, ",\"containerName\":\"" + container + "\",\"mediaLable\":\"" + std::string(600, 'm') + "\"");
  ASSERT_TRUE(run(a));
  const int id = lastEventId();
  EXPECT_EQ(1, detected(id).processStat);
  EXPECT_EQ(std::string(511, 'c'), queryText("SELECT container FROM NTDdpDr WHERE eventId = " + std::to_string(id)));
  EXPECT_EQ(std::string(512, 'm'), queryText("SELECT mediaLabel FROM NTDdpDr WHERE eventId = " + std::to_string(id)));
}

TEST_P(RecoveryMaintenanceTest, AgingAndDisasterRecoveryBackupRows) {
  const std::string job = R"(,"jobId":184501,"taskId":55,"schedPolicyId":9,"backupLevel":1,"clientId":2,
    "appTypeId":33,"subClientId":118,"failureReason":"Failed","whomId":4,"failureReasons":[72],"jobErrString":"e")";
  struct Case {
    int alertType;
    std::string more;
    long long level;
    JobTest::Params extra;
  };
  const std::vector<Case> cases = {
      {5, "", 1, {}},
      {1, R"(,"barCodeList":["B001","B002"],"pruneJobCount":14)", 0, {{60, "B001"}, {60, "B002"}, {61, "14"}}},
      {1, R"(,"pruneJobCount":3)", 0, {{61, "3"}}},  // no barcode: no type 60 row
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.alertType) + c.more);
    EvAlertEx a = jobEvent(c.alertType, 3, job + c.more);
    ASSERT_TRUE(run(a));
    const int id = lastEventId();
    EXPECT_EQ(1, detected(id).processStat);
    expectColumns("NTDdataAgingER",
                  {{"jobId_l", 184501}, {"taskId", 55}, {"schedPolicyId", 9}, {"level", c.level}, {"clientId", 0},
                   {"appTypeId", 0}, {"subClientId", 0}},
                  id);
    Params want = {{1, "Failed"}, {24, "4"}, {53, "e"}};
    want.insert(c.extra.begin(), c.extra.end());
    const Params got = params(id);
    EXPECT_EQ(want, Params(got.lower_bound(1), got.upper_bound(100)));  // without the failure-reason texts
  }
}

EVD_INSTANTIATE_BACKENDS(RecoveryMaintenanceTest);

}  // namespace

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

// An event of ALERTTYPE and CRITERIA with the keys of MORE (job 184490
// unless MORE names another).
EvAlertEx jobEvent(int alertType, int criteria, const std::string& more = "") {
  std::string json = "{\"alertType\":" + std::to_string(alertType) + ",\"alertCriteria\":" + std::to_string(criteria);
  if (more.find("\"jobId\"") == std::string::npos) json += ",\"jobId\":184490";
  return JobTest::event(json + more + "}");
}

std::set<int> typesOf(const JobTest::Params& p) {
  std::set<int> t;
  for (const auto& kv : p) t.insert(kv.first);
  return t;
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
  const std::vector<std::pair<const char*, long long>> columns = {
      {"jobId_h", 5}, {"jobId_l", 7}, {"clientId", 12}, {"appTypeId", 33}, {"instanceId", 1},
      {"backupSetId", 40}, {"subClientId", 118}, {"libraryId", 3}, {"mediaRequired", 1}, {"failedCount", 9},
      {"protectedCount", 2391}, {"skippedCount", 4}, {"taskId", 55}, {"schedPolicyId", 9}, {"backupLevel", 0},
      {"isVSS", 0}, {"isRDJob", 0}};
  for (const auto& [column, value] : columns) EXPECT_EQ(value, detailInt("NTDdpDr", column, id)) << column;
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
    EXPECT_EQ(want, typesOf(params(id))) << json;
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
    EvAlertEx a = jobEvent(c.alertType, 3, job + c.more);
    ASSERT_TRUE(run(a)) << c.alertType << c.more;
    const int id = lastEventId();
    EXPECT_EQ(1, detected(id).processStat) << c.more;
    const std::vector<std::pair<const char*, long long>> columns = {
        {"jobId_l", 184501}, {"taskId", 55}, {"schedPolicyId", 9}, {"level", c.level}, {"clientId", 0},
        {"appTypeId", 0}, {"subClientId", 0}};
    for (const auto& [column, value] : columns)
      EXPECT_EQ(value, detailInt("NTDdataAgingER", column, id)) << column << " " << c.alertType << c.more;
    Params want = {{1, "Failed"}, {24, "4"}, {53, "e"}};
    want.insert(c.extra.begin(), c.extra.end());
    const Params got = params(id);
    EXPECT_EQ(want, Params(got.lower_bound(1), got.upper_bound(100))) << c.more;  // without the failure-reason texts
  }
}

TEST_P(RecoveryMaintenanceTest, ClearedDelayedJobWithdrawsFromItsOwnDetailTable) {
  // Delayed alerts of the same job in both detail tables.
  EvAlertEx drDelayed = jobEvent(5, 5), restoreDelayed = jobEvent(4, 5);
  ASSERT_TRUE(run(drDelayed));
  const int dr = lastEventId();
  ASSERT_TRUE(run(restoreDelayed));
  const int restore = lastEventId();

  EvAlertEx drCleared = jobEvent(5, 5, R"(,"conditionCleared":true)");
  ASSERT_TRUE(run(drCleared));
  EXPECT_EQ(2, detectedCount());
  EXPECT_EQ(4, detected(dr).processStat);
  EXPECT_EQ(1, detected(restore).processStat);

  EvAlertEx restoreCleared = jobEvent(4, 5, R"(,"conditionCleared":true)");
  ASSERT_TRUE(run(restoreCleared));
  EXPECT_EQ(2, detectedCount());
  EXPECT_EQ(4, detected(restore).processStat);

  // Data aging has no withdrawal: a cleared delayed event is a new occurrence.
  EvAlertEx agingCleared = jobEvent(1, 5, R"(,"conditionCleared":true)");
  ASSERT_TRUE(run(agingCleared));
  EXPECT_EQ(3, detectedCount());
  EXPECT_EQ(1, detected(lastEventId()).processStat);
  EXPECT_EQ(2, countRows("NTDdataAgingER"));
}

TEST_P(RecoveryMaintenanceTest, FailuresStopTheEventAndKeepWhatWasWritten) {
  // Parameters unwritable: the restore row stays unfinished, its detail written.
  exec("ALTER TABLE NTDparams RENAME TO NTDparams_away");
  EvAlertEx restore = jobEvent(4, 3);
  const bool ok = run(restore);
  exec("ALTER TABLE NTDparams_away RENAME TO NTDparams");
  EXPECT_FALSE(ok);
  EXPECT_EQ(0, detected(lastEventId()).processStat);
  EXPECT_EQ(1, detailRows("NTDdpDr", lastEventId()));

  exec("DROP TABLE NTDdataAgingER");
  for (int type : {1, 5}) {
    EvAlertEx a = jobEvent(type, 3);
    EXPECT_FALSE(run(a)) << type;
    EXPECT_EQ(0, detected(lastEventId()).processStat) << type;
    EXPECT_TRUE(params(lastEventId()).empty()) << type;
  }
  EXPECT_EQ(2, log().count("Could not insert row into table [NTDdataAgingER], ErrorString ["));
  EvAlertEx cleared = jobEvent(5, 5, R"(,"conditionCleared":true)");
  EXPECT_FALSE(run(cleared));
  EXPECT_EQ(1, log().count("Failed to clear condition for Alert Data Protection, JobId [184490], ErrorString ["));
}

EVD_INSTANTIATE_BACKENDS(RecoveryMaintenanceTest);

}  // namespace

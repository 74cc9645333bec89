// Data-protection job alerts (alert type 3) end to end through StoreNotiData,
// on both backends, checked by reading the stored rows back.
#include <gtest/gtest.h>

#include <ctime>
#include <set>
#include <string>
#include <vector>

#include "jobs/job_harness.h"

namespace {

using evd::test::JobTest;

// A backup event of CRITERIA: client 12, subclient 118 and job 184467 unless MORE names others.
EvAlertEx backup(int criteria, const std::string& more = "") {
  return JobTest::jobAlert(3, criteria, more, {{"clientId", "12"}, {"subClientId", "118"}, {"jobId", "184467"}});
}

// The parameter types a new occurrence stores whatever their values.
const std::set<int> kAlwaysStored = {1, 24, 38, 39, 41, 42, 43, 50, 51, 52, 53, 57, 58, 59, 63, 107, 108};

class DataProtectionTest : public JobTest {
 protected:
  void SetUp() override {
    JobTest::SetUp();
    if (!IsSkipped() && !HasFatalFailure()) seedRule(3, 2);
  }
  void TearDown() override {
    EvNDetector::vmBackupFeatureProbe = &isVMBackupFeatureDisabled;
    JobTest::TearDown();
  }
};

TEST_P(DataProtectionTest, FailedBackupStoresRowDetailAndParameters) {
  EvAlertEx a = backup(3, R"(,"jobId":21474836487,"startTime":1733400000,"endTime":1733403600,"appTypeId":33,
    "instanceId":1,"backupsetId":40,"protectedCount":15234,"failedCount":17,"backupLevel":2,"taskId":55,
    "schedPolicyId":9,"vSS":true,"rdJob":true,"failureReason":"Disk full","mediaList":["V1","V2"],"whomId":4,
    "eventMsgList":[{"msgIndex":1,"data":"fs01"},{"msgIndex":1,"data":"D:\\mp01"}],"phaseFailuresCount":1,
    "networkFailuresCount":2,"sVUName":"svu","workFlowName":"wf","mbTransferred":100,"xferSizeBytes":5368709120,
    "xferTimeSecs":3540,"xferThruPutGB":"5.46","jobErrString":"err","prevJobId":184400,"prevBkpSize":1000,
    "percentageChange":15,"retensionTime":1734000000,"extendedRetension":true,"attachmentName":"job.log",
    "vtStoragePolicyList":["SP-Gold"],"numberOfItems":2400,"description":")"
    R"(<message type=\"30,1880\"><int field=\"1\">5368709120</int><int field=\"2\">12</int>)"
    R"(<int field=\"3\">3600</int><int field=\"7\">1024</int><int field=\"8\">2048</int>)"
    R"(<int field=\"9\">4096</int></message>")");
  ASSERT_TRUE(run(a));
  const auto row = detected(lastEventId());
  EXPECT_EQ(1, row.processStat);
  EXPECT_EQ(2, row.category);

  const int id = row.eventId;
  expectColumns("NTDdpDr",
                {{"jobId_h", 5}, {"jobId_l", 7}, {"clientId", 12}, {"appTypeId", 33}, {"instanceId", 1},
                 {"backupSetId", 40}, {"subClientId", 118}, {"protectedCount", 15234}, {"failedCount", 17},
                 {"backupLevel", 2}, {"taskId", 55}, {"schedPolicyId", 9}, {"isVSS", 1}, {"isRDJob", 1},
                 {"libraryId", 0}},
                id);

  // Times are local calendar times; 0 stays the all-zero date.
  NTDdpDr detail(nullptr);
  detail.setWhere("eventId = %d", id);
  ASSERT_TRUE(DBrowRead(detail.getOneRow()));
  const time_t start = 1733400000;
  struct tm local {};
  localtime_r(&start, &local);
  EXPECT_EQ(local.tm_hour, detail.getDataPtr()->startTime.hour);
  EXPECT_TRUE(detail.getDataPtr()->schedTime.isZero());

  const Params expected = {
      {1, "Disk full"}, {2, "V1"}, {2, "V2"}, {24, "4"}, {38, "1"}, {39, "2"}, {41, "svu"}, {42, "wf"},
      {43, "100"}, {50, "5368709120"}, {51, "3540"}, {52, "5.46"}, {53, "err"}, {57, "184400"}, {58, "1000"},
      {59, "15"}, {63, "2400"}, {68, "SP-Gold"}, {107, "1"}, {108, "1734000000"}, {111, "job.log"},
      {260, "5368709120"}, {261, "12"}, {262, "3600"}, {264, "2048"}, {265, "1024"}, {266, "4096"}};
  EXPECT_EQ(expected, params(id));
  EXPECT_EQ((std::vector<std::string>{"fs01", "D:\\mp01"}), msgParams(id));
}

TEST_P(DataProtectionTest, AttachmentAndDescriptionVariants) {
  const std::vector<std::pair<std::string, std::set<int>>> cases = {
      {"", {}},
      {R"(,"attachmentName":"job.log")", {111}},
      {R"(,"description":"<message type=\"30,1880\"")", {}},
      {R"(,"description":"Backup failed on fs01")", {}},
      {R"(,"description":"<message type=\"30,1879\"><int field=\"1\">5</int></message>")", {}},
      {R"(,"description":"<message type=\"30,1880\"><int field=\"2\">7</int><int field=\"8\">9</int></message>")",
       {261, 264}},
  };
  for (const auto& [json, extra] : cases) {
    EvAlertEx a = backup(3, json);
    ASSERT_TRUE(run(a)) << json;
    const auto row = detected(lastEventId());
    EXPECT_EQ(1, row.processStat) << json;
    std::set<int> want = kAlwaysStored;
    want.insert(extra.begin(), extra.end());
    EXPECT_EQ(want, storedTypes(row.eventId)) << json;
  }
}

TEST_P(DataProtectionTest, JobViewCarriesTheEventsRuleAndKeepsNoDetailRow) {
  EvAlertEx a = backup(73, R"(,"alertRule":31,"numberOfItems":50,"numOfJobsToBeCopied":3,"failureReason":"x")");
  ASSERT_TRUE(run(a));
  const auto row = detected(lastEventId());
  EXPECT_EQ(31, row.ntNotificationId);
  EXPECT_EQ(1, row.processStat);
  EXPECT_EQ("JobViewForNTRule|31", row.entityId);
  EXPECT_EQ(0, countRows("NTDdpDr"));
  // Only the repeat counts and the suppression object.
  EXPECT_EQ((Params{{26, "JobViewForNTRule"}, {27, "31"}, {136, "50"}, {137, "3"}}), params(row.eventId));

  // The same rule again: the pending occurrence takes the new counts.
  EvAlertEx again = backup(73, R"(,"alertRule":31,"numberOfItems":70,"numOfJobsToBeCopied":4)");
  ASSERT_TRUE(run(again));
  EXPECT_EQ(1, detectedCount());
  EXPECT_EQ(row.eventId, lastEventId());
  EXPECT_EQ("70", param(row.eventId, 136));
  EXPECT_EQ("4", param(row.eventId, 137));
}

TEST_P(DataProtectionTest, RepeatedBackupCriteria65UpdatesThePendingOccurrence) {
  EvAlertEx first = backup(65, R"(,"startTime":1733400000,"endTime":1733403600)");
  ASSERT_TRUE(run(first));
  const int id = lastEventId();
  EXPECT_EQ("ClientNSubClient|" + std::to_string((12LL << 32) + 118), detected(id).entityId);
  EXPECT_EQ("1733403600", param(id, 124));
  EXPECT_EQ("1733400000", param(id, 126));

  EvAlertEx second = backup(65, R"(,"jobId":184500)"), cleared = backup(65, R"(,"conditionCleared":true)");
  ASSERT_TRUE(run(second));
  EXPECT_EQ(id, lastEventId());
  EXPECT_EQ(1, log().count("already present for criteria [65] SubclientId [118]"));
  ASSERT_TRUE(run(cleared));
  EXPECT_EQ(1, detectedCount());
  EXPECT_EQ(1, countRows("NTDdpDr"));
  EXPECT_EQ(4, detected(id).processStat);

  EvAlertEx elsewhere = backup(65, R"(,"subClientId":119)");  // another object
  ASSERT_TRUE(run(elsewhere));
  EXPECT_EQ(2, detectedCount());
}

int g_featureOff = 0;
int featureOff() { return g_featureOff; }

TEST_P(DataProtectionTest, VirtualServerBackupsAreHeldForPerVMProcessing) {
  EvNDetector::vmBackupFeatureProbe = &featureOff;
  exec("INSERT INTO APP_ClientProp (componentNameId, attrName, attrVal, modified) VALUES "
       "(12, 'IndexingV2_VSA', '1', 0), (13, 'IndexingV2_VSA', '0', 0)");
  struct Case {
    int client, featureOff, level, criteria, alertStatus, appType, state, indexingLines;
  };
  const Case cases[] = {  // client 12 has indexing v2, client 13 not
      {12, 0, 64, 9, 0, 106, 128, 1}, {12, 1, 128, 3, 0, 106, 128, 0}, {12, 0, 2, 3, 0, 106, 1, 1},
      {12, 1, 2, 57, 0, 106, 1, 0},   {13, 0, 2, 1, 0, 106, 128, 0},   {13, 0, 2, 14, 3001, 106, 128, 0},
      {13, 0, 2, 14, 3002, 106, 1, 0}, {13, 0, 64, 9, 0, 106, 1, 0},   {13, 1, 2, 3, 0, 106, 1, 0},
      {12, 0, 64, 3, 0, 33, 1, 0},
  };
  const std::string line = "has indexing v2 for VSA enabled.";
  for (const Case& c : cases) {
    g_featureOff = c.featureOff;
    EvAlertEx a = backup(c.criteria, ",\"clientId\":" + std::to_string(c.client) +
                                         ",\"alertStatus\":" + std::to_string(c.alertStatus) + ",\"backupLevel\":" +
                                         std::to_string(c.level) + ",\"appTypeId\":" + std::to_string(c.appType));
    const int before = log().count(line);
    ASSERT_TRUE(run(a));
    EXPECT_EQ(c.state, detected(lastEventId()).processStat) << c.client << "/" << c.level << "/" << c.criteria;
    EXPECT_EQ(c.indexingLines, log().count(line) - before) << c.client << "/" << c.level << "/" << c.criteria;
  }
}

EVD_INSTANTIATE_BACKENDS(DataProtectionTest);

}  // namespace

// Data-protection job alerts (alert type 3) end to end through StoreNotiData,
// on both backends, checked by reading the stored rows back.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "jobs/job_harness.h"

namespace {

using evd::test::JobTest;

// A backup event of CRITERIA: client 12, subclient 118 and job 184467 unless MORE names others.
EvAlertEx backup(int criteria, const std::string& more = "") {
  return JobTest::jobAlert(3, criteria, more, {{"clientId", "12"}, {"subClientId", "118"}, {"jobId", "184467"}});
}

class DataProtectionTest : public JobTest {
 protected:
  DataProtectionTest() : JobTest({3}, 2) {}
};

// The one full check of the shared job path: every column and parameter.
TEST_P(DataProtectionTest, FailedBackupStoresRowDetailAndParameters) {
  const int id = record(backup(3, R"(,"jobId":21474836487,"appTypeId":33,"instanceId":1,
    "backupsetId":40,"protectedCount":15234,"failedCount":17,"backupLevel":2,"taskId":55,"schedPolicyId":9,
    "vSS":true,"rdJob":true,"failureReason":"Disk full","mediaList":["V1","V2"],"whomId":4,"eventMsgList":[
    {"msgIndex":1,"data":"fs01"},{"msgIndex":1,"data":"D:\\mp01"}],"phaseFailuresCount":1,"networkFailuresCount":2,
    "sVUName":"svu","workFlowName":"wf","mbTransferred":100,"xferSizeBytes":5368709120,"xferTimeSecs":3540,
    "xferThruPutGB":"5.46","jobErrString":"err","prevJobId":184400,"prevBkpSize":1000,"percentageChange":15,
    "retensionTime":1734000000,"extendedRetension":true,"attachmentName":"job.log","vtStoragePolicyList":
    ["SP-Gold"],"numberOfItems":2400,"description":"<message type=\"30,1880\"><int field=\"1\">5368709120</int>)"
    R"(<int field=\"2\">12</int><int field=\"7\">1024</int><int field=\"8\">2048</int></message>")"));
  const Params expected = {
      {1, "Disk full"}, {2, "V1"}, {2, "V2"}, {24, "4"}, {38, "1"}, {39, "2"}, {41, "svu"}, {42, "wf"},
      {43, "100"}, {50, "5368709120"}, {51, "3540"}, {52, "5.46"}, {53, "err"}, {57, "184400"}, {58, "1000"},
      {59, "15"}, {63, "2400"}, {68, "SP-Gold"}, {107, "1"}, {108, "1734000000"}, {111, "job.log"},
      {260, "5368709120"}, {261, "12"}, {264, "2048"}, {265, "1024"}};  // fields 3 and 9 unset: not stored
  EXPECT_EQ(expected, params(id));
  EXPECT_EQ((std::vector<std::string>{"fs01", "D:\\mp01"}), msgParams(id));
}

TEST_P(DataProtectionTest, JobViewCarriesTheEventsRuleAndKeepsNoDetailRow) {
  const int id = record(backup(73, R"(,"alertRule":31,"numberOfItems":50,"numOfJobsToBeCopied":3)"));
  EXPECT_EQ(31, detected(id).ntNotificationId);
  EXPECT_EQ("JobViewForNTRule|31", detected(id).entityId);
  EXPECT_EQ(0, countRows("NTDdpDr"));
  EXPECT_EQ((Params{{26, "JobViewForNTRule"}, {27, "31"}, {136, "50"}, {137, "3"}}), params(id));
}

TEST_P(DataProtectionTest, RepeatedBackupCriteria65UpdatesThePendingOccurrence) {
  const int id = record(backup(65, R"(,"startTime":1733400000,"endTime":1733403600)"));
  EXPECT_EQ("ClientNSubClient|" + std::to_string((12LL << 32) + 118), detected(id).entityId);
  EXPECT_EQ((Params{{124, "1733403600"}, {126, "1733400000"}}), paramsOf(id, {124, 126}));
  EXPECT_EQ(id, record(backup(65, R"(,"jobId":184500)")));
  record(backup(65, R"(,"conditionCleared":true)"));
  EXPECT_EQ(1, detectedCount());
  EXPECT_EQ(1, countRows("NTDdpDr"));
  EXPECT_EQ(4, detected(id).processStat);
  EXPECT_NE(id, record(backup(65, R"(,"subClientId":119)")));  // another object
}

TEST_P(DataProtectionTest, ReplicationOccurrenceIsPendingPerClient) {
  seedRule(25, 2);
  const int id = record(jobAlert(25, 3, R"(,"clientId":12,"subClientId":118,"freeSpace":512,"threshold":1024,)"
      R"("fileSize":77,"folderName":"/data","driveName":"Drive 2","drivePoolName":"Pool","containerName":"C1",)"
      R"("comment":"lagging","foldersList":["/data"],"freeSpaceList":[512],"thresholdsList":[1024],)"
      R"("eventMsgList":[{"msgIndex":9,"data":"rep01"}])"));
  EXPECT_EQ("Client|12", detected(id).entityId);
  // Repeats refresh it and add nothing, cleared moves it to 4; nothing pending for client 13: nothing written.
  record(jobAlert(25, 3, R"(,"clientId":12,"subClientId":119,"comment":"again")"));
  record(jobAlert(25, 3, R"(,"clientId":12,"conditionCleared":true)"));
  record(jobAlert(25, 3, R"(,"clientId":13,"conditionCleared":true)"));
  EXPECT_EQ(1, detectedCount());
  EXPECT_EQ(1, countRows("NTDclntAgentMAConfig"));
  EXPECT_EQ(0, countRows("NTDparams WHERE value = 'again'"));
  EXPECT_EQ(4, detected(id).processStat);
}

TEST_P(DataProtectionTest, VirtualServerBackupsAreHeldForPerVMProcessing) {
  static int featureOff = 0;  // what the feature probe answers
  EvNDetector::Testing::vmBackupFeatureProbe = [] { return featureOff; };
  exec("INSERT INTO APP_ClientProp (componentNameId, attrName, attrVal, modified) VALUES "
       "(12, 'IndexingV2_VSA', '1', 0), (13, 'IndexingV2_VSA', '0', 0)");
  struct Case { int client, featureOff, level, criteria, alertStatus, appType, state; };
  const Case cases[] = {  // client 12 has indexing v2, client 13 not
      {12, 0, 64, 9, 0, 106, 128}, {12, 1, 128, 3, 0, 106, 128}, {12, 0, 2, 3, 0, 106, 1},
      {12, 1, 2, 57, 0, 106, 1},   {13, 0, 2, 1, 0, 106, 128},   {13, 0, 2, 14, 3001, 106, 128},
      {13, 0, 2, 14, 3002, 106, 1}, {13, 0, 64, 9, 0, 106, 1},   {13, 1, 2, 3, 0, 106, 1},
      {12, 0, 64, 3, 0, 33, 1},
  };
  for (const Case& c : cases) {
    featureOff = c.featureOff;
    const auto key = [](const char* name, int v) { return ",\"" + std::string(name) + "\":" + std::to_string(v); };
    const int id = record(backup(c.criteria, key("clientId", c.client) + key("alertStatus", c.alertStatus) +
                                                 key("backupLevel", c.level) + key("appTypeId", c.appType)));
    EXPECT_EQ(c.state, detected(id).processStat) << c.client << "/" << c.level << "/" << c.criteria;
  }
  EvNDetector::Testing::vmBackupFeatureProbe = &isVMBackupFeatureDisabled;
}

TEST_P(DataProtectionTest, MailboxAndSharePointAreFiledAsTheEventNamesThem) {
  seedRule(23, 2);
  seedRule(30, 2);
  struct Case { int type, condition; std::string mailbox; long long msgCount; std::string stored; };
  const std::string longName(600, 'm');
  for (const Case& c : {Case{23, 7, longName, 42, longName.substr(0, 512)}, Case{30, 8, "not stored", 0, ""}}) {
    const int id = record(jobAlert(c.type, 11, R"(,"clientId":12,"comment":"Journal full","messageCount":42,)"
                                              R"("condition":)" + std::to_string(c.condition) +
                                                  R"(,"mailBoxName":")" + c.mailbox + "\""));
    EXPECT_EQ(6, detected(id).category) << c.type;  // the rule's alert type says category 2
    EXPECT_EQ(11, detected(id).criteria) << c.type;
    EXPECT_EQ(c.condition, detailInt("NTDetectedAlerts", "status", id)) << c.type;
    EXPECT_EQ(c.msgCount, detailInt("NTDclntAgentMAConfig", "exJorMsgCount", id)) << c.type;
    EXPECT_EQ(c.stored, detailText("NTDclntAgentMAConfig", "jorMBName", id)) << c.type;
    EXPECT_EQ((Params{{255, "Journal full"}}), params(id)) << c.type;
  }
}

EVD_INSTANTIATE_BACKENDS(DataProtectionTest);

}  // namespace

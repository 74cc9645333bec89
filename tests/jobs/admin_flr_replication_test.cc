// Admin-job (73), file-level-restore (28), file-replication (25),
// journal-mailbox (23) and SharePoint (30) alerts end to end through
// StoreNotiData, on both backends, checked by reading the stored rows back.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "jobs/job_harness.h"

namespace {

using evd::test::JobTest;

EvAlertEx alertOf(int type, int criteria, const std::string& more = "") {
  return JobTest::event(R"({"alertType":)" + std::to_string(type) + R"(,"alertCriteria":)" +
                        std::to_string(criteria) + more + "}");
}

std::set<int> typesOf(const JobTest::Params& p) {
  std::set<int> t;
  for (const auto& kv : p) t.insert(kv.first);
  return t;
}

class AdminFlrReplicationTest : public JobTest {
 protected:
  void SetUp() override {
    JobTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    for (int type : {73, 28, 25, 23, 30}) seedRule(type, 2);
  }
  long long status(int eventId) {
    return queryInt("SELECT status FROM NTDetectedAlerts WHERE eventId = " + std::to_string(eventId));
  }
};

TEST_P(AdminFlrReplicationTest, JobAlertsStoreTheirDetailAndParameters) {
  const std::string job =
      R"(,"jobId":21474836487,"clientId":12,"appTypeId":33,"instanceId":1,"backupsetId":40,"subClientId":118,)"
      R"("protectedCount":150,"failedCount":3,"taskId":55,"schedPolicyId":9,"failureReason":"Restore failed",)"
      R"("whomId":4,"jobErrString":"err","sVUName":"svu","mediaList":["V1"],"phaseFailuresCount":1,)"
      R"("networkFailuresCount":2,"eventMsgList":[{"msgIndex":1,"data":"fs01"}])";
  struct Case {
    int type;
    const char* table;
    std::vector<std::pair<const char*, long long>> columns;
    std::set<int> types;
  };
  const Case cases[] = {
      {73, "NTDAdminJobInfo", {{"jobId_h", 5}, {"jobId_l", 7}, {"taskId", 55}, {"schedPolicyId", 9}, {"opType", 0}},
       {1, 24, 53}},
      {28, "NTDdpDr",
       {{"jobId_h", 5}, {"jobId_l", 7}, {"clientId", 12}, {"appTypeId", 33}, {"instanceId", 1}, {"backupSetId", 40},
        {"subClientId", 0}, {"protectedCount", 150}, {"failedCount", 3}, {"taskId", 55}, {"schedPolicyId", 9}},
       {1, 2, 24, 38, 39, 44, 53}},
  };
  for (const Case& c : cases) {
    EvAlertEx a = alertOf(c.type, 3, job);
    ASSERT_TRUE(run(a)) << c.type;
    const auto row = detected(lastEventId());
    EXPECT_EQ(1, row.processStat) << c.type;
    EXPECT_EQ(2, row.category) << c.type;
    for (const auto& [column, value] : c.columns)
      EXPECT_EQ(value, detailInt(c.table, column, row.eventId)) << c.type << " " << column;
    EXPECT_EQ(c.types, typesOf(params(row.eventId))) << c.type;
    EXPECT_EQ("Restore failed", param(row.eventId, 1)) << c.type;
    EXPECT_EQ(std::vector<std::string>{"fs01"}, msgParams(row.eventId)) << c.type;
  }
  EXPECT_EQ("svu", param(queryInt("SELECT eventId FROM NTDetectedAlerts WHERE alertType = 28"), 44));
}

TEST_P(AdminFlrReplicationTest, ClearedDelayedRestoreWithdrawsItsAlertsAndRecordsNothing) {
  EvAlertEx delayed = alertOf(28, 5, R"(,"jobId":184490)"), other = alertOf(28, 5, R"(,"jobId":184491)");
  ASSERT_TRUE(run(delayed));
  const int id = lastEventId();
  ASSERT_TRUE(run(other));
  const int otherId = lastEventId();
  EvAlertEx cleared = alertOf(28, 5, R"(,"jobId":184490,"conditionCleared":true,"failureReason":"x")");
  ASSERT_TRUE(run(cleared));
  EXPECT_EQ(2, detectedCount());
  EXPECT_EQ(2, countRows("NTDdpDr"));
  EXPECT_EQ(4, detected(id).processStat);
  EXPECT_EQ(1, detected(otherId).processStat);
  EXPECT_EQ(0, countRows("NTDparams WHERE value = 'x'"));

  // The withdrawal failing is reported in the restore's own words.
  exec("DROP TABLE NTDetectedAlerts");
  EXPECT_FALSE(run(cleared));
  EXPECT_EQ(1, log().count("Failed to clear condition for Alert FLR Jobs, JobId [184490], Error ["));
}

TEST_P(AdminFlrReplicationTest, ReplicationOccurrenceIsPendingPerClient) {
  const std::string more =
      R"(,"clientId":12,"appTypeId":33,"backupsetId":40,"subClientId":118,"jobId":184467,"freeSpace":512,)"
      R"("threshold":1024,"fileSize":77,"lastActivity":1733400000,"folderName":"/data","driveName":"Drive 2",)"
      R"("drivePoolName":"Pool","containerName":"C1","comment":"Replication lagging","foldersList":["/data"],)"
      R"("freeSpaceList":[512],"thresholdsList":[1024],"eventMsgList":[{"msgIndex":9,"data":"rep01"}])";
  EvAlertEx first = alertOf(25, 3, more);
  ASSERT_TRUE(run(first));
  const int id = lastEventId();
  const auto row = detected(id);
  EXPECT_EQ(1, row.processStat);
  EXPECT_EQ("Client|12", row.entityId);
  const std::vector<std::pair<const char*, long long>> columns = {
      {"clientId", 12}, {"appTypeId", 33}, {"backupSetId", 40}, {"subClientId", 118},
      {"freeSpace", 512}, {"threshold", 1024}, {"fileSize", 77}, {"exJorMsgCount", 0}};
  for (const auto& [column, value] : columns) EXPECT_EQ(value, detailInt("NTDclntAgentMAConfig", column, id)) << column;
  EXPECT_EQ((Params{{26, "Client"}, {27, "12"}, {40, "/data"}, {45, "Drive 2"}, {46, "Pool"}, {47, "C1"},
                    {255, "Replication lagging"}}),
            params(id));
  const auto msgs = msgParams(id);
  ASSERT_FALSE(msgs.empty());
  EXPECT_EQ("/data", msgs.front());  // the folder message first, the event's messages after suppression
  EXPECT_EQ("rep01", msgs.back());

  // Repeats of the same client refresh it and add nothing; cleared moves it to 4.
  EvAlertEx again = alertOf(25, 3, R"(,"clientId":12,"subClientId":119,"comment":"again")");
  ASSERT_TRUE(run(again));
  EXPECT_EQ(id, lastEventId());
  EvAlertEx cleared = alertOf(25, 3, R"(,"clientId":12,"conditionCleared":true)");
  ASSERT_TRUE(run(cleared));
  EXPECT_EQ(1, detectedCount());
  EXPECT_EQ(1, countRows("NTDclntAgentMAConfig"));
  EXPECT_EQ(0, countRows("NTDparams WHERE value = 'again'"));
  EXPECT_EQ(4, detected(id).processStat);

  // Cleared for a client with nothing pending: nothing at all.
  EvAlertEx clearedElsewhere = alertOf(25, 3, R"(,"clientId":13,"conditionCleared":true)");
  ASSERT_TRUE(run(clearedElsewhere));
  EXPECT_EQ(1, detectedCount());
  EXPECT_EQ(1, countRows("NTDclntAgentMAConfig"));
}

TEST_P(AdminFlrReplicationTest, MailboxAndSharePointAreFiledAsTheEventNamesThem) {
  const std::string longName(600, 'm');
  struct Case {
    int type;
    std::string more;
    long long msgCount;
    std::string mailbox;
  };
  const Case cases[] = {
      {23, R"(,"condition":7,"messageCount":42,"mailBoxName":")" + longName + "\"", 42, longName.substr(0, 512)},
      {23, R"(,"condition":7,"messageCount":1,"mailBoxName":"journal@corp")", 1, "journal@corp"},
      {30, R"(,"condition":8,"messageCount":42,"mailBoxName":"not stored")", 0, ""},
  };
  for (const Case& c : cases) {
    EvAlertEx a = alertOf(c.type, 11, R"(,"clientId":12,"appTypeId":78,"comment":"Journal full")" + c.more);
    ASSERT_TRUE(run(a)) << c.type;
    const auto row = detected(lastEventId());
    EXPECT_EQ(6, row.category) << c.type;  // the rule's type says category 2
    EXPECT_EQ(c.type, row.alertType) << c.type;
    EXPECT_EQ(11, row.criteria) << c.type;
    EXPECT_EQ(c.type == 23 ? 7 : 8, status(row.eventId)) << c.type;
    EXPECT_EQ(1, row.processStat) << c.type;
    EXPECT_EQ(12, detailInt("NTDclntAgentMAConfig", "clientId", row.eventId));
    EXPECT_EQ(78, detailInt("NTDclntAgentMAConfig", "appTypeId", row.eventId));
    EXPECT_EQ(c.msgCount, detailInt("NTDclntAgentMAConfig", "exJorMsgCount", row.eventId)) << c.type;
    EXPECT_EQ(c.mailbox, queryText("SELECT jorMBName FROM NTDclntAgentMAConfig WHERE eventId = " +
                                   std::to_string(row.eventId)))
        << c.type;
    EXPECT_EQ((Params{{255, "Journal full"}}), params(row.eventId)) << c.type;
  }
}

EVD_INSTANTIATE_BACKENDS(AdminFlrReplicationTest);

}  // namespace

// Admin-job (73), file-level-restore (28), file-replication (25),
// journal-mailbox (23) and SharePoint (30) alerts end to end through
// StoreNotiData, on both backends.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "jobs/job_harness.h"

namespace {

using evd::test::JobTest;

EvAlertEx alertOf(int type, int criteria, const std::string& more = "") {
  return JobTest::jobAlert(type, criteria, more);
}

class AdminFlrReplicationTest : public JobTest {
 protected:
  void SetUp() override {
    JobTest::SetUp();
    if (!IsSkipped() && !HasFatalFailure())
      for (int type : {73, 28, 25, 23, 30}) seedRule(type, 2);
  }
};

TEST_P(AdminFlrReplicationTest, JobAlertsStoreTheirDetailAndParameters) {
  const std::string job =
      R"(,"jobId":21474836487,"clientId":12,"appTypeId":33,"instanceId":1,"backupsetId":40,"subClientId":118,)"
      R"("protectedCount":150,"failedCount":3,"taskId":55,"schedPolicyId":9,"failureReason":"Restore failed",)"
      R"("whomId":4,"jobErrString":"err","sVUName":"svu","mediaList":["V1"],"eventMsgList":[{"data":"fs01"}])";
  EvAlertEx admin = alertOf(73, 3, job), restore = alertOf(28, 3, job);
  ASSERT_TRUE(run(admin));
  const int adminId = lastEventId();
  ASSERT_TRUE(run(restore));
  const int restoreId = lastEventId();
  EXPECT_EQ(1, detected(adminId).processStat);
  EXPECT_EQ(1, detected(restoreId).processStat);
  expectColumns("NTDAdminJobInfo", {{"jobId_h", 5}, {"jobId_l", 7}, {"taskId", 55}, {"schedPolicyId", 9}}, adminId);
  expectColumns("NTDdpDr",
                {{"jobId_l", 7}, {"clientId", 12}, {"appTypeId", 33}, {"instanceId", 1}, {"backupSetId", 40},
                 {"subClientId", 0}, {"protectedCount", 150}, {"failedCount", 3}, {"schedPolicyId", 9}},
                restoreId);
  EXPECT_EQ((Params{{1, "Restore failed"}, {24, "4"}, {53, "err"}}), params(adminId));
  EXPECT_EQ((Params{{1, "Restore failed"}, {2, "V1"}, {24, "4"}, {38, "0"}, {39, "0"}, {44, "svu"}, {53, "err"}}),
            params(restoreId));
  EXPECT_EQ(std::vector<std::string>{"fs01"}, msgParams(restoreId));

}

TEST_P(AdminFlrReplicationTest, ReplicationOccurrenceIsPendingPerClient) {
  EvAlertEx first = alertOf(25, 3,
      R"(,"clientId":12,"appTypeId":33,"backupsetId":40,"subClientId":118,"freeSpace":512,"threshold":1024,)"
      R"("fileSize":77,"folderName":"/data","driveName":"Drive 2","drivePoolName":"Pool","containerName":"C1",)"
      R"("comment":"lagging","foldersList":["/data"],"freeSpaceList":[512],"thresholdsList":[1024],)"
      R"("eventMsgList":[{"msgIndex":9,"data":"rep01"}])");
  ASSERT_TRUE(run(first));
  const int id = lastEventId();
  EXPECT_EQ(1, detected(id).processStat);
  EXPECT_EQ("Client|12", detected(id).entityId);
  expectColumns("NTDclntAgentMAConfig",
                {{"clientId", 12}, {"appTypeId", 33}, {"backupSetId", 40}, {"subClientId", 118}, {"freeSpace", 512},
                 {"threshold", 1024}, {"fileSize", 77}},
                id);
  EXPECT_EQ((Params{{26, "Client"}, {27, "12"}, {40, "/data"}, {45, "Drive 2"}, {46, "Pool"}, {47, "C1"},
                    {255, "lagging"}}),
            params(id));
  const auto msgs = msgParams(id);
  ASSERT_EQ(4u, msgs.size());  // folder, threshold, free space; then the event's message
  EXPECT_EQ("/data", msgs.front());
  EXPECT_EQ("rep01", msgs.back());

  // Repeats for the client refresh it and add nothing; cleared moves it to 4;
  // cleared for a client with nothing pending writes nothing.
  EvAlertEx again = alertOf(25, 3, R"(,"clientId":12,"subClientId":119,"comment":"again")"),
            cleared = alertOf(25, 3, R"(,"clientId":12,"conditionCleared":true)"),
            elsewhere = alertOf(25, 3, R"(,"clientId":13,"conditionCleared":true)");
  for (EvAlertEx* a : {&again, &cleared, &elsewhere}) ASSERT_TRUE(run(*a));
  EXPECT_EQ(1, detectedCount());
  EXPECT_EQ(1, countRows("NTDclntAgentMAConfig"));
  EXPECT_EQ(0, countRows("NTDparams WHERE value = 'again'"));
  EXPECT_EQ(4, detected(id).processStat);
}

TEST_P(AdminFlrReplicationTest, MailboxAndSharePointAreFiledAsTheEventNamesThem) {
  const std::string longName(600, 'm');
  struct Case {
    int type, condition;
    std::string mailbox;
    long long msgCount;
    std::string stored;
  };
  const Case cases[] = {
      {23, 7, longName, 42, longName.substr(0, 512)},
      {23, 7, "journal@corp", 42, "journal@corp"},
      {30, 8, "not stored", 0, ""},
  };
  for (const Case& c : cases) {
    EvAlertEx a = alertOf(c.type, 11, R"(,"clientId":12,"appTypeId":78,"comment":"Journal full","messageCount":42,)"
                                      R"("condition":)" + std::to_string(c.condition) + R"(,"mailBoxName":")" +
                                          c.mailbox + "\"");
    ASSERT_TRUE(run(a)) << c.type;
    const auto row = detected(lastEventId());
    const std::string where = " WHERE eventId = " + std::to_string(row.eventId);
    EXPECT_EQ(6, row.category) << c.type;  // the rule's alert type says category 2
    EXPECT_EQ(c.type, row.alertType) << c.type;
    EXPECT_EQ(11, row.criteria) << c.type;
    EXPECT_EQ(c.condition, queryInt("SELECT status FROM NTDetectedAlerts" + where)) << c.type;
    EXPECT_EQ(1, row.processStat) << c.type;
    expectColumns("NTDclntAgentMAConfig", {{"clientId", 12}, {"appTypeId", 78}, {"exJorMsgCount", c.msgCount}},
                  row.eventId);
    EXPECT_EQ(c.stored, queryText("SELECT jorMBName FROM NTDclntAgentMAConfig" + where)) << c.type;
    EXPECT_EQ((Params{{255, "Journal full"}}), params(row.eventId)) << c.type;
  }
}

EVD_INSTANTIATE_BACKENDS(AdminFlrReplicationTest);

}  // namespace

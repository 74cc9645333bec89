// Admin-job (73), file-level-restore (28), file-replication (25), journal-mailbox
// (23) and SharePoint (30) alerts: what each stores beyond the shared job path.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "jobs/job_harness.h"

namespace {

using evd::test::JobTest;

class AdminFlrReplicationTest : public JobTest {
 protected:
  void SetUp() override {
    JobTest::SetUp();
    if (!IsSkipped() && !HasFatalFailure())
      for (int type : {73, 28, 25, 23, 30}) seedRule(type, 2);
  }
};

TEST_P(AdminFlrReplicationTest, AdminJobAndFileLevelRestoreKeepTheirOwnColumnsAndParameters) {
  const std::string job = R"(,"jobId":21474836487,"clientId":12,"subClientId":118,"protectedCount":150,)"
                          R"("failedCount":3,"taskId":55,"whomId":4,"sVUName":"svu","mediaList":["V1"])";
  const int admin = record(jobAlert(73, 3, job)), restore = record(jobAlert(28, 3, job));
  expectColumns("NTDAdminJobInfo", {{"jobId_h", 5}, {"jobId_l", 7}, {"taskId", 55}}, admin);
  // The file-level restore keeps no subclient, and its SVU name has a type of its own.
  expectColumns("NTDdpDr", {{"subClientId", 0}, {"protectedCount", 150}, {"failedCount", 3}}, restore);
  const std::set<int> own = {2, 24, 38, 39, 41, 44};
  EXPECT_EQ((Params{{24, "4"}}), paramsOf(admin, own));
  EXPECT_EQ((Params{{2, "V1"}, {24, "4"}, {38, "0"}, {39, "0"}, {44, "svu"}}), paramsOf(restore, own));
}

TEST_P(AdminFlrReplicationTest, ReplicationOccurrenceIsPendingPerClient) {
  const int id = record(jobAlert(25, 3, R"(,"clientId":12,"subClientId":118,"freeSpace":512,"threshold":1024,)"
      R"("fileSize":77,"folderName":"/data","driveName":"Drive 2","drivePoolName":"Pool","containerName":"C1",)"
      R"("comment":"lagging","foldersList":["/data"],"freeSpaceList":[512],"thresholdsList":[1024],)"
      R"("eventMsgList":[{"msgIndex":9,"data":"rep01"}])"));
  EXPECT_EQ("Client|12", detected(id).entityId);
  expectColumns("NTDclntAgentMAConfig", {{"freeSpace", 512}, {"threshold", 1024}, {"fileSize", 77}}, id);
  EXPECT_EQ((Params{{26, "Client"}, {27, "12"}, {40, "/data"}, {45, "Drive 2"}, {46, "Pool"}, {47, "C1"},
                    {255, "lagging"}}), params(id));
  // Folder, threshold and free space; then the event's message.
  EXPECT_EQ((std::vector<std::string>{"/data", "1.00 GB", "512 MB", "rep01"}), msgParams(id));
  // Repeats refresh it and add nothing, cleared moves it to 4; nothing pending for client 13: nothing written.
  record(jobAlert(25, 3, R"(,"clientId":12,"subClientId":119,"comment":"again")"));
  record(jobAlert(25, 3, R"(,"clientId":12,"conditionCleared":true)"));
  record(jobAlert(25, 3, R"(,"clientId":13,"conditionCleared":true)"));
  EXPECT_EQ(1, detectedCount());
  EXPECT_EQ(1, countRows("NTDclntAgentMAConfig"));
  EXPECT_EQ(0, countRows("NTDparams WHERE value = 'again'"));
  EXPECT_EQ(4, detected(id).processStat);
}

TEST_P(AdminFlrReplicationTest, MailboxAndSharePointAreFiledAsTheEventNamesThem) {
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

EVD_INSTANTIATE_BACKENDS(AdminFlrReplicationTest);

}  // namespace

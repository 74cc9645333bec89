// Information-management, classification, analytics, report, workflow and
// virtualization alerts end to end through StoreNotiData, on both backends,
// checked by reading the stored rows back.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "jobs/job_harness.h"

namespace {

using evd::test::JobTest;

EvAlertEx ev(int type, int criteria, const std::string& more) { return JobTest::jobAlert(type, criteria, more); }

// The fields every case carries besides its job and copy.
const std::string kCommon = R"(,"clientId":12,"appTypeId":33,"instanceId":1,"backupsetId":40,
  "subClientId":118,"taskId":55,"schedPolicyId":9,"storPolicyId":21,"whomId":4,
  "failureReason":"f","jobErrString":"e")";
// Job 21474836487 is halves 5 and 7.
const std::string kJob = kCommon + R"(,"jobId":21474836487,"copyId":44)";

const std::string kWorkflowMsg =
    R"(<message type=\"40,42\" class=\"683636389\"><object field=\"1\" key=\"1824703\"><object field=\"1\" )"
    R"(key=\"10347491\"><int field=\"0\" key=\"8711482\">1234</int></object></object>)"
    R"(<text field=\"2\" key=\"10011302\">Approval</text></message>)";

class InfoWorkflowTest : public JobTest {
 protected:
  void SetUp() override {
    JobTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    for (int type : {27, 52, 53, 63, 64, 66}) seedRule(type, 2);
  }
};

TEST_P(InfoWorkflowTest, EachHandlerStoresItsDetailColumnsAndParameters) {
  struct Case {
    int type;
    std::string json;
    const char* table;
    DetailColumns columns;
    Params params;
  };
  const std::vector<Case> cases = {
      {27, R"(,"comment":"c")", "NTDclntAgentMAConfig",
       {{"clientId", 12}, {"appTypeId", 33}, {"instanceId", 1}, {"backupSetId", 40}, {"subClientId", 0}},
       {{1, "f"}, {53, "e"}, {255, "c"}}},
      {52, R"(,"reportName":"Weekly")", "NTDdataAgingER",
       {{"jobId_h", 5}, {"jobId_l", 7}, {"taskId", 55}, {"schedPolicyId", 9}, {"clientId", 0}},
       {{1, "f"}, {24, "4"}, {53, "e"}, {73, "Weekly"}}},
      {53, R"(,"compliancePolicyName":"Retain 7 years")", "NTDdataAgingER",
       {{"jobId_h", 5}, {"jobId_l", 7}, {"taskId", 55}, {"schedPolicyId", 9}},
       {{1, "f"}, {24, "4"}, {75, "Retain 7 years"}, {76, "0"}}},
      {64, "", "NTDauxCopyDataVer",
       {{"jobId_l", 7}, {"taskId", 55}, {"storagePolicyId", 12}, {"copyId", 0}, {"schedPolicyId", 0}},
       {{1, "f"}, {24, "4"}, {53, "e"}}},
      {66, R"(,"mediaList":["V1","V2"],"copiedMediaList":["C1","C2"],"xferSizeBytes":5368709120,
         "phaseFailuresCount":1,"networkFailuresCount":2)",
       "NTDdpDr",
       {{"jobId_h", 5}, {"clientId", 12}, {"appTypeId", 33}, {"backupSetId", 40}, {"subClientId", 118},
        {"taskId", 55}, {"schedPolicyId", 9}, {"protectedCount", 0}},
       {{1, "f"}, {2, "V1"}, {2, "V2"}, {24, "4"}, {38, "1"}, {39, "2"}, {50, "5.00 GB"}, {53, "e"},
        {112, "C1"}, {112, "C2"}}},
  };
  for (const Case& c : cases) {
    EvAlertEx a = ev(c.type, 3, kJob + c.json + R"(,"eventMsgList":[{"msgIndex":1,"data":"fs01"}])");
    SCOPED_TRACE("alert type " + std::to_string(c.type));
    ASSERT_TRUE(run(a));
    const auto row = detected(lastEventId());
    EXPECT_EQ(1, row.processStat);
    EXPECT_EQ(c.type, row.alertType);
    expectColumns(c.table, c.columns, row.eventId);
    EXPECT_EQ(c.params, params(row.eventId));
    EXPECT_EQ(std::vector<std::string>{"fs01"}, msgParams(row.eventId));
  }
  // Only a fallen-behind analytics alert keeps its copy.
  EXPECT_EQ(1, countRows("NTDauxCopyDataVer"));
}

TEST_P(InfoWorkflowTest, PhaseBlocksSkipUnsupportedPhasesAndRepeatSharedBlocks) {
  EvAlertEx a = ev(53, 3, kJob + R"(,"infoManagementPhaseDetails":[
    {"phaseNumber":3,"phaseName":"Scan","count1":12000,"count2":11980,"count3":20},
    {"phaseNumber":7,"phaseName":"Other","count1":1,"count2":2,"count3":3},
    {"phaseNumber":10,"phaseName":"Index","count1":5,"count2":6,"count3":7},
    {"phaseNumber":2,"phaseName":"Copy","count1":8,"count2":9,"count3":10},
    {"phaseNumber":5,"phaseName":"Verify","count1":11,"count2":12,"count3":8589934592}])");
  ASSERT_TRUE(run(a));
  const auto row = detected(lastEventId());
  EXPECT_EQ(1, row.processStat);
  const Params expected = {
      {1, "f"}, {24, "4"}, {75, ""}, {76, "5"},
      {77, "1"}, {101, "Scan"}, {78, "12000"}, {79, "11980"}, {80, "20"},
      {81, "1"}, {102, "Index"}, {82, "5"}, {83, "6"}, {84, "7"},
      {97, "1"}, {106, "Copy"}, {98, "8"}, {99, "9"}, {100, "10"},
      {97, "1"}, {106, "Verify"}, {98, "11"}, {99, "12"}, {100, "8589934592"}};
  EXPECT_EQ(expected, params(row.eventId));
  EXPECT_EQ(1, log().count("Unsupported phase [7]. Alert cannot be sent with details of this phase."));
}

TEST_P(InfoWorkflowTest, FallenBehindAnalyticsIsRecordedOncePerCopy) {
  EvAlertEx first = ev(66, 56, kJob), again = ev(66, 56, kCommon + R"(,"jobId":999,"copyId":44)");
  EvAlertEx otherCopy = ev(66, 56, kCommon + R"(,"jobId":21474836487,"copyId":45)");
  ASSERT_TRUE(run(first));
  const int id = lastEventId();
  const Params stored = params(id);
  ASSERT_TRUE(run(again));
  EXPECT_EQ(1, detectedCount());
  EXPECT_EQ(1, countRows("NTDdpDr"));
  EXPECT_EQ(stored, params(id));
  ASSERT_TRUE(run(otherCopy));
  EXPECT_EQ(2, detectedCount());
  EXPECT_EQ(45, detailInt("NTDauxCopyDataVer", "copyId", lastEventId()));
}

TEST_P(InfoWorkflowTest, WorkflowIsWrittenOnlyWithItsNameAndAReadableMessage) {
  struct Case {
    std::string name, description;  // an empty name is left out of the event
    bool ok;
    long long workFlowId;
    std::string phaseName;
    const char* line;  // logged once
  };
  const std::string longName(600, 'w'), longPhase(700, 'p');
  const std::vector<Case> cases = {
      {"", kWorkflowMsg, false, 0, "", "Workflow name is not recieved"},
      {"Nightly", "", true, 0, "", nullptr},
      {"Nightly", kWorkflowMsg, true, 1234, "Approval", nullptr},
      {longName, R"(<message type=\"40,42\"><text field=\"2\">)" + longPhase + "</text></message>", true, 0,
       longPhase.substr(0, 512), nullptr},
      {"Nightly", "Workflow failed", false, 0, "", "returned from unserialize."},
      {"Nightly", R"(<message type=\"40,42\"><object field=\"1\"><object field=\"1\"/></object></message>)",
       false, 0, "", "Workflow Id is not recieved"},
  };
  for (const Case& c : cases) {
    const long long rows = detectedCount();
    EvAlertEx a = ev(63, 3, kJob + R"(,"phaseFailuresCount":2,"prevJobId":184400,"description":")" + c.description +
                                "\"" + (c.name.empty() ? "" : R"(,"workFlowName":")" + c.name + "\""));
    const std::string what = c.name.substr(0, 10) + " " + c.description.substr(0, 40);
    EXPECT_EQ(c.ok, run(a)) << what;
    if (c.line) {
      EXPECT_EQ(1, log().count(c.line)) << what;
    }
    if (!c.ok) {
      EXPECT_EQ(rows, detectedCount()) << what;
      EXPECT_EQ(rows, countRows("NTDWorkflow")) << what;
      continue;
    }
    const int id = lastEventId();
    EXPECT_EQ(1, detected(id).processStat);
    EXPECT_EQ(c.workFlowId, detailInt("NTDWorkflow", "workFlowId", id)) << what;
    const std::string where = " FROM NTDWorkflow WHERE eventId = " + std::to_string(id);
    EXPECT_EQ(c.phaseName, queryText("SELECT phaseName" + where)) << what;
    EXPECT_EQ(c.name.substr(0, 512), queryText("SELECT workFlowName" + where)) << what;
    EXPECT_EQ((Params{{1, "f"}, {24, "4"}, {38, "2"}, {53, "e"}, {57, "184400"}}), params(id));
  }
}

EVD_INSTANTIATE_BACKENDS(InfoWorkflowTest);

}  // namespace

// Information-management, classification, analytics, report, workflow and
// virtualization alerts: what each stores beyond the shared job path.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "jobs/job_harness.h"

namespace {

using evd::test::JobTest;

EvAlertEx ev(int type, int criteria, const std::string& more) { return JobTest::jobAlert(type, criteria, more); }

// The fields every case carries besides its job and copy.
const std::string kCommon = R"(,"clientId":12,"appTypeId":33,"instanceId":1,"backupsetId":40,"subClientId":118,
  "taskId":55,"schedPolicyId":9,"storPolicyId":21,"whomId":4,"failureReason":"f","jobErrString":"e")";
const std::string kJob = kCommon + R"(,"jobId":21474836487,"copyId":44)";  // job halves 5 and 7

class InfoWorkflowTest : public JobTest {
 protected:
  InfoWorkflowTest() : JobTest({27, 52, 53, 63, 64, 66}, 2) {}
};

TEST_P(InfoWorkflowTest, PhaseBlocksSkipUnsupportedPhasesAndRepeatSharedBlocks) {
  // Phase 7 has no block; phases 2 and 5 share one.
  const int id = record(ev(53, 3, kJob + R"(,"compliancePolicyName":"R","infoManagementPhaseDetails":[
    {"phaseNumber":3,"phaseName":"Scan","count1":12000,"count2":11980,"count3":20},
    {"phaseNumber":7,"phaseName":"Other","count1":1,"count2":2,"count3":3},
    {"phaseNumber":2,"phaseName":"Copy","count1":8,"count2":9,"count3":10},
    {"phaseNumber":5,"phaseName":"Verify","count1":11,"count2":12,"count3":8589934592}])"));
  EXPECT_EQ((Params{{1, "f"}, {24, "4"}, {75, "R"}, {76, "4"},
                    {77, "1"}, {101, "Scan"}, {78, "12000"}, {79, "11980"}, {80, "20"},
                    {97, "1"}, {106, "Copy"}, {98, "8"}, {99, "9"}, {100, "10"},
                    {97, "1"}, {106, "Verify"}, {98, "11"}, {99, "12"}, {100, "8589934592"}}),
            params(id));
}

TEST_P(InfoWorkflowTest, WorkflowIsWrittenOnlyWithItsNameAndAReadableMessage) {
  const std::string message =
      R"(<message type=\"40,42\" class=\"683636389\"><object field=\"1\" key=\"1824703\"><object field=\"1\" )"
      R"(key=\"10347491\"><int field=\"0\" key=\"8711482\">1234</int></object></object>)"
      R"(<text field=\"2\" key=\"10011302\">Approval</text></message>)";
  // An empty name is left out of the event; workflow id -1: nothing written.
  struct Case { std::string name, description; long long workFlowId; std::string phaseName; };
  const std::vector<Case> cases = {
      {"", message, -1, ""},
      {"Nightly", "Workflow failed", -1, ""},
      {"Nightly", message, 1234, "Approval"},
  };
  for (const Case& c : cases) {
    EvAlertEx a = ev(63, 3, kJob + R"(,"prevJobId":184400,"description":")" + c.description + "\"" +
                                (c.name.empty() ? "" : R"(,"workFlowName":")" + c.name + "\""));
    const bool written = c.workFlowId >= 0;
    EXPECT_EQ(written, run(a)) << c.description;
    if (!written) continue;
    const int id = lastEventId();
    EXPECT_EQ(c.workFlowId, detailInt("NTDWorkflow", "workFlowId", id));
    EXPECT_EQ(c.phaseName, detailText("NTDWorkflow", "phaseName", id));
    EXPECT_EQ(c.name, detailText("NTDWorkflow", "workFlowName", id));
    EXPECT_EQ((Params{{57, "184400"}}), paramsOf(id, {57}));
  }
  EXPECT_EQ(1, detectedCount());
  EXPECT_EQ(1, countRows("NTDWorkflow"));
}

EVD_INSTANTIATE_BACKENDS(InfoWorkflowTest);

}  // namespace

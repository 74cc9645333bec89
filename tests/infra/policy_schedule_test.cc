// Storage-policy (15) and schedule (14) configuration alerts through
// StoreNotiData, on both backends.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "jobs/job_harness.h"

namespace {

using evd::test::JobTest;

const JobTest::EventDefaults kConfig = {
    {"clientId", "12"}, {"storPolicyId", "21"}, {"copyId", "44"}, {"whomId", "4"}, {"comment", R"("it's changed")"},
    {"eventMsgList", R"([{"msgIndex":1,"data":"sp01"}])"}};

class PolicyScheduleTest : public JobTest {};

// Never a repeat; the comment is a parameter, never the detail row's comment.
TEST_P(PolicyScheduleTest, EveryEventIsANewOccurrence) {
  for (int type : {14, 15}) seedRule(type, 6);
  for (const auto& [type, table] : {std::pair{15, "NTDspConfig"}, {14, "NTDschedConfig"}}) {
    SCOPED_TRACE(type);
    for (int round = 0; round < 2; ++round) {
      EvAlertEx a = jobAlert(type, 3, "", kConfig);
      ASSERT_TRUE(run(a));
      const int id = lastEventId();
      expectColumns(table, {{"storagePolicyId", 21}, {"copyId", 44}}, id);
      EXPECT_EQ("", queryText(std::string("SELECT comment FROM ") + table + " WHERE eventId = " + std::to_string(id)));
      EXPECT_EQ((Params{{24, "4"}, {255, "it's changed"}}), params(id));
      EXPECT_EQ(type == 14 ? std::vector<std::string>{"sp01"} : std::vector<std::string>{}, msgParams(id));
    }
    EXPECT_EQ(2, countRows(table));
  }
}

// The job id is the audit operation, -1 for none; the name is cut to its column.
TEST_P(PolicyScheduleTest, ScheduleAuditOperationAndName) {
  seedRule(14, 6);
  std::string longer = "x";
  for (int i = 0; i < 1500; ++i) longer += "\xC3\xA9";
  for (const auto& [job, audit] : {std::pair{"0", -1LL}, {"-5", -1LL}, {"21474836487", 7LL}}) {
    EvAlertEx a = jobAlert(14, 3, ",\"jobId\":" + std::string(job) + ",\"scheduleName\":\"" + longer + "\"", kConfig);
    ASSERT_TRUE(run(a)) << job;
    EXPECT_EQ(audit, detailInt("NTDschedConfig", "evGuiAuditOperation", lastEventId())) << job;
    EXPECT_EQ(longer.substr(0, 2047),
              queryText("SELECT scheduleName FROM NTDschedConfig WHERE eventId = " + std::to_string(lastEventId())));
  }
}

EVD_INSTANTIATE_BACKENDS(PolicyScheduleTest);

}  // namespace

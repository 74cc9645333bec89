// Storage-policy (15) and schedule (14) configuration alerts end to end
// through StoreNotiData, on both backends.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "jobs/job_harness.h"

namespace {

using evd::test::JobTest;

EvAlertEx config(int type, const std::string& more = "") {
  return JobTest::event("{\"alertType\":" + std::to_string(type) +
                        R"(,"alertCriteria":3,"clientId":12,"appTypeId":33,"instanceId":1,"backupsetId":40,)"
                        R"("subClientId":118,"storPolicyId":21,"copyId":44,"taskId":55,"whomId":4,)"
                        R"("comment":"it's changed","eventMsgList":[{"msgIndex":1,"data":"sp01"}])" +
                        more + "}");
}

class PolicyScheduleTest : public JobTest {
 protected:
  void SetUp() override {
    JobTest::SetUp();
    if (!IsSkipped() && !HasFatalFailure())
      for (int type : {14, 15}) seedRule(type, 6);
  }
};

TEST_P(PolicyScheduleTest, EveryEventIsANewOccurrenceWithItsDetailRowAndParameters) {
  struct Case {
    int type;
    const char* table;
    std::map<std::string, long long> columns;
    std::vector<std::string> msgs;
  };
  const Case cases[] = {
      {15, "NTDspConfig", {{"storagePolicyId", 21}, {"copyId", 44}}, {}},
      {14, "NTDschedConfig",
       {{"clientId", 12}, {"appTypeId", 33}, {"instanceId", 1}, {"backupSetId", 40}, {"subClientId", 118},
        {"storagePolicyId", 21}, {"copyId", 44}, {"taskId", 55}, {"evGuiAuditOperation", -1}},
       {"sp01"}},
  };
  for (const Case& c : cases) {
    for (int round = 0; round < 2; ++round) {
      EvAlertEx a = config(c.type);
      ASSERT_TRUE(run(a)) << c.type;
      const auto row = detected(lastEventId());
      EXPECT_EQ(1, row.processStat) << c.type;
      for (const auto& [column, value] : c.columns)
        EXPECT_EQ(value, detailInt(c.table, column, row.eventId)) << c.type << column;
      EXPECT_EQ("", queryText(std::string("SELECT comment FROM ") + c.table + " WHERE eventId = " +
                              std::to_string(row.eventId)));
      EXPECT_EQ((Params{{24, "4"}, {255, "it's changed"}}), params(row.eventId)) << c.type;
      EXPECT_EQ(c.msgs, msgParams(row.eventId)) << c.type;
    }
    EXPECT_EQ(2, countRows(c.table)) << c.type;
  }
  // Only the storage-policy alert traces the new occurrence.
  EXPECT_EQ(2, log().count("New alert event occurred type: [15]"));
  EXPECT_EQ(0, log().count("New alert event occurred type: [14]"));
}

TEST_P(PolicyScheduleTest, ScheduleAuditOperationAndName) {
  std::string longer = "x";
  for (int i = 0; i < 1500; ++i) longer += "\xC3\xA9";
  for (const auto& [job, audit] : std::vector<std::pair<std::string, long long>>{
           {"0", -1}, {"-5", -1}, {"21474836487", 7}, {"184501", 184501}}) {
    EvAlertEx a = config(14, ",\"jobId\":" + job + ",\"scheduleName\":\"" + longer + "\"");
    ASSERT_TRUE(run(a)) << job;
    EXPECT_EQ(audit, detailInt("NTDschedConfig", "evGuiAuditOperation", lastEventId())) << job;
    EXPECT_EQ(longer.substr(0, 2047),
              queryText("SELECT scheduleName FROM NTDschedConfig WHERE eventId = " + std::to_string(lastEventId())));
  }
}

TEST_P(PolicyScheduleTest, FailedDetailInsertLeavesTheOccurrenceUnfinished) {
  for (const auto& [type, table, wording] : {std::tuple{15, "NTDspConfig", "], Error ["},
                                            std::tuple{14, "NTDschedConfig", "], ErrorString ["}}) {
    exec(std::string("DROP TABLE ") + table);
    EvAlertEx a = config(type);
    EXPECT_FALSE(run(a)) << type;
    EXPECT_EQ(0, detected(lastEventId()).processStat) << type;
    EXPECT_TRUE(params(lastEventId()).empty()) << type;
    EXPECT_EQ(1, log().count(std::string("Could not insert row into table [") + table + wording)) << type;
  }
}

EVD_INSTANTIATE_BACKENDS(PolicyScheduleTest);

}  // namespace

// Auxiliary-copy (2, 54), data-verification (6, 29, 55) and backup-copy (61)
// alerts end to end through StoreNotiData, on both backends.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "jobs/job_harness.h"

namespace {

using evd::test::JobTest;

// Storage policy 21, copy 44 and job 184501 unless MORE names others.
EvAlertEx copyJob(int type, int criteria, const std::string& more = "") {
  return JobTest::jobAlert(type, criteria, more, {{"storPolicyId", "21"}, {"copyId", "44"}, {"jobId", "184501"}});
}

class CopyVerifyTest : public JobTest {
 protected:
  void SetUp() override {
    JobTest::SetUp();
    if (!IsSkipped() && !HasFatalFailure())
      for (int type : {2, 54, 6, 29, 55, 61}) seedRule(type, 4);
  }
  // The nine columns a repeat rewrites (times in seconds, 0 for the zero date).
  std::vector<long long> detailColumns(int eventId) {
    std::vector<long long> out;
    for (const char* c : {"jobId_h", "jobId_l", "storagePolicyId", "copyId", "taskId", "schedPolicyId"})
      out.push_back(detailInt("NTDauxCopyDataVer", c, eventId));
    NTDauxCopyDataVer t(nullptr);
    t.setWhere("eventId = %d", eventId);
    if (DBrowRead(t.getOneRow()))
      for (DB_DATETIME* dt : {&t.getDataPtr()->startTime, &t.getDataPtr()->endTime, &t.getDataPtr()->schedTime})
        out.push_back(dt->isZero() ? 0 : EvNDetector::DbDatetimeToUlongTime(nullptr, *dt, false));
    return out;
  }
};

TEST_P(CopyVerifyTest, NewOccurrencesStoreDetailAndTheirParameters) {
  const std::string more =
      R"(,"jobId":21474836487,"taskId":55,"schedPolicyId":9,"failureReason":"Media not found","whomId":4,)"
      R"("jobErrString":"err","xferSizeBytes":5368709120,"mediaList":["V1"],"copiedMediaList":["V2","V3"],)"
      R"("bytesToBeCopied":2048,"numOfMediaToBeCopied":3,"numOfJobsToBeCopied":57,"oldestJobEndTime":1733050000,)"
      R"("description":"<message type=\"30,444\"><int field=\"1\">14</int><int field=\"2\">3</int>)"
      R"(<text field=\"3\">Primary copy to tape</text></message>")";
  const std::pair<std::pair<int, int>, std::set<int>> cases[] = {
      {{2, 3}, {1, 2, 24, 38, 39, 50, 53, 112}},
      {{54, 7}, {1, 2, 24, 38, 39, 50, 53, 112}},
      {{2, 56}, {1, 2, 24, 26, 27, 38, 39, 50, 53, 69, 70, 71, 72, 112, 131, 132, 145}},
      {{6, 3}, {1, 24, 38, 39, 53}},
      {{55, 64}, {1, 24, 38, 39, 53, 69, 71, 72}},
      {{61, 3}, {1, 24, 53}},
  };
  for (const auto& [c, types] : cases) {
    const std::string what = std::to_string(c.first) + "/" + std::to_string(c.second);
    EvAlertEx a = copyJob(c.first, c.second, more);
    ASSERT_TRUE(run(a)) << what;
    const auto row = detected(lastEventId());
    EXPECT_EQ(1, row.processStat) << what;
    EXPECT_EQ((std::vector<long long>{5, 7, 21, 44, 55, 9, 0, 0, 0}), detailColumns(row.eventId)) << what;
    EXPECT_EQ(types, storedTypes(row.eventId)) << what;
  }
  const int behind = static_cast<int>(queryInt("SELECT eventId FROM NTDetectedAlerts WHERE criteria = 56"));
  EXPECT_EQ("Copy|44", detected(behind).entityId);
  const Params stored = params(behind);
  for (const auto& [type, value] : std::vector<std::pair<int, std::string>>{
           {1, "Media not found"}, {50, "5.00 GB"}, {69, "2.00 KB"}, {70, "3"}, {71, "57"}, {72, "1733050000"},
           {131, "14"}, {132, "3"}, {145, "Primary copy to tape"}})
    EXPECT_EQ(value, param(behind, type)) << type;
  EXPECT_EQ(2u, stored.count(112));
}

TEST_P(CopyVerifyTest, RepeatedFallenBehindCopyRewritesItsDetailRow) {
  EvAlertEx first = copyJob(2, 56, R"(,"taskId":1,"failureReason":"first")");
  ASSERT_TRUE(run(first));
  const int id = lastEventId();

  // With its detail row: the nine columns rewritten, the state left as it
  // was (2, which SetStatus_Detected would turn into 1).
  setState(id, 2);
  EvAlertEx second = copyJob(2, 56, R"(,"jobId":21474836488,"startTime":1733410800,"endTime":1733418000,)"
                                    R"("scheduledTime":1733407200,"taskId":66,"schedPolicyId":10,)"
                                    R"("failureReason":"second","description":"not a message")");
  ASSERT_TRUE(run(second));
  EXPECT_EQ(id, lastEventId());
  EXPECT_EQ(1, detectedCount());
  EXPECT_EQ(1, countRows("NTDauxCopyDataVer"));
  EXPECT_EQ((std::vector<long long>{5, 8, 21, 44, 66, 10, 1733410800, 1733418000, 1733407200}), detailColumns(id));
  EXPECT_EQ(2, detected(id).processStat);
  // Type 2 rebuilds the parameters; an unreadable description stores empty fields.
  EXPECT_EQ("second", param(id, 1));
  EXPECT_EQ("0", param(id, 131));
  EXPECT_EQ("Copy|44", detected(id).entityId);

  // Detail row missing: inserted again, then detected.
  exec("DELETE FROM NTDauxCopyDataVer");
  setState(id, 2);
  ASSERT_TRUE(run(second));
  EXPECT_EQ(1, log().count("No entry in table Auxcopy Config for EventId [" + std::to_string(id) + "].So inserting. "));
  EXPECT_EQ(1, detailRows("NTDauxCopyDataVer", id));
  EXPECT_EQ(1, detected(id).processStat);

  // Cleared with the detail row missing: re-made, and the occurrence stays cleared.
  exec("DELETE FROM NTDauxCopyDataVer");
  EvAlertEx cleared = copyJob(2, 56, R"(,"conditionCleared":true)");
  ASSERT_TRUE(run(cleared));
  EXPECT_EQ(4, detected(id).processStat);
  EXPECT_EQ(1, detailRows("NTDauxCopyDataVer", id));

  // Type 54 keeps the parameters of earlier events beside the new ones.
  EvAlertEx other = copyJob(54, 56, R"(,"failureReason":"x")");
  ASSERT_TRUE(run(other));
  const int id54 = lastEventId();
  ASSERT_TRUE(run(other));
  EXPECT_EQ(id54, lastEventId());
  EXPECT_EQ(2u, params(id54).count(1));
  EXPECT_EQ(2, detectedCount());
}

TEST_P(CopyVerifyTest, EventsThatRecordNothing) {
  EvAlertEx cleared = copyJob(2, 56, R"(,"conditionCleared":true)");
  ASSERT_TRUE(run(cleared));
  EXPECT_EQ(0, detectedCount() + countRows("NTDauxCopyDataVer") + countRows("NTDparams"));

  // A second verification behind for the same policy and copy adds nothing.
  EvAlertEx behind = copyJob(6, 64), again = copyJob(6, 64, R"(,"jobId":184502)");
  ASSERT_TRUE(run(behind));
  const int id = lastEventId();
  const Params before = params(id);
  ASSERT_TRUE(run(again));
  EXPECT_EQ(1, detectedCount());
  EXPECT_EQ(1, countRows("NTDauxCopyDataVer"));
  EXPECT_EQ(before, params(id));
  // Another copy or another verification type is raised; other criteria never match.
  EvAlertEx otherCopy = copyJob(6, 64, R"(,"copyId":45)"), otherType = copyJob(29, 64), failed = copyJob(2, 3);
  for (EvAlertEx* a : {&otherCopy, &otherType, &failed, &failed}) ASSERT_TRUE(run(*a));
  EXPECT_EQ(5, detectedCount());

}

EVD_INSTANTIATE_BACKENDS(CopyVerifyTest);

}  // namespace

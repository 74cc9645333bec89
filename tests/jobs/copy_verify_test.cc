// Auxiliary-copy (2, 54), data-verification (6, 29, 55) and backup-copy (61)
// alerts end to end through StoreNotiData, on both backends, checked by
// reading the stored rows back.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "jobs/job_harness.h"

namespace {

using evd::test::JobTest;

// An event of TYPE and CRITERIA with the keys of MORE; storage policy 21,
// copy 44 and job 184501 unless MORE names others.
EvAlertEx copyJob(int type, int criteria, const std::string& more = "") {
  std::string json = R"({"alertType":)" + std::to_string(type) + R"(,"alertCriteria":)" + std::to_string(criteria) + more;
  for (const auto& [key, value] : {std::pair{"storPolicyId", "21"}, {"copyId", "44"}, {"jobId", "184501"}})
    if (more.find(std::string("\"") + key + "\"") == std::string::npos)
      json += std::string(",\"") + key + "\":" + value;
  return JobTest::event(json + "}");
}

std::set<int> typesOf(const JobTest::Params& p) {
  std::set<int> t;
  for (const auto& kv : p) t.insert(kv.first);
  return t;
}

const char* kFallenBehindInfo =
    R"(,"description":"<message type=\"30,444\"><int field=\"1\">14</int><int field=\"2\">3</int>)"
    R"(<text field=\"3\">Primary copy to tape</text></message>")";

class CopyVerifyTest : public JobTest {
 protected:
  void SetUp() override {
    JobTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    for (int type : {2, 54, 6, 29, 55, 61}) seedRule(type, 4);
  }
  // The nine columns a repeat rewrites, as stored (times in seconds, 0 for
  // the all-zero date).
  std::vector<long long> detailColumns(int eventId) {
    std::vector<long long> out;
    for (const char* c : {"jobId_h", "jobId_l", "storagePolicyId", "copyId", "taskId", "schedPolicyId"})
      out.push_back(detailInt("NTDauxCopyDataVer", c, eventId));
    NTDauxCopyDataVer t(nullptr);
    t.setWhere("eventId = %d", eventId);
    if (!DBrowRead(t.getOneRow())) return out;
    for (DB_DATETIME* dt : {&t.getDataPtr()->startTime, &t.getDataPtr()->endTime, &t.getDataPtr()->schedTime}) {
      out.push_back(dt->isZero() ? 0 : EvNDetector::DbDatetimeToUlongTime(nullptr, *dt, false));
    }
    return out;
  }
  void setState(int eventId, int state) {
    exec("UPDATE NTDetectedAlerts SET processStat = " + std::to_string(state) +
         " WHERE eventId = " + std::to_string(eventId));
  }
};

TEST_P(CopyVerifyTest, NewOccurrencesStoreDetailAndTheirParameters) {
  const std::string more =
      R"(,"jobId":21474836487,"taskId":55,"schedPolicyId":9,"failureReason":"Media not found","whomId":4,)"
      R"("jobErrString":"err","phaseFailuresCount":1,"networkFailuresCount":2,"xferSizeBytes":5368709120,)"
      R"("mediaList":["V1"],"copiedMediaList":["V2","V3"],"bytesToBeCopied":2048,"numOfMediaToBeCopied":3,)"
      R"("numOfJobsToBeCopied":57,"oldestJobEndTime":1733050000)";
  struct Case {
    int type, criteria;
    std::string extra;
    std::set<int> types;
  };
  const Case cases[] = {
      {2, 3, "", {1, 2, 24, 38, 39, 50, 53, 112}},
      {54, 7, "", {1, 2, 24, 38, 39, 50, 53, 112}},
      {2, 56, kFallenBehindInfo, {1, 2, 24, 26, 27, 38, 39, 50, 53, 69, 70, 71, 72, 112, 131, 132, 145}},
      {6, 3, "", {1, 24, 38, 39, 53}},
      {55, 64, "", {1, 24, 38, 39, 53, 69, 71, 72}},
      {61, 3, "", {1, 24, 53}},
  };
  for (const Case& c : cases) {
    const std::string what = std::to_string(c.type) + "/" + std::to_string(c.criteria);
    EvAlertEx a = copyJob(c.type, c.criteria, more + c.extra);
    ASSERT_TRUE(run(a)) << what;
    const auto row = detected(lastEventId());
    EXPECT_EQ(1, row.processStat) << what;
    EXPECT_EQ(c.type, row.alertType) << what;
    EXPECT_EQ((std::vector<long long>{5, 7, 21, 44, 55, 9, 0, 0, 0}), detailColumns(row.eventId)) << what;
    EXPECT_EQ(c.types, typesOf(params(row.eventId))) << what;
    EXPECT_EQ("Media not found", param(row.eventId, 1)) << what;
  }
  // The fallen-behind figures of the copy.
  const int fallenBehind = queryInt("SELECT eventId FROM NTDetectedAlerts WHERE criteria = 56");
  EXPECT_EQ("Copy|44", detected(fallenBehind).entityId);
  for (const auto& [type, value] : std::vector<std::pair<int, std::string>>{
           {50, "5.00 GB"}, {69, "2.00 KB"}, {70, "3"}, {71, "57"}, {72, "1733050000"}, {131, "14"}, {132, "3"}, {145, "Primary copy to tape"}})
    EXPECT_EQ(value, param(fallenBehind, type)) << type;
  const auto stored = params(fallenBehind);
  const auto copied = stored.equal_range(112);
  EXPECT_EQ((JobTest::Params{{112, "V2"}, {112, "V3"}}), JobTest::Params(copied.first, copied.second));
}

TEST_P(CopyVerifyTest, RepeatedFallenBehindCopyRewritesItsDetailRow) {
  EvAlertEx first = copyJob(2, 56, R"(,"taskId":1,"schedPolicyId":2,"failureReason":"first")");
  ASSERT_TRUE(run(first));
  const int id = lastEventId();
  ASSERT_EQ(1, detected(id).processStat);

  // A repeat with a detail row: all nine columns rewritten, the state left
  // as it was (2 here, which SetStatus_Detected would have turned into 1).
  setState(id, 2);
  EvAlertEx second = copyJob(2, 56, R"(,"jobId":21474836488,"startTime":1733410800,"endTime":1733418000,)"
                                    R"("scheduledTime":1733407200,"taskId":66,"schedPolicyId":10,)"
                                    R"("failureReason":"second",)"
                                    R"("description":"not a message")");
  ASSERT_TRUE(run(second));
  EXPECT_EQ(id, lastEventId());
  EXPECT_EQ(1, detectedCount());
  EXPECT_EQ(1, countRows("NTDauxCopyDataVer"));
  EXPECT_EQ((std::vector<long long>{5, 8, 21, 44, 66, 10, 1733410800, 1733418000, 1733407200}), detailColumns(id));
  EXPECT_EQ(2, detected(id).processStat);
  // Alert type 2 rebuilds the parameters of a repeat; an unreadable
  // description still stores the three fields, empty.
  EXPECT_EQ("second", param(id, 1));
  EXPECT_EQ("0", param(id, 131));
  EXPECT_EQ("", param(id, 145));
  EXPECT_EQ("Copy|44", detected(id).entityId);

  // A repeat whose detail row went missing: inserted again, then detected.
  exec("DELETE FROM NTDauxCopyDataVer");
  setState(id, 2);
  ASSERT_TRUE(run(second));
  EXPECT_EQ(1, log().count("No entry in table Auxcopy Config for EventId [" + std::to_string(id) + "].So inserting. "));
  EXPECT_EQ(1, detailRows("NTDauxCopyDataVer", id));
  EXPECT_EQ(1, detected(id).processStat);

  // Cleared, even with the detail row missing: the occurrence stays cleared.
  exec("DELETE FROM NTDauxCopyDataVer");
  EvAlertEx cleared = copyJob(2, 56, R"(,"conditionCleared":true)");
  ASSERT_TRUE(run(cleared));
  EXPECT_EQ(4, detected(id).processStat);
  EXPECT_EQ(1, detailRows("NTDauxCopyDataVer", id));
  EXPECT_EQ(1, detectedCount());

  // Another copy of the policy is another occurrence.
  EvAlertEx otherCopy = copyJob(2, 56, R"(,"copyId":45)");
  ASSERT_TRUE(run(otherCopy));
  EXPECT_NE(id, lastEventId());
  EXPECT_EQ(2, detectedCount());
}

TEST_P(CopyVerifyTest, RepeatOfType54AddsParametersBesideTheEarlierOnes) {
  EvAlertEx first = copyJob(54, 56, R"(,"failureReason":"first")"), second = copyJob(54, 56, R"(,"failureReason":"again")");
  ASSERT_TRUE(run(first));
  const int id = lastEventId();
  ASSERT_TRUE(run(second));
  EXPECT_EQ(id, lastEventId());
  const auto p = params(id);
  EXPECT_EQ(2u, p.count(1));
  EXPECT_EQ(1u, p.count(26));  // the suppression object is updated in place
  EXPECT_EQ(1, countRows("NTDauxCopyDataVer"));
}

TEST_P(CopyVerifyTest, EventsThatRecordNothing) {
  // Cleared fallen-behind copy with nothing pending.
  EvAlertEx cleared = copyJob(2, 56, R"(,"conditionCleared":true)");
  ASSERT_TRUE(run(cleared));
  EXPECT_EQ(0, detectedCount());
  EXPECT_EQ(0, countRows("NTDauxCopyDataVer"));
  EXPECT_EQ(0, countRows("NTDparams"));

  // A second verification that is behind for the same policy and copy.
  EvAlertEx behind = copyJob(6, 64), again = copyJob(6, 64, R"(,"jobId":184502)");
  ASSERT_TRUE(run(behind));
  const int id = lastEventId();
  const auto paramsBefore = params(id);
  ASSERT_TRUE(run(again));
  EXPECT_EQ(1, detectedCount());
  EXPECT_EQ(1, countRows("NTDauxCopyDataVer"));
  EXPECT_EQ(paramsBefore, params(id));
  // Another copy, or another verification type, is raised.
  EvAlertEx otherCopy = copyJob(6, 64, R"(,"copyId":45)"), otherType = copyJob(29, 64);
  ASSERT_TRUE(run(otherCopy));
  ASSERT_TRUE(run(otherType));
  EXPECT_EQ(3, detectedCount());

  // Criteria other than 56 never match: each event is an occurrence.
  EvAlertEx failed = copyJob(2, 3);
  ASSERT_TRUE(run(failed));
  ASSERT_TRUE(run(failed));
  EXPECT_EQ(2, countRows("NTDetectedAlerts WHERE alertType = 2"));
}

TEST_P(CopyVerifyTest, ClearedDelayedJobWithdrawsTheJobsAlerts) {
  for (int type : {2, 6, 61}) {
    EvAlertEx delayed = copyJob(type, 5, R"(,"jobId":)" + std::to_string(900 + type));
    ASSERT_TRUE(run(delayed)) << type;
    const int id = lastEventId();
    const long long before = detectedCount();
    EvAlertEx cleared = copyJob(type, 5, R"(,"conditionCleared":true,"jobId":)" + std::to_string(900 + type));
    ASSERT_TRUE(run(cleared)) << type;
    EXPECT_EQ(4, detected(id).processStat) << type;
    EXPECT_EQ(before, detectedCount()) << type;
  }
}

EVD_INSTANTIATE_BACKENDS(CopyVerifyTest);

}  // namespace

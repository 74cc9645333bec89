// Copy and verification alerts (2, 54, 6, 29, 55, 61): what each stores beyond the shared job path.
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

long secs(DB_DATETIME& dt) { return dt.isZero() ? 0 : EvNDetector::DbDatetimeToUlongTime(nullptr, dt, false); }
class CopyVerifyTest : public JobTest {
 protected:
  void SetUp() override {
    JobTest::SetUp();
    if (!IsSkipped() && !HasFatalFailure())
      for (int type : {2, 54, 6, 29, 55, 61}) seedRule(type, 4);
  }
  // The nine columns a repeat rewrites (times in seconds, 0 for the zero date).
  static std::vector<long long> detailColumns(int eventId) {
    NTDauxCopyDataVer t(nullptr);
    t.setWhere("eventId = %d", eventId);
    if (!DBrowRead(t.getOneRow())) return {};
    NTDauxCopyDataVer_t& r = *t.getDataPtr();
    return {r.jobId_h, r.jobId_l,         r.storagePolicyId, r.copyId,        r.taskId,
            r.schedPolicyId, secs(r.startTime), secs(r.endTime), secs(r.schedTime)};
  }
};

TEST_P(CopyVerifyTest, NewOccurrencesStoreTheCopyAndTheirOwnParameters) {
  const std::string more = R"(,"jobId":21474836487,"taskId":55,"schedPolicyId":9,"xferSizeBytes":5368709120,)"
      R"("mediaList":["V1"],"copiedMediaList":["V2","V3"],"bytesToBeCopied":2048,"numOfMediaToBeCopied":3,)"
      R"("numOfJobsToBeCopied":57,"oldestJobEndTime":1733050000,"description":"<message type=\"30,444\">)"
      R"(<int field=\"1\">14</int><int field=\"2\">3</int><text field=\"3\">Primary copy to tape</text></message>")";
  // Verifications behind of two types share the policy and copy, and both are raised.
  const std::pair<std::pair<int, int>, std::set<int>> cases[] = {
      {{54, 3}, {1, 2, 24, 38, 39, 50, 53, 112}}, {{6, 3}, {1, 24, 38, 39, 53}}, {{61, 3}, {1, 24, 53}},
      {{29, 64}, {1, 24, 38, 39, 53, 69, 71, 72}}, {{55, 64}, {1, 24, 38, 39, 53, 69, 71, 72}},
      {{2, 56}, {1, 2, 24, 26, 27, 38, 39, 50, 53, 69, 70, 71, 72, 112, 131, 132, 145}}};
  int id = 0;
  for (const auto& [c, types] : cases) {
    id = record(copyJob(c.first, c.second, more));
    EXPECT_EQ((std::vector<long long>{5, 7, 21, 44, 55, 9, 0, 0, 0}), detailColumns(id)) << c.first;
    EXPECT_EQ(types, storedTypes(id)) << c.first << "/" << c.second;
  }
  // The last, fallen behind: sizes with their units, the counts and the description's fields.
  EXPECT_EQ("Copy|44", detected(id).entityId);
  EXPECT_EQ((Params{{50, "5.00 GB"}, {69, "2.00 KB"}, {70, "3"}, {71, "57"}, {72, "1733050000"}, {112, "V2"},
                    {112, "V3"}, {131, "14"}, {132, "3"}, {145, "Primary copy to tape"}}),
            paramsOf(id, {50, 69, 70, 71, 72, 112, 131, 132, 145}));
  // A second verification behind for the same policy and copy adds nothing; one for another copy is raised.
  record(copyJob(55, 64, R"(,"jobId":184502)"));
  record(copyJob(55, 64, R"(,"copyId":45)"));
  EXPECT_EQ(7, detectedCount());
}

TEST_P(CopyVerifyTest, RepeatedFallenBehindCopyRewritesItsDetailRow) {
  const std::string cleared = R"(,"conditionCleared":true)";
  record(copyJob(2, 56, cleared));  // nothing pending: nothing written
  EXPECT_EQ(0, detectedCount() + countRows("NTDauxCopyDataVer") + countRows("NTDparams"));
  // With its detail row: the nine columns rewritten, the state left at 2 (not detected again).
  const int id = record(copyJob(2, 56, R"(,"taskId":1)"));
  setState(id, 2);
  const std::string second = R"(,"jobId":21474836488,"startTime":1733410800,"endTime":1733418000,)"
                             R"("scheduledTime":1733407200,"taskId":66,"schedPolicyId":10,"description":"no message")";
  EXPECT_EQ(id, record(copyJob(2, 56, second)));
  EXPECT_EQ((std::vector<long long>{5, 8, 21, 44, 66, 10, 1733410800, 1733418000, 1733407200}), detailColumns(id));
  EXPECT_EQ(2, detected(id).processStat);
  EXPECT_EQ("0", param(id, 131));  // an unreadable description stores its fields empty
  // Detail row missing: made again; the occurrence is detected, or stays cleared.
  for (const std::string& more : {second, cleared}) {
    exec("DELETE FROM NTDauxCopyDataVer");
    setState(id, 2);
    EXPECT_EQ(id, record(copyJob(2, 56, more)));
    EXPECT_EQ(1, detailRows("NTDauxCopyDataVer", id));
    EXPECT_EQ(more == cleared ? 4 : 1, detected(id).processStat);
  }
}

EVD_INSTANTIATE_BACKENDS(CopyVerifyTest);

}  // namespace

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
  CopyVerifyTest() : JobTest({2, 54, 6, 29, 55, 61}, 4) {}
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

TEST_P(CopyVerifyTest, NewOccurrenceStoresTheCopyOncePerPolicyAndCopy) {
  const int id = record(copyJob(2, 56, R"(,"jobId":21474836487,"taskId":55,"schedPolicyId":9)"));
  EXPECT_EQ((std::vector<long long>{5, 7, 21, 44, 55, 9, 0, 0, 0}), detailColumns(id));
  EXPECT_EQ("Copy|44", detected(id).entityId);
  // A second verification behind for the same policy and copy adds nothing; one for another copy is raised.
  record(copyJob(55, 64));
  record(copyJob(55, 64, R"(,"jobId":184502)"));
  record(copyJob(55, 64, R"(,"copyId":45)"));
  EXPECT_EQ(3, detectedCount());
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

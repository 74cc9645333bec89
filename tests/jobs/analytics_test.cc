// Data-analytics job alerts (type 66): a fallen-behind copy is recorded once
// per storage policy copy.
#include <gtest/gtest.h>

#include <string>

#include "jobs/job_harness.h"

namespace {

using evd::test::JobTest;

class AnalyticsTest : public JobTest {
 protected:
  AnalyticsTest() : JobTest({66}, 4) {}
  // Storage policy 21, copy 44 and job 184501 unless MORE names others.
  static EvAlertEx analytics(int criteria, const std::string& more = "") {
    return jobAlert(66, criteria, more, {{"storPolicyId", "21"}, {"copyId", "44"}, {"jobId", "184501"}});
  }
};

// The copy row is what the once-per-copy check finds: without it every
// fallen-behind event of the same copy would be a new occurrence.
TEST_P(AnalyticsTest, AFallenBehindCopyIsRecordedOncePerPolicyAndCopy) {
  const int id = record(analytics(56, R"(,"jobId":21474836487)"));
  expectColumns("NTDauxCopyDataVer", {{"jobId_h", 5}, {"jobId_l", 7}, {"storagePolicyId", 21}, {"copyId", 44}}, id);
  EXPECT_EQ(1, detailRows("NTDdpDr", id));

  EXPECT_TRUE(run(analytics(56, R"(,"jobId":184502)")));  // the same copy, another job: dropped
  EXPECT_EQ(1, detectedCount());
  EXPECT_EQ(1, log().count("already present for storage policy [21] copy [44]")) << log().text();

  const int other = record(analytics(56, R"(,"copyId":45)"));
  EXPECT_NE(id, other);
  EXPECT_EQ(45, detailInt("NTDauxCopyDataVer", "copyId", other));
  // Other criteria keep no copy row, so they never hold back a fallen-behind alert.
  const int failed = record(analytics(3));
  EXPECT_EQ(1, detailRows("NTDdpDr", failed));
  EXPECT_EQ(0, detailRows("NTDauxCopyDataVer", failed));
  EXPECT_EQ(3, detectedCount());
}

EVD_INSTANTIATE_BACKENDS(AnalyticsTest);

}  // namespace

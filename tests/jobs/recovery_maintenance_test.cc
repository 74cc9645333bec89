// Restore (alert type 4), data-aging (1) and disaster-recovery-backup (5)
// job alerts: what each stores beyond the shared job path.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "jobs/job_harness.h"

namespace {

using evd::test::JobTest;

// An event of ALERTTYPE and CRITERIA with the keys of MORE (job 184490 unless MORE names another).
EvAlertEx jobEvent(int alertType, int criteria, const std::string& more = "") {
  return JobTest::jobAlert(alertType, criteria, more, {{"jobId", "184490"}});
}

class RecoveryMaintenanceTest : public JobTest {
 protected:
  RecoveryMaintenanceTest() : JobTest({1, 4, 5}, 2) {}
};

TEST_P(RecoveryMaintenanceTest, FailedRestoreStoresTheRestoreSideOfTheRow) {
  // The first two-byte character of the container straddles its 512-byte column.
  const std::string container = std::string(511, 'c') + "\xc3\xa9\xc3\xa9";
  const int id = record(jobEvent(4, 3, R"(,"libraryId":3,"mediaRequired":true,"failedCount":9,"recoveredCount":2391,
    "skippedCount":4,"protectedCount":77,"backupLevel":2,"vSS":true,"rdJob":true,"exportLocName":"Vault A",
    "restoreUserName":"admin","numberOfItems":2400,"restoreSize":5368709120,"mediaLable":")" + std::string(600, 'm') +
    R"(","containerName":")" + container + R"(","description":"<message type=\"30,1879\" class=\"513549765\">)"
    R"(<int field=\"6\">8589934592</int><int field=\"7\">65536</int><int field=\"8\">13</int></message>")"));
  // The restored items count as protected; backup level, VSS and RD flags keep their initial 0.
  expectColumns("NTDdpDr", {{"protectedCount", 2391}, {"backupLevel", 0}, {"isVSS", 0}}, id);
  // An empty attachment name is stored; message fields 1 and 2 are stored unset.
  EXPECT_EQ((Params{{22, ""}, {62, "admin"}, {63, "2400"}, {64, "5368709120"}, {258, "0"}, {259, "0"},
                    {264, "65536"}, {265, "8589934592"}, {266, "13"}}),
            paramsOf(id, {22, 62, 63, 64, 258, 259, 264, 265, 266}));
}

TEST_P(RecoveryMaintenanceTest, FailedVirtualServerRestoresAreHeldAndOtherDescriptionsStoreNothing) {
  for (const auto& [criteria, state] : {std::pair{3, 128}, {1, 128}, {57, 128}, {9, 1}}) {
    const int id = record(jobEvent(4, criteria, R"(,"appTypeId":106,"description":"")"));
    EXPECT_EQ(state, detected(id).processStat) << criteria;
    EXPECT_EQ(Params{}, paramsOf(id, {258, 259, 264, 265, 266})) << criteria;
  }
}

EVD_INSTANTIATE_BACKENDS(RecoveryMaintenanceTest);

}  // namespace

// Software uninstall (67), client upgrade (68) and install (69) jobs through
// StoreNotiData, on both backends, read back from the stored rows.
#include <gtest/gtest.h>

#include <string>

#include "jobs/job_harness.h"

namespace {

using evd::test::JobTest;

class SoftwareJobsTest : public JobTest {};

TEST_P(SoftwareJobsTest, EveryJobIsAnOccurrenceNamingItsClients) {
  // The update-status rows are keyed by the low half of the job id alone.
  exec("INSERT INTO JMMaltrexUpdateStatus (jobId, clientId, clientName, status, category) VALUES "
       "(184669, 12, 'fs01', 2, 0), (184669, 14, 'fs02', 3, 0), (184670, 99, 'other', 2, 0)");
  const std::string job = R"(,"jobId":4295151965,"startTime":1733414400,"endTime":1733414700,"elapsedTime":300,)"
                          R"("taskId":84,"schedPolicyId":6,"whomId":-1,"failureReason":"not enough disk space")";
  const struct {
    int type;
    std::string more;
    Params expected;
  } cases[] = {
      {67, job, {{1, "not enough disk space"}, {24, "18446744073709551615"}, {35, "12"}, {35, "14"}}},
      {68, job, {{1, "not enough disk space"}, {24, "18446744073709551615"}, {35, "12"}, {35, "14"}}},
      {69, R"(,"jobId":7,"whomId":3)", {{1, ""}, {24, "3"}}},  // no client rows: an empty list
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.type);
    seedRule(c.type, 4);
    // Equal events are two occurrences: these jobs are never matched.
    for (int round = 0; round < 2; ++round) {
      const int id = record(jobAlert(c.type, 3, c.more));
      EXPECT_EQ(1, detected(id).processStat);
      EXPECT_EQ(c.expected, params(id));
      if (c.type == 69) continue;
      expectColumns("NTDftpDistToClnt",
                    {{"jobId_h", 1}, {"jobId_l", 184669}, {"elapsedTime", 300}, {"taskId", 84}, {"schedPolicyId", 6}},
                    id);
      EXPECT_EQ("2024-12-05 16:05:00", detailText("NTDftpDistToClnt", "endTime", id).substr(0, 19));
    }
    EXPECT_EQ(2, countRows("NTDetectedAlerts WHERE alertType = " + std::to_string(c.type)));
    EXPECT_EQ(2, countRows("NTDftpDistToClnt d JOIN NTDetectedAlerts a ON a.eventId = d.eventId WHERE a.alertType = " +
                           std::to_string(c.type)));
  }
}

EVD_INSTANTIATE_BACKENDS(SoftwareJobsTest);

}  // namespace

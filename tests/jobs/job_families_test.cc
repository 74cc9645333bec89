// What every job handler shares, across the alert families that record a
// job: the withdrawal of a cleared delayed job, and what stays when a write
// fails half-way.
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "jobs/job_harness.h"

namespace {

using evd::test::JobTest;

const JobTest::EventDefaults kJobKeys = {{"clientId", "12"},  {"subClientId", "118"}, {"appTypeId", "33"},
                                         {"storPolicyId", "21"}, {"copyId", "44"},     {"failureReason", "\"f\""}};

EvAlertEx jobEvent(int type, int criteria, const std::string& more) {
  return JobTest::jobAlert(type, criteria, more, kJobKeys);
}

const char* const kClearFailed = "Failed to clear condition for Alert Data Protection, JobId [";

struct Family {
  int type;
  const char* table;
  const char* clearFailed;  // the line of a failing withdrawal; nullptr: no withdrawal
};
const Family kFamilies[] = {
    {3, "NTDdpDr", kClearFailed},
    {4, "NTDdpDr", kClearFailed},
    {28, "NTDdpDr", "Failed to clear condition for Alert FLR Jobs, JobId ["},
    {66, "NTDdpDr", kClearFailed},
    {1, "NTDdataAgingER", nullptr},
    {5, "NTDdataAgingER", kClearFailed},
    {53, "NTDdataAgingER", "Failed to clear condition for Alert Data Protection, JobId = ["},
    {2, "NTDauxCopyDataVer", kClearFailed},
    {6, "NTDauxCopyDataVer", kClearFailed},
    {61, "NTDauxCopyDataVer", kClearFailed},
};

class JobFamiliesTest : public JobTest {
 protected:
  void SetUp() override {
    JobTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    for (const Family& f : kFamilies) seedRule(f.type, 2);
  }
};

TEST_P(JobFamiliesTest, ClearedDelayedJobWithdrawsThatJobFromItsOwnDetailTableAndWritesNothingElse) {
  for (const Family& f : kFamilies) {
    SCOPED_TRACE("alert type " + std::to_string(f.type));
    const std::string job = ",\"jobId\":" + std::to_string(1000 + f.type);
    // The same job delayed in a family of another detail table, another job of this family.
    const int decoyType = std::string(f.table) == "NTDdpDr" ? 5 : 3;
    EvAlertEx delayed = jobEvent(f.type, 5, job), otherJob = jobEvent(f.type, 5, R"(,"jobId":99)"),
              otherTable = jobEvent(decoyType, 5, job);
    ASSERT_TRUE(run(delayed));
    const int pending = lastEventId();
    ASSERT_TRUE(run(otherJob));
    const int other = lastEventId();
    ASSERT_TRUE(run(otherTable));
    const int elsewhere = lastEventId();
    const Params before = params(pending);
    const long long rows = detectedCount(), details = countRows(f.table);

    const std::string reason = "not stored " + std::to_string(f.type);
    EvAlertEx cleared = jobEvent(f.type, 5, job + R"(,"conditionCleared":true,"failureReason":")" + reason + "\"");
    EvAlertEx nothingPending = jobEvent(f.type, 5, R"(,"jobId":4242,"conditionCleared":true)");
    ASSERT_TRUE(run(cleared));
    ASSERT_TRUE(run(nothingPending));
    EXPECT_EQ(1, detected(other).processStat);
    EXPECT_EQ(1, detected(elsewhere).processStat);
    if (!f.clearFailed) {  // no withdrawal: a cleared delayed event is one more occurrence
      EXPECT_EQ(1, detected(pending).processStat);
      EXPECT_EQ(rows + 2, detectedCount());
      continue;
    }
    EXPECT_EQ(4, detected(pending).processStat);
    EXPECT_EQ(rows, detectedCount());
    EXPECT_EQ(details, countRows(f.table));
    EXPECT_EQ(before, params(pending));
    EXPECT_EQ(0, countRows("NTDparams WHERE value = '" + reason + "'"));
  }
}

TEST_P(JobFamiliesTest, FailuresInTheMiddleStopTheEventAndKeepWhatWasWritten) {
  // Parameters unwritable: the row stays unfinished beside its detail row.
  exec("ALTER TABLE NTDparams RENAME TO NTDparams_away");
  for (const Family& f : kFamilies) {
    EvAlertEx a = jobEvent(f.type, 3, "");
    const bool ok = run(a);
    EXPECT_FALSE(ok) << f.type;
    EXPECT_EQ(0, detected(lastEventId()).processStat) << f.type;
    EXPECT_EQ(1, detailRows(f.table, lastEventId())) << f.type;
  }
  exec("ALTER TABLE NTDparams_away RENAME TO NTDparams");

  // Detail table gone: a new row stays unfinished, without parameters.
  std::map<std::string, int> perTable;
  for (const Family& f : kFamilies) ++perTable[f.table];
  for (const auto& [table, n] : perTable) exec("DROP TABLE " + table);
  for (const Family& f : kFamilies) {
    const int previous = lastEventId();
    EvAlertEx a = jobEvent(f.type, 3, "");
    EXPECT_FALSE(run(a)) << f.type;
    EXPECT_NE(previous, lastEventId()) << f.type;
    EXPECT_EQ(0, detected(lastEventId()).processStat) << f.type;
    EXPECT_TRUE(params(lastEventId()).empty()) << f.type;
  }
  for (const auto& [table, n] : perTable)
    EXPECT_EQ(n, log().count("Could not insert row into table [" + table + "], ErrorString [")) << table;

  // The withdrawal itself failing, with the job in the family's own wording.
  exec("DROP TABLE NTDetectedAlerts");
  for (const Family& f : kFamilies) {
    if (!f.clearFailed) continue;
    const std::string jobId = std::to_string(2000 + f.type);
    EvAlertEx cleared = jobEvent(f.type, 5, ",\"jobId\":" + jobId + R"(,"conditionCleared":true)");
    EXPECT_FALSE(run(cleared)) << f.type;
    EXPECT_EQ(1, log().count(f.clearFailed + jobId + "]")) << f.type;
  }
}

EVD_INSTANTIATE_BACKENDS(JobFamiliesTest);

}  // namespace

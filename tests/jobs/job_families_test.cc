// What every job handler shares, across the alert families that record a
// job: the withdrawal of a cleared delayed job, and what stays when a write
// fails half-way.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "jobs/job_harness.h"

namespace {

using evd::test::JobTest;

const JobTest::EventDefaults kJobKeys = {{"clientId", "12"},  {"subClientId", "118"}, {"appTypeId", "33"},
                                         {"storPolicyId", "21"}, {"copyId", "44"},     {"failureReason", "\"f\""}};

EvAlertEx jobEvent(int type, int criteria, const std::string& more = "") {
  return JobTest::jobAlert(type, criteria, more, kJobKeys);
}

// The detail tables.
const char *const kDpDr = "NTDdpDr", *const kAging = "NTDdataAgingER", *const kCopy = "NTDauxCopyDataVer";

struct Family {
  int type;
  const char* table;
  bool withdraws;
};
const Family kFamilies[] = {{3, kDpDr, true},   {28, kDpDr, true}, {1, kAging, false}, {5, kAging, true},
                            {53, kAging, true}, {2, kCopy, true}};

class JobFamiliesTest : public JobTest {
 protected:
  JobFamiliesTest() : JobTest(types(), 2) {}
  static std::vector<int> types() {
    std::vector<int> out;
    for (const Family& f : kFamilies) out.push_back(f.type);
    return out;
  }
};

TEST_P(JobFamiliesTest, ClearedDelayedJobWithdrawsThatJobFromItsOwnDetailTableAndWritesNothingElse) {
  for (const Family& f : kFamilies) {
    SCOPED_TRACE("alert type " + std::to_string(f.type));
    const std::string job = ",\"jobId\":" + std::to_string(1000 + f.type);
    // Beside it: another job of this family, the same job in a family of another detail table.
    const int pending = record(jobEvent(f.type, 5, job));
    const int other = record(jobEvent(f.type, 5, R"(,"jobId":99)"));
    const int elsewhere = record(jobEvent(f.table == kDpDr ? 5 : 3, 5, job));
    const Params before = params(pending);
    const long long rows = detectedCount(), details = countRows(f.table);
    const std::string reason = "not stored " + std::to_string(f.type);
    record(jobEvent(f.type, 5, job + R"(,"conditionCleared":true,"failureReason":")" + reason + "\""));
    record(jobEvent(f.type, 5, R"(,"jobId":4242,"conditionCleared":true)"));  // nothing pending
    for (int untouched : {other, elsewhere}) EXPECT_EQ(1, detected(untouched).processStat);
    // Without a withdrawal a cleared delayed event is one more occurrence.
    const bool withdraws = f.withdraws;
    EXPECT_EQ(withdraws ? 4 : 1, detected(pending).processStat);
    EXPECT_EQ(withdraws ? rows : rows + 2, detectedCount());
    if (!withdraws) continue;
    EXPECT_EQ(details, countRows(f.table));
    EXPECT_EQ(before, params(pending));
    EXPECT_EQ(0, countRows("NTDparams WHERE value = '" + reason + "'"));
  }
}

TEST_P(JobFamiliesTest, FailuresInTheMiddleStopTheEventAndKeepWhatWasWritten) {
  // Parameters unwritable: the row stays unfinished beside its detail row.
  exec("ALTER TABLE NTDparams RENAME TO NTDparams_away");
  for (const Family& f : kFamilies) {
    EXPECT_FALSE(run(jobEvent(f.type, 3))) << f.type;
    EXPECT_EQ(0, detected(lastEventId()).processStat) << f.type;
    EXPECT_EQ(1, detailRows(f.table, lastEventId())) << f.type;
  }
  exec("ALTER TABLE NTDparams_away RENAME TO NTDparams");

  // Detail table gone: a new row stays unfinished, without parameters.
  for (const char* table : {kDpDr, kAging, kCopy}) exec(std::string("DROP TABLE ") + table);
  for (const Family& f : kFamilies) {
    EXPECT_FALSE(run(jobEvent(f.type, 3))) << f.type;  // each run on a fresh detector: a new id or none
    EXPECT_EQ(0, detected(lastEventId()).processStat) << f.type;
    EXPECT_TRUE(params(lastEventId()).empty()) << f.type;
  }

}

EVD_INSTANTIATE_BACKENDS(JobFamiliesTest);

}  // namespace

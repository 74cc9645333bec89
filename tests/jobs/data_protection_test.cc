// Data-protection job alerts (alert type 3) end to end through StoreNotiData,
// on both backends, checked by reading the stored rows back.
#include <gtest/gtest.h>

#include <ctime>
#include <set>
#include <string>
#include <vector>

#include "jobs/job_harness.h"
#include "params/NotiParamTypes.h"

namespace {

using evd::test::JobTest;

constexpr int kBackup = 3;
const char* kAllSixFields =
    "<message type=\"30,1880\" class=\"507417001\">"
    "<int field=\"1\" key=\"4371981\">5368709120</int><int field=\"2\" key=\"4663322\">12</int>"
    "<int field=\"3\" key=\"13716006\">3600</int><int field=\"7\" key=\"1848506\">1024</int>"
    "<int field=\"8\" key=\"179639\">2048</int><int field=\"9\" key=\"2573156\">4096</int></message>";

// The parameter types a new occurrence stores whatever their values.
const std::set<int> kAlwaysStored = {1, 24, 38, 39, 41, 42, 43, 50, 51, 52, 53, 57, 58, 59, 63, 107, 108};

std::set<int> typesOf(const JobTest::Params& p) {
  std::set<int> t;
  for (const auto& [type, value] : p) t.insert(type);
  return t;
}

class DataProtectionTest : public JobTest {
 protected:
  void SetUp() override {
    JobTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    seedRule(kBackup, 2);
  }
  void TearDown() override {
    EvNDetector::vmBackupFeatureProbe = &isVMBackupFeatureDisabled;
    JobTest::TearDown();
  }
};

TEST_P(DataProtectionTest, FailedBackupStoresRowDetailAndParameters) {
  EvAlertEx a = jobEvent(kBackup, 3);
  a.setJobId((5LL << 32) + 7);
  a.setStartTime(1733400000);
  a.setEndTime(1733403600);
  a.setScheduledTime(0);
  a.setAppTypeId(33);
  a.setInstanceId(1);
  a.setBackupsetId(40);
  a.setProtectedCount(15234);
  a.setFailedCount(17);
  a.setBackupLevel(2);
  a.setTaskId(55);
  a.setSchedPolicyId(9);
  a.setVSS(true);
  a.setRdJob(true);
  a.setFailureReason("Failed to mount the disk media.");
  a.setMediaList({"V_000120", "V_000121"});
  a.setWhomId(4);
  a.setEventMsgList({{1241514762, 1241514761, 11, 1, "fs01"}, {1241514762, 1241514761, 11, 1, "D:\\mp01"}});
  a.setPhaseFailuresCount(1);
  a.setNetworkFailuresCount(2);
  a.setSVUName("svu-1");
  a.setWorkFlowName("wf-1");
  a.setMbTransferred(100);
  a.setXferSizeBytes(5368709120LL);
  a.setXferTimeSecs(3540);
  a.setXferThruPutGB("5.46");
  a.setJobErrString("Error occurred in Disk Media.");
  a.setPrevJobId(184400);
  a.setPrevBkpSize(1000);
  a.setPercentageChange(15);
  a.setRetensionTime(1734000000);
  a.setExtendedRetension(true);
  a.setAttachmentName("report.csv");
  a.setVtStoragePolicyList({"SP-Gold"});
  a.setNumberOfItems(2400);
  a.setDescription(kAllSixFields);
  ASSERT_TRUE(run(a));

  const auto row = detected(lastEventId());
  EXPECT_EQ(1, row.processStat);
  EXPECT_EQ(3, row.criteria);
  EXPECT_EQ(2, row.category);

  const int id = row.eventId;
  const std::vector<std::pair<const char*, long long>> columns = {
      {"jobId_h", 5},        {"jobId_l", 7},        {"clientId", 12},       {"appTypeId", 33},
      {"instanceId", 1},     {"backupSetId", 40},   {"subClientId", 118},   {"protectedCount", 15234},
      {"failedCount", 17},   {"backupLevel", 2},    {"taskId", 55},         {"schedPolicyId", 9},
      {"isVSS", 1},          {"isRDJob", 1},        {"skippedCount", 0},    {"libraryId", 0}};
  for (const auto& [column, value] : columns) EXPECT_EQ(value, detailInt("NTDdpDr", column, id)) << column;

  // Times are local calendar times; 0 stays the all-zero date.
  NTDdpDr detail(nullptr);
  detail.setWhere("eventId = %d", id);
  ASSERT_TRUE(DBrowRead(detail.getOneRow()));
  const time_t start = 1733400000;
  struct tm local {};
  localtime_r(&start, &local);
  EXPECT_EQ(local.tm_year + 1900, detail.getDataPtr()->startTime.year);
  EXPECT_EQ(local.tm_hour, detail.getDataPtr()->startTime.hour);
  EXPECT_TRUE(detail.getDataPtr()->schedTime.isZero());

  const Params expected = {
      {1, "Failed to mount the disk media."}, {2, "V_000120"}, {2, "V_000121"}, {24, "4"}, {38, "1"}, {39, "2"},
      {41, "svu-1"}, {42, "wf-1"}, {43, "100"}, {50, "5368709120"}, {51, "3540"}, {52, "5.46"},
      {53, "Error occurred in Disk Media."}, {57, "184400"}, {58, "1000"}, {59, "15"}, {63, "2400"},
      {68, "SP-Gold"}, {107, "1"}, {108, "1734000000"}, {111, "report.csv"},
      {260, "5368709120"}, {261, "12"}, {262, "3600"}, {264, "2048"}, {265, "1024"}, {266, "4096"}};
  EXPECT_EQ(expected, params(id));
  EXPECT_EQ((std::vector<std::string>{"fs01", "D:\\mp01"}), msgParams(id));
}

struct DescriptionCase {
  const char* name;
  std::string attachment;
  std::string description;
  std::set<int> extraTypes;  // beyond the always-stored ones
};

TEST_P(DataProtectionTest, AttachmentAndDescriptionVariants) {
  const std::vector<DescriptionCase> cases = {
      {"nothing", "", "", {}},
      {"attachment only", "job.log", "", {111}},
      {"not a message", "", "<message type=\"30,1880\"", {}},
      {"plain text", "", "Backup failed on fs01", {}},
      {"another message class", "", "<message type=\"30,1879\" class=\"513549765\"><int field=\"1\">5</int></message>",
       {}},
      {"two fields set", "", "<message type=\"30,1880\"><int field=\"2\">7</int><int field=\"8\">9</int></message>",
       {261, 264}},
  };
  for (const auto& c : cases) {
    EvAlertEx a = jobEvent(kBackup, 3);
    a.setAttachmentName(c.attachment);
    a.setDescription(c.description);
    ASSERT_TRUE(run(a)) << c.name;
    const auto row = detected(lastEventId());
    EXPECT_EQ(1, row.processStat) << c.name;
    std::set<int> want = kAlwaysStored;
    want.insert(c.extraTypes.begin(), c.extraTypes.end());
    EXPECT_EQ(want, typesOf(params(row.eventId))) << c.name;
  }
}

TEST_P(DataProtectionTest, ClearedDelayedJobWithdrawsOnlyThatJobAndWritesNothingElse) {
  EvAlertEx delayed = jobEvent(kBackup, 5);
  ASSERT_TRUE(run(delayed));
  const int pending = lastEventId();
  EvAlertEx other = jobEvent(kBackup, 5);
  other.setJobId(999);
  ASSERT_TRUE(run(other));
  const int otherId = lastEventId();
  const auto paramsBefore = params(pending);

  EvAlertEx cleared = jobEvent(kBackup, 5);
  cleared.setConditionCleared(true);
  cleared.setFailureReason("should not be stored");
  ASSERT_TRUE(run(cleared));
  EXPECT_EQ(2, detectedCount());
  EXPECT_EQ(2, countRows("NTDdpDr"));
  EXPECT_EQ(4, detected(pending).processStat);
  EXPECT_EQ(1, detected(otherId).processStat);
  EXPECT_EQ(paramsBefore, params(pending));

  // Nothing pending for the job: still true, still nothing written.
  EvAlertEx none = jobEvent(kBackup, 5);
  none.setJobId(4242);
  none.setConditionCleared(true);
  EXPECT_TRUE(run(none));
  EXPECT_EQ(2, detectedCount());
  EXPECT_EQ(0, countRows("NTDparams WHERE value = 'should not be stored'"));
}

TEST_P(DataProtectionTest, JobViewCarriesTheEventsRuleAndKeepsNoDetailRow) {
  EvAlertEx a = jobEvent(kBackup, 73);
  a.setAlertRule(31);
  a.setNumberOfItems(50);
  a.setNumOfJobsToBeCopied(3);
  a.setFailureReason("not for a job view");
  ASSERT_TRUE(run(a));
  const auto row = detected(lastEventId());
  EXPECT_EQ(31, row.ntNotificationId);
  EXPECT_EQ(1, row.processStat);
  EXPECT_EQ("JobViewForNTRule|31", row.entityId);
  EXPECT_EQ(0, countRows("NTDdpDr"));
  EXPECT_EQ("50", param(row.eventId, ParamRepeatItemCount));
  EXPECT_EQ("3", param(row.eventId, ParamRepeatJobCount));
  // Only the repeat counts and the suppression object.
  EXPECT_EQ((std::set<int>{26, 27, 136, 137}), typesOf(params(row.eventId)));

  // The same rule again: the pending occurrence takes the new counts.
  EvAlertEx again = jobEvent(kBackup, 73);
  again.setAlertRule(31);
  again.setNumberOfItems(70);
  again.setNumOfJobsToBeCopied(4);
  ASSERT_TRUE(run(again));
  EXPECT_EQ(1, detectedCount());
  EXPECT_EQ(row.eventId, lastEventId());
  EXPECT_EQ("70", param(row.eventId, ParamRepeatItemCount));
  EXPECT_EQ("4", param(row.eventId, ParamRepeatJobCount));
}

TEST_P(DataProtectionTest, RepeatedBackupCriteria65UpdatesThePendingOccurrence) {
  EvAlertEx first = jobEvent(kBackup, 65);
  first.setStartTime(1733400000);
  first.setEndTime(1733403600);
  ASSERT_TRUE(run(first));
  const int id = lastEventId();
  const auto row = detected(id);
  EXPECT_EQ(1, row.processStat);
  EXPECT_EQ("ClientNSubClient|" + std::to_string((12LL << 32) + 118), row.entityId);
  EXPECT_EQ("1733403600", param(id, ParamJobEndTime));
  EXPECT_EQ("1733400000", param(id, ParamJobStartTime));

  EvAlertEx second = jobEvent(kBackup, 65);
  second.setJobId(184500);
  ASSERT_TRUE(run(second));
  EXPECT_EQ(id, lastEventId());
  EXPECT_EQ(1, detectedCount());
  EXPECT_EQ(1, countRows("NTDdpDr"));
  EXPECT_EQ(1, log().count("already present for criteria [65] SubclientId [118]"));

  EvAlertEx cleared = jobEvent(kBackup, 65);
  cleared.setConditionCleared(true);
  ASSERT_TRUE(run(cleared));
  EXPECT_EQ(1, detectedCount());
  EXPECT_EQ(4, detected(id).processStat);

  // Another subclient is another object.
  EvAlertEx elsewhere = jobEvent(kBackup, 65);
  elsewhere.setSubClientId(119);
  ASSERT_TRUE(run(elsewhere));
  EXPECT_EQ(2, detectedCount());
}

int g_featureOff = 0;
int featureOff() { return g_featureOff; }

struct HoldCase {
  bool indexingV2;
  int featureOff;
  long long level;
  int criteria;
  int alertStatus;
  long long appType;
  int state;
  bool indexingLine;
};

TEST_P(DataProtectionTest, VirtualServerBackupsAreHeldForPerVMProcessing) {
  EvNDetector::vmBackupFeatureProbe = &featureOff;
  exec("INSERT INTO APP_ClientProp (componentNameId, attrName, attrVal, modified) VALUES (12, 'IndexingV2_VSA', "
       "'1', 0), (13, 'IndexingV2_VSA', '0', 0)");
  const std::vector<HoldCase> cases = {
      {true, 0, 64, 9, 0, 106, 128, true},     {true, 1, 128, 3, 0, 106, 128, false},
      {true, 0, 2, 3, 0, 106, 1, true},        {true, 1, 2, 57, 0, 106, 1, false},
      {false, 0, 2, 1, 0, 106, 128, false},    {false, 0, 2, 14, 3001, 106, 128, false},
      {false, 0, 2, 14, 3002, 106, 1, false},  {false, 0, 64, 9, 0, 106, 1, false},
      {false, 1, 2, 3, 0, 106, 1, false},      {true, 0, 64, 3, 0, 33, 1, false},
  };
  const std::string line = "has indexing v2 for VSA enabled.";
  for (size_t i = 0; i < cases.size(); ++i) {
    const HoldCase& c = cases[i];
    g_featureOff = c.featureOff;
    EvAlertEx a = jobEvent(kBackup, c.criteria);
    a.setClientId(c.indexingV2 ? 12 : 13);
    a.setAlertStatus(c.alertStatus);
    a.setBackupLevel(c.level);
    a.setAppTypeId(c.appType);
    const int linesBefore = log().count(line);
    ASSERT_TRUE(run(a)) << "case " << i;
    EXPECT_EQ(c.state, detected(lastEventId()).processStat) << "case " << i;
    EXPECT_EQ(c.indexingLine ? 1 : 0, log().count(line) - linesBefore) << "case " << i;
  }
}

TEST_P(DataProtectionTest, FailuresStopTheEventAndKeepWhatWasWritten) {
  // Detail table gone: the detected-alert row stays, unfinished, without parameters.
  exec("DROP TABLE NTDdpDr");
  EvAlertEx a = jobEvent(kBackup, 3);
  EXPECT_FALSE(run(a));
  ASSERT_EQ(1, detectedCount());
  const int first = lastEventId();
  EXPECT_EQ(0, detected(first).processStat);
  EXPECT_TRUE(params(first).empty());
  EXPECT_EQ(1, log().count("Could not insert row into table [NTDdpDr], ErrorString ["));
}

TEST_P(DataProtectionTest, ParameterFailureLeavesRowAndDetail) {
  exec("ALTER TABLE NTDparams RENAME TO NTDparams_away");
  EvAlertEx a = jobEvent(kBackup, 3);
  const bool ok = run(a);
  const int id = lastEventId();
  const long long state = queryInt("SELECT processStat FROM NTDetectedAlerts WHERE eventId = " + std::to_string(id));
  const long long details = detailRows("NTDdpDr", id);
  exec("ALTER TABLE NTDparams_away RENAME TO NTDparams");
  EXPECT_FALSE(ok);
  EXPECT_EQ(0, state);
  EXPECT_EQ(1, details);
}

TEST_P(DataProtectionTest, FailingWithdrawalIsReported) {
  exec("DROP TABLE NTDetectedAlerts");
  EvAlertEx a = jobEvent(kBackup, 5);
  a.setConditionCleared(true);
  EXPECT_FALSE(run(a));
  EXPECT_EQ(1, log().count("Failed to clear condition for Alert Data Protection, JobId [184467], ErrorString ["));
}

EVD_INSTANTIATE_BACKENDS(DataProtectionTest);

}  // namespace

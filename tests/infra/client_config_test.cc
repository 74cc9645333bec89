// Client (10), installation (12, 60) and client-group (59) configuration
// alerts, storage-policy, schedule and software alerts through StoreNotiData,
// on both backends; and the cleared events that every pending handler ignores.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "jobs/job_harness.h"

namespace {

using evd::test::JobTest;

// TYPE/CRITERIA with MORE; client 12 and MediaAgent 7 unless MORE names others.
EvAlertEx configEvent(int type, int criteria, const std::string& more = "") {
  return JobTest::jobAlert(type, criteria, more, {{"clientId", "12"}, {"mediaAgentId", "7"}});
}

class ClientConfigTest : public JobTest {};

TEST_P(ClientConfigTest, NewOccurrencesStoreTheirOwnColumnsAndParameters) {
  for (int type : {10, 12, 59, 60}) seedRule(type, 5);
  const std::string objects = R"(,"subClientId":118,"freeSpace":512,"freeDBSpace":2048,"clientGroupId":5,)"
                              R"("clientName":"fs01","guiClientName":"console01","failedLoginCount":4,)"
                              R"("noOfDaysLicenseToExpire":9,"whomId":2,"comment":"It's low")";
  const std::string names = R"(,"instanceName":"inst","backupsetName":"bs","subClientName":"default")";
  const struct {
    int type, criteria;
    std::string more, table;
    DetailColumns columns;
    std::set<int> types;
    std::string entity;
  } cases[] = {
      // The installation is held back as a repeat only under criteria 18.
      {12, 18, objects + R"(,"alertStatus":5)", "NTDzentraConfig", {{"deConfigClientId", 12}, {"freeDBSpace", 2048}},
       {23, 24, 26, 27, 65, 66, 67, 109, 119, 252, 255}, "Status|5"},
      // A group goes into the client column.
      {59, 3, objects + R"(,"jobId":-4)", "NTDclntAgentMAConfig",
       {{"clientId", 5}, {"subClientId", 0}, {"evGuiAuditOperation", -1}}, {24, 123, 255}, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.type);
    exec("DELETE FROM NTDetectedAlerts");
    EvAlertEx a = configEvent(c.type, c.criteria, c.more);
    ASSERT_TRUE(run(a));
    const auto row = detected(lastEventId());
    EXPECT_EQ(c.entity, row.entityId);
    expectColumns(c.table, c.columns, row.eventId);
    EXPECT_EQ(c.types, storedTypes(row.eventId));
  }
}

TEST_P(ClientConfigTest, InstallationIsHeldBackOnlyUnderCriteria18) {
  seedRule(12, 5);
  EvAlertEx installation = configEvent(12, 3, R"(,"alertStatus":2001)");
  ASSERT_TRUE(run(installation) && run(installation));
  EXPECT_EQ(2, detectedCount()) << "never held back outside criteria 18";
}

TEST_P(ClientConfigTest, ClearedEventWithoutAnOccurrenceWritesNothing) {
  for (int type : {10, 12, 13, 17, 21, 60, 70}) seedRule(type, 5);
  const std::string object = R"(,"alertStatus":5,"libraryId":3,"whomId":11,"conditionCleared":true)";
  for (const auto& [type, criteria] : {std::pair{10, 77}, {12, 18}, {60, 18}, {13, 72}, {17, 3}, {21, 3}, {70, 80}}) {
    EvAlertEx cleared = configEvent(type, criteria, object);
    ASSERT_TRUE(run(cleared)) << type;
    long long rows = 0;
    for (const char* t : {"NTDetectedAlerts", "NTDparams", "NTDclntAgentMAConfig", "NTDzentraConfig", "NTUserConfig"})
      rows += countRows(t);
    EXPECT_EQ(0, rows) << type;
  }
}

TEST_P(ClientConfigTest, CriteriaClearedFlagAndPercentFigures) {
  for (int type : {10, 12, 59, 60}) seedRule(type, 5);
  // Old-style alert ids of client and installation alerts; condition 3034 clears the criteria.
  for (const auto& [type, alertId] : {std::pair{10, 3020}, {12, 1020}}) {
    EvAlertEx flagged = configEvent(type, 5, R"(,"alert":)" + std::to_string(alertId) + R"(,"condition":3034)");
    ASSERT_TRUE(run(flagged)) << type;
    EXPECT_EQ(18, detected(lastEventId()).criteria) << type;
    EXPECT_EQ("1", param(lastEventId(), 254)) << type;
  }
  // Without the flag set to 1 in a readable message the figures are megabytes.
  const std::string lists = R"(,"foldersList":["/a"],"freeSpaceList":[15],"thresholdsList":[20],"description":")";
  const std::string flag = R"(<message type=\"30,2192\" class=\"503988448\"><int field=\"1\" key=\"7176824\">)";
  for (const auto& [description, threshold, free] :
       {std::tuple{flag + "1</int></message>", "20%", "15%"}, {flag + "0</int></message>", "20 MB", "15 MB"}}) {
    EvAlertEx a = configEvent(10, 3, lists + description + "\"");
    ASSERT_TRUE(run(a)) << description;
    EXPECT_EQ((std::vector<std::string>{"/a", threshold, free}), msgParams(lastEventId())) << description;
  }
}

const JobTest::EventDefaults kConfig = {
    {"clientId", "12"}, {"storPolicyId", "21"}, {"copyId", "44"}, {"whomId", "4"}, {"comment", R"("it's changed")"},
    {"eventMsgList", R"([{"msgIndex":1,"data":"sp01"}])"}};

// Never a repeat; the comment is a parameter, never the detail row's comment.
TEST_P(ClientConfigTest, EveryEventIsANewOccurrence) {
  for (int type : {14, 15}) seedRule(type, 6);
  for (const auto& [type, table] : {std::pair{15, "NTDspConfig"}, {14, "NTDschedConfig"}}) {
    SCOPED_TRACE(type);
    for (int round = 0; round < 2; ++round) {
      EvAlertEx a = jobAlert(type, 3, "", kConfig);
      ASSERT_TRUE(run(a));
      const int id = lastEventId();
      expectColumns(table, {{"storagePolicyId", 21}, {"copyId", 44}}, id);
      EXPECT_EQ("", queryText(std::string("SELECT comment FROM ") + table + " WHERE eventId = " + std::to_string(id)));
      EXPECT_EQ((Params{{24, "4"}, {255, "it's changed"}}), params(id));
      EXPECT_EQ(type == 14 ? std::vector<std::string>{"sp01"} : std::vector<std::string>{}, msgParams(id));
    }
    EXPECT_EQ(2, countRows(table));
  }
}

using ParamSet = std::multiset<std::pair<int, std::string>>;

TEST_P(ClientConfigTest, EachAlertStoresItsOwnParameters) {
  for (int type : {19, 20, 24, 26, 67}) seedRule(type, 7);
  // Job 21474836487 is job 7 by its low half (jobs 5 and 8 are others); update 7 has status 0.
  exec("INSERT INTO JMMaltrexUpdateStatus (jobId, clientId, clientName, status, category) VALUES "
       "(7, 12, 'fs01', 2, 0), (7, 14, 'fs02', 3, 0), (5, 98, 'x', 2, 0), (8, 99, 'y', 2, 0)");
  exec("INSERT INTO JMMaltrexDownloadStatus (jobId, OSType, MVersion, isSrvPack, updateNumber, status) VALUES "
       "(7, 3, '11', 0, 5, 2), (7, 3, '11', 0, 7, 0), (7, 3, '11', 1, 24, 2), (7, 5, '11', 0, 0, 2), "
       "(8, 1, '11', 0, 9, 2)");
  const std::string job = R"(,"jobId":21474836487,"whomId":4,"failureReason":"can't reach 'C:\\'",)"
                          R"("kBDoanloaded":2048,"zentraRelease":"11.32","cXupgradeTime":1733500000,)"
                          R"("clientIdsList":[12,15],"updatesList":["Update 5"])";
  const std::string win = "[Ver : 11] [OS: WinX64]", end = "] MsgNewLine_MsgTab_";
  const std::string package = "[Ver : 11] [OS: Unix][Package : Unix" + end;
  const struct {
    int type;
    ParamSet params;
    long long kb;  // -1: no detail row
  } cases[] = {
      // Downloads grouped per OS and kind; 29 lists everything, 30 what completed.
      {19,
       {{24, "4"}, {29, win + "[Updates : 5, 7" + end}, {29, win + "[Service Pack : 24" + end}, {29, package},
        {30, win + "[Updates : 5" + end}, {30, win + "[Service Pack : 24" + end}, {30, package}},
       2048},
      {20, {{24, "4"}, {35, "12"}, {35, "14"}}, 0},
      {24, {{24, "4"}, {30, "Update 5"}}, -1},
      {26, {{24, "4"}, {36, "11.32"}, {49, "1733500000"}, {35, "12"}, {35, "15"}, {30, "Update 5"}}, -1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.type);
    EvAlertEx a = jobAlert(c.type, 1, job);
    ASSERT_TRUE(run(a));
    const int id = lastEventId();
    EXPECT_EQ(1, detected(id).processStat);
    EXPECT_EQ(c.kb, detailInt("NTDftpDistToClnt", "kbDownloaded", id));
    const Params stored = params(id);
    EXPECT_EQ(c.params, ParamSet(stored.begin(), stored.end()));
  }
}

EVD_INSTANTIATE_BACKENDS(ClientConfigTest);

}  // namespace

// Client (10), installation (12, 60) and client-group (59) configuration
// alerts through StoreNotiData, on both backends; and the cleared events that
// every handler keeping pending occurrences must ignore.
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
      // A client alert names its job in the audit column; names are stored when given.
      {10, 77, objects + names + R"(,"jobId":21474836487)", "NTDclntAgentMAConfig",
       {{"subClientId", 118}, {"evGuiAuditOperation", 7}}, {1, 24, 26, 27, 37, 110, 120, 121, 122, 127, 255},
       "Criteria|12|77"},
      {10, 77, objects + R"(,"jobId":0)", "NTDclntAgentMAConfig", {{"evGuiAuditOperation", -1}},
       {1, 24, 26, 27, 37, 110, 127, 255}, "Criteria|12|77"},
      // The installation is held back as a repeat only under criteria 18.
      {12, 18, objects + R"(,"alertStatus":5)", "NTDzentraConfig", {{"deConfigClientId", 12}, {"freeDBSpace", 2048}},
       {23, 24, 26, 27, 65, 66, 67, 109, 119, 252, 255}, "Status|5"},
      {60, 3, objects + R"(,"alertStatus":2001)", "NTDzentraConfig", {{"freeDBSpace", 2048}},
       {23, 24, 65, 66, 67, 109, 119, 252, 255}, ""},
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

// A pending client or installation occurrence: a repeat rewrites its detail
// row but keeps the stored comment; a row gone missing is made again.
TEST_P(ClientConfigTest, RepeatRewritesOrRemakesTheDetailRow) {
  for (int type : {10, 12, 59, 60}) seedRule(type, 5);
  for (const auto& [type, criteria, more, table] : {std::tuple{10, 77, "", "NTDclntAgentMAConfig"},
                                                    {12, 18, R"(,"alertStatus":5)", "NTDzentraConfig"}}) {
    SCOPED_TRACE(type);
    EvAlertEx first = configEvent(type, criteria, more + std::string(R"(,"freeSpace":100,"comment":"first")")),
              second = configEvent(type, criteria, more + std::string(R"(,"freeSpace":50,"comment":"second")"));
    ASSERT_TRUE(run(first));
    const int id = lastEventId();
    exec(std::string("UPDATE ") + table + " SET comment = 'kept '' as stored'");
    ASSERT_TRUE(run(second));
    EXPECT_EQ(id, lastEventId());
    EXPECT_EQ(50, detailInt(table, "freeSpace", id));
    EXPECT_EQ("kept ' as stored", queryText(std::string("SELECT comment FROM ") + table));
    EXPECT_EQ("second", param(id, 255));
    exec(std::string("DELETE FROM ") + table);
    ASSERT_TRUE(run(second));
    EXPECT_EQ(50, detailInt(table, "freeSpace", id));
    EXPECT_EQ(1, detectedCount());
    exec("DELETE FROM NTDetectedAlerts");
  }
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
       {std::tuple{flag + "1</int></message>", "20%", "15%"}, {flag + "0</int></message>", "20 MB", "15 MB"},
        {"", "20 MB", "15 MB"}, {"not a message", "20 MB", "15 MB"}}) {
    EvAlertEx a = configEvent(10, 3, lists + description + "\"");
    ASSERT_TRUE(run(a)) << description;
    EXPECT_EQ((std::vector<std::string>{"/a", threshold, free}), msgParams(lastEventId())) << description;
  }
}

EVD_INSTANTIATE_BACKENDS(ClientConfigTest);

}  // namespace

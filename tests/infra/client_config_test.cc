// Client (10), installation (12, 60) and client-group (59) configuration
// alerts end to end through StoreNotiData, on both backends.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "jobs/job_harness.h"

namespace {

using evd::test::JobTest;

// The free-space message that marks the folder figures as percentages.
const std::string kPercentInfo =
    R"(<message type=\"30,2192\" class=\"503988448\"><int field=\"1\" key=\"7176824\">1</int></message>)";

// TYPE/CRITERIA with MORE; client 12 and MediaAgent 7 unless MORE names others.
EvAlertEx configEvent(int type, int criteria, const std::string& more = "") {
  std::string json =
      R"({"alertType":)" + std::to_string(type) + R"(,"alertCriteria":)" + std::to_string(criteria) + more;
  for (const auto& [key, value] : {std::pair{"clientId", "12"}, {"mediaAgentId", "7"}})
    if (more.find(std::string("\"") + key + "\"") == std::string::npos)
      json += std::string(",\"") + key + "\":" + value;
  return JobTest::event(json + "}");
}

class ClientConfigTest : public JobTest {
 protected:
  void SetUp() override {
    JobTest::SetUp();
    if (!IsSkipped() && !HasFatalFailure())
      for (int type : {10, 12, 59, 60}) seedRule(type, 5);
  }
  void clearTables() {
    for (const char* t : {"NTDetectedAlerts", "NTDclntAgentMAConfig", "NTDzentraConfig", "NTDparams", "NTDMsgParam"})
      exec(std::string("DELETE FROM ") + t);
  }
  std::set<int> paramTypes(int eventId) {
    std::set<int> out;
    for (const auto& kv : params(eventId)) out.insert(kv.first);
    return out;
  }
  std::vector<long long> columns(const std::string& table, const std::vector<std::string>& names, int eventId) {
    std::vector<long long> out;
    for (const std::string& c : names) out.push_back(detailInt(table, c, eventId));
    return out;
  }
};

const std::vector<std::string> kClientColumns = {"subClientId", "clientId",  "appTypeId", "instanceId",
                                                 "backupSetId", "mediaAgentId", "freeSpace", "threshold",
                                                 "evGuiAuditOperation"};
const std::vector<std::string> kZentraColumns = {"deConfigClientId", "deConfigAppId", "deConfigInstId", "freeSpace",
                                                 "freeDBSpace"};

TEST_P(ClientConfigTest, NewOccurrencesStoreTheirDetailRowAndParameters) {
  const std::string objects =
      R"(,"subClientId":118,"appTypeId":33,"instanceId":1,"backupsetId":40,"freeSpace":512,"threshold":1024,)"
      R"("freeDBSpace":2048,"clientGroupId":5,"clientGroupName":"Linux servers","clientName":"fs01",)"
      R"("guiClientName":"console01","failedLoginGroupId":3,"failedLoginCount":4,"noOfDaysLicenseToExpire":9,)"
      R"("perCentLicenseConsumed":95,"objStoreCacheDir":"/cache","failureReason":"Low space","whomId":2,)"
      R"("comment":"It's low","foldersList":["/data"],"freeSpaceList":[512],"thresholdsList":[1024])";
  const std::string names = R"(,"instanceName":"inst","backupsetName":"bs","subClientName":"default")";
  const struct Case {
    int type, criteria;
    std::string more;
    std::string table;
    std::vector<std::string> cols;
    std::vector<long long> values;
    std::set<int> types;
    std::string entity;
  } cases[] = {
      // A client alert of a job names it in the audit column; the names are stored when given.
      {10, 77, objects + names + R"(,"jobId":21474836487)", "NTDclntAgentMAConfig", kClientColumns,
       {118, 12, 33, 1, 40, 7, 512, 1024, 7}, {1, 24, 26, 27, 37, 110, 120, 121, 122, 127, 255},
       "Criteria|12|77"},
      // Without a job: -1; empty names store nothing.
      {10, 77, objects + R"(,"jobId":0)", "NTDclntAgentMAConfig", kClientColumns,
       {118, 12, 33, 1, 40, 7, 512, 1024, -1}, {1, 24, 26, 27, 37, 110, 127, 255}, "Criteria|12|77"},
      // The installation under criteria 18 is held back as a repeat.
      {12, 18, objects + R"(,"jobId":184600,"alertStatus":5)", "NTDzentraConfig", kZentraColumns,
       {12, 33, 1, 512, 2048}, {23, 24, 26, 27, 65, 66, 67, 109, 119, 252, 255}, "Status|5"},
      // Under any other criteria it is recorded but not.
      {60, 3, objects + R"(,"jobId":184600,"alertStatus":2001)", "NTDzentraConfig", kZentraColumns,
       {12, 33, 1, 512, 2048}, {23, 24, 65, 66, 67, 109, 119, 252, 255}, ""},
      {59, 3, objects + R"(,"jobId":-4)", "NTDclntAgentMAConfig", {"clientId", "subClientId", "evGuiAuditOperation"},
       {5, 0, -1}, {24, 123, 255}, ""},
  };
  int n = 0;
  for (const Case& c : cases) {
    const std::string what = "case " + std::to_string(n++);
    EvAlertEx a = configEvent(c.type, c.criteria, c.more);
    ASSERT_TRUE(run(a)) << what;
    const auto row = detected(lastEventId());
    EXPECT_EQ(1, row.processStat) << what;
    EXPECT_EQ(c.entity, row.entityId) << what;
    EXPECT_EQ(c.values, columns(c.table, c.cols, row.eventId)) << what;
    EXPECT_EQ(c.types, paramTypes(row.eventId)) << what;
    EXPECT_EQ("It's low", param(row.eventId, 255)) << what;
    // Free-space figures in megabytes; client groups carry none.
    const std::vector<std::string> figures =
        c.type == 59 ? std::vector<std::string>{} : std::vector<std::string>{"/data", "1.00 GB", "512 MB"};
    EXPECT_EQ(figures, msgParams(row.eventId)) << what;
    clearTables();
  }
  EXPECT_EQ(1, log().count("Inserting Instance name param in alert : [inst]"));
  EXPECT_EQ(1, log().count("Inserting subclient name param in alert : [default]"));
}

// A repeat of a pending client or installation occurrence rewrites its
// detail row, keeps the stored comment and state, and rebuilds its
// parameters; a detail row gone missing is made again under the same id.
TEST_P(ClientConfigTest, RepeatRewritesOrRemakesTheDetailRow) {
  const struct {
    int type, criteria;
    std::string more, table, freeColumn, missingLine;
  } cases[] = {
      {10, 77, "", "NTDclntAgentMAConfig", "freeSpace", "No entry in table client Config for EventId ["},
      {12, 18, R"(,"alertStatus":5)", "NTDzentraConfig", "freeSpace", "No entry in table ZentraConfig for EventId ["},
  };
  for (const auto& c : cases) {
    const std::string what = std::to_string(c.type);
    EvAlertEx first = configEvent(c.type, c.criteria, c.more + R"(,"freeSpace":100,"comment":"first")");
    ASSERT_TRUE(run(first)) << what;
    const int id = lastEventId();
    exec("UPDATE " + c.table + " SET comment = 'kept '' as stored' WHERE eventId = " + std::to_string(id));
    exec("UPDATE NTDetectedAlerts SET processStat = 2 WHERE eventId = " + std::to_string(id));

    EvAlertEx second = configEvent(c.type, c.criteria, c.more + R"(,"freeSpace":50,"comment":"second")");
    ASSERT_TRUE(run(second)) << what;
    EXPECT_EQ(id, lastEventId()) << what;
    EXPECT_EQ(1, detectedCount()) << what;
    EXPECT_EQ(2, detected(id).processStat) << what;
    EXPECT_EQ(1, countRows(c.table)) << what;
    EXPECT_EQ(50, detailInt(c.table, c.freeColumn, id)) << what;
    EXPECT_EQ("kept ' as stored",
              queryText("SELECT comment FROM " + c.table + " WHERE eventId = " + std::to_string(id)))
        << what;
    EXPECT_EQ("second", param(id, 255)) << what;

    exec("DELETE FROM " + c.table);
    ASSERT_TRUE(run(second)) << what;
    EXPECT_EQ(1, log().count(c.missingLine + std::to_string(id) + "].So inserting. ")) << what;
    EXPECT_EQ(1, detailRows(c.table, id)) << what;
    EXPECT_EQ(50, detailInt(c.table, c.freeColumn, id)) << what;
    EXPECT_EQ(2, detected(id).processStat) << what;
    EXPECT_EQ(1, detectedCount()) << what;

    // The cleared condition moves the occurrence to state 4.
    EvAlertEx cleared = configEvent(c.type, c.criteria, c.more + R"(,"conditionCleared":true)");
    ASSERT_TRUE(run(cleared)) << what;
    EXPECT_EQ(4, detected(id).processStat) << what;
    EXPECT_NE("<none>", param(id, 125)) << what;
    clearTables();
  }
}

TEST_P(ClientConfigTest, EventsThatRecordNothingOrNoRepeat) {
  for (int type : {10, 12, 60}) {
    EvAlertEx cleared = configEvent(type, type == 10 ? 77 : 18, R"(,"alertStatus":5,"conditionCleared":true)");
    ASSERT_TRUE(run(cleared)) << type;
    EXPECT_EQ(0, detectedCount() + countRows("NTDclntAgentMAConfig") + countRows("NTDzentraConfig") +
                     countRows("NTDparams") + countRows("NTDMsgParam"))
        << type;
  }
  // Installation alerts outside criteria 18 are never held back as repeats.
  EvAlertEx a = configEvent(12, 3, R"(,"alertStatus":2001)");
  ASSERT_TRUE(run(a));
  ASSERT_TRUE(run(a));
  EXPECT_EQ(2, detectedCount());
  EXPECT_EQ(0, countRows("NTDparams WHERE type IN (26, 27)"));
}

// The flag handed down when the detector cleared the event's criteria.
TEST_P(ClientConfigTest, CriteriaClearedFlagBecomesParameter254) {
  // Old-style alert ids of client and installation alerts.
  for (const auto& [type, alertId] : {std::pair{10, 3020}, {12, 1020}}) {
    EvAlertEx flagged = configEvent(type, 5, R"(,"alert":)" + std::to_string(alertId) + R"(,"condition":3034)");
    ASSERT_TRUE(run(flagged)) << type;
    EXPECT_EQ(18, detected(lastEventId()).criteria) << type;
    EXPECT_EQ("1", param(lastEventId(), 254)) << type;
    EvAlertEx plain = configEvent(type, 77, R"(,"clientId":13)");
    ASSERT_TRUE(run(plain)) << type;
    EXPECT_EQ("<none>", param(lastEventId(), 254)) << type;
  }
}

TEST_P(ClientConfigTest, PercentFlagTurnsFiguresIntoPercentages) {
  const std::string lists = R"(,"foldersList":["/a","/b"],"freeSpaceList":[15,0],"thresholdsList":[20,10])";
  const struct {
    std::string description;
    std::vector<std::string> figures;
  } cases[] = {
      {kPercentInfo, {"/a", "20%", "15%", "/b", "10%", "0%"}},
      {"", {"/a", "20 MB", "15 MB", "/b", "10 MB", "0 MB"}},
      {"not a message", {"/a", "20 MB", "15 MB", "/b", "10 MB", "0 MB"}},
      // The flag field present but 0.
      {R"(<message type=\"30,2192\" class=\"503988448\"><int field=\"1\" key=\"7176824\">0</int></message>)",
       {"/a", "20 MB", "15 MB", "/b", "10 MB", "0 MB"}},
  };
  for (int type : {10, 12}) {
    for (const auto& c : cases) {
      EvAlertEx a = configEvent(type, 3, lists + R"(,"description":")" + c.description + "\"");
      ASSERT_TRUE(run(a)) << c.description;
      EXPECT_EQ(c.figures, msgParams(lastEventId())) << type << " " << c.description;
    }
  }
  // Lists that do not line up fail the event.
  EvAlertEx bad = configEvent(10, 3, R"(,"foldersList":[],"freeSpaceList":[15],"thresholdsList":[20])");
  EXPECT_FALSE(run(bad));
}

EVD_INSTANTIATE_BACKENDS(ClientConfigTest);

}  // namespace

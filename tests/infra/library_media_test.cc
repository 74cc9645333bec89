// Library (7, 8, 16, 17, 21), media-erase (9), erase-data (22) and
// vault-tracker (18) alerts end to end through StoreNotiData, on both
// backends, checked by reading the stored rows back.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "jobs/job_harness.h"

namespace {

using evd::test::JobTest;

// Every field the handlers read. Alert status 2002 makes library 3 the
// object an occurrence is about.
const std::map<std::string, std::string> kFields = {
    {"alertCriteria", "3"}, {"alertStatus", "2002"}, {"libraryId", "3"}, {"driveId", "11"}, {"mediaAgentId", "2"},
    {"mountPathId", "77"}, {"jobId", "21474836487"}, {"startTime", "1733400000"}, {"taskId", "55"},
    {"schedPolicyId", "9"}, {"otherLibId", "6"}, {"copyId", "44"}, {"mediaSpaceLeft", "120"}, {"threshold", "10"},
    {"moreMediaToCome", "true"}, {"exportLocName", R"("Vault A")"}, {"failureReason", R"("fr")"},
    {"driveName", R"("Drive 1")"}, {"drivePoolName", R"("Pool A")"}, {"sparePoolMountPathName", R"("/mnt/sp")"},
    {"mediaLable", R"("V_1")"}, {"description", R"("desc")"}, {"thresholdCommen", R"("below 10")"},
    {"recallTime", "1733050000"}, {"recallReason", R"("rr")"}, {"recallDestination", R"("rd")"},
    {"mediaList", R"(["V_1","V_2"])"}, {"comment", R"("cmt")"}, {"whomId", "4"},
    {"eventMsgList", R"([{"msgIndex":1,"data":"lib01"}])"}, {"failureReasons", "[72]"}, {"vtPolicyId", "12"},
    {"vtInitiator", R"("ops")"}, {"vtSourceLoc", R"("src")"}, {"vtTransitLoc", R"("van")"},
    {"vtDestLoc", R"("dst")"}, {"vtBarCodeCurrLoc", R"("bc")"}, {"mediaIdsList", "[501]"},
    {"succeededMedialist", "[501]"}, {"failedMedialist", "[502]"}, {"jobErrString", R"("err")"},
    {"clientId", "12"}, {"appTypeId", "33"}, {"instanceId", "1"}, {"backupsetId", "40"}, {"subClientId", "118"}};

// An event of TYPE with kFields, changed by SET (an empty value leaves the key out).
EvAlertEx media(int type, const std::map<std::string, std::string>& set = {}) {
  std::map<std::string, std::string> f = kFields;
  for (const auto& [k, v] : set) f[k] = v;
  std::string json = "{\"alertType\":" + std::to_string(type);
  for (const auto& [k, v] : f)
    if (!v.empty()) json += ",\"" + k + "\":" + v;
  return JobTest::event(json + "}");
}
std::string jsonText(const std::string& s) { return "\"" + s + "\""; }

class LibraryMediaTest : public JobTest {
 protected:
  void SetUp() override {
    JobTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    for (int type : {7, 8, 9, 16, 17, 18, 21, 22}) seedRule(type, 5);
    exec("INSERT INTO JMFailureReasonMsgParam (msgId, eventid, position, type, size, data) VALUES "
         "(72, 9001, 1, 11, 0, 'drive offline')");
    exec("INSERT INTO MMMedia (MediaId, BarCode, MediaTypeId, MediaLocation) VALUES (501, 'V_000501', 1, 1), "
         "(502, 'V_000502', 1, 1)");
  }
  std::string text(const char* table, const char* column, int id) {
    return queryText(std::string("SELECT ") + column + " FROM " + table + " WHERE eventId = " + std::to_string(id));
  }
};

TEST_P(LibraryMediaTest, NewOccurrencesStoreTheirDetailRowAndParameters) {
  const Params lib = {{24, "4"}, {26, "Library"}, {27, "3"}};
  const std::vector<std::string> both = {"lib01", "drive offline"}, reasons = {"drive offline"};
  struct Case {
    int type;
    const char* table;
    std::map<std::string, long long> columns;
    Params params;
    std::vector<std::string> msgs;
    const char* exportLoc;  // null: the table has no such column
  };
  const Case cases[] = {
      {7, "NTDmediaInvSchedExport", {{"jobId_h", 5}, {"jobId_l", 7}, {"libraryId", 3}, {"taskId", 55}, {"schedPolicyId", 9}},
       lib, reasons, "Vault A"},
      {8, "NTDmediaInvSchedExport", {{"libraryId", 3}, {"taskId", 55}}, {{2, "V_1"}, {2, "V_2"}, {24, "4"}, {26, "Library"}, {27, "3"}},
       reasons, "Vault A"},
      {16, "NTDlibConfig", {{"libraryId", 3}}, {{24, "4"}, {26, "Library"}, {27, "3"}, {255, "cmt"}}, {}, nullptr},
      {17, "NTDlibraryMang",
       {{"jobId_h", 5}, {"jobId_l", 7}, {"libraryId", 3}, {"otherLibId", 6}, {"copyId", 44}, {"mediaAgentId", 2},
        {"mediaSpaceLeft", 120}, {"threshold", 10}, {"driveId", 11}, {"moreMedia", 1}, {"taskId", 0}, {"schedPolicyId", 0}},
       {{1, "fr"}, {2, "V_1"}, {2, "V_2"}, {7, "Drive 1"}, {8, "Pool A"}, {9, "/mnt/sp"}, {10, "V_1"}, {11, "desc"},
        {17, "below 10"}, {24, "4"}, {26, "Library"}, {27, "3"}, {54, "1733050000"}, {55, "rr"}, {56, "rd"}},
       both, "Vault A"},
      {21, "NTDlibraryMang", {{"libraryId", 3}, {"driveId", 11}, {"jobId_l", 0}, {"mediaAgentId", 0}, {"copyId", 0}},
       {{1, "fr"}, {7, "Drive 1"}, {8, "Pool A"}, {9, "77"}, {24, "4"}, {26, "Library"}, {27, "3"}}, both, ""},
      {9, "NTDlibraryMang", {{"jobId_l", 7}, {"libraryId", 3}, {"taskId", 55}, {"schedPolicyId", 9}, {"driveId", 0}},
       {{1, "fr"}, {3, "V_000501"}, {4, "V_000502"}, {24, "4"}, {53, "err"}}, both, "Vault A"},
      {22, "NTDdataAgingER",
       {{"jobId_h", 5}, {"jobId_l", 7}, {"clientId", 12}, {"appTypeId", 33}, {"instanceId", 1}, {"backupSetId", 40},
        {"subClientId", 118}, {"taskId", 55}, {"schedPolicyId", 9}, {"level", 0}},
       {{1, "fr"}, {24, "4"}, {53, "err"}}, both, nullptr},
      {18, "NTDvaultTracker", {{"libId", 3}, {"policyId", 12}},
       {{2, "V_000501"}, {12, "ops"}, {13, "src"}, {14, "van"}, {15, "dst"}, {16, "bc"}, {24, "4"},
        {25, "V_000501, Inside Library"}},
       {}, nullptr},
  };
  for (const Case& c : cases) {
    EvAlertEx a = media(c.type);
    ASSERT_TRUE(run(a)) << c.type;
    const auto row = detected(lastEventId());
    EXPECT_EQ(1, row.processStat) << c.type;
    EXPECT_EQ(c.params.count(26) ? "Library|3" : "", row.entityId) << c.type;
    for (const auto& [column, value] : c.columns) EXPECT_EQ(value, detailInt(c.table, column.c_str(), row.eventId)) << c.type << column;
    if (c.exportLoc) {
      EXPECT_EQ(c.exportLoc, text(c.table, "exportLoc", row.eventId)) << c.type;
    }
    EXPECT_EQ(c.params, params(row.eventId)) << c.type;
    EXPECT_EQ(c.msgs, msgParams(row.eventId)) << c.type;
  }
  EXPECT_EQ("", text("NTDlibConfig", "comment", static_cast<int>(queryInt("SELECT eventId FROM NTDlibConfig"))));
}

TEST_P(LibraryMediaTest, RepeatsOfInventoryExportAndDriveAlertsOnlyRefreshTheOccurrence) {
  for (const auto& [type, table] : {std::pair{7, "NTDmediaInvSchedExport"}, {8, "NTDmediaInvSchedExport"}, {21, "NTDlibraryMang"}}) {
    EvAlertEx first = media(type), again = media(type, {{"failureReason", R"("x")"}, {"mediaList", R"(["V_9"])"},
                                                        {"exportLocName", R"("B")"}, {"driveId", "12"}});
    ASSERT_TRUE(run(first)) << type;
    const int id = lastEventId();
    const Params before = params(id);
    const auto msgs = msgParams(id);
    const long long rows = detectedCount();
    ASSERT_TRUE(run(again)) << type;
    EXPECT_EQ(id, lastEventId()) << type;
    EXPECT_EQ(rows, detectedCount()) << type;
    EXPECT_EQ(before, params(id)) << type;
    EXPECT_EQ(msgs, msgParams(id)) << type;
    EXPECT_EQ(1, detailRows(table, id)) << type;
    if (type == 21) {
      EXPECT_EQ(11, detailInt(table, "driveId", id));
    } else {
      EXPECT_EQ("Vault A", text(table, "exportLoc", id)) << type;
    }
  }
}

TEST_P(LibraryMediaTest, RepeatedLibraryConfigurationCopiesItsComment) {
  EvAlertEx first = media(16), again = media(16, {{"comment", R"("it's changed")"}});
  ASSERT_TRUE(run(first));
  const int id = lastEventId();
  ASSERT_TRUE(run(again));
  EXPECT_EQ(id, lastEventId());
  EXPECT_EQ("it's changed", text("NTDlibConfig", "comment", id));
  EXPECT_EQ("cmt", param(id, 255));
  // Cut to the column without splitting a character.
  std::string longer = "x";
  for (int i = 0; i < 600; ++i) longer += "\xC3\xA9";
  EvAlertEx big = media(16, {{"comment", jsonText(longer)}});
  ASSERT_TRUE(run(big));
  EXPECT_EQ(longer.substr(0, 1023), text("NTDlibConfig", "comment", id));
}

TEST_P(LibraryMediaTest, RepeatedLibraryManagementRewritesThresholdAndReasonOnlyForItsConditions) {
  struct Case {
    std::string criteria, status;
    bool rewritten;
  };
  for (const Case& c : {Case{"3", "2002", false}, Case{"26", "2002", true}, Case{"3", "2010", true}}) {
    const std::map<std::string, std::string> key = {{"alertCriteria", c.criteria}, {"alertStatus", c.status}};
    auto with = [&](std::map<std::string, std::string> more) {
      more.insert(key.begin(), key.end());
      return media(17, more);
    };
    EvAlertEx first = with({}), again = with({{"mediaSpaceLeft", "80"}, {"thresholdCommen", R"("it's below 5")"}, {"failureReason", R"("fr2")"}}),
              cleared = with({{"mediaSpaceLeft", "60"}, {"thresholdCommen", R"("gone")"}, {"failureReason", R"("fr3")"},
                              {"conditionCleared", "true"}});
    const std::string what = c.criteria + "/" + c.status;
    ASSERT_TRUE(run(first)) << what;
    const int id = lastEventId();
    ASSERT_TRUE(run(again)) << what;
    EXPECT_EQ(id, lastEventId()) << what;
    EXPECT_EQ(80, detailInt("NTDlibraryMang", "mediaSpaceLeft", id)) << what;
    EXPECT_EQ(c.rewritten ? "it's below 5" : "below 10", param(id, 17)) << what;
    EXPECT_EQ(c.rewritten ? "fr2" : "fr", param(id, 1)) << what;
    // A cleared repeat takes the space left but never the texts.
    ASSERT_TRUE(run(cleared)) << what;
    EXPECT_EQ(4, detected(id).processStat) << what;
    EXPECT_EQ(60, detailInt("NTDlibraryMang", "mediaSpaceLeft", id)) << what;
    EXPECT_EQ(c.rewritten ? "fr2" : "fr", param(id, 1)) << what;
    EXPECT_EQ(1u, params(id).count(125)) << what;
  }
}

TEST_P(LibraryMediaTest, EventsThatWriteNothing) {
  // A cleared condition never detected, on a detector still holding the
  // event id of its previous event.
  EvNDetector d;
  EvAlertEx raised = media(21), clearedElsewhere = media(21, {{"libraryId", "9"}, {"conditionCleared", "true"}});
  ASSERT_TRUE(d.StoreNotiData(raised));
  const int id = d.getEventId();
  const long long parameters = countRows("NTDparams");
  ASSERT_TRUE(d.StoreNotiData(clearedElsewhere));
  EXPECT_EQ(1, detectedCount());
  EXPECT_EQ(1, detected(id).processStat);
  EXPECT_EQ(parameters, countRows("NTDparams"));
  EXPECT_EQ(1, countRows("NTDlibraryMang"));

  EvAlertEx noPolicy = media(18, {{"vtPolicyId", ""}});
  EXPECT_FALSE(run(noPolicy));
  EXPECT_EQ(1, detectedCount());
  EXPECT_EQ(parameters, countRows("NTDparams"));
  EXPECT_EQ(0, countRows("NTDvaultTracker"));
  EXPECT_EQ(1, log().count("FATAL ALERT ERROR: Invalid alert parameter, vault tracker policy id = 0"));
}

TEST_P(LibraryMediaTest, ExportLocationsAreCutToTheirColumn) {
  std::string longer = "x";
  for (int i = 0; i < 1500; ++i) longer += "\xC3\xA9";
  for (const auto& [type, table] : {std::pair{7, "NTDmediaInvSchedExport"}, {17, "NTDlibraryMang"}, {9, "NTDlibraryMang"}}) {
    EvAlertEx a = media(type, {{"exportLocName", jsonText(longer)}, {"alertStatus", ""}});
    ASSERT_TRUE(run(a)) << type;
    EXPECT_EQ(longer.substr(0, 2047), text(table, "exportLoc", lastEventId())) << type;
  }
}

EVD_INSTANTIATE_BACKENDS(LibraryMediaTest);

}  // namespace

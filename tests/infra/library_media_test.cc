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
using Fields = std::map<std::string, std::string>;

// Every field the handlers read; alert status 2002 makes library 3 the object.
const Fields kFields = {
    {"alertCriteria", "3"}, {"alertStatus", "2002"}, {"libraryId", "3"}, {"driveId", "11"}, {"mediaAgentId", "2"},
    {"mountPathId", "77"}, {"jobId", "21474836487"}, {"taskId", "55"}, {"schedPolicyId", "9"}, {"otherLibId", "6"},
    {"copyId", "44"}, {"mediaSpaceLeft", "120"}, {"threshold", "10"}, {"moreMediaToCome", "true"},
    {"exportLocName", R"("Vault A")"}, {"failureReason", R"("fr")"}, {"driveName", R"("Drive 1")"},
    {"drivePoolName", R"("Pool A")"}, {"sparePoolMountPathName", R"("/mnt/sp")"}, {"mediaLable", R"("V_1")"},
    {"description", R"("desc")"}, {"thresholdCommen", R"("below 10")"}, {"recallTime", "1733050000"},
    {"recallReason", R"("rr")"}, {"recallDestination", R"("rd")"}, {"mediaList", R"(["V_1","V_2"])"},
    {"comment", R"("cmt")"}, {"whomId", "4"}, {"eventMsgList", R"([{"msgIndex":1,"data":"lib01"}])"},
    {"failureReasons", "[72]"}, {"vtPolicyId", "12"}, {"vtInitiator", R"("ops")"}, {"vtSourceLoc", R"("src")"},
    {"vtTransitLoc", R"("van")"}, {"vtDestLoc", R"("dst")"}, {"vtBarCodeCurrLoc", R"("bc")"},
    {"mediaIdsList", "[501]"}, {"succeededMedialist", "[501]"}, {"failedMedialist", "[502]"},
    {"jobErrString", R"("err")"}, {"clientId", "12"}, {"appTypeId", "33"}, {"instanceId", "1"},
    {"backupsetId", "40"}, {"subClientId", "118"}};

// An event of TYPE with kFields changed by SET (an empty value leaves the key out).
EvAlertEx media(int type, const Fields& set = {}) {
  Fields f = kFields;
  for (const auto& [k, v] : set) f[k] = v;
  std::string json = "{\"alertType\":" + std::to_string(type);
  for (const auto& [k, v] : f)
    if (!v.empty()) json += ",\"" + k + "\":" + v;
  return JobTest::event(json + "}");
}

// "x" and N two-byte characters: a cut at an odd length would split one.
std::string longText(int n) {
  std::string s = "x";
  for (int i = 0; i < n; ++i) s += "\xC3\xA9";
  return s;
}

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
  const std::vector<std::string> both = {"lib01", "drive offline"}, reasons = {"drive offline"};
  struct Case {
    int type;
    const char* table;
    std::map<std::string, long long> columns;
    Params params;  // library types add 24, 26 and 27 of the library object
    std::vector<std::string> msgs;
    std::string exportLoc;  // "-": the table has no such column
  };
  const Case cases[] = {
      {7, "NTDmediaInvSchedExport", {{"jobId_h", 5}, {"jobId_l", 7}, {"libraryId", 3}, {"taskId", 55}}, {}, reasons,
       "Vault A"},
      {8, "NTDmediaInvSchedExport", {{"schedPolicyId", 9}}, {{2, "V_1"}, {2, "V_2"}}, reasons, "Vault A"},
      {16, "NTDlibConfig", {{"libraryId", 3}}, {{255, "cmt"}}, {}, "-"},
      {17, "NTDlibraryMang",
       {{"jobId_h", 5}, {"jobId_l", 7}, {"libraryId", 3}, {"otherLibId", 6}, {"copyId", 44}, {"mediaAgentId", 2},
        {"mediaSpaceLeft", 120}, {"threshold", 10}, {"driveId", 11}, {"moreMedia", 1}, {"taskId", 0}},
       {{1, "fr"}, {2, "V_1"}, {2, "V_2"}, {7, "Drive 1"}, {8, "Pool A"}, {9, "/mnt/sp"}, {10, "V_1"}, {11, "desc"},
        {17, "below 10"}, {54, "1733050000"}, {55, "rr"}, {56, "rd"}},
       both, "Vault A"},
      {21, "NTDlibraryMang", {{"libraryId", 3}, {"driveId", 11}, {"jobId_l", 0}, {"mediaAgentId", 0}},
       {{1, "fr"}, {7, "Drive 1"}, {8, "Pool A"}, {9, "77"}}, both, ""},
      {9, "NTDlibraryMang", {{"jobId_l", 7}, {"libraryId", 3}, {"taskId", 55}, {"schedPolicyId", 9}, {"driveId", 0}},
       {{1, "fr"}, {3, "V_000501"}, {4, "V_000502"}, {24, "4"}, {53, "err"}}, both, "Vault A"},
      {22, "NTDdataAgingER",
       {{"jobId_l", 7}, {"clientId", 12}, {"appTypeId", 33}, {"instanceId", 1}, {"backupSetId", 40},
        {"subClientId", 118}, {"taskId", 55}, {"level", 0}},
       {{1, "fr"}, {24, "4"}, {53, "err"}}, both, "-"},
      {18, "NTDvaultTracker", {{"libId", 3}, {"policyId", 12}},
       {{2, "V_000501"}, {12, "ops"}, {13, "src"}, {14, "van"}, {15, "dst"}, {16, "bc"}, {24, "4"},
        {25, "V_000501, Inside Library"}},
       {}, "-"},
  };
  for (const Case& c : cases) {
    EvAlertEx a = media(c.type);
    ASSERT_TRUE(run(a)) << c.type;
    const auto row = detected(lastEventId());
    const bool library = c.params.count(24) == 0;
    Params expected = c.params;
    if (library) expected.insert({{24, "4"}, {26, "Library"}, {27, "3"}});
    EXPECT_EQ(1, row.processStat) << c.type;
    EXPECT_EQ(library ? "Library|3" : "", row.entityId) << c.type;
    for (const auto& [column, value] : c.columns)
      EXPECT_EQ(value, detailInt(c.table, column.c_str(), row.eventId)) << c.type << column;
    if (c.exportLoc != "-") {
      EXPECT_EQ(c.exportLoc, text(c.table, "exportLoc", row.eventId)) << c.type;
    }
    EXPECT_EQ(expected, params(row.eventId)) << c.type;
    EXPECT_EQ(c.msgs, msgParams(row.eventId)) << c.type;
  }
  EXPECT_EQ("", queryText("SELECT comment FROM NTDlibConfig"));
}

TEST_P(LibraryMediaTest, RepeatsOfInventoryExportAndDriveAlertsOnlyRefreshTheOccurrence) {
  for (int type : {7, 8, 21}) {
    const char* table = type == 21 ? "NTDlibraryMang" : "NTDmediaInvSchedExport";
    EvAlertEx first = media(type), again = media(type, {{"failureReason", R"("x")"}, {"mediaList", R"(["V_9"])"},
                                                        {"exportLocName", R"("B")"}, {"jobId", "1"}});
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
    EXPECT_EQ(type == 21 ? 0 : 7, detailInt(table, "jobId_l", id)) << type;
  }
}

TEST_P(LibraryMediaTest, RepeatedLibraryConfigurationCopiesItsCommentCutToTheColumn) {
  EvAlertEx first = media(16), again = media(16, {{"comment", R"("it's changed")"}}),
            big = media(16, {{"comment", "\"" + longText(600) + "\""}});
  ASSERT_TRUE(run(first));
  const int id = lastEventId();
  ASSERT_TRUE(run(again));
  EXPECT_EQ(id, lastEventId());
  EXPECT_EQ("it's changed", text("NTDlibConfig", "comment", id));
  EXPECT_EQ("cmt", param(id, 255));
  ASSERT_TRUE(run(big));
  EXPECT_EQ(longText(600).substr(0, 1023), text("NTDlibConfig", "comment", id));
}

TEST_P(LibraryMediaTest, RepeatedLibraryManagementRewritesThresholdAndReasonOnlyForItsConditions) {
  for (const auto& [criteria, status, rewritten] :
       {std::tuple{"3", "2002", false}, std::tuple{"26", "2002", true}, std::tuple{"3", "2010", true}}) {
    auto with = [&](Fields more) {
      more.insert({{"alertCriteria", criteria}, {"alertStatus", status}});
      return media(17, more);
    };
    EvAlertEx first = with({}),
              again = with({{"mediaSpaceLeft", "80"}, {"thresholdCommen", R"("it's 5")"}, {"failureReason", R"("f2")"}}),
              cleared = with({{"mediaSpaceLeft", "60"}, {"thresholdCommen", R"("gone")"}, {"failureReason", R"("f3")"},
                              {"conditionCleared", "true"}});
    const std::string what = std::string(criteria) + "/" + status;
    ASSERT_TRUE(run(first)) << what;
    const int id = lastEventId();
    ASSERT_TRUE(run(again)) << what;
    EXPECT_EQ(id, lastEventId()) << what;
    EXPECT_EQ(80, detailInt("NTDlibraryMang", "mediaSpaceLeft", id)) << what;
    EXPECT_EQ(rewritten ? "it's 5" : "below 10", param(id, 17)) << what;
    EXPECT_EQ(rewritten ? "f2" : "fr", param(id, 1)) << what;
    // A cleared repeat takes the space left but never the texts.
    ASSERT_TRUE(run(cleared)) << what;
    EXPECT_EQ(4, detected(id).processStat) << what;
    EXPECT_EQ(60, detailInt("NTDlibraryMang", "mediaSpaceLeft", id)) << what;
    EXPECT_EQ(rewritten ? "it's 5" : "below 10", param(id, 17)) << what;
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
  EXPECT_EQ(1, countRows("NTDlibraryMang"));

  EvAlertEx noPolicy = media(18, {{"vtPolicyId", ""}});
  EXPECT_FALSE(run(noPolicy));
  EXPECT_EQ(1, detectedCount());
  EXPECT_EQ(parameters, countRows("NTDparams"));
  EXPECT_EQ(0, countRows("NTDvaultTracker"));
  EXPECT_EQ(1, log().count("FATAL ALERT ERROR: Invalid alert parameter, vault tracker policy id = 0"));
}

TEST_P(LibraryMediaTest, ExportLocationsAreCutToTheirColumn) {
  for (int type : {7, 17, 9}) {
    EvAlertEx a = media(type, {{"exportLocName", "\"" + longText(1500) + "\""}, {"alertStatus", ""}});
    ASSERT_TRUE(run(a)) << type;
    EXPECT_EQ(longText(1500).substr(0, 2047),
              text(type == 7 ? "NTDmediaInvSchedExport" : "NTDlibraryMang", "exportLoc", lastEventId()))
        << type;
  }
}

EVD_INSTANTIATE_BACKENDS(LibraryMediaTest);

}  // namespace

// Library (7, 8, 16, 17, 21), media-erase (9), erase-data (22) and
// vault-tracker (18) alerts through StoreNotiData, on both backends.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>

#include "jobs/job_harness.h"

namespace {

using evd::test::JobTest;

// "x" and N two-byte characters: a cut at an odd length would split one.
std::string longText(int n) {
  std::string s = "x";
  for (int i = 0; i < n; ++i) s += "\xC3\xA9";
  return s;
}

// The fields the handlers read; alert status 2002 makes library 3 the object.
const JobTest::EventDefaults kFields = {
    {"alertStatus", "2002"}, {"libraryId", "3"}, {"driveId", "11"}, {"mountPathId", "77"}, {"jobId", "21474836487"},
    {"schedPolicyId", "9"}, {"otherLibId", "6"}, {"mediaSpaceLeft", "120"}, {"moreMediaToCome", "true"},
    {"exportLocName", "\"" + longText(1500) + "\""}, {"failureReason", R"("fr")"}, {"recallTime", "1733050000"},
    {"mediaList", R"(["V_1","V_2"])"}, {"comment", R"("cmt")"}, {"whomId", "4"}, {"vtPolicyId", "12"},
    {"mediaIdsList", "[501]"}, {"succeededMedialist", "[501]"}, {"failedMedialist", "[502]"}};
EvAlertEx media(int type, const std::string& more = "", int criteria = 3) {
  return JobTest::jobAlert(type, criteria, more, kFields);
}

class LibraryMediaTest : public JobTest {
 protected:
  LibraryMediaTest() : JobTest({7, 8, 9, 16, 17, 18, 21, 22}, 5) {}
  void SetUp() override {
    JobTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    exec("INSERT INTO MMMedia (MediaId, BarCode, MediaTypeId, MediaLocation) VALUES (501, 'V_000501', 1, 1), "
         "(502, 'V_000502', 1, 1)");
  }
};

TEST_P(LibraryMediaTest, NewOccurrencesStoreTheirOwnColumnsAndParameters) {
  const struct {
    int type;
    const char* table;
    DetailColumns columns;
    std::set<int> types;  // library alerts name their library (26, 27)
    Params values;        // the ones read or looked up
  } cases[] = {
      // An export location of 1501 characters is cut to 2047 bytes: 1024 characters.
      {8, "NTDmediaInvSchedExport", {{"schedPolicyId", 9}}, {2, 24, 26, 27}, {{2, "V_1"}, {2, "V_2"}}},
      {17, "NTDlibraryMang", {{"otherLibId", 6}, {"moreMedia", 1}, {"LENGTH(exportLoc)", 1024}},
       {1, 2, 7, 8, 9, 10, 11, 17, 24, 26, 27, 54, 55, 56}, {{54, "1733050000"}}},
      {18, "NTDvaultTracker", {{"libId", 3}, {"policyId", 12}}, {2, 12, 13, 14, 15, 16, 24, 25},
       {{2, "V_000501"}, {25, "V_000501, Inside Library"}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.type);
    EvAlertEx a = media(c.type);
    ASSERT_TRUE(run(a));
    const auto row = detected(lastEventId());
    EXPECT_EQ(c.types.count(26) ? "Library|3" : "", row.entityId);
    expectColumns(c.table, c.columns, row.eventId);
    EXPECT_EQ(c.types, storedTypes(row.eventId));
    const Params stored = params(row.eventId);
    for (const auto& value : c.values) EXPECT_EQ(1, std::count(stored.begin(), stored.end(), value)) << value.second;
  }
  // A movement without its policy is rejected before anything is written.
  EvAlertEx noPolicy = media(18, R"(,"vtPolicyId":0)");
  EXPECT_FALSE(run(noPolicy));
  EXPECT_EQ(3, detectedCount());
  EXPECT_EQ(1, countRows("NTDvaultTracker"));
}

// Only a threshold condition rewrites the threshold comment and reason, and
// never when it clears; the space left is always taken.
TEST_P(LibraryMediaTest, RepeatedLibraryManagementRewritesThresholdAndReasonOnlyForItsConditions) {
  for (const auto& [criteria, status, rewritten] : {std::tuple{3, 2002, false}, {26, 2002, true}, {3, 2010, true}}) {
    SCOPED_TRACE(std::to_string(criteria) + "/" + std::to_string(status));
    const std::string head = ",\"alertStatus\":" + std::to_string(status);
    EvAlertEx first = media(17, head + R"(,"thresholdCommen":"it's 10","failureReason":"it's 10")", criteria),
              again = media(17, head + R"(,"mediaSpaceLeft":80,"thresholdCommen":"it's 5","failureReason":"it's 5")",
                            criteria),
              cleared = media(17, head + R"(,"mediaSpaceLeft":60,"thresholdCommen":"","conditionCleared":true)",
                              criteria);
    ASSERT_TRUE(run(first));
    const int id = lastEventId();
    ASSERT_TRUE(run(again));
    EXPECT_EQ(id, lastEventId());
    EXPECT_EQ(80, detailInt("NTDlibraryMang", "mediaSpaceLeft", id));
    EXPECT_EQ(rewritten ? "it's 5" : "it's 10", param(id, 17));
    EXPECT_EQ(rewritten ? "it's 5" : "it's 10", param(id, 1));
    ASSERT_TRUE(run(cleared));
    EXPECT_EQ(60, detailInt("NTDlibraryMang", "mediaSpaceLeft", id));
    EXPECT_EQ(rewritten ? "it's 5" : "it's 10", param(id, 17));
  }
}

EVD_INSTANTIATE_BACKENDS(LibraryMediaTest);

}  // namespace

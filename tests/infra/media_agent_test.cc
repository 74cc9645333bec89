// MediaAgent configuration alerts (alert type 13) end to end through
// StoreNotiData, on both backends.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "jobs/job_harness.h"

namespace {

using evd::test::JobTest;

const std::string kLowDisk =
    R"(<message type=\"30,440\" class=\"504331080\"><text field=\"3\" key=\"7639064\">DDB-Store-01</text>)"
    R"(<text field=\"4\" key=\"7482296\">SP-Gold, SP-Silver</text><text field=\"5\" key=\"13446733\">ma-east-02</text>)"
    R"(<text field=\"6\" key=\"14121126\">/ddb/store01</text><int field=\"19\" key=\"12783609\">2048</int>)"
    R"(<int field=\"20\" key=\"2090695\">10240</int></message>)";
const std::string kOffline =
    R"(<message type=\"30,1847\" class=\"508850288\"><int field=\"1\" key=\"10691976\">17</int>)"
    R"(<int field=\"2\" key=\"9947485\">3</int><int field=\"3\" key=\"11739624\">2</int>)"
    R"(<int field=\"4\" key=\"8568816\">1</int><text field=\"5\" key=\"14121126\">path not reachable</text>)"
    R"(<int field=\"13\" key=\"349703\">1700000000</int></message>)";
const std::string kEntity =
    R"(<message type=\"30,431\" class=\"504730115\"><object field=\"1\" key=\"10347491\">)"
    R"(<int field=\"105\" key=\"10691976\">17</int><int field=\"100\" key=\"4239216\">4</int></object>)"
    R"(<int field=\"18\" key=\"11554268\">2</int><int field=\"17\" key=\"6332284\">1</int>)"
    R"(<text field=\"4\" key=\"9971982\">Partition 2 is offline</text></message>)";

// Criteria CRITERIA on MediaAgent MA and store STORE; status 2001 names the
// MediaAgent as the object of the criteria without a store.
EvAlertEx maEvent(int criteria, const std::string& description, int ma = 7, int store = 55,
                  const std::string& more = "") {
  return JobTest::event(R"({"alertType":13,"alertCriteria":)" + std::to_string(criteria) +
                        R"(,"alertStatus":2001,"clientId":12,"subClientId":118,"appTypeId":33,"instanceId":1,)"
                        R"("backupsetId":40,"mediaAgentId":)" + std::to_string(ma) + R"(,"otherLibId":)" +
                        std::to_string(store) + R"(,"freeSpace":512,"threshold":1024,"failureReason":"low",)"
                        R"("comment":"ddb","description":")" + description + "\"" + more + "}");
}

class MediaAgentTest : public JobTest {
 protected:
  void SetUp() override {
    JobTest::SetUp();
    if (!IsSkipped() && !HasFatalFailure()) seedRule(13, 5);
  }
  // The criteria's own parameters of EVENTID, by type.
  std::map<int, std::string> detailParams(int eventId) {
    std::map<int, std::string> out;
    for (const auto& [type, value] : params(eventId))
      if (type == 68 || (type >= 128 && type != 255)) out[type] = value;
    return out;
  }
};

TEST_P(MediaAgentTest, CriteriaParametersAndTheObjectHeldBack) {
  const struct {
    int criteria;
    std::string description;
    std::map<int, std::string> params;
    std::string entity;
  } cases[] = {
      {72, kLowDisk, {{128, "DDB-Store-01"}, {68, "SP-Gold, SP-Silver"}, {130, "ma-east-02"}}, "MediaAgent|7"},
      {72, "", {}, "MediaAgent|7"},
      {84, kOffline,
       {{138, "17"}, {139, "3"}, {140, "2"}, {141, "1"}, {142, "path not reachable"}, {257, "1700000000"}},
       "SIDBSubStore|55"},
      // Without its message an offline store is recorded but not held back.
      {84, "", {}, ""},
      {70, kEntity, {{138, "17"}, {139, "4"}, {140, "2"}, {141, "1"}, {142, "Partition 2 is offline"}},
       "SIDBSubStore|55"},
      // A message that does not read still stores its (empty) fields.
      {70, "not a message", {{138, "0"}, {139, "0"}, {140, "0"}, {141, "0"}, {142, ""}}, "SIDBSubStore|55"},
  };
  int n = 0;
  for (const auto& c : cases) {
    const std::string what = "case " + std::to_string(n++);
    EvAlertEx a = maEvent(c.criteria, c.description, 7, 55);
    ASSERT_TRUE(run(a)) << what;
    const int id = lastEventId();
    EXPECT_EQ(1, detected(id).processStat) << what;
    EXPECT_EQ(c.entity, detected(id).entityId) << what;
    EXPECT_EQ(c.params, detailParams(id)) << what;
    if (c.criteria == 72 && !c.description.empty()) {
      // The store's figures replace the event's lists, for the caller only.
      EXPECT_EQ(std::vector<std::string>{"/ddb/store01"}, a.getFoldersList()) << what;
      EXPECT_EQ(std::vector<int32_t>{2048}, a.getFreeSpaceList()) << what;
      EXPECT_EQ(std::vector<int32_t>{10240}, a.getThresholdsList()) << what;
      EXPECT_TRUE(msgParams(id).empty()) << what;
    }
    EXPECT_EQ("low", param(id, 1)) << what;
    EXPECT_EQ("ddb", param(id, 255)) << what;
    // The detail row: no subclient, no audit operation, no comment of the event.
    for (const auto& [column, value] : std::vector<std::pair<const char*, long long>>{
             {"clientId", 12}, {"appTypeId", 33}, {"instanceId", 1}, {"backupSetId", 40}, {"mediaAgentId", 7},
             {"freeSpace", 512}, {"threshold", 1024}, {"subClientId", 0}, {"evGuiAuditOperation", 0}})
      EXPECT_EQ(value, detailInt("NTDclntAgentMAConfig", column, id)) << what << " " << column;
    EXPECT_EQ("", queryText("SELECT comment FROM NTDclntAgentMAConfig WHERE eventId = " + std::to_string(id)));
    for (const char* t : {"NTDetectedAlerts", "NTDclntAgentMAConfig", "NTDparams", "NTDMsgParam"})
      exec(std::string("DELETE FROM ") + t);
  }
  EXPECT_EQ(1, log().count("Error in unserializing DDB entity [not a message]"));
}

// An offline store is one occurrence per store, whichever MediaAgent
// reports it; other criteria are one per MediaAgent.
TEST_P(MediaAgentTest, RepeatsAreMatchedOnTheirObject) {
  const struct {
    int criteria;
    std::string description;
    int ma, store;
    bool repeat;
  } steps[] = {
      {84, kOffline, 7, 55, false}, {84, kOffline, 8, 55, true},  {84, kOffline, 7, 56, false},
      {72, kLowDisk, 7, 55, false}, {72, kLowDisk, 7, 56, true},  {72, kLowDisk, 8, 55, false},
      {70, kEntity, 7, 57, false},  {70, kEntity, 9, 57, true},
  };
  std::map<int, int> firstOf;  // per criteria: the last new occurrence
  for (const auto& s : steps) {
    const long long before = detectedCount();
    EvAlertEx a = maEvent(s.criteria, s.description, s.ma, s.store);
    ASSERT_TRUE(run(a)) << s.criteria << "/" << s.ma << "/" << s.store;
    EXPECT_EQ(before + (s.repeat ? 0 : 1), detectedCount()) << s.criteria << "/" << s.ma << "/" << s.store;
    if (s.repeat) {
      EXPECT_EQ(firstOf[s.criteria], lastEventId()) << s.criteria;
      // The repeat rewrote the detail row with the reporting MediaAgent.
      EXPECT_EQ(s.ma, detailInt("NTDclntAgentMAConfig", "mediaAgentId", lastEventId()));
    } else {
      firstOf[s.criteria] = lastEventId();
    }
  }
}

TEST_P(MediaAgentTest, RepeatKeepsStoredColumnsAndRemakesAMissingRow) {
  EvAlertEx first = maEvent(72, "", 7, 55, R"(,"jobId":184600)");
  ASSERT_TRUE(run(first));
  const int id = lastEventId();
  exec("UPDATE NTDclntAgentMAConfig SET comment = 'it''s known', evGuiAuditOperation = 42 WHERE eventId = " +
       std::to_string(id));
  exec("UPDATE NTDetectedAlerts SET processStat = 2 WHERE eventId = " + std::to_string(id));

  EvAlertEx second = JobTest::event(R"({"alertType":13,"alertCriteria":72,"alertStatus":2001,"mediaAgentId":7,)"
                                    R"("freeSpace":100,"failureReason":"lower"})");
  ASSERT_TRUE(run(second));
  EXPECT_EQ(id, lastEventId());
  EXPECT_EQ(2, detected(id).processStat);
  EXPECT_EQ(100, detailInt("NTDclntAgentMAConfig", "freeSpace", id));
  EXPECT_EQ(0, detailInt("NTDclntAgentMAConfig", "clientId", id));
  EXPECT_EQ(42, detailInt("NTDclntAgentMAConfig", "evGuiAuditOperation", id));
  EXPECT_EQ("it's known", queryText("SELECT comment FROM NTDclntAgentMAConfig WHERE eventId = " + std::to_string(id)));
  EXPECT_EQ("lower", param(id, 1));

  exec("DELETE FROM NTDclntAgentMAConfig");
  ASSERT_TRUE(run(second));
  EXPECT_EQ(1, log().count("No entry in table client config for EventId [" + std::to_string(id) + "].So inserting. "));
  EXPECT_EQ(1, detailRows("NTDclntAgentMAConfig", id));
  EXPECT_EQ(1, detectedCount());

  // Cleared: the occurrence moves to state 4; cleared again with nothing
  // pending writes nothing.
  EvAlertEx cleared = JobTest::event(R"({"alertType":13,"alertCriteria":72,"alertStatus":2001,"mediaAgentId":7,)"
                                     R"("conditionCleared":true})");
  ASSERT_TRUE(run(cleared));
  EXPECT_EQ(4, detected(id).processStat);
  const long long rows = countRows("NTDparams") + countRows("NTDclntAgentMAConfig");
  ASSERT_TRUE(run(cleared));
  EXPECT_EQ(1, detectedCount());
  EXPECT_EQ(rows, countRows("NTDparams") + countRows("NTDclntAgentMAConfig"));
}

TEST_P(MediaAgentTest, CriteriaClearedFlagAndPercentFigures) {
  // Alert id 2000 is a MediaAgent alert; condition 3034 clears its criteria.
  EvAlertEx flagged = JobTest::event(
      R"({"alertType":13,"alertCriteria":5,"alert":2000,"condition":3034,"mediaAgentId":7,"foldersList":["/m"],)"
      R"("freeSpaceList":[5],"thresholdsList":[10],"description":"<message type=\"30,2192\" class=\"503988448\">)"
      R"(<int field=\"1\" key=\"7176824\">1</int></message>"})");
  ASSERT_TRUE(run(flagged));
  EXPECT_EQ("1", param(lastEventId(), 254));
  EXPECT_EQ((std::vector<std::string>{"/m", "10%", "5%"}), msgParams(lastEventId()));
  EvAlertEx plain = maEvent(72, "", 8);
  ASSERT_TRUE(run(plain));
  EXPECT_EQ("<none>", param(lastEventId(), 254));
}

EVD_INSTANTIATE_BACKENDS(MediaAgentTest);

}  // namespace

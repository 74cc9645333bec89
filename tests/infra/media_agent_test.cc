// MediaAgent configuration alerts (alert type 13) through StoreNotiData, on
// both backends.
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
EvAlertEx maEvent(int criteria, const std::string& description, int ma = 7, int store = 55) {
  return JobTest::jobAlert(13, criteria, R"(,"alertStatus":2001,"clientId":12,"mediaAgentId":)" + std::to_string(ma) +
                                             R"(,"otherLibId":)" + std::to_string(store) + R"(,"description":")" +
                                             description + "\"");
}

class MediaAgentTest : public JobTest {};
TEST_P(MediaAgentTest, CriteriaParametersAndTheObjectHeldBack) {
  seedRule(13, 5);
  const struct {
    int criteria;
    std::string description;
    std::map<int, std::string> params;  // the criteria's own
    std::string entity;
  } cases[] = {
      {72, kLowDisk, {{128, "DDB-Store-01"}, {68, "SP-Gold, SP-Silver"}, {130, "ma-east-02"}}, "MediaAgent|7"},
      {84, kOffline,
       {{138, "17"}, {139, "3"}, {140, "2"}, {141, "1"}, {142, "path not reachable"}, {257, "1700000000"}},
       "SIDBSubStore|55"},
      // Without its message an offline store is recorded but not held back.
      {84, "", {}, ""},
      {70, kEntity, {{138, "17"}, {139, "4"}, {140, "2"}, {141, "1"}, {142, "Partition 2 is offline"}},
       "SIDBSubStore|55"},
      // A message that does not read still stores its (empty) fields.
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.criteria);
    exec("DELETE FROM NTDetectedAlerts");
    EvAlertEx a = maEvent(c.criteria, c.description, 7, 55);
    ASSERT_TRUE(run(a));
    const int id = lastEventId();
    EXPECT_EQ(c.entity, detected(id).entityId);
    std::map<int, std::string> own;
    for (const auto& [type, value] : params(id))
      if (type == 68 || (type >= 128 && type != 255)) own[type] = value;
    EXPECT_EQ(c.params, own);
    if (c.criteria != 72) continue;
    // The store's figures replace the event's lists, for the caller only.
    EXPECT_EQ(std::vector<std::string>{"/ddb/store01"}, a.getFoldersList());
    EXPECT_EQ(std::vector<int32_t>{2048}, a.getFreeSpaceList());
    EXPECT_EQ(std::vector<int32_t>{10240}, a.getThresholdsList());
    EXPECT_TRUE(msgParams(id).empty());
  }
}

// A store alert that cannot hold its store back names the occurrence it was
// matching, also on a repeat: the suppression rows of the pending occurrences
// are removed and writing them again is refused.
TEST_P(MediaAgentTest, AFailedHoldBackOfAStoreNamesTheOccurrence) {
  seedRule(13, 5);
  const std::pair<int, std::string> cases[] = {{70, kEntity}, {84, kOffline}};
  std::vector<int> ids;
  for (const auto& [criteria, description] : cases) {
    ASSERT_TRUE(run(maEvent(criteria, description)));
    ids.push_back(lastEventId());
  }
  exec("DELETE FROM NTDparams WHERE type = 26");
  refuseInserts("NTDparams", "value", "SIDBSubStore");
  for (size_t i = 0; i < ids.size(); ++i) {
    SCOPED_TRACE(cases[i].first);
    EXPECT_FALSE(run(maEvent(cases[i].first, cases[i].second)));
    EXPECT_EQ(ids[i], lastEventId());
    EXPECT_EQ(1, log().count("Unable to enable suppression. error for eventId [" + std::to_string(ids[i]) + "]"))
        << log().text();
  }
  EXPECT_EQ(2, detectedCount());
}

EVD_INSTANTIATE_BACKENDS(MediaAgentTest);

}  // namespace

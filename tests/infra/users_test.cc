// User (alert type 70) and user-group (71) alerts end to end through
// StoreNotiData, on both backends.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <utility>
#include <vector>

#include "jobs/job_harness.h"

namespace {

using evd::test::JobTest;
using ParamSet = std::multiset<std::pair<int, std::string>>;

// A message of docs/messages.md as the JSON text of a description.
std::string described(const std::string& xml) {
  std::string out = R"(,"description":")";
  for (char c : xml) out += c == '"' ? std::string("\\\"") : std::string(1, c);
  return out + "\"";
}
std::string userInfo(int userId, const std::string& name) {
  return described(R"(<message type="118,254"><object field="1"><int field="0">)" + std::to_string(userId) +
                   R"(</int><text field="2">)" + name + "</text></object></message>");
}
std::string groupInfo(int groupId, const std::string& name) {
  return described(R"(<message type="118,254"><object field="2"><int field="0">)" + std::to_string(groupId) +
                   R"(</int><text field="1">)" + name + "</text></object></message>");
}
std::string roamQuota(int subClient, long long limit, long long used, long long size) {
  return described(R"(<message type="118,229"><object field="1"><int field="0">)" + std::to_string(subClient) +
                   R"(</int></object><int field="2">)" + std::to_string(limit) + R"(</int><int field="3">)" +
                   std::to_string(used) + R"(</int><int field="4">)" + std::to_string(size) + "</int></message>");
}
constexpr const char* kNotAMessage = R"(,"description":"quota exceeded")";

// TYPE/CRITERIA for user WHOM with MORE.
EvAlertEx userEvent(int type, int criteria, const std::string& more, int whom = 9) {
  return JobTest::event(R"({"alertType":)" + std::to_string(type) + R"(,"alertCriteria":)" +
                        std::to_string(criteria) + R"(,"whomId":)" + std::to_string(whom) +
                        R"(,"comment":"Quota of 'jdoe' exceeded","eventMsgList":[{"tokenId":1241516033,)"
                        R"("msgId":1241516032,"type":11,"msgIndex":1,"data":"jdoe"}])" +
                        more + "}");
}

class UsersTest : public JobTest {
 protected:
  void SetUp() override {
    JobTest::SetUp();
    if (!IsSkipped() && !HasFatalFailure())
      for (int type : {70, 71}) seedRule(type, 8);
  }
  ParamSet paramSet(int eventId) {
    const Params p = params(eventId);
    return ParamSet(p.begin(), p.end());
  }
  // userId, subClientId, quotaLimit, spaceConsumed, objectSize, jobId, evGuiAuditOperation.
  std::vector<long long> userRow(int eventId) {
    std::vector<long long> out;
    for (const char* c :
         {"userId", "subClientId", "quotaLimit", "spaceConsumed", "objectSize", "jobId", "evGuiAuditOperation"})
      out.push_back(detailInt("NTUserConfig", c, eventId));
    return out;
  }
  std::string text(const std::string& table, const std::string& column, int eventId) {
    return queryText("SELECT " + column + " FROM " + table + " WHERE eventId = " + std::to_string(eventId));
  }
  void setState(int eventId, int state) {
    exec("UPDATE NTDetectedAlerts SET processStat = " + std::to_string(state) + " WHERE eventId = " +
         std::to_string(eventId));
  }
  const ParamSet kRaised{{24, "9"}, {255, "Quota of 'jdoe' exceeded"}};
};

TEST_P(UsersTest, NewUserAndGroupOccurrencesStoreTheirMessage) {
  const std::string fsQuota = described(
      R"(<message type="30,2463"><int field="1">10737418240</int><int field="2">10200547328</int>)"
      R"(<int field="3">524288</int><int field="4">88213</int></message>)");
  const struct {
    int criteria;
    std::string more;
    std::vector<long long> row;
    std::string name;
    bool suppressed = false;  // the user named as the suppression object
  } users[] = {
      {16, userInfo(501, "O'Brien") + R"(,"jobId":21474836487)", {501, 0, 0, 0, 0, 0, 7}, "O'Brien"},
      {16, kNotAMessage, {0, 0, 0, 0, 0, 0, -1}, ""},
      {98, fsQuota + R"(,"jobId":5)", {9, 0, 10737418240, 10200547328, 524288, 88213, 0}, ""},
      {100, kNotAMessage, {9, 0, 0, 0, 0, 0, 0}, ""},
      {80, roamQuota(77, 5368709120, 5000000000, 4096), {9, 77, 5368709120, 5000000000, 4096, 0, 0}, "", true},
      {81, kNotAMessage, {9, 0, 0, 0, 0, 0, 0}, "", true},
  };
  for (const auto& c : users) {
    EvAlertEx a = userEvent(70, c.criteria, c.more);
    ASSERT_TRUE(run(a)) << c.criteria << c.more;
    const int id = lastEventId();
    EXPECT_EQ(1, detected(id).processStat) << c.criteria;
    EXPECT_EQ(c.row, userRow(id)) << c.criteria << c.more;
    EXPECT_EQ(c.name, text("NTUserConfig", "userName", id)) << c.criteria;
    ParamSet expected = kRaised;
    if (c.suppressed) expected.insert({{26, "User"}, {27, "9"}});
    EXPECT_EQ(expected, paramSet(id)) << c.criteria;
    EXPECT_EQ(std::vector<std::string>{"jdoe"}, msgParams(id)) << c.criteria;
  }

  const struct {
    std::string more;
    long long groupId, audit;
    std::string name;
  } groups[] = {
      {groupInfo(12, "Backup 'Operators'") + R"(,"jobId":184701)", 12, 184701, "Backup 'Operators'"},
      {kNotAMessage, 0, -1, ""},
      {userInfo(501, "jsmith"), 0, -1, ""},
  };
  for (const auto& g : groups) {
    EvAlertEx a = userEvent(71, 1, g.more);
    ASSERT_TRUE(run(a)) << g.more;
    const int id = lastEventId();
    EXPECT_EQ(1, detected(id).processStat);
    EXPECT_EQ(g.groupId, detailInt("NTUserGroupConfig", "userGroupId", id)) << g.more;
    EXPECT_EQ(g.audit, detailInt("NTUserGroupConfig", "evGuiAuditOperation", id)) << g.more;
    EXPECT_EQ(g.name, text("NTUserGroupConfig", "userGroupName", id)) << g.more;
    EXPECT_EQ(kRaised, paramSet(id));
  }
  EXPECT_EQ(3, countRows("NTUserGroupConfig"));
}

TEST_P(UsersTest, RepeatedQuotaAlertRefreshesItsRowAndAddsNoParameters) {
  EvAlertEx first = userEvent(70, 80, roamQuota(77, 5368709120, 5000000000, 4096));
  ASSERT_TRUE(run(first));
  const int id = lastEventId();
  const ParamSet raised = paramSet(id);
  exec("UPDATE NTUserConfig SET jobId = 31 WHERE eventId = " + std::to_string(id));
  setState(id, 2);

  // The quota columns rewritten; the stored job id kept; no parameter added;
  // the state left as the repeat found it.
  EvAlertEx again = userEvent(70, 80, roamQuota(78, 6442450944, 6000000000, 8192));
  ASSERT_TRUE(run(again));
  EXPECT_EQ(id, lastEventId());
  EXPECT_EQ(1, detectedCount());
  EXPECT_EQ(1, countRows("NTUserConfig"));
  EXPECT_EQ((std::vector<long long>{9, 78, 6442450944, 6000000000, 8192, 31, 0}), userRow(id));
  EXPECT_EQ(raised, paramSet(id));
  EXPECT_EQ(1u, msgParams(id).size());
  EXPECT_EQ(2, detected(id).processStat);

  // Its detail row gone: inserted again, and the parameters with it.
  exec("DELETE FROM NTUserConfig");
  ASSERT_TRUE(run(again));
  EXPECT_EQ(1, log().count("No entry in table user Config for EventId [" + std::to_string(id) + "].So inserting. "));
  EXPECT_EQ((std::vector<long long>{9, 78, 6442450944, 6000000000, 8192, 0, 0}), userRow(id));
  EXPECT_EQ(2u, params(id).count(24));

  // Another user is another occurrence; the clearing ends the first.
  EvAlertEx other = userEvent(70, 80, roamQuota(77, 1, 1, 1), 10);
  ASSERT_TRUE(run(other));
  EXPECT_NE(id, lastEventId());
  EvAlertEx cleared = userEvent(70, 80, R"(,"conditionCleared":true)");
  ASSERT_TRUE(run(cleared));
  EXPECT_EQ(4, detected(id).processStat);
  EXPECT_EQ(2, detectedCount());

  // A clearing with nothing pending writes nothing; other criteria never match.
  EvAlertEx nothing = userEvent(70, 80, R"(,"conditionCleared":true)", 11);
  ASSERT_TRUE(run(nothing));
  EXPECT_EQ(2, detectedCount());
  for (int criteria : {16, 16, 98, 98}) {
    EvAlertEx a = userEvent(70, criteria, kNotAMessage);
    ASSERT_TRUE(run(a)) << criteria;
  }
  EXPECT_EQ(6, detectedCount());
  EXPECT_EQ(6, countRows("NTUserConfig"));
}

TEST_P(UsersTest, NamesAreCutToTheirColumns) {
  // 600 bytes each; the columns keep 510 and never split a character.
  const std::string ascii(600, 'a');
  std::string accented;
  for (int i = 0; i < 300; ++i) accented += "\xC3\xA9";
  EvAlertEx user = userEvent(70, 16, userInfo(501, ascii));
  ASSERT_TRUE(run(user));
  EXPECT_EQ(ascii.substr(0, 510), text("NTUserConfig", "userName", lastEventId()));
  EvAlertEx group = userEvent(71, 1, groupInfo(12, accented));
  ASSERT_TRUE(run(group));
  EXPECT_EQ(accented.substr(0, 510), text("NTUserGroupConfig", "userGroupName", lastEventId()));
}

EVD_INSTANTIATE_BACKENDS(UsersTest);

}  // namespace

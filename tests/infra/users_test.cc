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

// A description holding the message of docs/messages.md whose type is TYPE
// and whose body is BODY (with ' for ").
std::string message(const std::string& type, std::string body) {
  for (char& c : body) c = c == '\'' ? '"' : c;
  std::string xml = "<message type=\"" + type + "\">" + body + "</message>", out = R"(,"description":")";
  for (char c : xml) out += c == '"' ? std::string("\\\"") : std::string(1, c);
  return out + "\"";
}
std::string named(int field, int id, const std::string& text) {  // user 1, group 2
  std::string name;
  for (char c : text) name += c == '\'' ? std::string("&apos;") : std::string(1, c);
  return message("118,254", "<object field='" + std::to_string(field) + "'><int field='0'>" + std::to_string(id) +
                                "</int><text field='" + (field == 1 ? "2" : "1") + "'>" + name + "</text></object>");
}
std::string roam(int subClient, long long limit, long long used) {
  return message("118,229", "<object field='1'><int field='0'>" + std::to_string(subClient) +
                                "</int></object><int field='2'>" + std::to_string(limit) + "</int><int field='3'>" +
                                std::to_string(used) + "</int><int field='4'>4096</int>");
}
const std::string kNotAMessage = R"(,"description":"quota exceeded")";

EvAlertEx userEvent(int type, int criteria, const std::string& more, int whom = 9) {
  return JobTest::event(R"({"alertType":)" + std::to_string(type) + R"(,"alertCriteria":)" +
                        std::to_string(criteria) + R"(,"whomId":)" + std::to_string(whom) +
                        R"(,"comment":"Quota of 'jdoe'","eventMsgList":[{"msgId":1,"msgIndex":1,"data":"jdoe"}])" +
                        more + "}");
}

class UsersTest : public JobTest {
 protected:
  void SetUp() override {
    JobTest::SetUp();
    if (!IsSkipped() && !HasFatalFailure()) seedRule(70), seedRule(71);
  }
  ParamSet paramSet(int eventId) {
    const Params p = params(eventId);
    return ParamSet(p.begin(), p.end());
  }
  // userId, subClientId, quotaLimit, spaceConsumed, objectSize, jobId, evGuiAuditOperation.
  std::vector<long long> userRow(int eventId) {
    std::vector<long long> out;
    for (const char* c : {"userId", "subClientId", "quotaLimit", "spaceConsumed", "objectSize", "jobId",
                          "evGuiAuditOperation"})
      out.push_back(detailInt("NTUserConfig", c, eventId));
    return out;
  }
  std::string column(const std::string& table, const std::string& name) {
    return queryText("SELECT " + name + " FROM " + table + " WHERE eventId = " + std::to_string(lastEventId()));
  }
  const ParamSet kRaised{{24, "9"}, {255, "Quota of 'jdoe'"}};
};

TEST_P(UsersTest, NewOccurrencesStoreTheirMessage) {
  // Names of 600 bytes are cut to 510, never inside a character.
  const std::string ascii(600, 'a');
  std::string accented;
  for (int i = 0; i < 300; ++i) accented += "\xC3\xA9";
  const std::string fsQuota = message("30,2463", "<int field='1'>10737418240</int><int field='2'>10200547328</int>"
                                                 "<int field='3'>524288</int><int field='4'>88213</int>");
  const struct {
    int type, criteria;
    std::string more;
    std::vector<long long> row;  // user row, or group id and audit operation
    std::string name;
  } cases[] = {
      {70, 16, named(1, 501, "O'Brien") + R"(,"jobId":21474836487)", {501, 0, 0, 0, 0, 0, 7}, "O'Brien"},
      {70, 16, kNotAMessage, {0, 0, 0, 0, 0, 0, -1}, ""},
      {70, 98, fsQuota + R"(,"jobId":5)", {9, 0, 10737418240, 10200547328, 524288, 88213, 0}, ""},
      {70, 100, kNotAMessage, {9, 0, 0, 0, 0, 0, 0}, ""},
      {70, 80, roam(77, 5368709120, 5000000000), {9, 77, 5368709120, 5000000000, 4096, 0, 0}, ""},
      {70, 81, kNotAMessage, {9, 0, 0, 0, 0, 0, 0}, ""},
      {71, 1, named(2, 12, "Backup 'Operators'") + R"(,"jobId":184701)", {12, 184701}, "Backup 'Operators'"},
      {71, 1, named(1, 501, "jsmith"), {0, -1}, ""},
      {70, 16, named(1, 501, ascii), {501, 0, 0, 0, 0, 0, -1}, ascii.substr(0, 510)},
      {71, 1, named(2, 12, accented), {12, -1}, accented.substr(0, 510)},
  };
  for (const auto& c : cases) {
    const std::string what = std::to_string(c.criteria) + c.more;
    EvAlertEx a = userEvent(c.type, c.criteria, c.more);
    ASSERT_TRUE(run(a)) << what;
    const int id = lastEventId();
    EXPECT_EQ(1, detected(id).processStat) << what;
    if (c.type == 70) {
      EXPECT_EQ(c.row, userRow(id)) << what;
      EXPECT_EQ(c.name, column("NTUserConfig", "userName")) << what;
    } else {
      EXPECT_EQ(c.row, (std::vector<long long>{detailInt("NTUserGroupConfig", "userGroupId", id),
                                               detailInt("NTUserGroupConfig", "evGuiAuditOperation", id)}));
      EXPECT_EQ(c.name, column("NTUserGroupConfig", "userGroupName")) << what;
    }
    // Quota alerts of criteria 80 and 81 also name the user as the suppression object.
    ParamSet expected = kRaised;
    if (c.type == 70 && (c.criteria == 80 || c.criteria == 81)) expected.insert({{26, "User"}, {27, "9"}});
    EXPECT_EQ(expected, paramSet(id)) << what;
    EXPECT_EQ(std::vector<std::string>{"jdoe"}, msgParams(id)) << what;
  }
}

TEST_P(UsersTest, RepeatedQuotaAlertRefreshesItsRowAndAddsNoParameters) {
  EvAlertEx first = userEvent(70, 80, roam(77, 5368709120, 5000000000));
  ASSERT_TRUE(run(first));
  const int id = lastEventId();
  const ParamSet raised = paramSet(id);
  exec("UPDATE NTUserConfig SET jobId = 31");
  exec("UPDATE NTDetectedAlerts SET processStat = 2");

  // Quota columns rewritten, the stored job id and the state kept, no parameter added.
  EvAlertEx again = userEvent(70, 80, roam(78, 6442450944, 6000000000));
  ASSERT_TRUE(run(again));
  EXPECT_EQ(id, lastEventId());
  EXPECT_EQ(1, detectedCount() * countRows("NTUserConfig"));
  EXPECT_EQ((std::vector<long long>{9, 78, 6442450944, 6000000000, 4096, 31, 0}), userRow(id));
  EXPECT_EQ(raised, paramSet(id));
  EXPECT_EQ(1u, msgParams(id).size());
  EXPECT_EQ(2, detected(id).processStat);

  // Its detail row gone: inserted again, and the parameters with it.
  exec("DELETE FROM NTUserConfig");
  ASSERT_TRUE(run(again));
  EXPECT_EQ(1, log().count("No entry in table user Config for EventId [" + std::to_string(id) + "].So inserting. "));
  EXPECT_EQ((std::vector<long long>{9, 78, 6442450944, 6000000000, 4096, 0, 0}), userRow(id));
  EXPECT_EQ(2u, params(id).count(24));

  // Another user is another occurrence; a clearing ends the first, and one
  // with nothing pending writes nothing. Other criteria never match.
  EvAlertEx other = userEvent(70, 80, roam(77, 1, 1), 10), cleared = userEvent(70, 80, R"(,"conditionCleared":true)"),
            nothing = userEvent(70, 80, R"(,"conditionCleared":true)", 11);
  for (EvAlertEx* a : {&other, &cleared, &nothing}) ASSERT_TRUE(run(*a));
  EXPECT_EQ(4, detected(id).processStat);
  EXPECT_EQ(2, detectedCount());
  for (int criteria : {16, 16, 98, 98}) {
    EvAlertEx a = userEvent(70, criteria, kNotAMessage);
    ASSERT_TRUE(run(a)) << criteria;
  }
  EXPECT_EQ(6, countRows("NTUserConfig"));
}

EVD_INSTANTIATE_BACKENDS(UsersTest);

}  // namespace

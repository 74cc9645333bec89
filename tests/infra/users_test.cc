// User (alert type 70) and user-group (71) alerts through StoreNotiData, on
// both backends.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "jobs/job_harness.h"

namespace {

using evd::test::JobTest;

// A description holding the message (docs/messages.md) of TYPE with BODY, ' standing for ".
std::string message(const std::string& type, const std::string& body) {
  std::string out = R"(,"description":"<message type=\")" + type + R"(\">)";
  for (char c : body) out += c == '\'' ? std::string(R"(\")") : std::string(1, c);
  return out + R"(</message>")";
}
std::string named(int field, int id, const std::string& name) {  // user 1, group 2
  return message("118,254", "<object field='" + std::to_string(field) + "'><int field='0'>" + std::to_string(id) +
                                "</int><text field='" + (field == 1 ? "2" : "1") + "'>" + name + "</text></object>");
}
std::string roam(int subClient, long long limit) {
  return message("118,229", "<object field='1'><int field='0'>" + std::to_string(subClient) +
                                "</int></object><int field='2'>" + std::to_string(limit) +
                                "</int><int field='3'>5000</int><int field='4'>4096</int>");
}

EvAlertEx user(int type, int criteria, const std::string& more) {
  return JobTest::jobAlert(type, criteria, more, {{"whomId", "9"}, {"comment", R"("Quota")"}});
}

class UsersTest : public JobTest {};

TEST_P(UsersTest, EachCriteriaReadsItsOwnMessage) {
  seedRule(70), seedRule(71);
  std::string accented;
  for (int i = 0; i < 300; ++i) accented += "\xC3\xA9";
  const struct {
    int type, criteria;
    std::string more;
    DetailColumns row;
    std::string name;  // cut to 510 bytes, never inside a character
  } cases[] = {
      // The quota alert's job is its message's, not the event's.
      {70, 98, message("30,2463", "<int field='1'>1024</int><int field='3'>512</int><int field='4'>88213</int>") +
                   R"(,"jobId":5)", {{"userId", 9}, {"quotaLimit", 1024}, {"objectSize", 512}, {"jobId", 88213}}, ""},
      {70, 80, roam(77, 5368709120), {{"subClientId", 77}, {"quotaLimit", 5368709120}, {"objectSize", 4096}}, ""},
      {71, 1, named(2, 12, accented) + R"(,"jobId":184701)",
       {{"userGroupId", 12}, {"evGuiAuditOperation", 184701}}, accented.substr(0, 510)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.criteria);
    EvAlertEx a = user(c.type, c.criteria, c.more);
    ASSERT_TRUE(run(a));
    const int id = lastEventId();
    expectColumns(c.type == 70 ? "NTUserConfig" : "NTUserGroupConfig", c.row, id);
    EXPECT_EQ(c.name, queryText(std::string(c.type == 70 ? "SELECT userName FROM NTUserConfig"
                                                         : "SELECT userGroupName FROM NTUserGroupConfig") +
                                " WHERE eventId = " + std::to_string(id)));
    // A matched quota alert also names the user as the suppression object.
    EXPECT_EQ((c.criteria == 80 ? std::set<int>{24, 26, 27, 255} : std::set<int>{24, 255}), storedTypes(id));
  }
}

TEST_P(UsersTest, RepeatedQuotaAlertRefreshesItsRowAndAddsNoParameters) {
  seedRule(70);
  EvAlertEx first = user(70, 80, roam(77, 5368709120)), again = user(70, 80, roam(78, 6442450944));
  ASSERT_TRUE(run(first));
  const int id = lastEventId();
  const Params raised = params(id);
  exec("UPDATE NTUserConfig SET jobId = 31");
  ASSERT_TRUE(run(again));
  EXPECT_EQ(id, lastEventId());
  expectColumns("NTUserConfig", {{"subClientId", 78}, {"quotaLimit", 6442450944}, {"jobId", 31}}, id);
  EXPECT_EQ(raised, params(id));

  EvAlertEx changed = user(70, 16, "");  // other criteria are never matched
  ASSERT_TRUE(run(changed) && run(changed));
  EXPECT_EQ(3, detectedCount());
}

EVD_INSTANTIATE_BACKENDS(UsersTest);

}  // namespace

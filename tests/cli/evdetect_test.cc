// evdetect as a user runs it: real processes against both backends.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>

#include "support/db_fixture.h"

namespace {

struct Result {
  int status = -1;
  std::string out;  // standard output and error, in order
};

std::string quote(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

class CliTest : public evd::test::DbTest {
 protected:
  Result run(const std::string& args, const std::string& input = "", bool mergeStderr = true) {
    std::string cmd = std::string(EVDETECT_PATH) + " " + args + " --db " + quote(uri());
    if (!input.empty()) {
      std::string path = evd::test::tempPath("input") + ".jsonl";
      std::ofstream(path) << input;
      cmd += " < " + quote(path);
    } else {
      cmd += " < /dev/null";
    }
    if (mergeStderr) cmd += " 2>&1";
    Result r;
    FILE* p = popen(cmd.c_str(), "r");
    if (!p) return r;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) r.out.append(buf, n);
    int st = pclose(p);
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    return r;
  }
};

TEST_P(CliTest, InitIsIdempotentAndSeedsAlertTypes) {
  Result first = run("init");
  ASSERT_EQ(0, first.status) << first.out;
  Result second = run("init");
  ASSERT_EQ(0, second.status) << second.out;
  EXPECT_NE(std::string::npos, second.out.find("nothing created")) << second.out;
  EXPECT_EQ(50, queryInt("SELECT COUNT(*) FROM NTAlertType"));
  EXPECT_EQ(1, queryInt("SELECT categoryID FROM NTAlertType WHERE id = 3"));
}

TEST_P(CliTest, RunCountsEveryOutcomeAndExitStatusSaysWhy) {
  ASSERT_EQ(0, run("init").status);
  Result add = run("rule add --type 3 --name \"Backups: O'Brien\"");
  ASSERT_EQ(0, add.status) << add.out;
  ASSERT_EQ(0, run("rule add --type 14 --disabled").status);
  const std::string events =
      "{\"alertType\":14,\"alertCriteria\":56,\"storPolicyId\":3}\n"  // only a disabled rule: dropped
      "\n"
      "{\"alertType\":3,\"alertCriteria\":1,\"clientIdd\":5}\n"       // typo: unreadable
      "not json at all\n"
      "{\"alertType\":7,\"alertCriteria\":20,\"libraryId\":3}\n";     // no rule: dropped
  Result r = run("run - --json", events, false);
  EXPECT_EQ(5, r.status) << r.out;
  auto j = nlohmann::json::parse(r.out);
  EXPECT_EQ(4, j["read"]);
  EXPECT_EQ(2, j["dropped"]);
  EXPECT_EQ(2, j["unreadable"]);
  EXPECT_EQ(0, j["failed"]);
  EXPECT_EQ(0, j["handled"]);
  EXPECT_EQ(0, j["blocked"]);
  EXPECT_EQ(0, queryInt("SELECT COUNT(*) FROM NTDetectedAlerts"));

  // Errors name the line and the key.
  Result text = run("run -", events);
  EXPECT_NE(std::string::npos, text.out.find("<stdin>:3:")) << text.out;
  EXPECT_NE(std::string::npos, text.out.find("clientIdd")) << text.out;
  EXPECT_NE(std::string::npos, text.out.find("<stdin>:4:")) << text.out;

  // A blocked server drops nothing on the floor silently: it is counted.
  ASSERT_EQ(0, run("config set Server BlockAlerts 1").status);
  Result blocked = run("run - --json", "{\"alertType\":3,\"alertCriteria\":1}\n", false);
  EXPECT_EQ(0, blocked.status) << blocked.out;
  EXPECT_EQ(1, nlohmann::json::parse(blocked.out)["blocked"]);
}

TEST_P(CliTest, RulesAndSettingsRoundTrip) {
  ASSERT_EQ(0, run("init").status);
  Result id = run("rule add --type 65 --trend --last-value-filter --name \"It's a trend\"", "", false);
  ASSERT_EQ(0, id.status);
  Result list = run("rule list");
  EXPECT_NE(std::string::npos, list.out.find("It's a trend")) << list.out;
  EXPECT_NE(std::string::npos, list.out.find("trend last-value-filter")) << list.out;
  EXPECT_EQ(0x12000, queryInt("SELECT status FROM NTnotificationRule"));
  EXPECT_EQ(0, run("rule remove " + std::to_string(std::stoi(id.out))).status);
  EXPECT_EQ(7, run("rule remove 999").status);

  EXPECT_EQ(0, run("config set GlobalParam WebConsoleURL \"http://host/webconsole?a=1&b='x'\"").status);
  Result got = run("config get GlobalParam WebConsoleURL", "", false);
  EXPECT_EQ("http://host/webconsole?a=1&b='x'\n", got.out);
  EXPECT_EQ(7, run("config get GlobalParam Missing").status);
}

TEST_P(CliTest, ShowListsAndShowsOneOccurrenceWhole) {
  ASSERT_EQ(0, run("init").status);
  exec("INSERT INTO NTDetectedAlerts (criteria, alertType, category, status, processStat, entityId) "
       "VALUES (1, 3, 1, 0, 1, 'Client|12')");
  exec("INSERT INTO NTDetectedAlerts (alertType, processStat) VALUES (14, 4)");
  const long long id = queryInt("SELECT MIN(eventId) FROM NTDetectedAlerts");
  exec("INSERT INTO NTDdpDr (eventId, jobId_l, clientId) VALUES (" + std::to_string(id) + ", 77, 12)");
  exec("INSERT INTO NTDparams (eventId, type, value) VALUES (" + std::to_string(id) + ", 26, 'Client')");
  exec("INSERT INTO NTDparams (eventId, type, value) VALUES (" + std::to_string(id) + ", 27, '12')");
  exec("INSERT INTO NTDMsgParam (eventId, msgIndex, msgId, position, type, data) VALUES (" + std::to_string(id) +
       ", 1, 5001, 1, 11, 'fs01')");

  Result all = run("show --json", "", false);
  ASSERT_EQ(0, all.status) << all.out;
  auto list = nlohmann::json::parse(all.out);
  ASSERT_EQ(2u, list.size());
  EXPECT_EQ(14, list[0]["alertType"]);  // newest first
  EXPECT_EQ("Client|12", list[1]["entityId"]);
  Result filtered = run("show --json --state 4", "", false);
  EXPECT_EQ(1u, nlohmann::json::parse(filtered.out).size());

  Result one = run("show " + std::to_string(id) + " --json", "", false);
  ASSERT_EQ(0, one.status) << one.out;
  auto o = nlohmann::json::parse(one.out);
  EXPECT_EQ("NTDdpDr", o["detail"]["table"]);
  EXPECT_EQ(77, o["detail"]["row"]["jobId_l"]);
  ASSERT_EQ(2u, o["params"].size());
  EXPECT_EQ("ParamSuppressionObjectType", o["params"][0]["name"]);
  EXPECT_EQ("12", o["params"][1]["value"]);
  EXPECT_EQ("fs01", o["msgParams"][0]["args"][0]["data"]);
  EXPECT_EQ(7, run("show 99999").status);
}

TEST(CliErrors, OneLineAndAMeaningfulStatus) {
  std::string cmd = std::string(EVDETECT_PATH) + " show --db sqlite:/nonexistent-dir/x.db 2>&1";
  FILE* p = popen(cmd.c_str(), "r");
  ASSERT_TRUE(p);
  char buf[4096] = {};
  size_t n = fread(buf, 1, sizeof buf - 1, p);
  int st = pclose(p);
  std::string out(buf, n);
  EXPECT_EQ(3, WEXITSTATUS(st));
  EXPECT_EQ(1, std::count(out.begin(), out.end(), '\n')) << out;
  EXPECT_NE(std::string::npos, out.find("/nonexistent-dir/x.db")) << out;

  cmd = std::string(EVDETECT_PATH) + " run --frobnicate 2>&1";
  p = popen(cmd.c_str(), "r");
  ASSERT_TRUE(p);
  while (fread(buf, 1, sizeof buf, p) > 0) {
  }
  EXPECT_EQ(2, WEXITSTATUS(pclose(p)));
}

EVD_INSTANTIATE_BACKENDS(CliTest);

}  // namespace

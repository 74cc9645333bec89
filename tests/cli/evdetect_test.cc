// evdetect as a user runs it: real processes against both backends.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <vector>

#include "Db/Database.h"
#include "support/child_process.h"
#include "support/db_fixture.h"

namespace {

using evd::test::shellQuoted;

struct Result {
  int status = -1;
  std::string out;  // standard output, then standard error when merged
};

FILE* start(const std::string& cmd) { return popen(cmd.c_str(), "r"); }

Result finish(FILE* p) {
  Result r;
  if (!p) return r;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) r.out.append(buf, n);
  int st = pclose(p);
  r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  return r;
}

// ARGS may end in shell redirections of its own (">/dev/full", "<&-"),
// which then take the place of the input file.
std::string command(const std::string& args, const std::string& db, const std::string& input, bool mergeStderr) {
  // Standard error first, so that it stays on the pipe when ARGS redirect standard output.
  std::string cmd = std::string(EVDETECT_PATH) + (mergeStderr ? " 2>&1" : " 2>/dev/null") + " --db " + shellQuoted(db) +
                    " " + args;
  if (args.find('<') != std::string::npos) return cmd;
  const std::string path = evd::test::tempPath("input") + ".jsonl";
  std::ofstream(path, std::ios::binary) << input;
  return cmd + " < " + shellQuoted(path);
}

class CliTest : public evd::test::DbTest {
 protected:
  Result run(const std::string& args, const std::string& input = "", bool mergeStderr = true) {
    return finish(start(command(args, uri(), input, mergeStderr)));
  }
  // Every write to EvdSettings fails; the PostgreSQL trigger outlives the fixture and is dropped by the caller.
  void refuseSettingsWrites() {
    const std::string raise = " BEGIN SELECT RAISE(ABORT, 'settings are read-only'); END";
    if (!isPostgres()) {
      exec("CREATE TRIGGER evd_refuse_i BEFORE INSERT ON EvdSettings" + raise);
      exec("CREATE TRIGGER evd_refuse_u BEFORE UPDATE ON EvdSettings" + raise);
      return;
    }
    exec("CREATE OR REPLACE FUNCTION evd_refuse() RETURNS trigger LANGUAGE plpgsql AS "
         "$$BEGIN RAISE EXCEPTION 'settings are read-only'; END$$");
    exec("CREATE TRIGGER evd_refuse BEFORE INSERT OR UPDATE ON EvdSettings FOR EACH ROW EXECUTE FUNCTION evd_refuse()");
  }
};

TEST_P(CliTest, ConcurrentInitsCreateOneSchemaAndSeedEachTypeOnce) {
  // A database without the schema: a new file, or emptied PostgreSQL schema.
  std::string db = "sqlite:" + evd::test::tempPath("new") + ".db";
  if (isPostgres()) {
    std::string err;
    ASSERT_EQ(0, Db::dropSchema(uri(), &err)) << err;
    db = uri();
  }
  std::vector<FILE*> running;
  for (int i = 0; i < 4; ++i) running.push_back(start(command("init", db, "", true)));
  for (FILE* p : running) EXPECT_EQ(0, finish(p).status);
  if (!isPostgres()) Db::configure(db);
  Db::closeThreadConnection();
  EXPECT_EQ(50, queryInt("SELECT COUNT(*) FROM NTAlertType"));
}

// Bad input and faults: one line on standard error saying what and where, and a failing exit status.
TEST_P(CliTest, BadInputAndFaultsAreReportedNeverSwallowed) {
  const std::string missing = evd::test::tempPath("typo") + ".db";
  const std::string empty = evd::test::tempPath("empty") + ".db";
  std::ofstream(empty).flush();
  ASSERT_EQ(0, run("init").status);
  struct Case {
    const char* what;
    std::string db, args, input;  // db empty: the test's database
    int status;
    std::string said;
    bool oneLine = false;  // all the output is one line on standard error
  };
  const std::vector<Case> cases = {
      {"missing SQLite file", missing, "run -", "{}\n", 3, "evdetect init --db " + missing, true},
      {"file without the schema", empty, "rule list", "", 3, "evdetect init --db " + empty, true},
      {"password in a query parameter", "postgresql://u@127.0.0.1:1/x?sslmode=disable&password=s3cr3t", "show", "",
       3, "password=***", true},
      {"password in a connection string", "host=/nonexistent dbname=x password=s3cr3t", "show", "", 3,
       "'host=/nonexistent dbname=x password=***'", true},
      {"unknown scheme", "mysql://u:s3cr3t@db/x", "init", "", 2, "'mysql://u:***@db/x': unknown scheme", true},
      {"directory as input", "", "run /", "", 5, "cannot read '/': Is a directory", true},
      {"missing input file", "", "run nosuch.jsonl", "", 5, "cannot read 'nosuch.jsonl': No such file", true},
      {"following standard input", "", "run --follow -", "", 2, "--follow needs a FILE", true},
      {"a position with statements committing alone", "", "run x.jsonl --resume --commit per-statement", "", 2,
       "--resume needs --commit per-event", true},
      {"mistyped command", "", "rul list", "", 2, "'rul' is not a command; did you mean 'rule'?", true},
      {"mistyped subcommand", "", "rule lst", "", 2, "'lst' is not a 'rule' command; did you mean 'list'?", true},
      {"mistyped option", "", "show --lmit 3", "", 2, "unknown option '--lmit' for 'show'; did you mean '--limit'?", true},
      {"command missing", "", "config", "", 2, "'config' needs a command: get, set", true},
      {"value of the wrong type", "", "rule add --type abc", "", 2, "evdetect: rule add: Could not convert", true},
      {"limit of nothing", "", "show --limit 0", "", 2, "--limit must be 1 or more", true},
      {"alert type the database lacks", "", "rule add --type 40", "", 2, "the nearest is 30 (SharePoint)", true},
      {"no rule to enable", "", "rule enable 999", "", 7, "no rule 999", true},
      {"no rule to rename", "", "rule rename 999 x", "", 7, "no rule 999", true},
      {"closed standard input", "", "run - <&-", "", 5, "<stdin>: read error"},
      {"NUL inside a line", "", "run -", std::string("{}\0{\"bogusKey\":1}\n", 18), 5, "<stdin>:1: NUL byte"},
      {"line past the limit", "", "run -", std::string((1 << 20) + 1, '[') + "\n", 5, "line longer than 1048576"},
      {"occurrence 0", "", "show 0", "", 7, "no occurrence 0"},
      {"groups of single statements", "", "run - --commit per-statement --group 5", "{}\n", 2, "--group needs"},
      {"date not in the calendar", "", "show --since 2024-13-45", "", 2, "not '2024-13-45'"},
      {"full disk on a new rule's id", "", "rule add --type 3 >/dev/full", "", 8, "cannot write standard output"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Result r = finish(start(command(c.args, c.db.empty() ? uri() : c.db, c.input, true)));
    EXPECT_EQ(c.status, r.status) << r.out;
    EXPECT_NE(std::string::npos, r.out.find(c.said)) << r.out;
    EXPECT_EQ(std::string::npos, r.out.find("s3cr3t")) << r.out;
    if (c.oneLine) {
      EXPECT_EQ(0u, r.out.rfind("evdetect: ", 0)) << r.out;
      EXPECT_EQ(r.out.size() - 1, r.out.find('\n')) << r.out;
    }
  }
  EXPECT_FALSE(std::filesystem::exists(missing)) << "a mistyped path must not become a database";
  EXPECT_EQ(0u, std::filesystem::file_size(empty)) << "a refused file must stay as it was";
  EXPECT_EQ(0, queryInt("SELECT COUNT(*) FROM NTDetectedAlerts"));
}

// A database write the detector logs and survives still reaches standard error and the exit status.
TEST_P(CliTest, DatabaseErrorsThatDoNotFailTheEventStillFailTheRun) {
  exec("INSERT INTO KRCounter (name, next_l) VALUES ('Event_Counter', 41)");
  refuseSettingsWrites();
  Result r = run("run -", "{\"alertType\":58,\"alertCriteria\":1}\n");
  if (isPostgres()) exec("DROP TRIGGER IF EXISTS evd_refuse ON EvdSettings");
  EXPECT_EQ(3, r.status) << r.out;
  EXPECT_NE(std::string::npos, r.out.find("<stdin>:1: database error: EvdSettings")) << r.out;
  EXPECT_NE(std::string::npos, r.out.find("settings are read-only")) << r.out;
}

// Groups: every event is counted only once its group committed; a group that
// cannot commit fails all its events and no other; a quiet pipe does not
// hold a group back.
TEST_P(CliTest, GroupsCommitTogetherAndFailTogether) {
  ASSERT_EQ(0, run("init").status);  // the alert types' categories
  ASSERT_EQ(0, run("rule add --type 3").status);
  ASSERT_EQ(0, run("rule add --type 7").status);
  std::string events;
  for (int i = 0; i < 7; ++i)
    events += (i == 4 ? std::string("{\"alertType\":7,\"alertCriteria\":20") : "{\"alertType\":3,\"alertCriteria\":1") +
              ",\"libraryId\":3,\"jobId\":" + std::to_string(100 + i) + "}\n";
  if (isPostgres()) {
    // Refused at COMMIT: the second group of three (events 4 to 6) goes.
    exec("CREATE OR REPLACE FUNCTION evd_refuse_late() RETURNS trigger LANGUAGE plpgsql AS "
         "$$BEGIN IF NEW.alertType = 7 THEN RAISE EXCEPTION 'refused at commit'; END IF; RETURN NEW; END$$");
    exec("CREATE CONSTRAINT TRIGGER evd_refuse_late AFTER INSERT ON NTDetectedAlerts DEFERRABLE INITIALLY DEFERRED "
         "FOR EACH ROW EXECUTE FUNCTION evd_refuse_late()");
  }
  Result r = run("run - --group 3 --json", events, false);
  if (isPostgres()) exec("DROP TRIGGER evd_refuse_late ON NTDetectedAlerts");
  const auto j = nlohmann::json::parse(r.out);
  EXPECT_EQ(isPostgres() ? 4 : 0, r.status) << r.out;
  EXPECT_EQ(isPostgres() ? 4 : 7, j.at("handled")) << r.out;
  EXPECT_EQ(isPostgres() ? 3 : 0, j.at("failed")) << r.out;
  EXPECT_EQ(isPostgres() ? 4 : 7, queryInt("SELECT COUNT(*) FROM NTDetectedAlerts"));

  FILE* pipe = popen((std::string(EVDETECT_PATH) + " --db " + shellQuoted(uri()) + " run - --group 1000 >/dev/null").c_str(), "w");
  ASSERT_TRUE(pipe);
  std::fputs("{\"alertType\":3,\"alertCriteria\":1,\"jobId\":200}\n", pipe);
  std::fflush(pipe);
  const long long before = queryInt("SELECT COUNT(*) FROM NTDetectedAlerts");
  long long stored = 0;
  for (int i = 0; i < 300 && (stored = queryInt("SELECT COUNT(*) FROM NTDetectedAlerts") - before) == 0; ++i)
    usleep(50 * 1000);
  EXPECT_EQ(1, stored) << "an event waiting for more input was not committed";
  EXPECT_EQ(0, pclose(pipe));
}

TEST_P(CliTest, SettingsAndStoredTextsAreShownSafely) {
  ASSERT_EQ(0, run("init").status);
  EXPECT_EQ(0, run("config set GlobalParam WebConsoleURL \"http://host/webconsole?a=1&b='x'\"").status);
  EXPECT_EQ("http://host/webconsole?a=1&b='x'\n", run("config get GlobalParam WebConsoleURL", "", false).out);
  // A line break cannot forge a line, an escape sequence never reaches the terminal.
  EXPECT_EQ(0, run("config set --force A B " + shellQuoted("x\ny = z\x1b[31m\xc2\x9b")).status);
  Result forged = run("config list", "", false);
  EXPECT_NE(std::string::npos, forged.out.find("A B = x\\ny = z\\x1b[31m\\xc2\\x9b\n")) << forged.out;
  EXPECT_EQ(std::string::npos, forged.out.find("\ny = z")) << forged.out;
  EXPECT_EQ(8, run("config list >/dev/full").status);
}

// Each change reads back from the rule's row; a rule that is not there is exit status 7.
TEST_P(CliTest, RulesAreAddedChangedInPlaceAndRemovedWithTheirOccurrences) {
  ASSERT_EQ(0, run("init").status);
  ASSERT_EQ(0, run("rule add --type 65 --trend --last-value-filter --name \"It's a trend\"").status);
  EXPECT_EQ(0x12000, queryInt("SELECT status FROM NTnotificationRule WHERE notificationName = 'It''s a trend'"));
  EXPECT_NE(std::string::npos, run("rule list").out.find("It's a trend  [trend last-value-filter]"));
  const auto types = nlohmann::json::parse(run("types --json", "", false).out);
  ASSERT_EQ(50u, types.size());
  EXPECT_EQ((nlohmann::json{{"id", 3}, {"name", "Data protection"}, {"category", 1}, {"categoryName", "Job Management"}}),
            types[2]);
  Result added = run("rule add --type 3 --name first --status 4", "", false);
  ASSERT_EQ(0, added.status);
  const int rule = std::stoi(added.out);
  const std::string id = std::to_string(rule);
  const std::string row = "(SELECT notificationName || ' ' || status FROM NTnotificationRule WHERE id = " + id + ")";
  struct Step {
    std::string args, stored;  // the rule's name and status afterwards
  };
  const std::vector<Step> steps = {
      {"rule disable " + id, "first 5"},
      {"rule disable " + id, "first 5"},
      {"rule enable " + id, "first 4"},
      {"rule rename " + id + " " + shellQuoted("it's renamed"), "it's renamed 4"},
  };
  for (const Step& st : steps) {
    SCOPED_TRACE(st.args);
    EXPECT_EQ(0, run(st.args).status);
    EXPECT_EQ(st.stored, queryText("SELECT " + row));
  }
  exec("UPDATE NTnotificationRule SET status = 2 WHERE id = " + id);  // the other bit that switches a rule off
  EXPECT_EQ(0, run("rule enable " + id).status);
  EXPECT_EQ(0, queryInt("SELECT status FROM NTnotificationRule WHERE id = " + id));
  EXPECT_EQ(2, run("rule rename " + id + " " + std::string(257, 'x')).status);
  const auto listed = nlohmann::json::parse(run("rule list --json", "", false).out);
  ASSERT_EQ(2u, listed.size());
  EXPECT_EQ("it's renamed", listed[1]["name"]);
  EXPECT_EQ(3, listed[1]["alertType"]);

  for (int other : {rule, rule, rule, rule + 1})
    exec("INSERT INTO NTDetectedAlerts (alertType, processStat, ntNotificationId) VALUES (3, 1, " +
         std::to_string(other) + ")");
  Result removed = run("rule remove --clear-alerts " + id, "", false);
  EXPECT_EQ(0, removed.status);
  EXPECT_EQ("rule " + id + " removed with 3 occurrences and their rows\n", removed.out);
  EXPECT_EQ(1, countRows("NTDetectedAlerts"));
  EXPECT_EQ(0, countRows("NTnotificationRule WHERE id = " + id));
}

// config set knows what the detector reads; the table it knows and the one in docs/settings.md agree.
TEST_P(CliTest, SettingsOfTheWrongNameOrKindAreRefusedUnlessForced) {
  struct Case {
    std::string args;
    int status;
    std::string said;  // on standard error
  };
  const std::vector<Case> cases = {
      {"Server BlockAlerts 1", 0, ""},
      {"Server BlockAlerts yes", 2, "wants a flag, 0 or 1, not 'yes'"},
      {"Server BlockAlerts 2", 2, "wants a flag"},
      {"Servre TraceAlerts 1", 2, "unknown section 'Servre'; did you mean 'Server'?"},
      {"DebugLevel Alert 8", 2, "unknown setting 'Alert' in section DebugLevel; did you mean 'Alerts'?"},
      {"DebugLevel Alerts 8", 0, ""},
      {"DebugLevel Alerts eight", 2, "wants a decimal number"},
      {"EventManager nDisableVMAlertFeature 0x10", 0, ""},
      {"EventManager nDisableVMAlertFeature -1", 2, "unsigned"},
      {"GlobalParam NTAlertLastEventId 2147483648", 2, "signed 32-bit"},
      {"GlobalParam NTAlertLastEventId -5", 0, ""},
      {"Client/12 PersonalWorkstation 1", 0, ""},
      {"Client/x PersonalWorkstation 1", 2, "did you mean 'Client/<client id>'?"},
      {"--force Servre TraceAlerts 1", 0, ""},
      {"--force Server BlockAlerts yes", 0, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args);
    Result r = run("config set " + c.args);
    EXPECT_EQ(c.status, r.status) << r.out;
    EXPECT_NE(std::string::npos, r.out.find(c.said)) << r.out;
  }
  const auto stored = nlohmann::json::parse(run("config list --json", "", false).out);
  std::set<std::string> keys;
  for (const auto& e : stored) keys.insert(e["section"].get<std::string>() + " " + e["name"].get<std::string>() + " = " +
                                           e["value"].get<std::string>());
  EXPECT_EQ((std::set<std::string>{"Client/12 PersonalWorkstation = 1", "DebugLevel Alerts = 8",
                                   "EventManager nDisableVMAlertFeature = 0x10", "GlobalParam NTAlertLastEventId = -5",
                                   "Server BlockAlerts = yes", "Servre TraceAlerts = 1"}),
            keys);

  std::set<std::string> known, documented;
  for (const auto& e : nlohmann::json::parse(run("config known --json", "", false).out))
    known.insert(e["section"].get<std::string>() + " " + e["name"].get<std::string>());
  std::ifstream doc(std::string(EVD_SOURCE_DIR) + "/docs/settings.md");
  bool inTable = false;
  for (std::string line; std::getline(doc, line);) {
    if (line.rfind("## ", 0) == 0) inTable = line == "## Well-known entries";
    // | `Section` | `Name` | ...
    if (!inTable || line.rfind("| `", 0) != 0) continue;
    const size_t a = 3, b = line.find('`', a), c = line.find('`', b + 1), d = line.find('`', c + 1);
    documented.insert(line.substr(a, b - a) + " " + line.substr(c + 1, d - c - 1));
  }
  EXPECT_FALSE(documented.empty()) << "the table of docs/settings.md was not found";
  EXPECT_EQ(documented, known);
}

// Filters narrow the list, names stand beside the numbers, stored text is escaped, a list the limit cut says
// so, and one occurrence is shown whole.
TEST_P(CliTest, ShowFiltersNamesAndShowsOccurrences) {
  ASSERT_EQ(0, run("init").status);
  const std::string rule = std::to_string(std::stoi(run("rule add --type 3 --name nightly", "", false).out));
  struct Row {
    int type, state;
    std::string rule, entity, time;
  };
  const std::vector<Row> rows = {
      {3, 1, rule, "Client|12", "2024-05-01 10:00:00"},       // 0
      {3, 4, rule, "Library|7\x1b]0;owned\x07", "2024-05-02 10:00:00"},  // 1
      {14, 0, "0", "Criteria|12|5", "2024-05-03 23:30:00"},  // 2: client 12 by its parameter
      {14, 130, "0", "Client|120", "2024-05-04 00:00:00"},    // 3
  };
  std::vector<int> ids;
  for (const Row& r : rows) {
    exec("INSERT INTO NTDetectedAlerts (alertType, processStat, ntNotificationId, entityId, occurTime) VALUES (" +
         std::to_string(r.type) + ", " + std::to_string(r.state) + ", " + r.rule + ", " + evd::test::sqlText(r.entity) +
         ", '" + r.time + ".000')");
    ids.push_back(static_cast<int>(queryInt("SELECT MAX(eventId) FROM NTDetectedAlerts")));
  }
  ASSERT_EQ(0, insertParam(ids[2], 258, "12"));
  const std::string ev = std::to_string(ids[0]);
  exec("INSERT INTO NTDdpDr (eventId, jobId_l, clientId) VALUES (" + ev + ", 77, 12)");
  ASSERT_EQ(0, insertParam(ids[0], 27, "12"));
  exec("INSERT INTO NTDMsgParam (eventId, msgIndex, msgId, position, type, data) VALUES (" + ev +
       ", 1, 5001, 1, 11, 'fs01')");
  struct Case {
    std::string args;
    std::vector<int> rows;  // newest first
  };
  const std::vector<Case> cases = {
      {"--rule " + rule, {1, 0}},
      {"--entity " + shellQuoted("Client|12"), {0}},
      {"--client 12", {2, 0}},
      {"--since 2024-05-02 --until 2024-05-03", {2, 1}},
      {"--until " + shellQuoted("2024-05-01 10:00:00"), {0}},
      {"--state 130", {3}},
      {"--type 14 --limit 1", {3}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args);
    Result r = run("show --json " + c.args, "", false);
    ASSERT_EQ(0, r.status) << r.out;
    std::vector<int> got, want;
    for (const auto& o : nlohmann::json::parse(r.out)) got.push_back(o["eventId"]);
    for (int i : c.rows) want.push_back(ids[static_cast<size_t>(i)]);
    EXPECT_EQ(want, got);
  }
  const auto all = nlohmann::json::parse(run("show --json", "", false).out);
  ASSERT_EQ(4u, all.size());
  // Newest first: the rule's name beside its id, none without a rule.
  EXPECT_TRUE(all[0]["ruleName"].is_null());
  EXPECT_EQ("nightly", all[3]["ruleName"]);
  EXPECT_EQ((nlohmann::json{"ready after a match", "held"}), all[0]["stateNames"]);
  const char* tz = std::getenv("TZ");
  const std::string oldTz = tz ? tz : "";
  ::setenv("TZ", "UTC", 1);
  const std::string text = run("show --limit 1", "", false).out;
  if (tz) ::setenv("TZ", oldTz.c_str(), 1);
  else ::unsetenv("TZ");
  EXPECT_NE(std::string::npos, text.find("occurred (UTC)")) << text;
  EXPECT_NE(std::string::npos, text.find("130 ready after a match, held")) << text;
  EXPECT_NE(std::string::npos, text.find("\n3 more (raise --limit")) << text;
  EXPECT_NE(std::string::npos, run("show", "", false).out.find("Library|7\\x1b]0;owned\\x07"));
  Result one = run("show " + ev + " --json", "", false);
  ASSERT_EQ(0, one.status) << one.out;
  const auto o = nlohmann::json::parse(one.out);
  EXPECT_EQ(77, o["detail"]["row"]["jobId_l"]);
  EXPECT_EQ("12", o["params"][0]["value"]);
  EXPECT_EQ("fs01", o["msgParams"][0]["args"][0]["data"]);
}

// A generated history lands beside a real occurrence without touching it, keeps its pending share, and real
// events afterwards still repeat onto pending occurrences (real or generated) and get fresh event ids.
TEST_P(CliTest, HistoryAddsOccurrencesThatRealEventsRecordAndMatchAfter) {
  ASSERT_EQ(0, run("init").status);
  ASSERT_EQ(0, run("rule add --type 3").status);
  ASSERT_EQ(0, run("rule add --type 10").status);
  const std::string lowSpace = "{\"alertType\":10,\"alertCriteria\":77,\"mediaAgentId\":7,\"freeSpace\":512,"
                               "\"threshold\":1024,\"failureReason\":\"Low free space\",\"clientId\":";
  ASSERT_EQ(0, run("run -", lowSpace + "12}\n").status);
  const long long real = queryInt("SELECT eventId FROM NTDetectedAlerts");
  const std::string realRow = queryText("SELECT entityId || ' ' || processStat || ' ' || alertType FROM NTDetectedAlerts");

  for (const char* bad : {"--types 3,99", "--pending-share 1.5", ""})
    EXPECT_EQ(2, run(std::string("history --occurrences 10 ") + bad + (*bad ? "" : " --chunk 0")).status) << bad;
  Result h = run("history --occurrences 2000 --pending-share 0.25 --types 3,10 --chunk 700");
  ASSERT_EQ(0, h.status) << h.out;
  const std::string generated = "NTDetectedAlerts WHERE eventId <> " + std::to_string(real);
  EXPECT_EQ(2000, countRows(generated));
  // A quarter pending, to one per kind (four kinds of types 3 and 10).
  EXPECT_NEAR(500, countRows(generated + " AND (processStat & 67) <> 0"), 4);
  EXPECT_EQ(0, countRows("(SELECT entityId FROM " + generated + " AND entityId <> '' AND (processStat & 67) <> 0 "
                         "GROUP BY entityId, alertType, criteria HAVING COUNT(*) > 1) twice"));
  EXPECT_EQ(realRow, queryText("SELECT entityId || ' ' || processStat || ' ' || alertType FROM NTDetectedAlerts "
                               "WHERE eventId = " + std::to_string(real)));

  const long long last = queryInt("SELECT MAX(eventId) FROM NTDetectedAlerts");
  const std::string pendingClient = queryText(
      "SELECT MIN(entityId) FROM " + generated + " AND criteria = 77 AND (processStat & 67) <> 0");
  const std::string settledClient = queryText(
      "SELECT MIN(entityId) FROM " + generated + " AND criteria = 77 AND (processStat & 67) = 0");
  const auto clientOf = [](const std::string& entity) { return entity.substr(9, entity.rfind('|') - 9); };
  struct Case {
    const char* what;
    std::string event;
    std::string repeated;  // the entity id of the pending occurrence it refreshes; "" for a new occurrence
  };
  const std::vector<Case> cases = {
      {"repeat of the real occurrence", lowSpace + "12}", "Criteria|12|77"},
      {"repeat of a generated pending occurrence", lowSpace + clientOf(pendingClient) + "}", pendingClient},
      {"same object as a settled generated one", lowSpace + clientOf(settledClient) + "}", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const long long before = countRows("NTDetectedAlerts");
    ASSERT_EQ(0, run("run -", c.event + "\n").status);
    if (c.repeated.empty()) {
      EXPECT_EQ(before + 1, countRows("NTDetectedAlerts"));
      EXPECT_GT(queryInt("SELECT MAX(eventId) FROM NTDetectedAlerts"), last);
    } else {
      EXPECT_EQ(before, countRows("NTDetectedAlerts"));
      // The repeat wrote its own parameters in place of what the occurrence had.
      EXPECT_EQ("Low free space", queryText("SELECT MIN(value) FROM NTDparams WHERE type = 1 AND eventId = (SELECT "
                                            "eventId FROM NTDetectedAlerts WHERE entityId = " +
                                            evd::test::sqlText(c.repeated) + " AND (processStat & 67) <> 0)"));
    }
  }
}

std::vector<nlohmann::json> jsonLines(const std::string& text) {
  std::vector<nlohmann::json> out;
  size_t from = 0;
  for (size_t nl; (nl = text.find('\n', from)) != std::string::npos; from = nl + 1)
    out.push_back(nlohmann::json::parse(text.substr(from, nl - from)));
  return out;
}

// What became of each line, as --events tells it, the stderr line and the
// summary agree with the rows stored; a group gives every event the kind it
// has alone.
TEST_P(CliTest, EveryLineIsToldWhatBecameOfItAndTheRowsAgree) {
  ASSERT_EQ(0, run("init").status);
  ASSERT_EQ(0, run("rule add --type 17").status);
  ASSERT_EQ(0, run("rule add --type 3").status);
  ASSERT_EQ(0, run("rule add --type 14 --disabled").status);
  if (isPostgres()) {
    exec("CREATE OR REPLACE FUNCTION evd_refuse_jobs() RETURNS trigger LANGUAGE plpgsql AS "
         "$$BEGIN IF NEW.alertType = 3 THEN RAISE EXCEPTION 'no job alerts today'; END IF; RETURN NEW; END$$");
    exec("CREATE TRIGGER evd_refuse_jobs BEFORE INSERT ON NTDetectedAlerts FOR EACH ROW EXECUTE FUNCTION "
         "evd_refuse_jobs()");
  } else {
    exec("CREATE TRIGGER evd_refuse_jobs BEFORE INSERT ON NTDetectedAlerts WHEN NEW.alertType = 3 "
         "BEGIN SELECT RAISE(ABORT, 'no job alerts today'); END");
  }
  const std::string spare = R"("alertType":17,"alertCriteria":26,"alertStatus":2002,"libraryId":3,"mediaAgentId":2)";
  struct Line {
    std::string event;
    const char* kind;
    int sameOccurrenceAs;  // the line whose occurrence it touched; 0 for none
    const char* reason;    // in the reason, and so on standard error; "" for none
  };
  const std::vector<Line> lines = {
      {"{" + spare + R"(,"driveId":11,"mediaSpaceLeft":6,"threshold":10})", "new", 1, ""},
      {"{" + spare + R"(,"driveId":11,"mediaSpaceLeft":4,"threshold":10})", "repeat", 1, ""},
      {"{" + spare + R"(,"mediaSpaceLeft":24,"conditionCleared":true})", "cleared", 1, ""},
      {"{" + spare + R"(,"mediaSpaceLeft":25,"conditionCleared":true})", "unchanged", 0, ""},
      {R"({"alertType":7,"alertCriteria":20,"libraryId":3})", "no-rule", 0, ""},
      {R"({"alertType":17,"libraryId":3})", "invalid", 0, "alertCriteria is missing"},
      {R"({"alertType":3,"alertCriteria":1,"clientId":12,"jobId":184500})", "failed", 0, "no job alerts today"},
      {R"({"alertType":17,"alertCriteria":26,"clientIdd":5})", "unreadable", 0, "clientIdd"},
      {R"({"alertType":14,"alertCriteria":56,"storPolicyId":3})", "no-rule", 0, ""},  // its only rule is off
  };
  std::string input;
  for (const Line& l : lines) input += l.event + "\n";
  input.pop_back();  // the last line needs no line break
  const std::string eventsPath = evd::test::tempPath("events") + ".jsonl";
  std::map<std::string, int> kinds;
  for (const char* group : {"1", "3"}) {
    SCOPED_TRACE(std::string("group ") + group);
    // The occurrences of the run before go, so that both runs start alike.
    exec("DELETE FROM NTDetectedAlerts");
    Result r = run("run - --json --events " + shellQuoted(eventsPath) + " --group " + group, input);
    EXPECT_EQ(6, r.status) << r.out;
    std::ifstream in(eventsPath);
    const std::vector<nlohmann::json> told =
        jsonLines(std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()));
    ASSERT_EQ(lines.size(), told.size());
    for (size_t i = 0; i < lines.size(); ++i) {
      const Line& l = lines[i];
      const nlohmann::json& t = told[i];
      SCOPED_TRACE(l.event);
      EXPECT_EQ(i + 1, t.at("line"));
      EXPECT_EQ(l.kind, t.at("kind"));
      const std::string reason = t.at("reason");
      if (*l.reason == 0) {
        EXPECT_EQ("", reason);
      } else {
        EXPECT_NE(std::string::npos, reason.find(l.reason)) << reason;
        const size_t said = r.out.find("evdetect: <stdin>:" + std::to_string(i + 1) + ": ");
        ASSERT_NE(std::string::npos, said) << r.out;
        EXPECT_NE(std::string::npos, r.out.substr(said, r.out.find('\n', said) - said).find(l.reason)) << r.out;
      }
      if (l.sameOccurrenceAs == 0) {
        EXPECT_EQ(0, t.at("occurrenceId"));
        continue;
      }
      const int id = t.at("occurrenceId");
      EXPECT_EQ(told[l.sameOccurrenceAs - 1].at("occurrenceId"), id);
      EXPECT_EQ(17, queryInt("SELECT alertType FROM NTDetectedAlerts WHERE eventId = " + std::to_string(id)));
      EXPECT_EQ(17, t.at("alertType"));
      EXPECT_EQ(26, t.at("criteria"));
    }
    // The cleared occurrence is the only one stored; nothing of the failed job alert.
    EXPECT_EQ(1, countRows("NTDetectedAlerts"));
    EXPECT_EQ(4, queryInt("SELECT processStat FROM NTDetectedAlerts"));
    const size_t summary = r.out.rfind("{\"read\"");
    ASSERT_NE(std::string::npos, summary) << r.out;
    const auto j = nlohmann::json::parse(r.out.substr(summary));
    for (const auto& [key, n] : {std::pair<const char*, int>{"read", 9}, {"new", 1}, {"repeat", 1}, {"cleared", 1},
                                 {"unchanged", 1}, {"handled", 4}, {"dropped", 2}, {"invalid", 1}, {"failed", 1},
                                 {"unreadable", 1}})
      EXPECT_EQ(n, j.at(key)) << key;
  }
  if (isPostgres()) exec("DROP TRIGGER evd_refuse_jobs ON NTDetectedAlerts");
  // Blocked, and the lines on standard output with the summary on standard error.
  ASSERT_EQ(0, run("config set Server BlockAlerts 1").status);
  Result blocked = run("run - --events -", lines[0].event + "\n", false);
  EXPECT_EQ(0, blocked.status);
  const std::vector<nlohmann::json> told = jsonLines(blocked.out);
  ASSERT_EQ(1u, told.size()) << blocked.out;
  EXPECT_EQ("blocked", told[0].at("kind"));
  EXPECT_EQ(17, told[0].at("alertType"));
}

// The metrics file names every metric the documentation lists, and its
// figures are those of the summary.
TEST_P(CliTest, MetricsFileHoldsTheDocumentedMetricsAndTheSummarysFigures) {
  ASSERT_EQ(0, run("init").status);
  ASSERT_EQ(0, run("rule add --type 7").status);
  const std::string input = "{\"alertType\":7,\"alertCriteria\":20,\"libraryId\":3}\n"
                            "{\"alertType\":9,\"alertCriteria\":20,\"libraryId\":3}\n"
                            "\n"
                            "oops\n"
                            "{\"alertType\":9}\n";
  const std::string path = evd::test::tempPath("metrics") + ".prom";
  Result r = run("run - --json --metrics " + shellQuoted(path), input, false);
  EXPECT_EQ(6, r.status) << r.out;
  const auto summary = nlohmann::json::parse(r.out);
  std::map<std::string, double> values;
  std::set<std::string> typed;
  std::ifstream in(path);
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("# TYPE ", 0) == 0) typed.insert(line.substr(7, line.find(' ', 7) - 7));
    if (line.empty() || line[0] == '#') continue;
    const size_t space = line.rfind(' ');
    values[line.substr(0, space)] = std::stod(line.substr(space + 1));
  }
  std::ifstream doc(std::string(EVD_SOURCE_DIR) + "/docs/metrics.md");
  int documented = 0;
  for (std::string line; std::getline(doc, line);)
    if (line.rfind("# TYPE ", 0) == 0) {
      ++documented;
      EXPECT_TRUE(typed.count(line.substr(7, line.find(' ', 7) - 7))) << line;
    }
  EXPECT_EQ(static_cast<size_t>(documented), typed.size());
  EXPECT_EQ(summary.at("read"), values["evdetect_events_read_total"]);
  for (const auto& [kind, key] : {std::pair<const char*, const char*>{"new", "new"}, {"no-rule", "dropped"},
                                  {"invalid", "invalid"}, {"unreadable", "unreadable"}, {"failed", "failed"}})
    EXPECT_EQ(summary.at(key), values[std::string("evdetect_events_total{kind=\"") + kind + "\"}"]) << kind;
  EXPECT_EQ(1, values["evdetect_events_failed_total"]);
  EXPECT_EQ(5, values["evdetect_input_line"]);
  EXPECT_EQ(static_cast<double>(input.size()), values["evdetect_input_offset_bytes"]);
  // One commit per event the detector took: the unreadable line made none.
  EXPECT_EQ(3, values["evdetect_commit_seconds_count"]);
  EXPECT_EQ(3, values["evdetect_commit_seconds_bucket{le=\"+Inf\"}"]);
  const std::string bucket = "evdetect_commit_seconds_bucket{le=\"";
  std::map<double, double> buckets;  // by bound: each counts the calls at or below it
  for (const auto& [name, n] : values)
    if (name.rfind(bucket, 0) == 0 && name.find("+Inf") == std::string::npos)
      buckets[std::stod(name.substr(bucket.size()))] = n;
  EXPECT_EQ(12u, buckets.size());
  double below = 0;
  for (const auto& [bound, n] : buckets) {
    EXPECT_LE(below, n) << bound;
    below = n;
  }
  EXPECT_LE(below, 3);
  EXPECT_GT(values["evdetect_last_commit_timestamp_seconds"], 1.7e9);
  EXPECT_EQ(2, run("run - --metrics /nonexistent/dir/m.prom", "").status);
}

// A saved-query event touches an occurrence per entity: it is "new" when any
// was new, else "cleared" when any was cleared, and names the last one.
TEST_P(CliTest, SavedQueryEventIsToldByTheOccurrencesItTouched) {
  ASSERT_EQ(0, run("init").status);
  ASSERT_EQ(0, run("rule add --type 65").status);  // rule 1, which the example results name
  std::ifstream in(std::string(EVD_SOURCE_DIR) + "/examples/queries.jsonl");
  std::string first, second;
  ASSERT_TRUE(std::getline(in, first) && std::getline(in, second));
  Result r = run("run - --events -", first + "\n" + second + "\n", false);
  EXPECT_EQ(0, r.status) << r.out;
  const std::vector<nlohmann::json> told = jsonLines(r.out);
  ASSERT_EQ(2u, told.size()) << r.out;
  const auto idOf = [&](const char* entity) {
    return queryInt(std::string("SELECT eventId FROM NTDetectedAlerts WHERE entityId = '") + entity + "'");
  };
  EXPECT_EQ("new", told[0].at("kind"));  // three entities, all new
  EXPECT_EQ(3, told[0].at("occurrences"));
  EXPECT_EQ(idOf("client|14"), told[0].at("occurrenceId"));
  EXPECT_EQ("cleared", told[1].at("kind"));  // client|12 repeated, then client|13 cleared
  EXPECT_EQ(2, told[1].at("occurrences"));
  EXPECT_EQ(idOf("client|13"), told[1].at("occurrenceId"));
  EXPECT_EQ(4, queryInt("SELECT processStat FROM NTDetectedAlerts WHERE entityId = 'client|13'"));
  EXPECT_EQ(3, countRows("NTDetectedAlerts"));
}

EVD_INSTANTIATE_BACKENDS(CliTest);

}  // namespace

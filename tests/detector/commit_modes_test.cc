// Committing per event or per group must store exactly what per-statement
// commits store, less the rows of events whose handler failed, and a process
// killed in the middle of an event must leave nothing of that event.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "Db/AllBindings.h"
#include "Db/Database.h"
#include "db/session.h"
#include "detector/EvNEventBatch.h"
#include "detector/alert_types.h"
#include "host/EvAlertDebug.h"
#include "host/EvAlertEx.h"
#include "host/NxSettings.h"
#include "host/event_json.h"
#include "support/db_fixture.h"
#include "support/table_dump.h"

namespace evd::test {
namespace {

long long fixedClock() { return 1765000000; }

// Every example event, in the order scripts/examples.sh runs them.
std::vector<std::string> exampleStream() {
  const std::filesystem::path dir = std::filesystem::path(EVD_SOURCE_DIR) / "examples";
  std::vector<std::filesystem::path> files;
  for (const auto& e : std::filesystem::directory_iterator(dir))
    if (e.path().extension() == ".jsonl" && e.path().filename() != "events.jsonl") files.push_back(e.path());
  std::sort(files.begin(), files.end());
  files.insert(files.begin(), dir / "events.jsonl");
  std::vector<std::string> lines;
  for (const auto& f : files) {
    std::ifstream in(f);
    for (std::string line; std::getline(in, line);)
      if (line.find('{') != std::string::npos) lines.push_back(line);
  }
  return lines;
}

// A free-space event of CLIENT.
std::string freeSpaceEvent(int client) {
  return R"({"alertType":10,"alertCriteria":77,"clientId":)" + std::to_string(client) +
         R"(,"clientName":"c","mediaAgentId":7,"freeSpace":512,"threshold":1024,"foldersList":["/o"],)"
         R"("freeSpaceList":[512],"thresholdsList":[1024]})";
}

// Reads LINE and hands it to BATCH under TAG.
void store(EvNEventBatch& batch, const std::string& line, long long tag) {
  EvAlertEx a;
  EventReadError err;
  ASSERT_TRUE(parseEventLine(line, a, err)) << err.message;
  batch.store(a, tag);
}

// What the host is told of each event.
struct Told {
  long long tag;
  bool ok, committed;
  EvNDetector::Outcome outcome;
  bool operator==(const Told&) const = default;
};
// And, within one commit mode, the database errors it met.
struct ToldAll {
  Told told;
  std::string reason;
  unsigned long long databaseErrors;
  bool operator==(const ToldAll&) const = default;
};
std::vector<Told> toldOnly(const std::vector<ToldAll>& all) {
  std::vector<Told> out;
  for (const ToldAll& t : all) out.push_back(t.told);
  return out;
}

std::atomic<int> g_killAt{0};
std::atomic<int> g_statements{0};
void countOrKill(const std::string&) {
  ++g_statements;
  if (g_killAt.load() > 0 && g_statements.load() == g_killAt.load()) kill(getpid(), SIGKILL);
}

class CommitModesTest : public DbTest {
 protected:
  void SetUp() override {
    DbTest::SetUp();
    previousClock_ = EvAlertDebug::setClock(fixedClock);
  }
  void TearDown() override {
    Db::detail::setStatementHook(nullptr);
    EvNDetectParams::setMultiRowWrites(true);
    EvAlertDebug::setClock(previousClock_);
    Db::configure(uri());
    DbTest::TearDown();
  }

  // A new database with the rules of the example stream (the saved-query
  // rules 1 to 3 first, as the examples expect), now this thread's.
  std::string preparedDatabase(const std::vector<std::string>& stream, bool refuse = true) {
    const std::string db = freshDatabase(GetParam());
    EXPECT_FALSE(db.empty());
    Db::configure(db);
    std::string err;
    EXPECT_EQ(0, seedAlertTypes(&err)) << err;
    addRule(65, 0);
    addRule(65, 0x10000 | 0x2000);
    addRule(57, 0);
    std::vector<int> types;
    for (const std::string& line : stream) {
      const int type = std::atoi(line.c_str() + line.find("\"alertType\":") + 12);
      if (type != 65 && type != 57 && std::find(types.begin(), types.end(), type) == types.end()) {
        types.push_back(type);
        addRule(type, 0);
      }
    }
    // A parameter write that fails in the middle of many events: the rows
    // before and after it must be stored all the same.
    // And one in the middle of a list, which goes whole or not at all.
    // And a message argument between two others.
    if (refuse) {
      refuseInserts("NTDparams", "value", std::vector<std::string>{"fs01", "V_000124"});
      refuseInserts("NTDMsgParam", "data", "refused argument");
    }
    return db;
  }
  static void addRule(int type, int status) {
    NTAlertType t(nullptr);
    t.setWhere("id = %d", type);
    ASSERT_EQ(0, t.getOneRow()) << "alert type " << type;
    NTnotificationRule r(nullptr);
    r.getDataPtr()->alertTypeId = type;
    r.getDataPtr()->categoryId = t.getDataPtr()->categoryID;
    r.getDataPtr()->status = status;
    ASSERT_EQ(0, r.rowInsert(true));
  }

  // FAILEDROWS, when given, gets the rows per table that the events whose
  // handler failed wrote (per-statement commits only).
  static std::vector<ToldAll> run(const std::vector<std::string>& stream, const EvNBatchOptions& options,
                                  std::map<std::string, long long>* failedRows = nullptr) {
    std::vector<ToldAll> told;
    EvNDetector detector;
    std::map<std::string, long long> before;
    if (failedRows) before = sizes(dumpAll({.rankRowIds = true}));
    EvNEventBatch batch(detector, options, [&](const EvNEventResult& r) {
      told.push_back({{r.tag, r.ok, r.committed, r.outcome}, r.reason, r.databaseErrors});
      if (!failedRows) return;
      const std::map<std::string, long long> after = sizes(dumpAll({.rankRowIds = true}));
      if (r.outcome == EvNDetector::Outcome::Failed)
        for (const auto& [table, n] : after) (*failedRows)[table] += n - before[table];
      before = after;
    });
    for (size_t i = 0; i < stream.size(); ++i) store(batch, stream[i], static_cast<long long>(i));
    EXPECT_EQ(0, batch.flush());
    return told;
  }

  // Runs EVENT in a child process on DB, killed at its KILLAT-th statement.
  static void runKilled(const std::string& db, const std::string& event, EvNCommitMode mode, int killAt) {
    // No connection may cross the fork: the child opens its own.
    Db::closeThreadConnection();
    const pid_t pid = fork();
    ASSERT_NE(-1, pid);
    if (pid == 0) {
      std::thread([&] {
        Db::configure(db);
        g_statements = 0;
        g_killAt = killAt;
        Db::detail::setStatementHook(countOrKill);
        run({event}, {mode, 1, true});
      }).join();
      _exit(0);
    }
    int status = 0;
    ASSERT_EQ(pid, waitpid(pid, &status, 0));
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << "killed at statement " << killAt;
  }

  EvAlertDebug::Clock previousClock_ = nullptr;
};

TEST_P(CommitModesTest, EveryModeStoresTheRowsOfPerStatementCommits) {
  std::vector<std::string> stream = exampleStream();
  stream.push_back(R"({"alertType":3,"alertCriteria":1,"clientId":12,"subClientId":118,"jobId":190001,)"
                   R"("failureReason":"media","mediaList":["V_000123","V_000124","V_000125"]})");
  for (const std::string middle : {"refused argument", "kept argument"}) {
    stream.push_back(R"({"alertType":3,"alertCriteria":1,"clientId":12,"subClientId":119,"jobId":)" +
                     std::to_string(190002 + stream.size()) +
                     R"(,"failureReason":"arguments","eventMsgList":[)"
                     R"({"tokenId":7,"msgId":8,"type":11,"msgIndex":1,"data":"first"},)"
                     R"({"tokenId":7,"msgId":8,"type":11,"msgIndex":1,"data":")" +
                     middle + R"("},{"tokenId":7,"msgId":8,"type":11,"msgIndex":1,"data":"last"}]})");
  }
  ASSERT_GT(stream.size(), 100u);
  const struct {
    const char* name;
    EvNBatchOptions options;
    // Also run with every row written alone: the modes whose savepoints and
    // pipelines a failing multi-row write meets in different ways.
    bool oneRow;
  } modes[] = {
      {"per statement", {EvNCommitMode::PerStatement, 1, false}, true},
      {"per event", {EvNCommitMode::PerEvent, 1, false}, false},
      {"per event, pipelined", {EvNCommitMode::PerEvent, 1, true}, true},
      {"groups of 7, pipelined", {EvNCommitMode::PerEvent, 7, true}, true},
      {"one group", {EvNCommitMode::PerEvent, 1000, false}, false},
  };
  for (const bool refuse : {true, false}) {
    SCOPED_TRACE(refuse ? "with refused writes" : "without refused writes");
    preparedDatabase(stream, refuse);
    std::map<std::string, long long> failedRows;
    // Every row written alone, with the answers of its own statement.
    EvNDetectParams::setMultiRowWrites(false);
    const std::vector<Told> toldAlone = toldOnly(run(stream, {EvNCommitMode::PerStatement, 1, false}, &failedRows));
    const Dump alone = dumpAll({.rankRowIds = true});
    // What tells what happened to a failed event is kept in every mode.
    failedRows.erase("ntdalerttracelog");
    ASSERT_GT(alone.at("ntdetectedalerts").size(), 80u);
    if (refuse) {
      EXPECT_GT(failedRows["ntdetectedalerts"], 0) << "the failed events left occurrences behind";
      ASSERT_TRUE(std::any_of(toldAlone.begin(), toldAlone.end(), [](const Told& t) { return !t.ok; }));
      // The refused list took its first value with it, not the event's rows before it.
      EXPECT_EQ(1, countRows("NTDparams WHERE value = 'media'"));
      EXPECT_EQ(0, countRows("NTDparams WHERE value = 'V_000123' AND eventId IN "
                             "(SELECT eventId FROM NTDparams WHERE value = 'media')"));
      // The argument before the refused one stays, the one after it was never written.
      EXPECT_EQ(2, countRows("NTDMsgParam WHERE data = 'first'"));
      EXPECT_EQ(1, countRows("NTDMsgParam WHERE data = 'last'"));
    }
    for (const auto& mode : modes) {
      SCOPED_TRACE(mode.name);
      // The mode with every row written alone, then with multi-row writes:
      // the same answers, errors included, and the same rows, ids included.
      std::vector<ToldAll> oneRow;
      Dump oneRowDump;
      if (mode.oneRow) {
        EvNDetectParams::setMultiRowWrites(false);
        preparedDatabase(stream, refuse);
        oneRow = run(stream, mode.options);
        oneRowDump = dumpAll({.rankRowIds = true});
        EvNDetectParams::setMultiRowWrites(true);
      }
      preparedDatabase(stream, refuse);
      const std::vector<ToldAll> multiRow = run(stream, mode.options);
      for (size_t i = 0; i < oneRow.size(); ++i)
        EXPECT_TRUE(oneRow[i] == multiRow.at(i)) << "event " << oneRow[i].told.tag << ": " << oneRow[i].reason
                                                 << " / " << multiRow[i].reason << ", database errors "
                                                 << oneRow[i].databaseErrors << " / " << multiRow[i].databaseErrors;
      EXPECT_EQ(toldAlone, toldOnly(multiRow));
      const Dump dump = dumpAll({.rankRowIds = true});
      for (const auto& [table, rows] : oneRowDump)
        EXPECT_TRUE(rows == dump.at(table)) << "multi-row " << table << ":" << difference(rows, dump.at(table));
      // An event whose pipeline failed runs again; the serial ids its first
      // run drew from PostgreSQL's sequences are not given back, so only its
      // rows, not their ids, are the same.
      // A failed event leaves none of its rows but its trace, so the ids
      // drawn after it differ: then only the number of rows is compared,
      // per-statement's less those of the failed events.
      const bool perStatement = mode.options.mode == EvNCommitMode::PerStatement;
      const bool sameIds = !refuse || perStatement;
      for (const auto& [table, rows] : alone) {
        const auto it = dump.find(table);
        ASSERT_NE(dump.end(), it) << table;
        const long long expected = static_cast<long long>(rows.size()) - (perStatement ? 0 : failedRows[table]);
        if (sameIds) {
          EXPECT_TRUE(rows == it->second) << table << ":" << difference(rows, it->second);
        } else {
          EXPECT_EQ(expected, static_cast<long long>(it->second.size())) << table;
        }
      }
    }
  }
}

TEST_P(CommitModesTest, AKilledEventLeavesNothingOfItself) {
  const std::vector<std::string> stream = exampleStream();
  const std::string db = preparedDatabase(stream);
  const std::vector<std::string> before(stream.begin(), stream.begin() + 3);
  const auto failure = std::find_if(stream.begin(), stream.end(), [](const std::string& l) {
    return l.find("\"alertType\":3,") != std::string::npos;
  });
  ASSERT_NE(stream.end(), failure);
  run(before, {EvNCommitMode::PerEvent, 1, true});
  const Dump start = dumpAll({.rankRowIds = true});

  // How many statements the event sends, counted on a scratch database.
  preparedDatabase(stream);
  g_statements = 0;
  g_killAt = 0;
  Db::detail::setStatementHook(countOrKill);
  run(before, {EvNCommitMode::PerEvent, 1, true});
  g_statements = 0;
  run({*failure}, {EvNCommitMode::PerEvent, 1, true});
  Db::detail::setStatementHook(nullptr);
  const int statements = g_statements;
  ASSERT_GT(statements, 6);

  for (const int killAt : {1, statements / 3, statements - 1, statements}) {
    runKilled(db, *failure, EvNCommitMode::PerEvent, killAt);
    Db::configure(db);
    EXPECT_EQ(start, dumpAll({.rankRowIds = true})) << "killed at statement " << killAt << " of " << statements;
  }
  // Committed statement by statement, the same kill leaves half an event.
  runKilled(db, *failure, EvNCommitMode::PerStatement, statements - 1);
  Db::configure(db);
  EXPECT_NE(start, dumpAll({.rankRowIds = true}));
}

// Renames the occurrence table just before the pending look-up reads it and
// back before the next statement: only the look-up meets the error.
std::atomic<bool> g_breakLookup{false};
void breakLookup(const std::string& sql) {
  static bool renamed = false;
  if (!g_breakLookup) return;
  int rc = 0;
  std::string err;
  Db::detail::Session* s = Db::detail::Session::current(&rc, &err);
  const bool lookup = sql.find("(processStat & 67)") != std::string::npos;
  if (lookup && !renamed) renamed = s->backend().exec("ALTER TABLE NTDetectedAlerts RENAME TO NTDetectedAlertsAway") == 0;
  else if (!lookup && renamed) renamed = s->backend().exec("ALTER TABLE NTDetectedAlertsAway RENAME TO NTDetectedAlerts") != 0;
}

TEST_P(CommitModesTest, AFailedLookUpFailsTheEventInsteadOfRecordingAgain) {
  const std::string event = R"({"alertType":10,"alertCriteria":77,"clientId":12,"clientName":"fs01",)"
                            R"("mediaAgentId":7,"freeSpace":512,"threshold":1024,"foldersList":["/opt/jobresults"],)"
                            R"("freeSpaceList":[512],"thresholdsList":[1024]})";
  for (const EvNCommitMode mode : {EvNCommitMode::PerStatement, EvNCommitMode::PerEvent}) {
    SCOPED_TRACE(mode == EvNCommitMode::PerEvent ? "per event" : "per statement");
    preparedDatabase({event}, false);
    ASSERT_EQ(1u, run({event}, {mode, 1, false}).size());
    const std::string pending = "NTDetectedAlerts WHERE alertType = 10 AND (processStat & 67) <> 0";
    ASSERT_EQ(1, countRows(pending));
    g_breakLookup = true;
    Db::detail::setStatementHook(breakLookup);
    const std::vector<Told> told = toldOnly(run({event}, {mode, 1, false}));
    Db::detail::setStatementHook(nullptr);
    g_breakLookup = false;
    ASSERT_EQ(1u, told.size());
    EXPECT_FALSE(told[0].ok);
    EXPECT_EQ(EvNDetector::Outcome::Failed, told[0].outcome);
    EXPECT_EQ(1, countRows(pending));
    // Without the fault the same event is a repeat of the one occurrence.
    EXPECT_TRUE(run({event}, {mode, 1, false}).at(0).told.ok);
    EXPECT_EQ(1, countRows(pending));
  }
}

TEST_P(CommitModesTest, ADatabaseThatRefusesWritesStopsTheBatch) {
  const std::string readOnly =
      isPostgres() ? "SET default_transaction_read_only = on" : "PRAGMA query_only = ON";
  for (const size_t group : {size_t{1}, size_t{2}}) {
    for (const EvNCommitMode mode : {EvNCommitMode::PerStatement, EvNCommitMode::PerEvent}) {
      if (mode == EvNCommitMode::PerStatement && group > 1) continue;
      SCOPED_TRACE("group " + std::to_string(group));
      preparedDatabase({freeSpaceEvent(1)}, false);
      std::vector<Told> told;
      EvNDetector detector;
      EvNEventBatch batch(detector, {mode, group, false}, [&](const EvNEventResult& r) {
        told.push_back({r.tag, r.ok, r.committed, r.outcome});
      });
      for (int client = 1; client <= 2; ++client) store(batch, freeSpaceEvent(client), client);
      ASSERT_EQ(0, batch.flush());
      exec(readOnly);
      for (int client = 3; client <= 6 && !batch.stopped(); ++client) store(batch, freeSpaceEvent(client), client);
      EXPECT_TRUE(batch.stopped());
      batch.flush();
      exec(isPostgres() ? "SET default_transaction_read_only = off" : "PRAGMA query_only = OFF");
      // The first event that met the refusal was the last one run.
      ASSERT_EQ(3u, told.size());
      EXPECT_TRUE(told[0].ok && told[1].ok);
      EXPECT_EQ(3, told[2].tag);
      EXPECT_FALSE(told[2].ok);
      EXPECT_EQ(2, countRows("NTDetectedAlerts WHERE alertType = 10"));
    }
  }
}

// Reads of the rule check, the category and the settings.
std::atomic<int> g_ruleReads{0}, g_categoryReads{0}, g_traceReads{0};
void countReads(const std::string& sql) {
  g_ruleReads += sql.find("FROM NTnotificationRule WHERE alertTypeId") != std::string::npos;
  g_categoryReads += sql.find("FROM NTAlertType WHERE") != std::string::npos;
  g_traceReads += sql.find("FROM EvdSettings") != std::string::npos;
}

TEST_P(CommitModesTest, AGroupReadsTheRuleCategoryAndTraceOnceAndOneEventPerCommitEveryTime) {
  struct Case {
    size_t group;
    int reads;  // of each, for six events
  };
  for (const Case c : {Case{1, 6}, Case{3, 2}, Case{6, 1}}) {
    for (const bool pipeline : {false, true}) {
      SCOPED_TRACE("group " + std::to_string(c.group) + (pipeline ? " pipelined" : ""));
      preparedDatabase({freeSpaceEvent(1)}, false);
      std::vector<std::string> stream;
      for (int client = 1; client <= 6; ++client) stream.push_back(freeSpaceEvent(client));
      g_ruleReads = g_categoryReads = g_traceReads = 0;
      Db::detail::setStatementHook(countReads);
      const std::vector<ToldAll> told = run(stream, {EvNCommitMode::PerEvent, c.group, pipeline});
      Db::detail::setStatementHook(nullptr);
      ASSERT_EQ(6u, told.size());
      for (const ToldAll& t : told) EXPECT_EQ(EvNDetector::Outcome::Handled, t.told.outcome);
      EXPECT_EQ(c.reads, g_ruleReads.load());
      EXPECT_EQ(c.reads, g_categoryReads.load());
      EXPECT_EQ(c.reads + 1, g_traceReads.load());  // and BlockAlerts, once per detector
      EXPECT_EQ(6, countRows("NTDetectedAlerts WHERE alertType = 10"));
    }
  }
}

TEST_P(CommitModesTest, AnEditBetweenTwoGroupsTakesEffectInTheNextGroup) {
  preparedDatabase({freeSpaceEvent(1)}, false);
  std::vector<Told> told;
  EvNDetector detector;
  EvNEventBatch batch(detector, {EvNCommitMode::PerEvent, 2, true},
                      [&](const EvNEventResult& r) { told.push_back({r.tag, r.ok, r.committed, r.outcome}); });
  const auto group = [&](int first) {
    for (int client = first; client < first + 2; ++client) store(batch, freeSpaceEvent(client), client);
    ASSERT_EQ(0u, batch.pending());  // the group committed
  };
  const auto outcomes = [&](int first) {
    std::vector<EvNDetector::Outcome> out;
    for (const Told& t : told)
      if (t.tag >= first && t.tag < first + 2) out.push_back(t.outcome);
    return out;
  };
  using O = EvNDetector::Outcome;
  const std::string traced = "NTDAlertTraceLog";
  group(1);
  EXPECT_EQ((std::vector<O>{O::Handled, O::Handled}), outcomes(1));
  EXPECT_EQ(0, countRows(traced));
  exec("UPDATE NTnotificationRule SET status = 1 WHERE alertTypeId = 10");
  ASSERT_EQ(0, Settings::set("Server", "TraceAlerts", "1"));
  group(3);
  EXPECT_EQ((std::vector<O>{O::NoRule, O::NoRule}), outcomes(3));
  EXPECT_EQ(2, countRows(traced));
  exec("UPDATE NTnotificationRule SET status = 0 WHERE alertTypeId = 10");
  ASSERT_EQ(0, Settings::set("Server", "TraceAlerts", "0"));
  group(5);
  EXPECT_EQ((std::vector<O>{O::Handled, O::Handled}), outcomes(5));
  EXPECT_EQ(2, countRows(traced));
  EXPECT_EQ(4, countRows("NTDetectedAlerts WHERE alertType = 10"));
}

EVD_INSTANTIATE_BACKENDS(CommitModesTest);

}  // namespace
}  // namespace evd::test

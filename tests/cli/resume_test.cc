// A run that keeps its position: killed at any moment and started again it
// records every event exactly once; followed, a file is read as it grows,
// across rotation and truncation; a stop request ends it cleanly.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include "Db/Database.h"
#include "support/child_process.h"
#include "support/db_fixture.h"
#include "support/table_dump.h"

namespace evd::test {
namespace {

constexpr int kLines = 240;

std::string jobFailure(int job) {
  return R"({"alertType":3,"alertCriteria":1,"clientId":12,"subClientId":118,"jobId":)" + std::to_string(job) +
         R"(,"failureReason":"media","mediaList":["V_1","V_2"]})" + "\n";
}

// New occurrences, repeats and clearings of twenty clients, failed jobs,
// and now and then a line that cannot be read or an empty one.
std::string writeStream() {
  const std::string path = tempPath("resume-stream.jsonl");
  std::ofstream out(path);
  for (int i = 0; i < kLines; ++i) {
    if (i % 97 == 50) out << "not json\n";
    else if (i % 89 == 40) out << "\n";
    else if (i % 10 == 5) out << jobFailure(500000 + i);
    else out << freeSpaceEvent(1 + i % 20, i, (i / 20) % 3 == 2);
  }
  return path;
}

long long lineCount(const std::string& path) {
  const std::string text = readFile(path);
  return static_cast<long long>(std::count(text.begin(), text.end(), '\n'));
}

// Polls COND for up to 20 seconds.
bool eventually(const std::function<bool()>& cond) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (!cond()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

class ResumeTest : public DbTest {
 protected:
  void TearDown() override {
    Db::configure(uri());
    DbTest::TearDown();
  }
  // A database (by default a new one) with the schema and the rules of the stream.
  std::string prepared(std::string db = "") {
    if (db.empty()) db = freshDatabase(GetParam());
    EXPECT_FALSE(db.empty());
    int status = 0;
    shell(std::string(EVDETECT_PATH) + " init --db " + shellQuoted(db) + " && " + EVDETECT_PATH + " rule add --db " +
              shellQuoted(db) + " --type 10 && " + EVDETECT_PATH + " rule add --db " + shellQuoted(db) + " --type 3",
          &status);
    EXPECT_EQ(0, status);
    return db;
  }
  static pid_t start(const std::string& db, std::vector<std::string> args, const std::string& out) {
    args.insert(args.begin(), {"--db", db, "run"});
    return spawn(EVDETECT_PATH, args, out, out + ".err");
  }
  static Dump stored(const std::string& db) {
    Db::configure(db);
    return dumpAll({.maskTimes = true, .rankRowIds = true, .rankOccurrenceIds = true});
  }
};

TEST_P(ResumeTest, AKilledRunResumesAfterItsLastCommitAndStoresEachEventOnce) {
  const std::string stream = writeStream();
  const struct {
    const char* name;
    std::vector<std::string> options;
  } modes[] = {{"per event", {}}, {"groups of 7", {"--group", "7"}}};
  for (const auto& mode : modes) {
    SCOPED_TRACE(mode.name);
    std::vector<std::string> args = mode.options;
    args.insert(args.end(), {"--resume", stream});
    const std::string reference = prepared();
    const std::string refOut = tempPath("resume-ref.out");
    EXPECT_EQ(5, waitFor(start(reference, args, refOut))) << readFile(refOut + ".err");

    const std::string db = prepared();
    const std::string events = tempPath("resume-events.jsonl");
    std::vector<std::string> killedArgs = args;
    killedArgs.insert(killedArgs.begin(), {"--events", events});
    constexpr int kKills = 8;
    int killed = 0;
    for (int k = 1; k <= kKills; ++k) {
      // Killed once the run has got past a share of the stream, a few
      // milliseconds later each time, so the kills land anywhere in an event.
      const pid_t pid = start(db, killedArgs, tempPath("resume-run.out"));
      const long long target = k * kLines / (kKills + 1);
      eventually([&] { return lineCount(events) >= target || waitpid(pid, nullptr, WNOHANG) == pid; });
      std::this_thread::sleep_for(std::chrono::milliseconds(k % 4));
      if (kill(pid, SIGKILL) == 0 && waitFor(pid) == 128 + SIGKILL) ++killed;
    }
    EXPECT_GE(killed, kKills / 2) << "the runs ended before they could be killed";
    const int last = waitFor(start(db, killedArgs, tempPath("resume-run.out")));
    EXPECT_TRUE(last == 0 || last == 5) << last;

    const Dump want = stored(reference), got = stored(db);
    for (const auto& [table, rows] : want) {
      const auto it = got.find(table);
      ASSERT_NE(got.end(), it) << table;
      EXPECT_TRUE(rows == it->second) << table << ":" << difference(rows, it->second);
    }
    // An event is told once, after its commit; a kill may lose the telling,
    // never repeat it. Unreadable lines past the last commit are read again.
    std::map<long long, int> told;
    std::ifstream in(events);
    for (std::string line; std::getline(in, line);) {
      const auto j = nlohmann::json::parse(line);
      if (j.at("kind") == "unreadable") continue;
      EXPECT_EQ(1, ++told[j.at("line").get<long long>()]) << line;
    }
  }
}

TEST_P(ResumeTest, FollowReadsAGrowingFileAcrossRotationAndStopsOnSigterm) {
  const std::string db = prepared(uri());
  const std::string file = tempPath("follow.jsonl"), events = tempPath("follow-events.jsonl");
  const std::string summary = tempPath("follow-summary.json");
  int client = 0;
  const auto append = [&](const std::string& path, int n) {
    std::ofstream out(path, std::ios::app);
    for (int i = 0; i < n; ++i) out << freeSpaceEvent(++client, 1, false);
  };
  const auto told = [&](long long n) { return eventually([&] { return lineCount(events) >= n; }); };
  const pid_t pid = start(db, {"--json", "--group", "5", "--events", events, "--follow", file}, summary);
  append(file, 30);  // the file appears after the run started
  ASSERT_TRUE(told(30)) << readFile(summary + ".err");
  // A second run on the same file would record every event again.
  const std::string other = tempPath("follow-other.out");
  EXPECT_EQ(5, waitFor(start(db, {"--resume", file}, other)));
  EXPECT_NE(std::string::npos, readFile(other + ".err").find("another evdetect run")) << readFile(other + ".err");
  std::filesystem::rename(file, file + ".1");
  append(file + ".1", 3);  // the writer had not reopened yet
  append(file, 9);
  {
    std::ofstream out(file, std::ios::app);
    const std::string last = freeSpaceEvent(++client, 1, false);
    out << last.substr(0, 20) << std::flush;  // half a line: it waits for the rest
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    out << last.substr(20);
  }
  ASSERT_TRUE(told(43)) << readFile(summary + ".err");
  std::filesystem::resize_file(file, 0);
  append(file, 2);
  ASSERT_TRUE(told(45)) << readFile(summary + ".err");
  kill(pid, SIGTERM);
  EXPECT_EQ(0, waitFor(pid)) << readFile(summary + ".err");
  const auto sum = nlohmann::json::parse(readFile(summary));
  EXPECT_EQ(45, sum.at("new")) << sum;
  EXPECT_EQ("SIGTERM", sum.at("stoppedBy")) << sum;
  EXPECT_NE(std::string::npos, readFile(summary + ".err").find("was truncated")) << readFile(summary + ".err");
  EXPECT_EQ(45, lineCount(events));

  // Started again, it goes on where it stopped.
  append(file, 2);
  const std::string again = tempPath("follow-again.json");
  EXPECT_EQ(0, waitFor(start(db, {"--json", "--resume", file}, again)));
  EXPECT_EQ(2, nlohmann::json::parse(readFile(again)).at("new")) << readFile(again);
  EXPECT_EQ(47, countRows("NTDetectedAlerts"));
  // Rotated while no run read it: the rest of the old file, then the new one.
  append(file, 2);
  std::filesystem::rename(file, file + ".1");
  append(file, 1);
  EXPECT_EQ(0, waitFor(start(db, {"--json", "--resume", file}, again)));
  EXPECT_EQ(50, countRows("NTDetectedAlerts")) << readFile(again + ".err");
}

TEST_P(ResumeTest, ASecondSignalEndsAtOnceAndCommitsNothing) {
  const std::string db = prepared(uri());
  const std::string file = tempPath("blocked.jsonl"), out = tempPath("blocked.out");
  std::ofstream(file) << freeSpaceEvent(1, 1, false);
  // Another writer holds the database: the event in hand waits for it.
  exec(isPostgres() ? "BEGIN; LOCK TABLE NTDetectedAlerts IN ACCESS EXCLUSIVE MODE" : "BEGIN IMMEDIATE");
  const pid_t pid = start(db, {"--resume", file}, out);
  // Signalled only once it waits for the lock: PostgreSQL lists the lock it
  // waits for on this test's own table (other tests share the server);
  // SQLite's busy handler sleeps (nanosleep or clock_nanosleep), which
  // nothing else in the run does.
  const auto waiting = [&] {
    if (isPostgres())
      return queryInt("SELECT COUNT(*) FROM pg_locks WHERE NOT granted AND relation = 'NTDetectedAlerts'::regclass") > 0;
    const std::string call = readFile("/proc/" + std::to_string(pid) + "/syscall");
    return call.rfind("35 ", 0) == 0 || call.rfind("230 ", 0) == 0;
  };
  ASSERT_TRUE(eventually(waiting)) << readFile(out + ".err");
  kill(pid, SIGTERM);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_EQ(0, waitpid(pid, nullptr, WNOHANG)) << "the first signal must let the event in hand finish";
  kill(pid, SIGTERM);
  EXPECT_EQ(128 + SIGTERM, waitFor(pid));
  exec("ROLLBACK");
  EXPECT_NE(std::string::npos, readFile(out + ".err").find("second signal")) << readFile(out + ".err");
  EXPECT_EQ(0, countRows("NTDetectedAlerts"));
  EXPECT_EQ(0, countRows("EvdRunPosition"));
}

EVD_INSTANTIATE_BACKENDS(ResumeTest);

}  // namespace
}  // namespace evd::test

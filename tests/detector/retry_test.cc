// A run whose PostgreSQL server restarts under it loses no event: each event
// whose connection went runs again once the server answers, and the stored
// rows are those of a run the restarts never touched.
#include <chrono>
#include <fstream>
#include <string>
#include <thread>

#include "Db/DBtable.h"
#include "Db/Database.h"
#include "detector/EvNEventBatch.h"
#include "host/event_json.h"
#include "support/child_process.h"
#include "support/db_fixture.h"

namespace evd::test {
namespace {

constexpr int kEvents = 2000;
constexpr int kClients = 50;

// Every client in turn; every third pass clears each client, so that the
// events are new occurrences, repeats and clearings.
std::string writeEvents() {
  const std::string path = tempPath("retry-events.jsonl");
  std::ofstream out(path);
  for (int i = 0; i < kEvents; ++i) {
    const int c = 1 + i % kClients;
    out << freeSpaceEvent(c, i, (i / kClients) % 3 == 2);
  }
  return path;
}

// The kind of every event, in input order, from an --events file.
std::string kinds(const std::string& eventsJson) {
  std::string all;
  for (size_t at = 0; (at = eventsJson.find("\"kind\": \"", at)) != std::string::npos;) {
    at += 9;
    all += eventsJson.substr(at, eventsJson.find('"', at) - at) + "\n";
  }
  return all;
}

class RetryTest : public DbTest {
 protected:
  void SetUp() override {
    DbTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    if (!isPostgres()) GTEST_SKIP() << "a server restart is a PostgreSQL matter";
    // Under /tmp itself: the server's owner must reach it.
    char dir[] = "/tmp/evd-retry-pg.XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(dir));
    dir_ = dir;
    int status = 0;
    privateUri_ = shell("bash " + std::string(EVD_SOURCE_DIR) + "/scripts/pg_server.sh start " + shellQuoted(dir_), &status);
    while (!privateUri_.empty() && privateUri_.back() == '\n') privateUri_.pop_back();
    ASSERT_EQ(0, status) << readFile(dir_ + "/initdb.log") << readFile(dir_ + "/server.log");
  }
  void TearDown() override {
    if (!dir_.empty()) {
      int status = 0;
      shell("bash " + std::string(EVD_SOURCE_DIR) + "/scripts/pg_server.sh stop " + shellQuoted(dir_) + " && rm -rf " +
                shellQuoted(dir_),
            &status);
    }
    DbTest::TearDown();
  }
  // A database with the schema and a rule for the events' alert type.
  void prepare(const std::string& db) {
    int status = 0;
    const std::string out = shell(std::string(EVDETECT_PATH) + " init --db " + shellQuoted(db) + " && " + EVDETECT_PATH +
                                      " rule add --db " + shellQuoted(db) + " --type 10 --name free-space 2>&1",
                                  &status);
    ASSERT_EQ(0, status) << out;
  }
  // The occurrences stored, to set beside another run's.
  std::string stored(const std::string& db) {
    Db::configure(db);
    std::string rows = std::to_string(countRows("NTDetectedAlerts")) + " occurrences, " +
                       std::to_string(countRows("NTDetectedAlerts WHERE (processStat & 67) <> 0")) + " pending";
    Db::closeThreadConnection();
    Db::configure(uri());
    return rows;
  }

  std::string dir_, privateUri_;
};

TEST_P(RetryTest, ServerRestartsLoseNoEvent) {
  const std::string events = writeEvents();
  // Restarting the private server, as its owner, while the events flow in
  // slowly enough for the run to outlast both restarts.
  const std::string pgCtl = "bin=$(ls -d /usr/lib/postgresql/*/bin | sort -V | tail -n 1); "
                            "pgctl() { if [ \"$(id -u)\" = 0 ]; then runuser -u postgres -- \"$bin/pg_ctl\" \"$@\"; "
                            "else \"$bin/pg_ctl\" \"$@\"; fi; }; ";
  const std::string restart = "pgctl -D " + shellQuoted(dir_ + "/data") + " -l " + shellQuoted(dir_ + "/server.log") +
                              " -m fast -w restart >/dev/null 2>&1";
  const auto terminations = [&] {
    const std::string log = readFile(dir_ + "/server.log");
    size_t n = 0;
    for (size_t at = 0; (at = log.find("terminating connection due to administrator command", at)) != std::string::npos;
         ++at)
      ++n;
    return n;
  };
  // In a group, every event of the open group runs again.
  for (const std::string options : {"", " --group 20"}) {
    SCOPED_TRACE(options.empty() ? "per event" : "groups of 20");
    const std::string reference = freshDatabase("postgres");
    ASSERT_FALSE(reference.empty());
    prepare(reference);
    int status = 0;
    const std::string refEvents = tempPath("retry-ref-events.jsonl");
    shell(std::string(EVDETECT_PATH) + " run --json --events " + shellQuoted(refEvents) + " --db " +
              shellQuoted(reference) + " " + shellQuoted(events),
          &status);
    ASSERT_EQ(0, status);

    std::string err;
    ASSERT_EQ(0, Db::dropSchema(privateUri_, &err)) << err;
    Db::configure(uri());
    prepare(privateUri_);
    const std::string runEvents = tempPath("retry-run-events.jsonl");
    const std::string summary = tempPath("retry-summary.json");
    const std::string feed = "for from in $(seq 1 50 " + std::to_string(kEvents) + "); do sed -n \"${from},$((from + 49))p\" " +
                             shellQuoted(events) + "; sleep 0.05; done";
    const std::string run = pgCtl + "(" + feed + ") | " + EVDETECT_PATH + " run --json" + options + " --events " +
                            shellQuoted(runEvents) + " --db " + shellQuoted(privateUri_) + " - >" +
                            shellQuoted(summary) + " 2>/dev/null & run=$!; sleep 0.6; " + restart + "; sleep 0.6; " +
                            restart + "; wait $run; echo $?";
    const size_t before = terminations();
    const std::string rc = shell(run, &status);
    EXPECT_EQ("0\n", rc) << readFile(summary);
    const std::string sum = readFile(summary);
    EXPECT_EQ(kEvents, jsonField(sum, "handled")) << sum;
    EXPECT_EQ(0, jsonField(sum, "failed")) << sum;
    // Both restarts reached the run's connection.
    EXPECT_GE(terminations() - before, 2u);
    EXPECT_EQ(kinds(readFile(refEvents)), kinds(readFile(runEvents)));
    EXPECT_EQ(stored(reference), stored(privateUri_));
  }
}

EVD_INSTANTIATE_BACKENDS(RetryTest);

// SQLite: an event that waited past the busy timeout for another writer's
// lock runs once more, and fails only when the lock outlasts that too.
TEST(BusyRetryTest, AnEventThatMetABusyDatabaseRunsOnceMore) {
  const std::string db = freshDatabase("sqlite");
  ASSERT_FALSE(db.empty());
  int status = 0;
  shell(std::string(EVDETECT_PATH) + " init --db " + shellQuoted(db) + " >/dev/null && " + EVDETECT_PATH +
            " rule add --db " + shellQuoted(db) + " --type 10 >/dev/null",
        &status);
  ASSERT_EQ(0, status);
  Db::configure(db);
  constexpr int kTimeoutMs = 300;
  Db::setBusyTimeout(kTimeoutMs);
  const struct {
    int holdMs;  // how long another writer holds the database
    bool stored;
  } cases[] = {{kTimeoutMs * 3 / 2, true}, {kTimeoutMs * 3, false}};
  int client = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE("held for " + std::to_string(c.holdMs) + " ms");
    Db::closeThreadConnection();
    bool holding = false;
    std::thread writer([&] {
      DBtran hold;
      holding = hold.startTran() == 0;
      std::this_thread::sleep_for(std::chrono::milliseconds(c.holdMs));
      hold.rollbackTran();
      Db::closeThreadConnection();
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));  // the writer takes the lock first
    EvNEventResult result;
    EvNDetector detector;
    EvNEventBatch batch(detector, {}, [&](const EvNEventResult& r) { result = r; });
    EvAlertEx alert;
    EventReadError err;
    ASSERT_TRUE(parseEventLine(freeSpaceEvent(++client, 1, false), alert, err)) << err.message;
    batch.store(alert, 1);
    writer.join();
    ASSERT_TRUE(holding);
    EXPECT_EQ(c.stored, result.committed && result.ok) << result.reason;
    EXPECT_EQ(c.stored ? EvNEventKind::New : EvNEventKind::Failed, result.kind) << result.reason;
    if (!c.stored) {
      EXPECT_NE(std::string::npos, result.reason.find("locked")) << result.reason;
    }
  }
  Db::setBusyTimeout(10000);
  Db::closeThreadConnection();
}

}  // namespace
}  // namespace evd::test

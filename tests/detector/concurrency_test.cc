// Several evdetect processes on one database: no pending occurrence recorded
// twice, no event failed, every event accounted for.
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "Db/Database.h"
#include "support/child_process.h"
#include "support/db_fixture.h"

namespace evd::test {
namespace {

constexpr int kRuns = 4;
constexpr int kEventsPerRun = 550;  // eleven passes: the last one records
constexpr int kClients = 50;

// The events of run P: the clients in turn, odd runs forwards and even ones
// backwards, so that runs meet on a client in opposite orders; every third
// pass clears every client and the next one records each anew.
std::string writeEvents(int p) {
  const std::string path = tempPath("concurrency-" + std::to_string(p) + ".jsonl");
  std::ofstream out(path);
  for (int i = 0; i < kEventsPerRun; ++i) {
    const int c = p % 2 ? 1 + i % kClients : kClients - i % kClients;
    out << freeSpaceEvent(c, i, (i / kClients) % 3 == 2);
  }
  return path;
}

class ConcurrencyTest : public DbTest {};

TEST_P(ConcurrencyTest, RunsSideBySideRecordEachPendingOccurrenceOnce) {
  const struct {
    const char* name;
    const char* options;
  } modes[] = {{"per event", ""}, {"groups of 100", "--group 100"}};
  std::vector<std::string> files;
  for (int p = 1; p <= kRuns; ++p) files.push_back(writeEvents(p));
  for (const auto& mode : modes) {
    SCOPED_TRACE(mode.name);
    const std::string db = freshDatabase(GetParam());
    ASSERT_FALSE(db.empty());
    int status = 0;
    shell(std::string(EVDETECT_PATH) + " init --db " + shellQuoted(db) + " && " + EVDETECT_PATH + " rule add --db " +
              shellQuoted(db) + " --type 10 --name free-space",
          &status);
    ASSERT_EQ(0, status);
    std::string runs;
    for (const std::string& f : files)
      runs += std::string(EVDETECT_PATH) + " run --json " + mode.options + " --db " + shellQuoted(db) + " " + f + " & ";
    const std::string out = shell(runs + "wait", &status);
    long long handled = 0, failed = 0;
    for (size_t at = 0; (at = out.find("{", at)) != std::string::npos; ++at) {
      const std::string summary = out.substr(at, out.find('}', at) - at);
      handled += jsonField(summary, "handled");
      failed += jsonField(summary, "failed");
    }
    EXPECT_EQ(kRuns * kEventsPerRun, handled) << out;
    EXPECT_EQ(0, failed) << out;
    Db::configure(db);
    EXPECT_EQ(0, queryInt("SELECT COUNT(*) FROM (SELECT entityId FROM NTDetectedAlerts WHERE alertType = 10 "
                          "AND (processStat & 67) <> 0 GROUP BY entityId HAVING COUNT(*) > 1) d"));
    // Each client ends with its last pass: the runs end on a recording pass.
    EXPECT_EQ(kClients, countRows("NTDetectedAlerts WHERE alertType = 10 AND (processStat & 67) <> 0"));
    Db::configure(uri());
  }
}

EVD_INSTANTIATE_BACKENDS(ConcurrencyTest);

}  // namespace
}  // namespace evd::test

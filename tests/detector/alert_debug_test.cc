#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host/EvAlertDebug.h"
#include "host/EvEvent.h"
#include "host/NxLog.h"
#include "support/alert_log.h"

namespace {

long long g_now = 0;
long long fakeClock() { return g_now; }

int g_configured = 1;
int g_configuredResult = 0;
int g_sourceCalls = 0;
int fakeLevel(const char*, int* level) {
  ++g_sourceCalls;
  *level = g_configured;
  return g_configuredResult;
}

// Each test starts from a process that has not yet checked its settings:
// fresh statics, the alert log in a file of its own at level 1, a clock
// under the test's control and a configured level the test sets.
class AlertDebugTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setLogErrorSink(nullptr);  // the first check must route log_error itself
    EvAlertDebug::isInitDone = false;
    EvAlertDebug::lastRegCheck = 0;
    g_now = 100000;
    g_configured = 1;
    g_configuredResult = 0;
    g_sourceCalls = 0;
    previousClock_ = EvAlertDebug::setClock(&fakeClock);
    previousSource_ = EvDebug::setAppDebugLevelSource(&fakeLevel);
  }
  void TearDown() override {
    EvAlertDebug::setClock(previousClock_);
    EvDebug::setAppDebugLevelSource(previousSource_);
  }
  std::vector<std::string> lines() const { return log_.lines(); }
  // The level a writer made with the configured level CONFIGURED ends up at,
  // one check later.
  int levelAfterCheck(int configured) {
    g_configured = configured;
    g_now += EvAlertDebug::kRecheckSeconds + 1;
    EvAlertDebug writer;
    return writer.getDebugLevel();
  }

  evd::test::AlertLogCapture log_{1};
  EvAlertDebug::Clock previousClock_ = nullptr;
  EvDebug::AppLevelSource previousSource_ = nullptr;
};

TEST_F(AlertDebugTest, ConfiguredLevelIsClampedToOneToTenAndOnlyAChangeIsLogged) {
  // Configured level, then the level the writer ends up at; -7 and 99 clamp
  // to the level already set, so they change nothing.
  for (auto [configured, level] : {std::pair{5, 5}, {5, 5}, {0, 1}, {-7, 1}, {25, 10}, {10, 10}, {99, 10}})
    EXPECT_EQ(level, levelAfterCheck(configured)) << configured;
  const auto l = lines();
  ASSERT_EQ(3u, l.size());
  EXPECT_TRUE(l[0].ends_with("EvAlertDebug::CheckRegistrySettings: DebugLevel Changed from [1] to [5]")) << l[0];
  EXPECT_TRUE(l[1].ends_with("DebugLevel Changed from [5] to [1]")) << l[1];
  EXPECT_TRUE(l[2].ends_with("DebugLevel Changed from [1] to [10]")) << l[2];
}

TEST_F(AlertDebugTest, LevelIsReadAtMostOncePerSixtySeconds) {
  const long long start = g_now;
  g_configured = 5;
  { EvAlertDebug w; EXPECT_EQ(5, w.getDebugLevel()); }
  EXPECT_EQ(start, EvAlertDebug::lastRegCheck);
  EXPECT_EQ(1, g_sourceCalls);

  g_configured = 7;
  for (long long later : {start + 1, start + 59, start + 60}) {
    g_now = later;
    EvAlertDebug w;
    EXPECT_EQ(5, w.getDebugLevel()) << "at +" << later - start;
  }
  EXPECT_EQ(1, g_sourceCalls);
  EXPECT_EQ(start, EvAlertDebug::lastRegCheck);

  g_now = start + 61;
  { EvAlertDebug w; EXPECT_EQ(7, w.getDebugLevel()); }
  EXPECT_EQ(2, g_sourceCalls);
  EXPECT_EQ(start + 61, EvAlertDebug::lastRegCheck);
}

TEST_F(AlertDebugTest, FirstCheckInitialisesTheLogAndRoutesLogError) {
  EXPECT_FALSE(EvAlertDebug::isInitDone);
  EvAlertDebug w;
  EXPECT_TRUE(EvAlertDebug::isInitDone);
  EXPECT_EQ(EvAlertDebug::kModuleId, alertInstance.moduleId());
  EXPECT_EQ(&alertInstance, w.instance());
  log_error("Binding.h", 12, "routed [%d]", 3);
  w.Error("EvNDetector::StoreNotiData", "own line");
  const auto l = lines();
  ASSERT_EQ(2u, l.size());
  EXPECT_TRUE(l[0].ends_with("ERROR log_error: Binding.h(12): routed [3]")) << l[0];
  EXPECT_TRUE(l[1].ends_with("ERROR EvNDetector::StoreNotiData: own line")) << l[1];
}

TEST_F(AlertDebugTest, WithoutTheAlertLogOnlyTheCheckTimeMoves) {
  EvAlertDebug::createAlertsLog = false;
  g_configured = 6;
  EvAlertDebug w;
  EXPECT_EQ(nullptr, w.instance());
  EXPECT_EQ(0, g_sourceCalls);
  EXPECT_FALSE(EvAlertDebug::isInitDone);
  EXPECT_EQ(g_now, EvAlertDebug::lastRegCheck);
  EXPECT_EQ(1, alertInstance.level());
  w.DebugLvl("F", 1, "goes nowhere");
  EXPECT_TRUE(lines().empty());
}

TEST_F(AlertDebugTest, UnreadableLevelKeepsTheCurrentOne) {
  EXPECT_EQ(4, levelAfterCheck(4));
  g_configuredResult = 9001;
  EXPECT_EQ(4, levelAfterCheck(9));
  g_configuredResult = 100;  // not configured: the default level
  EXPECT_EQ(EvDebugFileInstance::kDefaultLevel, levelAfterCheck(9));
  EXPECT_EQ(2u, lines().size());
}

TEST_F(AlertDebugTest, PrintTokenWritesOnlyAtLevelTen) {
  EXPECT_EQ(9, levelAfterCheck(9));
  EvAlertDebug w;
  w.printToken("EvNDetector::StoreAdminAlertForEvents", EvMsg::kAnomalyOther, "3");
  EXPECT_EQ(1u, lines().size());

  EXPECT_EQ(10, levelAfterCheck(10));
  w.printToken("EvNDetector::StoreAdminAlertForEvents", EvMsg::kAnomalyOther, "3");
  w.printToken("F", 0x4A0009FF, nullptr);
  const auto l = lines();
  ASSERT_EQ(4u, l.size());
  EXPECT_TRUE(l[2].ends_with("DEBUG10 EvNDetector::StoreAdminAlertForEvents: token: Unusual event value: 3")) << l[2];
  EXPECT_TRUE(l[3].ends_with("DEBUG10 F: token:  value: ")) << l[3];
}

}  // namespace

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
  // The level a writer ends up at, one check later.
  int levelAfterCheck(int configured) {
    g_configured = configured;
    g_now += EvAlertDebug::kRecheckSeconds + 1;
    return EvAlertDebug().getDebugLevel();
  }

  evd::test::AlertLogCapture log_{1};
  EvAlertDebug::Clock previousClock_ = nullptr;
  EvDebug::AppLevelSource previousSource_ = nullptr;
};

TEST_F(AlertDebugTest, ConfiguredLevelIsClampedAndAnUnreadableOneKeepsTheCurrent) {
  for (auto [configured, level] : {std::pair{5, 5}, {5, 5}, {0, 1}, {25, 10}, {99, 10}})
    EXPECT_EQ(level, levelAfterCheck(configured)) << configured;
  EXPECT_EQ(3u, log_.lines().size()) << "only a change is logged";
  EXPECT_EQ(4, levelAfterCheck(4));
  g_configuredResult = 9001;
  EXPECT_EQ(4, levelAfterCheck(9));
  g_configuredResult = 100;  // not configured: the default level
  EXPECT_EQ(EvDebugFileInstance::kDefaultLevel, levelAfterCheck(9));
}

TEST_F(AlertDebugTest, LevelIsReadAtMostOncePerSixtySeconds) {
  const long long start = g_now;
  g_configured = 5;
  EXPECT_EQ(5, EvAlertDebug().getDebugLevel());
  g_configured = 7;
  g_now = start + 60;
  EXPECT_EQ(5, EvAlertDebug().getDebugLevel());
  g_now = start + 61;
  EXPECT_EQ(7, EvAlertDebug().getDebugLevel());
  EXPECT_EQ(2, g_sourceCalls);
  EXPECT_EQ(start + 61, EvAlertDebug::lastRegCheck);
}

TEST_F(AlertDebugTest, FirstCheckRoutesLogErrorAndTokensAreWrittenOnlyAtLevelTen) {
  EvAlertDebug w;
  EXPECT_EQ(&alertInstance, w.instance());
  log_error("Binding.h", 12, "routed [%d]", 3);
  EXPECT_EQ(9, levelAfterCheck(9));
  w.printToken("F", EvMsg::kAnomalyOther, "3");
  EXPECT_EQ(10, levelAfterCheck(10));
  w.printToken("F", EvMsg::kAnomalyOther, "3");
  const auto l = log_.lines();
  ASSERT_EQ(4u, l.size());
  EXPECT_TRUE(l[0].ends_with("ERROR log_error: Binding.h(12): routed [3]")) << l[0];
  EXPECT_TRUE(l[3].ends_with("DEBUG10 F: token: Unusual event value: 3")) << l[3];
}

TEST_F(AlertDebugTest, WithoutTheAlertLogOnlyTheCheckTimeMoves) {
  EvAlertDebug::createAlertsLog = false;
  EvAlertDebug w;
  EXPECT_EQ(0, g_sourceCalls);
  EXPECT_EQ(g_now, EvAlertDebug::lastRegCheck);
  w.DebugLvl("F", 1, "goes nowhere");
  EXPECT_TRUE(log_.lines().empty());
}

}  // namespace

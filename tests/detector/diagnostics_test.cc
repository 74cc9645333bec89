#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "Db/DbTypes.h"
#include "detector/EvNDetector.h"
#include "host/EvAlertEx.h"
#include "host/NxSettings.h"
#include "support/alert_log.h"
#include "support/db_fixture.h"

namespace {

TEST(JobIdTest, HalvesAndBackAgain) {
  const long long id = 5LL * 4294967296LL + 7;
  EXPECT_EQ(5, EvNDetector::JobIdHigh(id));
  EXPECT_EQ(7, EvNDetector::JobIdLow(id));
  EXPECT_EQ(id, EvNDetector::ConcJobId(5, 7));
  EXPECT_EQ(-1, EvNDetector::JobIdHigh(-1));  // the high half keeps the sign
  EXPECT_EQ(4294967295LL, EvNDetector::JobIdLow(-1));
  // The low half is added as it comes, not masked.
  EXPECT_EQ(3LL * 4294967296LL, EvNDetector::ConcJobId(2, 4294967296UL));
}

// Runs the test body in a fixed time zone and restores the process's zone.
class TimeZoneTest : public ::testing::Test {
 protected:
  void SetUp() override { zone("EST5"); }
  void TearDown() override {
    if (hadTz_) setenv("TZ", oldTz_.c_str(), 1);
    else unsetenv("TZ");
    tzset();
  }
  static void zone(const char* tz) {
    setenv("TZ", tz, 1);
    tzset();
  }
  const bool hadTz_ = std::getenv("TZ") != nullptr;
  const std::string oldTz_ = hadTz_ ? std::getenv("TZ") : "";
};

constexpr long kNoonUtc = 1709296496L;  // 2024-03-01 12:34:56 UTC

TEST_F(TimeZoneTest, LocalAndUtcBreakdownsTheirTextAndTheZeroDate) {
  DB_DATETIME local;
  local.fraction = 77;
  EvNDetector::UlongTimeToDbDatetime(kNoonUtc, local, false);
  EXPECT_EQ((std::vector<int>{2024, 3, 1, 7, 34, 56, 0}),
            (std::vector<int>{local.year, local.month, local.day, local.hour, local.minute, local.second,
                              static_cast<int>(local.fraction)}));
  DB_DATETIME utc;
  EvNDetector::UlongTimeToDbDatetime(kNoonUtc, utc, true);
  EXPECT_EQ(kNoonUtc + 5 * 3600, EvNDetector::DbDatetimeToUlongUTCTime(utc));  // UTC fields read as local
  char text[32];
  std::memset(text, '#', sizeof text);
  EXPECT_EQ(kNoonUtc, EvNDetector::DbDatetimeToUlongTime(text, local, false));
  EXPECT_STREQ("Fri Mar  1 07:34:56 2024", text);
  EXPECT_EQ(std::string(7, '#'), std::string(text + 25, 7)) << "room for the text and its terminator only";
  EXPECT_EQ(kNoonUtc, EvNDetector::DbDatetimeToUlongTime(text, local, true));
  EXPECT_STREQ("Fri Mar  1 12:34:56 2024", text);
  zone("UTC0");  // times before 1970 come back negative, without text
  DB_DATETIME old = local;
  old.year = 1969;
  old.month = 12;
  old.day = 31;
  std::strcpy(text, "untouched");
  EXPECT_EQ(-59104, EvNDetector::DbDatetimeToUlongTime(text, old, false));  // 16:25:04 before 1970
  EXPECT_STREQ("untouched", text);
  EvNDetector::UlongTimeToDbDatetime(0, local, true);
  EXPECT_TRUE(local.isZero());
}

class TraceTest : public evd::test::DbTest {
 protected:
  void tracing(const char* value) { ASSERT_EQ(0, Settings::set("Server", "TraceAlerts", value)); }
  evd::test::AlertLogCapture log_;
};

TEST_P(TraceTest, WritesEveryValueInOrderWhileTracingIsOn) {
  tracing("1");
  EvNDetector d;
  d.SetNotiCategoryAndType(2, 3);
  d.SetNotiCriteria(5);
  EvAlertEx a;
  a.setAlert(12);
  a.setCondition(13);
  a.setConditionCleared(true);
  a.setClientId(21);
  a.setLibraryId(22);
  a.setSparePoolId(23);
  a.setDriveId(24);
  a.setMediaId(25);
  a.setMediaAgentId(26);
  a.setMountPathId(27);
  a.setJobId(5LL * 4294967296LL + 7);
  a.setTaskId(30);
  a.setSchedPolicyId(31);
  a.setStorPolicyId(32);
  a.setCopyId(33);
  d.Trace(77, a);
  EXPECT_EQ("77|5|3|12|13|yes|21|22|23|24|25|26|27|7|5|30|31|32|33",
            queryText("SELECT CAST(eventId AS TEXT) || '|' || criteria || '|' || alertType || '|' || alertId || '|' || "
                      "conditionId || '|' || conditionCleared || '|' || clientId || '|' || libraryId || '|' || "
                      "sparePoolId || '|' || driveId || '|' || mediaId || '|' || mediaAgentId || '|' || "
                      "mountPathId || '|' || jobId_l || '|' || jobId_h || '|' || taskId || '|' || "
                      "schedPolicyId || '|' || storPolicyId || '|' || copyId FROM NTDAlertTraceLog"));
  a.setConditionCleared(false);
  d.Trace(78, a);
  EXPECT_EQ("no", queryText("SELECT conditionCleared FROM NTDAlertTraceLog WHERE eventId = 78"));
}

TEST_P(TraceTest, TheFlagIsAskedOnEveryCallAndOffMeansNoCall) {
  exec("DROP TABLE NTDAlertTraceLog");
  EvNDetector d;
  EvAlertEx a;
  tracing("yes");  // off: the procedure is not called, so its missing table goes unnoticed
  d.Trace(1, a);
  EXPECT_EQ(0, log_.count("NTDAlertTrace"));
  tracing("1");
  d.Trace(2, a);
  EXPECT_EQ(1, log_.count("Proc NTDAlertTrace failed"));
}

EVD_INSTANTIATE_BACKENDS(TraceTest);

}  // namespace

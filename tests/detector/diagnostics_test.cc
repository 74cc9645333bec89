#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "Db/DbTypes.h"
#include "host/EvAlertDebug.h"
#include "detector/EvNDetector.h"
#include "host/EvAlertEx.h"
#include "host/NxLog.h"
#include "host/NxSettings.h"
#include "support/alert_log.h"
#include "support/db_fixture.h"

namespace {

// ---- job ids ----

TEST(JobIdTest, HalvesAndBackAgain) {
  // The low half is the unsigned 32 bits; the high half keeps the sign.
  struct Case {
    long long id, high, low;
  };
  const Case cases[] = {
      {5LL * 4294967296LL + 7, 5, 7}, {-1, -1, 4294967295LL}, {2147483648LL, 0, 2147483648LL}, {4294967296LL, 1, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.id);
    EXPECT_EQ(c.high, EvNDetector::JobIdHigh(c.id));
    EXPECT_EQ(c.low, EvNDetector::JobIdLow(c.id));
    if (c.id >= 0) {
      EXPECT_EQ(c.id, EvNDetector::ConcJobId(static_cast<unsigned long>(c.high), static_cast<unsigned long>(c.low)));
    }
  }
  // The low half is added as it comes, not masked.
  EXPECT_EQ(3LL * 4294967296LL, EvNDetector::ConcJobId(2, 4294967296UL));
}

// ---- date-times ----

// Runs the test body in a fixed time zone and restores the process's zone.
class TimeZoneTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* tz = std::getenv("TZ");
    hadTz_ = tz != nullptr;
    if (hadTz_) oldTz_ = tz;
  }
  void TearDown() override {
    if (hadTz_) setenv("TZ", oldTz_.c_str(), 1);
    else unsetenv("TZ");
    tzset();
  }
  static void zone(const char* tz) {
    setenv("TZ", tz, 1);
    tzset();
  }

 private:
  bool hadTz_ = false;
  std::string oldTz_;
};

// 2024-03-01 12:34:56 UTC.
constexpr long kNoonUtc = 1709296496L;

TEST_F(TimeZoneTest, LocalAndUtcBreakdownsAndZeroAsTheZeroDate) {
  zone("EST5");
  DB_DATETIME local;
  local.fraction = 77;
  EvNDetector::UlongTimeToDbDatetime(kNoonUtc, local, false);
  EXPECT_EQ((std::vector<int>{2024, 3, 1, 7, 34, 56, 0}),
            (std::vector<int>{local.year, local.month, local.day, local.hour, local.minute, local.second,
                              static_cast<int>(local.fraction)}));
  DB_DATETIME utc;
  EvNDetector::UlongTimeToDbDatetime(kNoonUtc, utc, true);
  EXPECT_EQ((std::vector<int>{2024, 3, 1, 12}), (std::vector<int>{utc.year, utc.month, utc.day, utc.hour}));

  // Back to seconds through the local interpretation.
  EXPECT_EQ(kNoonUtc, EvNDetector::DbDatetimeToUlongTime(nullptr, local, false));
  EXPECT_EQ(kNoonUtc, EvNDetector::DbDatetimeToUlongUTCTime(local));
  // The UTC fields read as local time are five hours later.
  EXPECT_EQ(kNoonUtc + 5 * 3600, EvNDetector::DbDatetimeToUlongUTCTime(utc));

  for (bool asUtc : {false, true}) {
    DB_DATETIME dt = local;
    EvNDetector::UlongTimeToDbDatetime(0, dt, asUtc);
    EXPECT_TRUE(dt.isZero()) << asUtc;
  }
}

TEST_F(TimeZoneTest, TextIsTheTwentyFourCharacterRendering) {
  zone("EST5");
  DB_DATETIME dt;
  EvNDetector::UlongTimeToDbDatetime(kNoonUtc, dt, false);
  char text[40];
  EXPECT_EQ(kNoonUtc, EvNDetector::DbDatetimeToUlongTime(text, dt, false));
  EXPECT_STREQ("Fri Mar  1 07:34:56 2024", text);
  EXPECT_EQ(kNoonUtc, EvNDetector::DbDatetimeToUlongTime(text, dt, true));
  EXPECT_STREQ("Fri Mar  1 12:34:56 2024", text);

  // The caller's buffer needs room for the text and its terminator only.
  char exact[32];
  std::memset(exact, '#', sizeof exact);
  EvNDetector::DbDatetimeToUlongTime(exact, dt, false);
  EXPECT_EQ(24u, std::strlen(exact));
  EXPECT_EQ(std::string(7, '#'), std::string(exact + 25, 7));

  // A five-digit year is cut at 24 characters.
  DB_DATETIME far;
  far.year = 12000;
  far.month = 1;
  far.day = 1;
  EXPECT_GT(EvNDetector::DbDatetimeToUlongTime(text, far, true), 0);
  EXPECT_EQ(24u, std::strlen(text));

  // Times before 1970 come back negative, without text.
  zone("UTC0");
  DB_DATETIME old;
  old.year = 1969;
  old.month = 12;
  old.day = 31;
  old.hour = 23;
  old.minute = 59;
  std::strcpy(text, "untouched");
  EXPECT_EQ(-60, EvNDetector::DbDatetimeToUlongTime(text, old, false));
  EXPECT_STREQ("untouched", text);
}

// ---- the trace ----

class TraceTest : public evd::test::DbTest {
 protected:
  void tracing(const char* value) {
    std::string error;
    ASSERT_EQ(0, Settings::set("Server", "TraceAlerts", value, &error)) << error;
  }
  long long rows() { return queryInt("SELECT COUNT(*) FROM NTDAlertTraceLog"); }

  static EvAlertEx sample() {
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
    return a;
  }

  evd::test::AlertLogCapture log_;
};

TEST_P(TraceTest, WritesEveryValueInOrderWhileTracingIsOn) {
  tracing("1");
  EvNDetector d;
  d.SetNotiCategoryAndType(2, 3);
  d.SetNotiCriteria(5);
  EvAlertEx a = sample();
  d.Trace(77, a);
  ASSERT_EQ(1, rows());
  EXPECT_EQ("77|5|3|12|13|yes|21|22|23|24|25|26|27|7|5|30|31|32|33",
            queryText("SELECT CAST(eventId AS TEXT) || '|' || criteria || '|' || alertType || '|' || alertId || '|' || "
                      "conditionId || '|' || conditionCleared || '|' || clientId || '|' || libraryId || '|' || "
                      "sparePoolId || '|' || driveId || '|' || mediaId || '|' || mediaAgentId || '|' || "
                      "mountPathId || '|' || jobId_l || '|' || jobId_h || '|' || taskId || '|' || "
                      "schedPolicyId || '|' || storPolicyId || '|' || copyId FROM NTDAlertTraceLog"));
  a.setConditionCleared(false);
  d.Trace(78, a);
  EXPECT_EQ("no", queryText("SELECT conditionCleared FROM NTDAlertTraceLog WHERE eventId = 78"));
  EXPECT_EQ(0, log_.count("NTDAlertTrace"));
}

TEST_P(TraceTest, TheFlagIsAskedOnEveryCallAndOffMeansNoCall) {
  exec("DROP TABLE NTDAlertTraceLog");
  EvNDetector d;
  EvAlertEx a = sample();
  // Off: the procedure is not called, so its missing table goes unnoticed.
  for (const char* off : {"0", "yes"}) {
    tracing(off);
    d.Trace(1, a);
  }
  EXPECT_EQ(0, log_.count("NTDAlertTrace"));
  tracing("1");
  d.Trace(2, a);
  EXPECT_EQ(1, log_.count("DEBUG3 EvNDetector::Trace: Proc NTDAlertTrace failed. Database_error ["));
}

EVD_INSTANTIATE_BACKENDS(TraceTest);

}  // namespace

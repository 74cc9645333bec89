#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

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
  const long long id = 5LL * 4294967296LL + 7;
  EXPECT_EQ(5, EvNDetector::JobIdHigh(id));
  EXPECT_EQ(7, EvNDetector::JobIdLow(id));
  EXPECT_EQ(id, EvNDetector::ConcJobId(5, 7));

  // The low half is the unsigned 32 bits; the high half keeps the sign.
  EXPECT_EQ(4294967295LL, EvNDetector::JobIdLow(-1));
  EXPECT_EQ(-1, EvNDetector::JobIdHigh(-1));
  EXPECT_EQ(2147483648LL, EvNDetector::JobIdLow(2147483648LL));
  EXPECT_EQ(0, EvNDetector::JobIdHigh(4294967295LL));
  EXPECT_EQ(1, EvNDetector::JobIdHigh(4294967296LL));
  EXPECT_EQ(-2, EvNDetector::JobIdHigh(-4294967296LL - 1));
  EXPECT_EQ(4294967295LL, EvNDetector::JobIdLow(-4294967296LL - 1));
  EXPECT_EQ(0, EvNDetector::JobIdLow(7LL << 32));

  // Every id survives the split.
  for (long long v : {0LL, 1LL, 4294967561LL, 9007199254740993LL, 0x7FFFFFFFFFFFFFFFLL}) {
    EXPECT_EQ(v, EvNDetector::ConcJobId(static_cast<unsigned long>(EvNDetector::JobIdHigh(v)),
                                        static_cast<unsigned long>(EvNDetector::JobIdLow(v))))
        << v;
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

TEST_F(TimeZoneTest, ZeroTimeIsTheZeroDate) {
  DB_DATETIME dt;
  dt.year = 2020;
  dt.month = 5;
  dt.day = 6;
  dt.hour = 7;
  dt.minute = 8;
  dt.second = 9;
  dt.fraction = 10;
  EvNDetector::UlongTimeToDbDatetime(0, dt, false);
  EXPECT_TRUE(dt.isZero());
  dt.year = 1999;
  EvNDetector::UlongTimeToDbDatetime(0, dt, true);
  EXPECT_TRUE(dt.isZero());
}

TEST_F(TimeZoneTest, LocalAndUtcBreakdowns) {
  zone("EST5");
  DB_DATETIME local;
  local.fraction = 77;
  EvNDetector::UlongTimeToDbDatetime(kNoonUtc, local, false);
  EXPECT_EQ(2024, local.year);
  EXPECT_EQ(3, local.month);
  EXPECT_EQ(1, local.day);
  EXPECT_EQ(7, local.hour);
  EXPECT_EQ(34, local.minute);
  EXPECT_EQ(56, local.second);
  EXPECT_EQ(0u, local.fraction);

  DB_DATETIME utc;
  EvNDetector::UlongTimeToDbDatetime(kNoonUtc, utc, true);
  EXPECT_EQ(2024, utc.year);
  EXPECT_EQ(3, utc.month);
  EXPECT_EQ(12, utc.hour);

  // Back to seconds through the local interpretation.
  EXPECT_EQ(kNoonUtc, EvNDetector::DbDatetimeToUlongTime(nullptr, local, false));
  EXPECT_EQ(kNoonUtc, EvNDetector::DbDatetimeToUlongUTCTime(local));
  // The UTC fields read as local time are five hours later.
  EXPECT_EQ(kNoonUtc + 5 * 3600, EvNDetector::DbDatetimeToUlongUTCTime(utc));
}

TEST_F(TimeZoneTest, TextIsTheTwentyFourCharacterRendering) {
  zone("EST5");
  DB_DATETIME dt;
  EvNDetector::UlongTimeToDbDatetime(kNoonUtc, dt, false);
  char text[40];
  std::memset(text, 'x', sizeof text);
  EXPECT_EQ(kNoonUtc, EvNDetector::DbDatetimeToUlongTime(text, dt, false));
  EXPECT_STREQ("Fri Mar  1 07:34:56 2024", text);
  EXPECT_EQ(kNoonUtc, EvNDetector::DbDatetimeToUlongTime(text, dt, true));
  EXPECT_STREQ("Fri Mar  1 12:34:56 2024", text);

  // The caller's buffer needs room for the text and its terminator only.
  char exact[32];
  std::memset(exact, '#', sizeof exact);
  EvNDetector::DbDatetimeToUlongTime(exact, dt, false);
  EXPECT_EQ('\0', exact[24]);
  for (size_t i = 25; i < sizeof exact; ++i) EXPECT_EQ('#', exact[i]) << i;

  // A five-digit year is cut at 24 characters.
  DB_DATETIME far;
  far.year = 12000;
  far.month = 1;
  far.day = 1;
  char cut[40];
  EXPECT_GT(EvNDetector::DbDatetimeToUlongTime(cut, far, true), 0);
  EXPECT_EQ(24u, std::strlen(cut));
}

TEST_F(TimeZoneTest, TimesBefore1970ComeBackNegativeWithoutText) {
  zone("UTC0");
  DB_DATETIME old;
  old.year = 1969;
  old.month = 12;
  old.day = 31;
  old.hour = 23;
  old.minute = 59;
  old.second = 0;
  char text[30] = "untouched";
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

TEST_P(TraceTest, TheFlagIsAskedOnEveryCall) {
  EvNDetector d;
  EvAlertEx a = sample();
  d.Trace(1, a);
  EXPECT_EQ(0, rows());
  tracing("1");
  d.Trace(2, a);
  EXPECT_EQ(1, rows());
  tracing("0");
  d.Trace(3, a);
  tracing("yes");
  d.Trace(4, a);
  EXPECT_EQ(1, rows());
}

TEST_P(TraceTest, FailuresAreLoggedAndOffMeansNoCall) {
  exec("DROP TABLE NTDAlertTraceLog");
  EvNDetector d;
  EvAlertEx a = sample();
  // Off: the procedure is not called, so its missing table goes unnoticed.
  d.Trace(1, a);
  EXPECT_EQ(0, log_.count("NTDAlertTrace"));
  tracing("1");
  d.Trace(2, a);
  EXPECT_EQ(1, log_.count("DEBUG3 EvNDetector::Trace: Proc NTDAlertTrace failed. Database_error ["));
}

EVD_INSTANTIATE_BACKENDS(TraceTest);

}  // namespace

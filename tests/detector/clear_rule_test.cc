// Clearing a rule's occurrences takes every row that hangs on them, and only those.
#include <gtest/gtest.h>

#include <iterator>
#include <string>

#include "Db/AllBindings.h"
#include "detector/EvNDetector.h"
#include "detector/ProcessStat.h"
#include "support/db_fixture.h"

namespace {

class ClearRuleTest : public evd::test::DbTest {
 protected:
  // Tables whose rows carry an occurrence's id, with the column naming it.
  struct Owned {
    const char* table;
    const char* column;
  };
  static constexpr Owned kOwned[] = {
      {"NTDparams", "eventId"},          {"NTDMsgParam", "eventId"}, {"NTDQueryResults", "EventId"},
      {"NTDdpDr", "eventId"},            {"NTLMalert", "eventId"},   {"NTDEventMonitoring", "eventId"},
      {"NTDclntAgentMAConfig", "eventId"}, {"NTUserConfig", "eventId"}, {"NTDschedConfig", "eventId"},
  };

  // An occurrence of RULE with one row in every owned table.
  int occurrence(int rule) {
    exec("INSERT INTO NTDetectedAlerts (alertType, processStat, ntNotificationId) VALUES (3, 1, " +
         std::to_string(rule) + ")");
    const int id = static_cast<int>(queryInt("SELECT MAX(eventId) FROM NTDetectedAlerts"));
    for (const Owned& o : kOwned)
      exec(std::string("INSERT INTO ") + o.table + " (" + o.column + ") VALUES (" + std::to_string(id) + ")");
    return id;
  }
  // Rows of EVENTID in the occurrence table and every owned table.
  long long rowsOf(int eventId) {
    long long n = countRows("NTDetectedAlerts WHERE eventId = " + std::to_string(eventId));
    for (const Owned& o : kOwned)
      n += countRows(std::string(o.table) + " WHERE " + o.column + " = " + std::to_string(eventId));
    return n;
  }
  static constexpr long long kRowsPerOccurrence = 1 + std::size(kOwned);
};

TEST_P(ClearRuleTest, TheRulesOccurrencesGoWithTheirRowsOthersStay) {
  const int a = occurrence(5), b = occurrence(5), other = occurrence(6), noRule = occurrence(0);
  EXPECT_EQ(0, ClearDetectedAlertsForRule(5));
  EXPECT_EQ(0, rowsOf(a));
  EXPECT_EQ(0, rowsOf(b));
  EXPECT_EQ(kRowsPerOccurrence, rowsOf(other));
  EXPECT_EQ(kRowsPerOccurrence, rowsOf(noRule));
  // Nothing left of that rule, and no rule id at all: rows recorded without a rule stay.
  EXPECT_EQ(DB_NO_DATA, ClearDetectedAlertsForRule(5));
  EXPECT_EQ(DB_NO_DATA, ClearDetectedAlertsForRule(0));
  EXPECT_EQ(kRowsPerOccurrence, rowsOf(other));
  EXPECT_EQ(kRowsPerOccurrence, rowsOf(noRule));
}

// Inside the caller's transaction the clearing is part of it: a rollback brings everything back,
// and a failure half-way leaves every row where it was.
TEST_P(ClearRuleTest, ClearingIsOneUnitInsideTheCallersTransaction) {
  const int a = occurrence(5);
  {
    DBtran outer;
    ASSERT_EQ(0, outer.startTran());
    EXPECT_EQ(0, ClearDetectedAlertsForRule(5));
    EXPECT_EQ(0, rowsOf(a));
    EXPECT_EQ(0, outer.rollbackTran());
  }
  EXPECT_EQ(kRowsPerOccurrence, rowsOf(a));

  exec("DROP TABLE NTUserConfig");  // cleared after the parameters, before the occurrence
  const int rc = ClearDetectedAlertsForRule(5);
  EXPECT_NE(0, rc);
  EXPECT_NE(DB_NO_DATA, rc);
  EXPECT_EQ(1, countRows("NTDparams WHERE eventId = " + std::to_string(a))) << "rolled back with the failure";
  EXPECT_EQ(1, countRows("NTDetectedAlerts WHERE eventId = " + std::to_string(a)));
}

EVD_INSTANTIATE_BACKENDS(ClearRuleTest);

}  // namespace

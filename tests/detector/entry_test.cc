#include <gtest/gtest.h>

#include <algorithm>
#include <initializer_list>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "Db/AllBindings.h"
#include "Db/Database.h"
#include "detector/EvAlertDebug.h"
#include "detector/EvNDetector.h"
#include "host/EvAlertEx.h"
#include "host/NxLog.h"
#include "host/NxPlatform.h"
#include "host/NxSettings.h"
#include "support/alert_log.h"
#include "support/db_fixture.h"

namespace {

// ---- the alert log and the dispatch, as the tests watch them ----

struct Dispatched {
  std::string handler;
  int criteriaCleared;
};
std::vector<Dispatched> g_dispatched;
void recordDispatch(const char* handler, int criteriaCleared) {
  g_dispatched.push_back({handler, criteriaCleared});
}

// The alert log captured and every dispatch recorded.
class LogScope : public evd::test::AlertLogCapture {
 public:
  LogScope() {
    g_dispatched.clear();
    EvNDetector::dispatchObserver = &recordDispatch;
  }
  ~LogScope() { EvNDetector::dispatchObserver = nullptr; }
  std::string all() const { return text(); }
};

// ---- the old-numbering tables ----

struct Row {
  std::vector<int> from;
  int to;
};

// Condition -> criteria, as the old numbering defines it.
const std::vector<Row> kCriteriaRows = {
    {{2, 2016, 2030, 2051}, 1},
    {{3}, 57},
    {{4, 2017, 2018, 2019, 2031, 2032, 2052, 3006}, 3},
    {{7, 12, 2060, 3024}, 16},
    {{9, 10, 11, 1007, 1009}, 21},
    {{13, 2050}, 7},
    {{1002, 1003}, 17},
    {{1008, 1013, 3034, 3036, 3037, 3041, 3044, 3046, 3047}, 18},
    {{1011}, 19},
    {{2001}, 30},
    {{2002}, 20},
    {{2003}, 29},
    {{2005, 2006, 2014}, 25},
    {{2007, 2010, 2011, 3029}, 22},
    {{2008, 2020}, 24},
    {{2009, 2013}, 23},
    {{2012, 2015}, 26},
    {{2033, 3001, 3002, 3003, 3004, 3005, 3045}, 14},
    {{2040, 2041}, 27},
    {{2053, 2054, 2055}, 10},
    {{2056}, 11},
    {{2057}, 12},
    {{2058}, 13},
    {{2059}, 8},
    {{2061}, 28},
    {{3010}, 46},
    {{3026}, 6},
    {{3027}, 31},
    {{3031}, 72},
    {{3032}, 78},
    {{3033}, 77},
    {{3035, 3038, 3039, 3040}, 79},
    {{3042}, 4},
};

// Old alert id -> alert type.
const std::vector<Row> kTypeRows = {
    {{53}, 53},   {{61}, 61},   {{1001}, 14}, {{1004}, 1},        {{1006}, 2},  {{1007}, 3},  {{1010}, 5},
    {{1020}, 12}, {{1021}, 19}, {{2000}, 13}, {{2002}, 17},       {{2021}, 9},  {{2022}, 18}, {{3001}, 3},
    {{3002}, 4},  {{3020, 3021}, 10},         {{4001}, 15},       {{4002}, 6},  {{5001}, 20},
};

// Old alert id 2001: condition -> alert type.
const std::vector<Row> k2001Rows = {
    {{7, 12, 2060}, 16},
    {{2002, 2003, 3027}, 21},
    {{2008, 2009, 2010, 2011, 2012, 2013, 2014, 2015, 2020, 2040, 2041, 3029}, 17},
    {{2016, 2017, 2018, 2019}, 7},
    {{2030, 2031, 2032, 2033}, 8},
};

bool listed(const std::vector<Row>& rows, int id) {
  for (const auto& r : rows)
    for (int f : r.from)
      if (f == id) return true;
  return false;
}

class MappingTest : public ::testing::Test {
 protected:
  LogScope log_;
};

TEST_F(MappingTest, EveryConditionMapsToItsCriteria) {
  for (const auto& row : kCriteriaRows) {
    for (int condition : row.from) {
      EvNDetector d;
      // Old alert 1007 is a data-protection alert (type 3), for which no
      // later step changes the criteria.
      EXPECT_TRUE(d.MapAlertsToRelease5_9(1007, condition)) << condition;
      EXPECT_EQ(row.to, d.getCriteria()) << "condition " << condition;
      EXPECT_EQ(3, d.getAlertType()) << condition;
      EXPECT_EQ(1007, d.getOldAlertId());
      EXPECT_EQ(condition, d.getAlertStatus());
    }
  }
}

TEST_F(MappingTest, EveryAlertIdMapsToItsType) {
  for (const auto& row : kTypeRows) {
    for (int alert : row.from) {
      EvNDetector d;
      EXPECT_TRUE(d.MapAlertsToRelease5_9(alert, 2)) << alert;
      EXPECT_EQ(row.to, d.getAlertType()) << "alert " << alert;
      EXPECT_EQ(1, d.getCriteria()) << alert;
      EXPECT_EQ(alert, d.getOldAlertId());
      EXPECT_EQ(2, d.getAlertStatus());
    }
  }
}

TEST_F(MappingTest, Alert2001TakesItsTypeFromTheCondition) {
  for (const auto& row : k2001Rows) {
    for (int condition : row.from) {
      EvNDetector d;
      EXPECT_TRUE(d.MapAlertsToRelease5_9(2001, condition)) << condition;
      EXPECT_EQ(row.to, d.getAlertType()) << "condition " << condition;
    }
  }
  // A condition the 2001 table does not list: the type stays unset and then
  // falls back to the alert id itself.
  EvNDetector d;
  EXPECT_FALSE(d.MapAlertsToRelease5_9(2001, 2));
  EXPECT_EQ(2001, d.getAlertType());
  EXPECT_EQ(1, d.getCriteria());
}

TEST_F(MappingTest, UnlistedIdsFailAndLeaveTheFieldAlone) {
  // Every id around the tables that the tables do not name.
  int unlistedConditions = 0;
  for (int condition = 0; condition <= 3100; ++condition) {
    if (listed(kCriteriaRows, condition)) continue;
    ++unlistedConditions;
    EvNDetector d;
    d.SetNotiCriteria(555);
    EXPECT_FALSE(d.MapAlertsToRelease5_9(1007, condition)) << condition;
    ASSERT_EQ(555, d.getCriteria()) << "condition " << condition;
  }
  EXPECT_GT(unlistedConditions, 3000);
  for (int alert = 0; alert <= 5100; ++alert) {
    if (listed(kTypeRows, alert) || alert == 2001) continue;
    EvNDetector d;
    d.SetNotiCategoryAndType(0, 444);
    EXPECT_FALSE(d.MapAlertsToRelease5_9(alert, 2)) << alert;
    ASSERT_EQ(444, d.getAlertType()) << "alert " << alert;
  }
  for (int condition = 0; condition <= 3100; ++condition) {
    if (listed(k2001Rows, condition)) continue;
    EvNDetector d;
    d.SetNotiCategoryAndType(0, 444);
    EXPECT_FALSE(d.MapAlertsToRelease5_9(2001, condition)) << condition;
    ASSERT_EQ(444, d.getAlertType()) << "2001 condition " << condition;
  }
}

TEST_F(MappingTest, LaterStepsAdjustCriteriaAndType) {
  {
    // Condition 3010 keeps its own criteria only on data-protection alerts.
    EvNDetector d;
    EXPECT_TRUE(d.MapAlertsToRelease5_9(3001, 3010));
    EXPECT_EQ(46, d.getCriteria());
    EvNDetector other;
    EXPECT_TRUE(other.MapAlertsToRelease5_9(1004, 3010));
    EXPECT_EQ(1, other.getAlertType());
    EXPECT_EQ(3, other.getCriteria());
  }
  {
    // 2001 with 3010: criteria 3 by the 3010 rule, type from the alert id.
    EvNDetector d;
    EXPECT_FALSE(d.MapAlertsToRelease5_9(2001, 3010));
    EXPECT_EQ(3, d.getCriteria());
    EXPECT_EQ(2001, d.getAlertType());
    EXPECT_EQ(1, log_.count("DEBUG10 EvNDetector::MapAlertsToRelease5_9: Resetting alert type to [2001]"));
  }
  // Client/server configuration alerts (type 12) file 77..79 under 18;
  // other types keep them.
  for (auto [condition, kept] : {std::pair{3032, 78}, {3033, 77}, {3035, 79}, {3040, 79}}) {
    EvNDetector zentra;
    EXPECT_TRUE(zentra.MapAlertsToRelease5_9(1020, condition));
    EXPECT_EQ(18, zentra.getCriteria()) << condition;
    EvNDetector ma;
    EXPECT_TRUE(ma.MapAlertsToRelease5_9(2000, condition));
    EXPECT_EQ(13, ma.getAlertType());
    EXPECT_EQ(kept, ma.getCriteria()) << condition;
  }
  {
    // A reused detector keeps the type of the previous event when the new
    // alert id is unknown.
    EvNDetector d;
    EXPECT_TRUE(d.MapAlertsToRelease5_9(1007, 2));
    EXPECT_FALSE(d.MapAlertsToRelease5_9(9999, 99999));
    EXPECT_EQ(3, d.getAlertType());
    EXPECT_EQ(1, d.getCriteria());
    EXPECT_EQ(9999, d.getOldAlertId());
    EXPECT_EQ(99999, d.getAlertStatus());
  }
}

// ---- validation without a database ----

TEST(EntryWithoutDatabaseTest, UpdatesRequiredWithoutClientsIsRejectedBeforeTheDatabase) {
  Db::closeThreadConnection();
  const std::string previous = Db::configuredUri();
  Db::configure("sqlite:/nonexistent-evd-dir/none/evd.db");
  {
    LogScope log;
    // The settings reads fail too; their lines are expected here.
    std::vector<std::string> settingErrors;
    setLogErrorSink([&](const std::string& line) { settingErrors.push_back(line); });
    EvAlertEx alert;
    alert.setAlertType(10);
    alert.setAlertCriteria(40);
    EvNDetector d;
    EXPECT_FALSE(d.StoreNotiData(alert));
    EXPECT_EQ(1, log.count("DEBUG6 EvNDetector::ValidateInputParameters: NT_ALERTTYPE_CLIENTS/NT_UPDATES_REQUIRED "
                           "has no clients in the client list."));
    EXPECT_EQ(1, log.count("DEBUG3 EvNDetector::StoreNotiData: Invalid Input Parameter"));
    EXPECT_EQ(0, log.count("Cannot read category")) << log.all();
    EXPECT_EQ(0, log.count("Alert Info"));

    // The same event with a client goes on to the (unreachable) database.
    alert.getClientIdsList().push_back(7);
    EvNDetector again;
    EXPECT_FALSE(again.StoreNotiData(alert));
    EXPECT_EQ(1, log.count("ERROR EvNDetector::StoreNotiData: Cannot read category for Alert [10], table [NTAlertType]"))
        << log.all();
    EXPECT_EQ(1, log.count("DEBUG3 EvNDetector::StoreNotiData: Alert Info: [0].[10].[40].<0>.<0>"));
    EXPECT_TRUE(g_dispatched.empty());
    EXPECT_FALSE(settingErrors.empty());
  }
  Db::closeThreadConnection();
  Db::configure(previous);
}

// ---- the entry on a database ----

class EntryTest : public evd::test::DbTest {
 protected:
  void SetUp() override {
    DbTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    log_ = std::make_unique<LogScope>();
    setting("Server", "TraceAlerts", "1");
  }
  void TearDown() override {
    log_.reset();
    DbTest::TearDown();
  }
  void setting(const std::string& section, const std::string& name, const std::string& value) {
    std::string error;
    ASSERT_EQ(0, Settings::set(section, name, value, &error)) << error;
  }
  void rule(int alertType, int status = 0) {
    exec("INSERT INTO NTnotificationRule (alertTypeId, status) VALUES (" + std::to_string(alertType) + ", " +
         std::to_string(status) + ")");
  }
  void type(int alertType, int category) {
    exec("INSERT INTO NTAlertType (id, categoryID) VALUES (" + std::to_string(alertType) + ", " +
         std::to_string(category) + ")");
  }
  long long traces() { return queryInt("SELECT COUNT(*) FROM NTDAlertTraceLog"); }
  static EvAlertEx event(int alertType, int criteria) {
    EvAlertEx a;
    a.setAlertType(alertType);
    a.setAlertCriteria(criteria);
    a.setClientId(107);
    return a;
  }

  std::unique_ptr<LogScope> log_;
};

TEST_P(EntryTest, BlockedAlertsAreNeitherDumpedNorTracedAndAskedOncePerDetector) {
  rule(3);
  type(3, 1);
  setting("Server", "BlockAlerts", "1");
  EvAlertEx alert = event(3, 1);
  EvNDetector d;
  EXPECT_TRUE(d.StoreNotiData(alert));
  EXPECT_EQ(1, EvNDetector::m_blockAlerts);
  EXPECT_EQ(0, log_->count("Server Side: Alert event:"));
  EXPECT_EQ(0, log_->count("Alert Info"));
  EXPECT_EQ(0, traces());
  EXPECT_TRUE(g_dispatched.empty());

  // The flag is not asked again by the same detector...
  setting("Server", "BlockAlerts", "0");
  EXPECT_TRUE(d.StoreNotiData(alert));
  EXPECT_TRUE(g_dispatched.empty());
  EXPECT_EQ(0, traces());

  // ...but by the next one.
  EvNDetector next;
  EXPECT_EQ(-1, EvNDetector::m_blockAlerts);
  next.StoreNotiData(alert);
  EXPECT_EQ(0, EvNDetector::m_blockAlerts);
  ASSERT_EQ(1u, g_dispatched.size());
  EXPECT_EQ("EvNDetector::StoreDataProtectionData", g_dispatched[0].handler);
  EXPECT_EQ(1, log_->count("DEBUG10 Server Side: Alert event:"));
  EXPECT_EQ(1, traces());
}

TEST_P(EntryTest, DispatchFollowsTheAlertTypeTable) {
  const std::vector<std::pair<std::vector<int>, std::string>> table = {
      {{1}, "StoreDataAgingData"},
      {{2, 54}, "StoreAuxCopyData"},
      {{3}, "StoreDataProtectionData"},
      {{4}, "StoreDataRecoveryData"},
      {{5}, "StoreErBackupData"},
      {{6, 29, 55}, "StoreDataVerific"},
      {{7, 8, 16, 17, 21}, "StoreLibrary"},
      {{9}, "StoreMediaErase"},
      {{10}, "StoreClientConfig"},
      {{12, 60}, "StoreZentra"},
      {{13}, "StoreMediaAgentConfig"},
      {{14}, "StoreSchedules"},
      {{15}, "StoreStoragePolicy"},
      {{18}, "StoreVaultTracker"},
      {{19}, "StoreDownloadUpdates"},
      {{20}, "StorePatchInstall"},
      {{22}, "StoreEraseData"},
      {{23}, "StoreJournalMailbox"},
      {{24}, "StoreUpdatesAvailForDownload"},
      {{25}, "StoreFileReplication"},
      {{26}, "StoreReleaseUpgradeAndUpdateRequired"},
      {{27}, "StoreDataClassification"},
      {{28}, "StoreFLRJobs"},
      {{30}, "StoreAppSharePoint"},
      {{52}, "StoreReportData"},
      {{53}, "StoreInfoManagementData"},
      {{57, 62}, "LogMonitorAlert"},
      {{58}, "TolvaneEventLogAlert"},
      {{59}, "StoreClientGroupConfig"},
      {{61}, "StoreBackupCopyData"},
      {{63}, "StoreWorkFlowData"},
      {{64}, "StoreVirtualizeMEData"},
      {{65}, "StoreCustomQueryData"},
      {{66}, "StoreDataAnalytics"},
      {{67}, "StoreUnInstallSoftware"},
      {{68}, "StoreUpgradeClient"},
      {{69}, "StoreInstallSoftware"},
      {{70}, "StoreUserConfig"},
      {{71}, "StoreUserGroupConfig"},
      {{73}, "StoreAdminJobData"},
      {{75}, "StoreAdminAlertDataForAlert"},
  };
  auto expected = [&](int t) -> std::string {
    for (const auto& [ids, handler] : table)
      for (int id : ids)
        if (id == t) return "EvNDetector::" + handler;
    return "";
  };
  for (int t = 0; t <= 80; ++t) {
    rule(t);
    type(t, 100 + t);
  }
  for (int t = 0; t <= 80; ++t) {
    g_dispatched.clear();
    EvAlertEx alert = event(t, 1);
    alert.setWhomId(9);  // user alerts name their user
    EvNDetector d;
    const bool result = d.StoreNotiData(alert);
    // The journal-mailbox and SharePoint handlers file their alerts under
    // category 6 themselves.
    EXPECT_EQ(t == 23 || t == 30 ? 6 : 100 + t, d.getCategory()) << t;
    const std::string handler = expected(t);
    if (handler.empty()) {
      EXPECT_FALSE(result) << "type " << t;
      EXPECT_TRUE(g_dispatched.empty()) << "type " << t << " went to " << g_dispatched[0].handler;
    } else {
      ASSERT_EQ(1u, g_dispatched.size()) << "type " << t;
      EXPECT_EQ(handler, g_dispatched[0].handler) << "type " << t;
      // Only the configuration handlers take the criteria-cleared flag.
      const bool config = t == 10 || t == 12 || t == 60 || t == 13;
      EXPECT_EQ(config ? 0 : -1, g_dispatched[0].criteriaCleared) << "type " << t;
    }
  }
  EXPECT_EQ(81, traces());
}

TEST_P(EntryTest, ConfigurationConditionsClearTheCriteriaAndTellTheHandler) {
  for (int t : {10, 12, 13}) {
    rule(t);
    type(t, 3);
  }
  // Old alert ids of the three configuration families.
  const std::vector<std::pair<int, std::string>> cases = {
      {3020, "EvNDetector::StoreClientConfig"},
      {1020, "EvNDetector::StoreZentra"},
      {2000, "EvNDetector::StoreMediaAgentConfig"},
  };
  for (const auto& [oldAlert, handler] : cases) {
    g_dispatched.clear();
    EvAlertEx alert = event(99, 5);
    alert.setAlert(oldAlert);
    alert.setCondition(3034);
    EvNDetector d;
    d.StoreNotiData(alert);
    EXPECT_EQ(0, alert.getAlertCriteria());
    EXPECT_EQ(18, d.getCriteria());
    EXPECT_EQ(oldAlert, d.getOldAlertId());
    EXPECT_EQ(3034, d.getAlertStatus());
    ASSERT_EQ(1u, g_dispatched.size()) << oldAlert;
    EXPECT_EQ(handler, g_dispatched[0].handler);
    EXPECT_EQ(1, g_dispatched[0].criteriaCleared) << handler;
  }

  // Exactly these conditions clear the criteria.
  const std::vector<int> clearing = {3032, 3033, 3034, 3035, 3036, 3037, 3038, 3039, 3040, 3041, 3046, 3047};
  for (int condition = 3025; condition <= 3050; ++condition) {
    g_dispatched.clear();
    EvAlertEx alert = event(10, 5);
    alert.setAlert(3020);
    alert.setCondition(condition);
    EvNDetector d;
    d.StoreNotiData(alert);
    const bool clears = std::find(clearing.begin(), clearing.end(), condition) != clearing.end();
    EXPECT_EQ(clears ? 0 : 5, alert.getAlertCriteria()) << condition;
    ASSERT_EQ(1u, g_dispatched.size()) << condition;
    EXPECT_EQ(clears ? 1 : 0, g_dispatched[0].criteriaCleared) << condition;
  }

  // A condition outside the list keeps the event's own criteria.
  g_dispatched.clear();
  EvAlertEx kept = event(10, 5);
  kept.setCondition(3031);
  kept.setAlertStatus(77);
  EvNDetector d;
  d.StoreNotiData(kept);
  EXPECT_EQ(5, kept.getAlertCriteria());
  EXPECT_EQ(5, d.getCriteria());
  EXPECT_EQ(77, d.getAlertStatus());
  EXPECT_EQ(0, d.getOldAlertId());
  ASSERT_EQ(1u, g_dispatched.size());
  EXPECT_EQ(0, g_dispatched[0].criteriaCleared);

  // Without criteria there is nothing to clear.
  g_dispatched.clear();
  EvAlertEx old = event(0, 0);
  old.setAlert(3020);
  old.setCondition(3034);
  EvNDetector o;
  o.StoreNotiData(old);
  ASSERT_EQ(1u, g_dispatched.size());
  EXPECT_EQ("EvNDetector::StoreClientConfig", g_dispatched[0].handler);
  EXPECT_EQ(0, g_dispatched[0].criteriaCleared);
}

TEST_P(EntryTest, SwitchedOffRulesDropTheEventWithTrue) {
  rule(3, 1);
  rule(3, 2);
  rule(3, 3);
  type(3, 1);
  EvAlertEx alert = event(3, 1);
  EvNDetector d;
  EXPECT_TRUE(d.StoreNotiData(alert));
  EXPECT_TRUE(g_dispatched.empty());
  EXPECT_EQ(1, log_->count("DEBUG3 EvNDetector::StoreNotiData: alert skipped, no rule defined, alert = [3]."));
  // The category is not read for a dropped event.
  EXPECT_EQ(1, log_->count("DEBUG8 EvNDetector::StoreNotiData: Alert Info: [0].[3].[1].<0>.<0>"));
  EXPECT_EQ(1, traces());

  // Any other status bit leaves the rule active.
  rule(3, 4);
  EvNDetector again;
  again.StoreNotiData(alert);
  ASSERT_EQ(1u, g_dispatched.size());
  EXPECT_EQ("EvNDetector::StoreDataProtectionData", g_dispatched[0].handler);
  EXPECT_EQ(1, again.getCategory());
}

TEST_P(EntryTest, SkippedLineNeedsAVerboseLogOrAFailedMapping) {
  EvAlertEx alert = event(3, 1);
  log_->setLevel(8);
  EvNDetector d;
  EXPECT_TRUE(d.StoreNotiData(alert));
  EXPECT_EQ(0, log_->count("alert skipped"));
  EXPECT_EQ(1, log_->count("Alert Info: [0].[3].[1].<0>.<0>"));

  // Old numbering that the tables do not know makes the line appear anyway.
  EvAlertEx unknown = event(0, 0);
  unknown.setAlert(1007);
  unknown.setCondition(1);
  EXPECT_TRUE(d.StoreNotiData(unknown));
  EXPECT_EQ(1, log_->count("DEBUG3 EvNDetector::StoreNotiData: alert skipped, no rule defined, alert = [3]."));
}

TEST_P(EntryTest, EventLogAlertsAdvanceTheMarkerWithoutARule) {
  exec("INSERT INTO KRCounter (name, next_h, next_l) VALUES ('Other_Counter', 0, 1), ('Event_Counter', 1, 4242)");
  EvAlertEx alert = event(58, 1);
  EvNDetector d;
  EXPECT_TRUE(d.StoreNotiData(alert));
  EXPECT_TRUE(g_dispatched.empty());
  int marker = -1;
  ASSERT_EQ(0, NXGlobalParam::getNTAlertLastEventId(marker, nullptr));
  EXPECT_EQ(4242, marker);
  EXPECT_EQ(1, log_->count("DEBUG3 EvNDetector::StoreNotiData: Updated Params for last Event processed for Alerts "
                           "is [4242]."));

  // A switched-off rule is no rule: the marker still follows the counter.
  rule(58, 2);
  exec("UPDATE KRCounter SET next_l = 5000 WHERE name = 'Event_Counter'");
  EXPECT_TRUE(d.StoreNotiData(alert));
  ASSERT_EQ(0, NXGlobalParam::getNTAlertLastEventId(marker, nullptr));
  EXPECT_EQ(5000, marker);

  // Without the counter the marker stays where it was.
  exec("DELETE FROM KRCounter");
  EXPECT_TRUE(d.StoreNotiData(alert));
  ASSERT_EQ(0, NXGlobalParam::getNTAlertLastEventId(marker, nullptr));
  EXPECT_EQ(5000, marker);
  EXPECT_EQ(1, log_->count("ERROR EvNDetector::StoreNotiData:  Unable to retrieve Id for last message from KrCounter. "));

  // Other types without a rule leave the marker alone.
  exec("INSERT INTO KRCounter (name, next_h, next_l) VALUES ('Event_Counter', 0, 6000)");
  EvAlertEx other = event(3, 1);
  EXPECT_TRUE(d.StoreNotiData(other));
  ASSERT_EQ(0, NXGlobalParam::getNTAlertLastEventId(marker, nullptr));
  EXPECT_EQ(5000, marker);
}

TEST_P(EntryTest, RuleLookUpFailureCountsAsARule) {
  type(3, 1);
  exec("DROP TABLE NTnotificationRule");
  EvAlertEx alert = event(3, 1);
  EvNDetector d;
  d.StoreNotiData(alert);
  ASSERT_EQ(1u, g_dispatched.size());
  EXPECT_EQ("EvNDetector::StoreDataProtectionData", g_dispatched[0].handler);
  EXPECT_EQ(1, log_->count("ERROR EvNDetector::StoreNotiData: Cannot read rules for Alert [3], table "
                           "[NTnotificationRule]"));
}

TEST_P(EntryTest, MissingCategoryEndsWithFalseButIsTraced) {
  rule(3);
  EvAlertEx alert = event(3, 1);
  EvNDetector d;
  EXPECT_FALSE(d.StoreNotiData(alert));
  EXPECT_TRUE(g_dispatched.empty());
  EXPECT_EQ(1, log_->count("ERROR EvNDetector::StoreNotiData: Cannot read category for Alert [3], table "
                           "[NTAlertType], ErrorString ["));
  EXPECT_EQ(1, log_->count("DEBUG3 EvNDetector::StoreNotiData: Alert Info: [0].[3].[1].<0>.<0>"));
  EXPECT_EQ(1, traces());
}

TEST_P(EntryTest, InvalidSuppressionObjectRejectsTheEventUntraced) {
  rule(3);
  type(3, 1);
  // Client alerts (criteria 43) without a client.
  EvAlertEx alert = event(3, 43);
  alert.setClientId(0);
  EvNDetector d;
  EXPECT_FALSE(d.StoreNotiData(alert));
  EXPECT_TRUE(g_dispatched.empty());
  EXPECT_EQ(1, log_->count("DEBUG3 EvNDetector::ValidateInputParameters: Invalid Supression Parameter, objType = "
                           "<Client>, objId = <0>"));
  EXPECT_EQ(1, log_->count("DEBUG3 EvNDetector::ValidateInputParameters: Alert Info: [0].[3].[43].<0>.<0>"));
  EXPECT_EQ(1, log_->count("DEBUG3 EvNDetector::StoreNotiData: Invalid Input Parameter"));
  EXPECT_EQ(0, log_->count("EvNDetector::StoreNotiData: Alert Info"));
  EXPECT_EQ(0, traces());

  // With the client the same event goes through.
  alert.setClientId(107);
  EvNDetector ok;
  ok.StoreNotiData(alert);
  EXPECT_EQ(1u, g_dispatched.size());
  EXPECT_EQ(1, traces());
}

TEST_P(EntryTest, ClientPropertyForIndexingV2) {
  exec("INSERT INTO APP_ClientProp (componentNameId, attrName, attrVal, modified) VALUES "
       "(5, 'IndexingV2_VSA', '1', 0), (6, 'IndexingV2_VSA', '0', 0), (7, 'IndexingV2_VSA', '1', 3), "
       "(8, 'IndexingV2', '1', 0), (9, 'IndexingV2_VSA', '10', 0)");
  EXPECT_TRUE(isIndexingVSAV2EnabledOnClient(5));
  EXPECT_FALSE(isIndexingVSAV2EnabledOnClient(6));
  EXPECT_FALSE(isIndexingVSAV2EnabledOnClient(7));
  EXPECT_FALSE(isIndexingVSAV2EnabledOnClient(8));
  EXPECT_FALSE(isIndexingVSAV2EnabledOnClient(9));
  EXPECT_FALSE(isIndexingVSAV2EnabledOnClient(10));
  EXPECT_EQ(0, log_->count("ERROR"));

  exec("DROP TABLE APP_ClientProp");
  EXPECT_FALSE(isIndexingVSAV2EnabledOnClient(5));
  EXPECT_EQ(1, log_->count("ERROR isIndexingVSAV2EnabledOnClient: Error ["));
  EXPECT_EQ(1, log_->count("in checking whether client[5] has indexing v2 for VSA enabled. "));
}

TEST_P(EntryTest, VMBackupSettingIsReadOncePerProcess) {
  const int first = isVMBackupFeatureDisabled();
  setting("EventManager", "nDisableVMAlertFeature", first ? "0" : "1");
  EXPECT_EQ(first, isVMBackupFeatureDisabled());
}

EVD_INSTANTIATE_BACKENDS(EntryTest);

}  // namespace

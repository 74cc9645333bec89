#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "Db/AllBindings.h"
#include "Db/Database.h"
#include "detector/EvNDetector.h"
#include "detector/alert_types.h"
#include "host/EvAlertEx.h"
#include "host/NxLog.h"
#include "host/NxPlatform.h"
#include "host/NxSettings.h"
#include "support/alert_log.h"
#include "support/db_fixture.h"

namespace {

struct Dispatched {
  std::string handler;
  int criteriaCleared;
};
std::vector<Dispatched> g_dispatched;
void recordDispatch(const char* handler, int criteriaCleared) { g_dispatched.push_back({handler, criteriaCleared}); }

class LogScope : public evd::test::AlertLogCapture {
 public:
  LogScope() {
    g_dispatched.clear();
    EvNDetector::dispatchObserver = &recordDispatch;
  }
  ~LogScope() { EvNDetector::dispatchObserver = nullptr; }
};

EvAlertEx event(int alertType, int criteria, int client = 107, int alertRule = 0) {
  EvAlertEx a;
  a.setAlertType(alertType);
  a.setAlertCriteria(criteria);
  a.setClientId(client);
  a.setAlertRule(alertRule);
  return a;
}
// A, also naming an alert id and condition of the old numbering.
EvAlertEx withOld(EvAlertEx a, int alert, int condition) {
  a.setAlert(alert);
  a.setCondition(condition);
  return a;
}

struct Mapped {
  int alert, condition;
  bool ok;
  int type, criteria;
};

TEST(MappingTest, OneCaseOfEachRuleGroup) {
  LogScope log;
  const std::vector<Mapped> cases = {
      // condition -> criteria (alert 1007 is type 3, which no later step changes); the
      // count of listed values below covers the rest of the table
      {1007, 2051, true, 3, 1},    {1007, 3042, true, 3, 4},
      // alert id -> type, and alert 2001 by condition
      {53, 2, true, 53, 1},        {1001, 2, true, 14, 1},      {2001, 2060, true, 16, 16},  {2001, 3029, true, 17, 22},
      // later steps: 3010 outside type 3, 77..79 under type 12 only, type from the alert id
      {1004, 3010, true, 1, 3},    {1020, 3033, true, 12, 18},  {2000, 3035, true, 13, 79},
      {2001, 3010, false, 2001, 3}, {2001, 2, false, 2001, 1},
  };
  for (const Mapped& c : cases) {
    EvNDetector d;
    EXPECT_EQ(c.ok, d.MapAlertsToRelease5_9(c.alert, c.condition)) << c.alert << "/" << c.condition;
    EXPECT_EQ(c.type, d.getAlertType()) << c.alert << "/" << c.condition;
    EXPECT_EQ(c.criteria, d.getCriteria()) << c.alert << "/" << c.condition;
    EXPECT_EQ(c.alert, d.getOldAlertId());
    EXPECT_EQ(c.condition, d.getAlertStatus());
  }
}

TEST(MappingTest, AnUnlistedIdFailsAndLeavesItsFieldAlone) {
  LogScope log;
  int knownConditions = 0, knownAlerts = 0;
  for (int id = 0; id <= 5100; ++id) {
    EvNDetector byCondition;
    byCondition.SetNotiCriteria(555);
    const bool conditionKnown = byCondition.MapAlertsToRelease5_9(1007, id);
    EXPECT_EQ(conditionKnown, byCondition.getCriteria() != 555) << "condition " << id;
    knownConditions += conditionKnown;

    EvNDetector byAlert;
    byAlert.SetNotiCategoryAndType(0, 444);
    const bool alertKnown = byAlert.MapAlertsToRelease5_9(id, 2);
    if (id != 2001) {
      EXPECT_EQ(alertKnown, byAlert.getAlertType() != 444) << "alert " << id;
    }
    knownAlerts += alertKnown;
  }
  // The tables name 80 conditions and 20 alert ids (2001 not mapping
  // condition 2).
  EXPECT_EQ(80, knownConditions);
  EXPECT_EQ(20, knownAlerts);
}

TEST(EntryWithoutDatabaseTest, UpdatesRequiredWithoutClientsIsRejectedBeforeTheDatabase) {
  Db::closeThreadConnection();
  const std::string previous = Db::configuredUri();
  Db::configure("sqlite:/nonexistent-evd-dir/none/evd.db");
  {
    LogScope log;
    setLogErrorSink([](const std::string&) {});  // the settings reads fail too
    EvAlertEx alert = event(10, 40);
    EvNDetector d;
    EXPECT_FALSE(d.StoreNotiData(alert));
    EXPECT_EQ(EvNDetector::Outcome::Invalid, d.lastOutcome());
    // With a client the event goes on to the (unreachable) database.
    alert.getClientIdsList().push_back(7);
    EXPECT_FALSE(d.StoreNotiData(alert));
    EXPECT_EQ(EvNDetector::Outcome::NoCategory, d.lastOutcome());
    EXPECT_TRUE(g_dispatched.empty());
  }
  Db::closeThreadConnection();
  Db::configure(previous);
}

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
    ASSERT_EQ(0, Settings::set(section, name, value));
  }
  void rule(int alertType, int status = 0) {
    exec("INSERT INTO NTnotificationRule (alertTypeId, status) VALUES (" + std::to_string(alertType) + ", " +
         std::to_string(status) + ")");
  }
  void type(int alertType, int category) {
    exec("INSERT INTO NTAlertType (id, categoryID) VALUES (" + std::to_string(alertType) + ", " +
         std::to_string(category) + ")");
  }
  long long traces() { return countRows("NTDAlertTraceLog"); }
  // The handler (and flag) a fresh detector hands ALERT to; "" for none.
  std::string dispatchedTo(EvAlertEx alert, EvNDetector::Outcome* outcome = nullptr) {
    g_dispatched.clear();
    EvNDetector d;
    d.StoreNotiData(alert);
    if (outcome) *outcome = d.lastOutcome();
    return g_dispatched.empty() ? "" : g_dispatched[0].handler + "/" + std::to_string(g_dispatched[0].criteriaCleared);
  }

  std::unique_ptr<LogScope> log_;
};

TEST_P(EntryTest, BlockedAlertsAreNeitherTracedNorDispatchedAndAskedOncePerDetector) {
  rule(3);
  type(3, 1);
  setting("Server", "BlockAlerts", "1");
  EvAlertEx alert = event(3, 1);
  EvNDetector d;
  EXPECT_TRUE(d.StoreNotiData(alert));
  setting("Server", "BlockAlerts", "0");
  EXPECT_TRUE(d.StoreNotiData(alert));  // not asked again by the same detector
  EXPECT_EQ(EvNDetector::Outcome::Blocked, d.lastOutcome());
  EXPECT_EQ(0, traces());
  EXPECT_TRUE(g_dispatched.empty());
  EXPECT_EQ("EvNDetector::StoreDataProtectionData/-1", dispatchedTo(alert));
  EXPECT_EQ(1, traces());
}

TEST_P(EntryTest, DispatchByAlertType) {
  for (int t = 0; t <= 80; ++t) {
    rule(t);
    type(t, 100 + t);
  }
  for (const auto& [t, handler] : std::vector<std::pair<int, std::string>>{
           {1, "StoreDataAgingData/-1"}, {10, "StoreClientConfig/0"}, {62, "LogMonitorAlert/-1"}}) {
    EXPECT_EQ("EvNDetector::" + handler, dispatchedTo(event(t, 1))) << t;
  }
  // Every alert type init seeds reaches a handler, and only those do.
  for (int t = 0; t <= 80; ++t) {
    EvNDetector::Outcome outcome = EvNDetector::Outcome::None;
    const bool handled = !dispatchedTo(event(t, 1), &outcome).empty();
    EXPECT_EQ(findAlertType(t) != nullptr, handled) << "alert type " << t;
    if (!handled) {
      EXPECT_EQ(EvNDetector::Outcome::NoHandler, outcome) << "alert type " << t;
    }
  }
}

TEST_P(EntryTest, ConfigurationConditionsClearTheCriteriaAndTellTheHandler) {
  for (int t : {10, 12, 13}) {
    rule(t);
    type(t, 3);
  }
  for (const auto& [oldAlert, handler] : std::vector<std::pair<int, std::string>>{
           {3020, "StoreClientConfig"}, {1020, "StoreZentra"}, {2000, "StoreMediaAgentConfig"}}) {
    EXPECT_EQ("EvNDetector::" + handler + "/1", dispatchedTo(withOld(event(99, 5), oldAlert, 3034)));
  }
  // A neighbour of the clearing conditions keeps the event's criteria, and
  // without criteria there is nothing to clear.
  EXPECT_EQ("EvNDetector::StoreClientConfig/0", dispatchedTo(withOld(event(10, 5), 0, 3045)));
  EXPECT_EQ("EvNDetector::StoreClientConfig/0", dispatchedTo(withOld(event(0, 0), 3020, 3034)));
}

TEST_P(EntryTest, SwitchedOffRulesDropTheEventAndEventLogAlertsStillAdvanceTheMarker) {
  rule(3, 1);
  rule(3, 2);
  type(3, 1);
  EvNDetector::Outcome outcome = EvNDetector::Outcome::None;
  EXPECT_EQ("", dispatchedTo(event(3, 1), &outcome));
  EXPECT_EQ(EvNDetector::Outcome::NoRule, outcome);
  rule(3, 4);  // any other status bit leaves a rule active
  EXPECT_EQ("EvNDetector::StoreDataProtectionData/-1", dispatchedTo(event(3, 1)));

  rule(58, 2);
  exec("INSERT INTO KRCounter (name, next_h, next_l) VALUES ('Other_Counter', 0, 1), ('Event_Counter', 1, 4242)");
  dispatchedTo(event(58, 1));
  int marker = -1;
  ASSERT_EQ(0, NXGlobalParam::getNTAlertLastEventId(marker, nullptr));
  EXPECT_EQ(4242, marker);
  exec("DELETE FROM KRCounter");
  dispatchedTo(event(58, 1));
  ASSERT_EQ(0, NXGlobalParam::getNTAlertLastEventId(marker, nullptr));
  EXPECT_EQ(4242, marker);
}

// An invalid suppression object rejects the event untraced; a failed rule
// look-up counts as a rule, a failed category look-up ends the event.
TEST_P(EntryTest, InvalidEventsAndFailedLookUps) {
  rule(3);
  type(3, 1);
  EvAlertEx noClient = event(3, 43);  // client alerts without a client
  noClient.setClientId(0);
  EvNDetector::Outcome outcome = EvNDetector::Outcome::None;
  EXPECT_EQ("", dispatchedTo(noClient, &outcome));
  EXPECT_EQ(EvNDetector::Outcome::Invalid, outcome);
  EXPECT_EQ(0, traces());
  rule(4);
  EXPECT_EQ("", dispatchedTo(event(4, 1), &outcome));
  EXPECT_EQ(EvNDetector::Outcome::NoCategory, outcome);
  EXPECT_EQ(1, traces());
  exec("DROP TABLE NTnotificationRule");
  EXPECT_EQ("EvNDetector::StoreDataProtectionData/-1", dispatchedTo(event(3, 1)));
}

TEST_P(EntryTest, ClientPropertyForIndexingV2) {
  exec("INSERT INTO APP_ClientProp (componentNameId, attrName, attrVal, modified) VALUES "
       "(5, 'IndexingV2_VSA', '1', 0), (6, 'IndexingV2_VSA', '0', 0), (7, 'IndexingV2_VSA', '1', 3), "
       "(8, 'IndexingV2', '1', 0), (9, 'IndexingV2_VSA', '10', 0)");
  for (unsigned client = 5; client <= 10; ++client)
    EXPECT_EQ(client == 5, isIndexingVSAV2EnabledOnClient(client)) << client;
  exec("DROP TABLE APP_ClientProp");
  EXPECT_FALSE(isIndexingVSAV2EnabledOnClient(5));
}

TEST_P(EntryTest, VMBackupSettingIsReadOncePerProcess) {
  const int first = isVMBackupFeatureDisabled();
  setting("EventManager", "nDisableVMAlertFeature", first ? "0" : "1");
  EXPECT_EQ(first, isVMBackupFeatureDisabled());
}

// For alert types whose handler is not built yet, a stand-in that records
// the way handlers do: match a pending occurrence on the event's client,
// else insert, mark and complete a new one.
EvNDetector* g_detector = nullptr;
EvAlertEx* g_event = nullptr;
void standInHandler(const char*, int) {
  EvNDetector& d = *g_detector;
  if (d.getAlertType() == 3) return;  // the backup handler records for itself
  const EvAlertEx& a = *g_event;
  if (d.getCriteria() == 73) d.setNotificationId(a.getAlertRule());
  const int client = static_cast<int>(a.getClientId());
  int id = d.GetExistingEventIdEx(0, 0, 0, 0, 0, 0, client, 0, 0, 0, a.getAlertRule(), 0, 0);
  const bool isNew = id == 0;
  if (!d.SetDetectedAlert(id, false, 0) || !isNew) return;
  d.EnableSupression(id, 0, 0, 0, 0, 0, 0, client, 0, 0, 0, a.getAlertRule(), 0, 0);
  SetStatus_Detected(id);
}

// Runs EVENTS through one detector or a fresh one each; per event the result
// and the detector's view of it.
std::vector<std::string> run(const std::vector<EvAlertEx>& events, bool oneDetector) {
  std::vector<std::string> out;
  EvNDetector shared;
  EvNDetector::dispatchObserver = &standInHandler;
  for (EvAlertEx e : events) {
    const std::unique_ptr<EvNDetector> fresh = oneDetector ? nullptr : std::make_unique<EvNDetector>();
    EvNDetector* d = fresh ? fresh.get() : &shared;
    g_detector = d;
    g_event = &e;
    const bool result = d->StoreNotiData(e);
    out.push_back("event " + std::to_string(result) + " " + std::to_string(d->getCategory()) + "." +
                  std::to_string(d->getAlertType()) + "." + std::to_string(d->getCriteria()) + "." +
                  std::to_string(d->getOldAlertId()) + "." + std::to_string(d->getAlertStatus()));
  }
  EvNDetector::dispatchObserver = nullptr;
  return out;
}

TEST_P(EntryTest, AReusedDetectorRecordsEveryEventAsAFreshOneWould) {
  for (int t : {3, 10, 76, 2001}) {
    rule(t);
    type(t, t + 1000);
  }
  const EvAlertEx old = withOld(event(0, 0, 0), 2001, 3010);
  const std::vector<EvAlertEx> events = {event(76, 1, 5), old, event(3, 73, 5, 9), event(3, 1, 6), event(10, 43, 7),
                                         event(10, 43, 7), event(3, 1, 8), old};
  // Rows of a run, event ids by order of creation.
  auto rows = [&](long long firstId) {
    std::vector<std::string> out;
    NTDetectedAlerts t(nullptr);
    t.setWhere("eventId >= %lld", firstId);
    t.setOrderBy("eventId");
    int counter = 0;
    long long base = -1;  // ids are numbered from the run's first row: a sequence may have moved past MAX
    while (DBrowRead(t.getNextRow(&counter))) {
      const NTDetectedAlerts_t* r = t.getDataPtr();
      if (base < 0) base = r->eventId;
      out.push_back(std::to_string(r->eventId - base) + " " + std::to_string(r->category) + "." +
                    std::to_string(r->alertType) + "." + std::to_string(r->criteria) + "." + std::to_string(r->status) +
                    " stat " + std::to_string(r->processStat) + " rule " + std::to_string(r->ntNotificationId) +
                    " entity [" + (r->entityId ? r->entityId : "") + "] params " +
                    queryText("SELECT COUNT(*) FROM NTDparams WHERE eventId = " + std::to_string(r->eventId)));
    }
    return out;
  };
  auto nextId = [&] { return queryInt("SELECT COALESCE(MAX(eventId), 0) + 1 FROM NTDetectedAlerts"); };

  const long long firstShared = nextId();
  std::vector<std::string> shared = run(events, true);
  const std::vector<std::string> sharedRows = rows(firstShared);
  // The second run must not find the first run's pending rows.
  exec("UPDATE NTDetectedAlerts SET processStat = 0");
  const long long firstFresh = nextId();
  std::vector<std::string> fresh = run(events, false);
  const std::vector<std::string> freshRows = rows(firstFresh);

  EXPECT_EQ(fresh, shared);
  EXPECT_EQ(freshRows, sharedRows);
  // The runs did record: a rule-stamped row, a client row matched once, and
  // rows of neither after them.
  ASSERT_EQ(4u, freshRows.size()) << ::testing::PrintToString(freshRows);
  auto rowsWith = [&](const std::string& part) {
    return std::count_if(freshRows.begin(), freshRows.end(),
                         [&](const std::string& r) { return r.find(part) != std::string::npos; });
  };
  EXPECT_EQ(1, rowsWith("rule 9 entity [JobViewForNTRule|9]"));
  EXPECT_EQ(1, rowsWith("entity [Client|7]"));
}

EVD_INSTANTIATE_BACKENDS(EntryTest);

}  // namespace

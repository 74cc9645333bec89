#include <gtest/gtest.h>

#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "Db/AllBindings.h"
#include "Db/Database.h"
#include "detector/EvNDetector.h"
#include "host/EvAlertEx.h"
#include "host/NxLog.h"
#include "host/NxPlatform.h"
#include "host/NxSettings.h"
#include "support/alert_log.h"
#include "support/db_fixture.h"

namespace {

std::vector<std::string> g_dispatched;  // handler/criteria-cleared flag
void recordDispatch(const char* handler, int cleared) {
  g_dispatched.push_back(handler + ("/" + std::to_string(cleared)));
}

class LogScope : public evd::test::AlertLogCapture {
 public:
  LogScope() {
    g_dispatched.clear();
    EvNDetector::Testing::dispatchObserver = &recordDispatch;
  }
  ~LogScope() { EvNDetector::Testing::dispatchObserver = nullptr; }
};

EvAlertEx event(int alertType, int criteria, int client = 107, int alertRule = 0) {
  EvAlertEx a;
  a.setAlertType(alertType);
  a.setAlertCriteria(criteria);
  a.setClientId(client);
  a.setAlertRule(alertRule);
  return a;
}
EvAlertEx withOld(EvAlertEx a, int alert, int condition) {
  a.setAlert(alert);
  a.setCondition(condition);
  return a;
}

TEST(MappingTest, OneCaseOfEachRuleGroupAndUnlistedIdsFail) {
  LogScope log;
  // Condition to criteria, alert id to type, alert 2001 by condition, 3010 outside type 3, 77..79 under type 12.
  const struct {
    int alert, condition;
    bool ok;
    int type, criteria;
  } cases[] = {
      {1007, 2051, true, 3, 1},   {1001, 2, true, 14, 1},     {2001, 2060, true, 16, 16},
      {1004, 3010, true, 1, 3},   {2000, 3035, true, 13, 79}, {2001, 3010, false, 2001, 3},
  };
  for (const auto& c : cases) {
    EvNDetector d;
    EXPECT_EQ(c.ok, d.MapAlertsToRelease5_9(c.alert, c.condition)) << c.alert << "/" << c.condition;
    EXPECT_EQ(c.type, d.getAlertType()) << c.alert << "/" << c.condition;
    EXPECT_EQ(c.criteria, d.getCriteria()) << c.alert << "/" << c.condition;
  }
  // An unlisted id fails and leaves its field alone.
  EvNDetector byCondition;
  byCondition.SetNotiCriteria(555);
  EXPECT_FALSE(byCondition.MapAlertsToRelease5_9(1007, 4999));
  EXPECT_EQ(555, byCondition.getCriteria());
  EvNDetector byAlert;
  byAlert.SetNotiCategoryAndType(0, 444);
  EXPECT_FALSE(byAlert.MapAlertsToRelease5_9(4999, 2));
  EXPECT_EQ(444, byAlert.getAlertType());
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
    alert.getClientIdsList().push_back(7);  // with a client it goes on to the unreachable database
    EXPECT_FALSE(d.StoreNotiData(alert));
    EXPECT_EQ(EvNDetector::Outcome::NoCategory, d.lastOutcome());
  }
  Db::closeThreadConnection();
  Db::configure(previous);
}

class EntryTest : public evd::test::DbTest {
 protected:
  void SetUp() override {
    DbTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    setting("Server", "TraceAlerts", "1");
  }
  void setting(const std::string& section, const std::string& name, const std::string& value) {
    ASSERT_EQ(0, Settings::set(section, name, value));
  }
  void rule(int alertType, int status = 0) {
    exec("INSERT INTO NTnotificationRule (alertTypeId, status) VALUES (" + std::to_string(alertType) + ", " +
         std::to_string(status) + ")");
  }
  void seed(int alertType, int category) {
    rule(alertType);
    exec("INSERT INTO NTAlertType (id, categoryID) VALUES (" + std::to_string(alertType) + ", " +
         std::to_string(category) + ")");
  }
  long long traces() { return countRows("NTDAlertTraceLog"); }
  std::string dispatchedTo(EvAlertEx alert, EvNDetector::Outcome* outcome = nullptr) {
    g_dispatched.clear();
    EvNDetector d;
    d.StoreNotiData(alert);
    if (outcome) *outcome = d.lastOutcome();
    return g_dispatched.empty() ? "" : g_dispatched[0];
  }
  LogScope log_;
};

TEST_P(EntryTest, BlockedAlertsAreNeitherTracedNorDispatchedAndAskedOncePerDetector) {
  seed(3, 1);
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
  for (int t : {10, 11, 62, 99}) seed(t, 100 + t);
  EXPECT_EQ("EvNDetector::LogMonitorAlert/-1", dispatchedTo(event(62, 1)));
  EvNDetector::Outcome outcome = EvNDetector::Outcome::None;
  EXPECT_EQ("", dispatchedTo(event(11, 1), &outcome));  // a type without a handler
  EXPECT_EQ(EvNDetector::Outcome::NoHandler, outcome);
  // Condition 3034 clears the criteria and tells the handler; a neighbour condition keeps them,
  // and without criteria there is nothing to clear.
  EXPECT_EQ("EvNDetector::StoreClientConfig/1", dispatchedTo(withOld(event(99, 5), 3020, 3034)));
  EXPECT_EQ("EvNDetector::StoreClientConfig/0", dispatchedTo(withOld(event(10, 5), 0, 3045)));
  EXPECT_EQ("EvNDetector::StoreClientConfig/0", dispatchedTo(withOld(event(0, 0), 3020, 3034)));
}

// Switched-off rules drop the event, though an event-log alert still advances the marker; an invalid object
// rejects the event untraced; a failed rule look-up counts as a rule, a failed category look-up ends the event.
TEST_P(EntryTest, DroppedEventsAndFailedLookUps) {
  rule(3, 1);
  rule(3, 2);
  exec("INSERT INTO NTAlertType (id, categoryID) VALUES (3, 1)");
  EvNDetector::Outcome outcome = EvNDetector::Outcome::None;
  EXPECT_EQ("", dispatchedTo(event(3, 1), &outcome));
  EXPECT_EQ(EvNDetector::Outcome::NoRule, outcome);
  rule(3, 4);  // any other status bit leaves a rule active
  EXPECT_EQ("EvNDetector::StoreDataProtectionData/-1", dispatchedTo(event(3, 1)));
  const long long traced = traces();
  EXPECT_EQ("", dispatchedTo(event(3, 43, 0), &outcome));  // a client alert without a client
  EXPECT_EQ(EvNDetector::Outcome::Invalid, outcome);
  EXPECT_EQ(traced, traces());
  rule(4);
  EXPECT_EQ("", dispatchedTo(event(4, 1), &outcome));
  EXPECT_EQ(EvNDetector::Outcome::NoCategory, outcome);
  EXPECT_EQ(traced + 1, traces());
  rule(58, 2);
  exec("INSERT INTO KRCounter (name, next_h, next_l) VALUES ('Other_Counter', 0, 1), ('Event_Counter', 1, 4242)");
  dispatchedTo(event(58, 1));
  int marker = -1;
  ASSERT_EQ(0, NXGlobalParam::getNTAlertLastEventId(marker, nullptr));
  EXPECT_EQ(4242, marker);
  EXPECT_EQ(0, log_.count("Cannot read rules for Alert")) << log_.text();
  exec("DROP TABLE NTnotificationRule");
  EXPECT_EQ("EvNDetector::StoreDataProtectionData/-1", dispatchedTo(event(3, 1)));
  EXPECT_EQ(1, log_.count("Cannot read rules for Alert [3], table [NTnotificationRule]")) << log_.text();
}

// A failure is caught once, where it ends the event: inside a handler by the handler's guard, which names the
// alert and leaves what was written before it; before any handler by StoreNotiData. Either way the event ends
// with false, and the next event on the same detector is recorded as usual.
TEST_P(EntryTest, AFailureEndsTheEventWithFalseAtItsBoundary) {
  seed(3, 1);
  EvNDetector d;
  EvAlertEx vmBackup = event(3, 3, 12);
  vmBackup.setAppTypeId(106);  // a failed virtual-server backup asks the per-VM setting after its rows are written
  vmBackup.setJobId(77);
  EvNDetector::Testing::vmBackupFeatureProbe = []() -> int { throw std::bad_alloc(); };
  EXPECT_FALSE(d.StoreNotiData(vmBackup));
  EvNDetector::Testing::vmBackupFeatureProbe = &isVMBackupFeatureDisabled;
  EXPECT_EQ(EvNDetector::Outcome::Failed, d.lastOutcome());
  EXPECT_EQ(1, log_.count("Alert event of type [3] criteria [3] for job [77] not recorded: unexpected failure"))
      << log_.text();
  EXPECT_EQ(1, countRows("NTDetectedAlerts WHERE processStat = 0"));  // the row stays, never marked detected

  EvNDetector::Testing::dispatchObserver = [](const char*, int) { throw std::runtime_error("observer failed"); };
  EXPECT_FALSE(d.StoreNotiData(vmBackup));
  EXPECT_EQ(EvNDetector::Outcome::Failed, d.lastOutcome());
  EXPECT_TRUE(log_.contains("Alert [3] not processed: observer failed")) << log_.text();
  EvNDetector::Testing::dispatchObserver = &recordDispatch;

  EvAlertEx plain = event(3, 1, 13);
  EXPECT_TRUE(d.StoreNotiData(plain));
  EXPECT_EQ(EvNDetector::Outcome::Handled, d.lastOutcome());
  EXPECT_EQ(1, countRows("NTDetectedAlerts WHERE processStat = 0"));
}

// A stand-in handler that records the way handlers do: match a pending occurrence
// on the event's client, else insert, mark and complete a new one.
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

// Runs EVENTS through one detector or a fresh one each; per event the result and the detector's view.
std::vector<std::string> run(const std::vector<EvAlertEx>& events, bool oneDetector) {
  std::vector<std::string> out;
  EvNDetector shared;
  EvNDetector::Testing::dispatchObserver = &standInHandler;
  for (EvAlertEx e : events) {
    EvNDetector fresh;
    EvNDetector& d = oneDetector ? shared : fresh;
    g_detector = &d;
    g_event = &e;
    const bool result = d.StoreNotiData(e);
    out.push_back(std::to_string(result) + " " + std::to_string(d.getCategory()) + "." +
                  std::to_string(d.getAlertType()) + "." + std::to_string(d.getCriteria()) + "." +
                  std::to_string(d.getOldAlertId()) + "." + std::to_string(d.getAlertStatus()));
  }
  EvNDetector::Testing::dispatchObserver = nullptr;
  return out;
}

TEST_P(EntryTest, AReusedDetectorRecordsEveryEventAsAFreshOneWould) {
  for (int t : {3, 10, 76, 2001}) {
    seed(t, t + 1000);
  }
  const EvAlertEx old = withOld(event(0, 0, 0), 2001, 3010);
  const std::vector<EvAlertEx> events = {event(76, 1, 5), old, event(3, 73, 5, 9), event(3, 1, 6), event(10, 43, 7),
                                         event(10, 43, 7), event(3, 1, 8), old};
  // The rows a run made, event ids counted from its first row: a sequence may have moved past MAX.
  auto rows = [&] {
    std::vector<std::string> out;
    NTDetectedAlerts t(nullptr);
    t.setOrderBy("eventId");
    int counter = 0;
    long long base = -1;
    while (DBrowRead(t.getNextRow(&counter))) {
      const NTDetectedAlerts_t* r = t.getDataPtr();
      if (base < 0) base = r->eventId;
      out.push_back(std::to_string(r->eventId - base) + " " + std::to_string(r->category) + "." +
                    std::to_string(r->alertType) + "." + std::to_string(r->criteria) + "." + std::to_string(r->status) +
                    " stat " + std::to_string(r->processStat) + " rule " + std::to_string(r->ntNotificationId) +
                    " entity [" + (r->entityId ? r->entityId : "") + "] params " +
                    queryText("SELECT COUNT(*) FROM NTDparams WHERE eventId = " + std::to_string(r->eventId)));
    }
    exec("DELETE FROM NTDetectedAlerts");  // the next run must not find these rows
    exec("DELETE FROM NTDparams");
    return out;
  };
  const std::vector<std::string> shared = run(events, true);
  const std::vector<std::string> sharedRows = rows();
  EXPECT_EQ(run(events, false), shared);
  const std::vector<std::string> freshRows = rows();
  EXPECT_EQ(freshRows, sharedRows);
  const std::string all = ::testing::PrintToString(freshRows);
  ASSERT_EQ(4u, freshRows.size()) << all;  // a rule-stamped row, a client row matched once, rows of neither
  EXPECT_NE(std::string::npos, all.find("rule 9 entity [JobViewForNTRule|9]")) << all;
  EXPECT_NE(std::string::npos, all.find("entity [Client|7]")) << all;
}

EVD_INSTANTIATE_BACKENDS(EntryTest);

}  // namespace

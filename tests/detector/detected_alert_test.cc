// The detected-alert record on both backends: new occurrences, repeats of a
// pending occurrence, cleared conditions, state changes and the clean-up of
// a rule's rows.
#include <gtest/gtest.h>

#include <ctime>
#include <string>
#include <vector>

#include "Db/AllBindings.h"
#include "host/EvAlertDebug.h"
#include "detector/EvNDetector.h"
#include "detector/ProcessStat.h"
#include "params/EvNDetectParams.h"
#include "support/alert_log.h"
#include "support/db_fixture.h"

namespace {

class TestDetector : public EvNDetector {
 public:
  void setAlertStatus(int status) { m_alertStatus = status; }
};

long long epochOf(const DB_DATETIME& dt) {
  struct tm t = {};
  t.tm_year = dt.year - 1900;
  t.tm_mon = dt.month - 1;
  t.tm_mday = dt.day;
  t.tm_hour = dt.hour;
  t.tm_min = dt.minute;
  t.tm_sec = dt.second;
  t.tm_isdst = -1;
  return static_cast<long long>(mktime(&t));
}

class DetectedAlertTest : public evd::test::DbTest {
 protected:
  // A detector as the entry leaves it for a handler.
  void prime(TestDetector& d, int alertType, int criteria = 43, int status = 7, int rule = 5,
             const std::string& entity = "") {
    d.SetNotiCategoryAndType(2, alertType);
    d.SetNotiCriteria(criteria);
    d.setAlertStatus(status);
    d.setNotificationId(rule);
    d.setEntityId(entity);
  }
  // A complete occurrence of ALERTTYPE in state STATE; returns its id.
  int pendingAlert(int alertType, int state = eAlertStatusPending, int rule = 5) {
    TestDetector d;
    prime(d, alertType, 43, 7, rule);
    int id = 0;
    EXPECT_TRUE(d.SetDetectedAlert(id, false, 0));
    EXPECT_NE(0, id);
    EXPECT_TRUE(SetStatus(id, state));
    return id;
  }
  NTDetectedAlerts_t row(int eventId) {
    NTDetectedAlerts t(nullptr);
    t.setWhere("eventId = %d", eventId);
    EXPECT_EQ(0, t.getOneRow()) << "eventId " << eventId;
    return *t.getDataPtr();
  }
  long long params(int eventId, int type) {
    return countRows("NTDparams WHERE eventId = " + std::to_string(eventId) + " AND type = " + std::to_string(type));
  }
  long long msgParamsOf(int eventId) { return countRows("NTDMsgParam WHERE eventId = " + std::to_string(eventId)); }
  void addMsgParam(int eventId) {
    NTDMsgParam t(nullptr);
    t.getDataPtr()->eventId = eventId;
    dbCopyText(t.getDataPtr()->data, "arg");
    ASSERT_EQ(0, t.rowInsert(true)) << t.getErrorStr(t.lastResult());
  }
  // Sets a row's times back so that a new stamp is told apart from the old.
  void ageRow(int eventId) {
    exec("UPDATE NTDetectedAlerts SET occurTime = '2001-02-03 04:05:06', processTime = '2001-02-03 04:05:06' "
         "WHERE eventId = " + std::to_string(eventId));
  }
  evd::test::AlertLogCapture log_;
};

// ---- new occurrences --------------------------------------------------------

TEST_P(DetectedAlertTest, NewOccurrenceIsInsertedFromTheDetectorInTheWritingState) {
  TestDetector d;
  prime(d, 3, 43, 2001, 9, "Client|107");
  const long long before = time(nullptr);
  int id = 0;
  ASSERT_TRUE(d.SetDetectedAlert(id, false, 0));
  const long long after = time(nullptr);

  ASSERT_GT(id, 0);
  EXPECT_EQ(id, d.getEventId());
  const NTDetectedAlerts_t r = row(id);
  EXPECT_EQ(2, r.category);
  EXPECT_EQ(3, r.alertType);
  EXPECT_EQ(43, r.criteria);
  EXPECT_EQ(2001, r.status);
  EXPECT_EQ(eAlertStatusWriting, r.processStat);
  EXPECT_EQ(9, r.ntNotificationId);
  EXPECT_STREQ("Client|107", r.entityId);
  EXPECT_GE(epochOf(r.occurTime), before);
  EXPECT_LE(epochOf(r.occurTime), after);
  EXPECT_EQ(epochOf(r.occurTime), epochOf(r.processTime));
  EXPECT_TRUE(r.nextTriggerTime.isZero());

  // The next occurrence gets a row of its own, with the given occurTime;
  // without a rule or an object those columns stay empty.
  prime(d, 3, 43, 7, 0, "");
  int second = 0;
  ASSERT_TRUE(d.SetDetectedAlert(second, false, 1700000000));
  EXPECT_NE(id, second);
  const NTDetectedAlerts_t s = row(second);
  EXPECT_EQ(1700000000, epochOf(s.occurTime));
  EXPECT_EQ(0, s.ntNotificationId);
  EXPECT_TRUE(s.entityId == nullptr || *s.entityId == '\0');
}

// A later fill replaces the entity copy rather than sharing the detector's.
TEST_P(DetectedAlertTest, SetNotiRecCopiesTheEntityEachTime) {
  TestDetector d;
  prime(d, 10, 18, 1013, 0, "Library|3");
  NTDetectedAlerts_t r;
  d.SetNotiRec(&r);
  d.setEntityId("Library|4");
  d.SetNotiRec(&r);
  EXPECT_STREQ("Library|4", r.entityId);
}

// A cleared condition without a row writes nothing; a repeat or a state
// change of a row that is not there fails and leaves the caller's ids alone.
TEST_P(DetectedAlertTest, NothingToUpdateWritesNothing) {
  TestDetector d;
  prime(d, 3);
  d.setEventId(0);
  int id = 0;
  EXPECT_TRUE(d.SetDetectedAlert(id, true, 1700000000));
  EXPECT_EQ(0, id);
  id = 4242;
  EXPECT_FALSE(d.SetDetectedAlert(id, false, 0));
  EXPECT_EQ(4242, id);
  EXPECT_EQ(0, d.getEventId());
  EXPECT_FALSE(SetStatus_Detected(4242));
  EXPECT_FALSE(SetStatus(4242, eAlertStatusPendingMatch, 5));
  EXPECT_EQ(0, countRows("NTDetectedAlerts"));
  EXPECT_EQ(0, countRows("NTDparams"));
}

// ---- repeats of a pending occurrence -------------------------------------

TEST_P(DetectedAlertTest, RepeatOfATypeWithDataUpdateRebuildsItsParametersAndKeepsItsState) {
  const int id = pendingAlert(10);
  const int other = pendingAlert(10);
  EvNDetectParams p(nullptr);
  ASSERT_TRUE(p.AddParam(id, ParamDescription, "old text"));
  ASSERT_TRUE(p.AddParam(id, static_cast<NotiParamTypes>(143), "kept by its owner"));
  ASSERT_TRUE(p.AddParam(other, ParamDescription, "other event"));
  addMsgParam(id);
  addMsgParam(other);
  ageRow(id);

  // The detector's own fields describe the new event; the stored row keeps
  // its columns.
  TestDetector d;
  prime(d, 99, 77, 55, 66, "Other|1");
  int existing = id;
  const long long before = time(nullptr);
  ASSERT_TRUE(d.SetDetectedAlert(existing, false, 0));

  EXPECT_EQ(0, existing) << "no new row was made";
  EXPECT_EQ(id, d.getEventId());
  const NTDetectedAlerts_t r = row(id);
  EXPECT_EQ(eAlertStatusPending, r.processStat);
  EXPECT_EQ(43, r.criteria);
  EXPECT_EQ(5, r.ntNotificationId);
  EXPECT_EQ(2001, r.occurTime.year) << "occurTime of the first occurrence stays";
  EXPECT_GE(epochOf(r.processTime), before);

  EXPECT_EQ(0, params(id, ParamDescription));
  EXPECT_EQ(1, params(id, 143));
  EXPECT_EQ(0, msgParamsOf(id));
  EXPECT_EQ(1, params(other, ParamDescription));
  EXPECT_EQ(1, msgParamsOf(other));
  EXPECT_EQ(0, params(id, ParamDetectTime));
}

TEST_P(DetectedAlertTest, ClearedRepeatMovesTheRowToClearedAndRecordsTheTime) {
  struct Case {
    int alertType;
    int keptParams;  // besides the clearing time
  };
  for (const Case c : {Case{3, 1}, Case{12, 0}}) {
    SCOPED_TRACE("alert type " + std::to_string(c.alertType));
    const int id = pendingAlert(c.alertType);
    EvNDetectParams p(nullptr);
    ASSERT_TRUE(p.AddParam(id, ParamDescription, "detail"));
    addMsgParam(id);
    ageRow(id);

    TestDetector d;
    prime(d, c.alertType);
    int existing = id;
    const long long before = time(nullptr);
    ASSERT_TRUE(d.SetDetectedAlert(existing, true, 0));
    const long long after = time(nullptr);

    EXPECT_EQ(0, existing);
    EXPECT_EQ(eAlertStatusCleared, row(id).processStat);
    ASSERT_EQ(1, params(id, ParamDetectTime));
    long long detected = 0;
    ASSERT_TRUE(p.GetOneParam(id, ParamDetectTime, detected));
    EXPECT_GE(detected, before);
    EXPECT_LE(detected, after);
    EXPECT_EQ(c.keptParams, params(id, ParamDescription));
    EXPECT_EQ(c.keptParams, msgParamsOf(id));
    EXPECT_EQ(1 + c.keptParams, countRows("NTDparams WHERE eventId = " + std::to_string(id)));
  }
}

TEST_P(DetectedAlertTest, ARepeatOfAnOccurrenceNoLongerPendingIsANewOccurrence) {
  // The notifier took the row between the look-up and the update: its state
  // stays as the notifier left it and the event gets a row of its own.
  for (bool cleared : {false, true}) {
    SCOPED_TRACE(cleared ? "cleared" : "repeat");
    const int id = pendingAlert(10, eAlertStatusPending);
    EvNDetectParams p(nullptr);
    ASSERT_TRUE(p.AddParam(id, ParamDescription, "sent"));
    exec("UPDATE NTDetectedAlerts SET processStat = 8 WHERE eventId = " + std::to_string(id));
    ageRow(id);
    TestDetector d;
    prime(d, 10);
    int existing = id;
    ASSERT_TRUE(d.SetDetectedAlert(existing, cleared, 0));
    const NTDetectedAlerts_t r = row(id);
    EXPECT_EQ(8, r.processStat);
    EXPECT_EQ(2001, r.processTime.year);
    EXPECT_EQ(1, params(id, ParamDescription)) << "its parameters belong to the sent notification";
    if (cleared) {
      // A cleared condition without a pending occurrence writes nothing.
      EXPECT_EQ(0, existing);
      EXPECT_EQ(0, params(id, ParamDetectTime));
    } else {
      ASSERT_GT(existing, id);
      EXPECT_EQ(existing, d.getEventId());
      EXPECT_EQ(eAlertStatusWriting, row(existing).processStat);
    }
  }
  // Each of the pending bits keeps a row matchable.
  for (int state : {0x01, 0x02, 0x40}) {
    const int id = pendingAlert(3, state);
    TestDetector d;
    prime(d, 3);
    int existing = id;
    ASSERT_TRUE(d.SetDetectedAlert(existing, true, 0));
    EXPECT_EQ(0, existing) << state;
    EXPECT_EQ(eAlertStatusCleared, row(id).processStat) << state;
  }
}

TEST_P(DetectedAlertTest, InsertFailsWhenTheTableIsGoneAndAnIdBeyond32BitsIsRefusedNotWrapped) {
  if (isPostgres())
    exec("SELECT setval(pg_get_serial_sequence('ntdetectedalerts', 'eventid'), 2147483647)");
  else
    exec("INSERT INTO NTDetectedAlerts (eventId, processStat) VALUES (2147483647, 1)");
  TestDetector d;
  prime(d, 3);
  d.setEventId(17);
  int id = 0;
  EXPECT_FALSE(d.SetDetectedAlert(id, false, 0));
  EXPECT_EQ(0, id);
  EXPECT_EQ(17, d.getEventId());
  EXPECT_EQ(0, countRows("NTDetectedAlerts WHERE processStat <> 0 AND eventId <> 2147483647"));
  if (isPostgres()) exec("SELECT setval(pg_get_serial_sequence('ntdetectedalerts', 'eventid'), 1, false)");

  exec("DROP TABLE NTDetectedAlerts");
  EXPECT_FALSE(d.SetDetectedAlert(id, false, 0));
  EXPECT_EQ(0, id);
}

// ---- state changes ---------------------------------------------------------

// Each state change writes only the state columns of the named row and
// stamps occurTime with the time of the change.
TEST_P(DetectedAlertTest, StateChangesWriteOnlyTheStateOfTheNamedRow) {
  const int id = pendingAlert(3, eAlertStatusWriting);
  const int other = pendingAlert(3);
  ageRow(id);
  const long long before = time(nullptr);
  ASSERT_TRUE(SetStatus_Detected(id));
  NTDetectedAlerts_t r = row(id);
  EXPECT_EQ(eAlertStatusPending, r.processStat);
  EXPECT_GE(epochOf(r.occurTime), before) << "the time of the state change, not the event's";
  EXPECT_EQ(2001, r.processTime.year) << "processTime belongs to inserts and repeats";
  ASSERT_TRUE(SetStatus(id, eAlertStatusHeld));
  EXPECT_EQ(eAlertStatusHeld, row(id).processStat);
  ASSERT_TRUE(SetStatus(id, eAlertStatusPendingMatch, 3029));
  r = row(id);
  EXPECT_EQ(eAlertStatusPendingMatch, r.processStat);
  EXPECT_EQ(3029, r.status);

  // A column changed by someone else since the row was made stays.
  exec("UPDATE NTDetectedAlerts SET entityId = 'Changed|1', criteria = 99 WHERE eventId = " + std::to_string(id));
  ASSERT_TRUE(SetStatus(id, eAlertStatusCleared));
  r = row(id);
  EXPECT_EQ(eAlertStatusCleared, r.processStat);
  EXPECT_STREQ("Changed|1", r.entityId);
  EXPECT_EQ(99, r.criteria);
  EXPECT_EQ(3029, r.status);
  EXPECT_EQ(eAlertStatusPending, row(other).processStat) << "only the named row changes";
}

// ---- clearing a rule's rows ----------------------------------------------

TEST_P(DetectedAlertTest, ClearingARuleDeletesOnlyItsRowsAndLeavesTheirParameters) {
  const int a = pendingAlert(3, eAlertStatusPending, 5);
  const int b = pendingAlert(3, eAlertStatusCleared, 5);
  const int keep = pendingAlert(3, eAlertStatusPending, 6);
  const int noRule = pendingAlert(3, eAlertStatusPending, 0);
  EvNDetectParams p(nullptr);
  ASSERT_TRUE(p.AddParam(a, ParamDescription, "detail"));

  EXPECT_EQ(0, ClearDetectedAlertsForRule(5));
  EXPECT_EQ(0, countRows("NTDetectedAlerts WHERE eventId IN (" + std::to_string(a) + ", " + std::to_string(b) + ")"));
  EXPECT_EQ(1, params(a, ParamDescription));
  // Nothing left of that rule, and no rule id at all: rows recorded without a
  // rule are not swept away.
  for (int rule : {5, 0}) EXPECT_EQ(100, ClearDetectedAlertsForRule(rule)) << rule;
  EXPECT_EQ(2, countRows("NTDetectedAlerts WHERE eventId IN (" + std::to_string(keep) + ", " +
                         std::to_string(noRule) + ")"));

  exec("DROP TABLE NTDetectedAlerts");
  const int rc = ClearDetectedAlertsForRule(5);
  EXPECT_NE(0, rc);
  EXPECT_NE(100, rc);
}

EVD_INSTANTIATE_BACKENDS(DetectedAlertTest);

}  // namespace

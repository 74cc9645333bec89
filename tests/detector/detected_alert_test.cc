// The detected-alert record: new occurrences, repeats, cleared conditions, state changes and rule clean-up.
#include <gtest/gtest.h>

#include <ctime>
#include <string>
#include <vector>

#include "Db/AllBindings.h"
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

long long epochOf(DB_DATETIME dt) { return EvNDetector::DbDatetimeToUlongTime(nullptr, dt, false); }

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
  // A complete occurrence in state STATE.
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
  long long msgParams(int eventId) { return countRows("NTDMsgParam WHERE eventId = " + std::to_string(eventId)); }
  void addMsgParam(int eventId) {
    NTDMsgParam t(nullptr);
    t.getDataPtr()->eventId = eventId;
    dbCopyText(t.getDataPtr()->data, "arg");
    ASSERT_EQ(0, t.rowInsert(true)) << t.getErrorStr(t.lastResult());
  }
  // Sets a row's times back so that a new stamp stands out.
  void ageRow(int eventId) {
    exec("UPDATE NTDetectedAlerts SET occurTime = '2001-02-03 04:05:06', processTime = '2001-02-03 04:05:06' "
         "WHERE eventId = " + std::to_string(eventId));
  }
  evd::test::AlertLogCapture log_;
};

TEST_P(DetectedAlertTest, NewOccurrenceIsInsertedFromTheDetectorInTheWritingState) {
  TestDetector d;
  prime(d, 3, 43, 2001, 9, "Client|107");
  const long long before = time(nullptr);
  int id = 0;
  ASSERT_TRUE(d.SetDetectedAlert(id, false, 0));
  ASSERT_GT(id, 0);
  EXPECT_EQ(id, d.getEventId());
  const NTDetectedAlerts_t r = row(id);
  EXPECT_EQ((std::vector<int>{2, 3, 43, 2001, eAlertStatusWriting, 9}),
            (std::vector<int>{r.category, r.alertType, r.criteria, r.status, r.processStat, r.ntNotificationId}));
  EXPECT_STREQ("Client|107", r.entityId);
  EXPECT_GE(epochOf(r.occurTime), before);
  EXPECT_EQ(epochOf(r.occurTime), epochOf(r.processTime));
  EXPECT_TRUE(r.nextTriggerTime.isZero());
  int second = 0;  // the next occurrence gets a row of its own, with the given occurTime
  ASSERT_TRUE(d.SetDetectedAlert(second, false, 1700000000));
  EXPECT_NE(id, second);
  EXPECT_EQ(1700000000, epochOf(row(second).occurTime));
  // A later fill replaces the entity copy rather than sharing the detector's.
  NTDetectedAlerts_t filled;
  d.SetNotiRec(&filled);
  d.setEntityId("Library|4");
  d.SetNotiRec(&filled);
  EXPECT_STREQ("Library|4", filled.entityId);
}

// A cleared condition without a row writes nothing; a repeat or a state
// change of a row that is not there fails and leaves the caller's ids alone.
TEST_P(DetectedAlertTest, NothingToUpdateWritesNothing) {
  TestDetector d;
  prime(d, 3);
  int id = 0;
  EXPECT_TRUE(d.SetDetectedAlert(id, true, 1700000000));
  EXPECT_EQ(0, id);
  id = 4242;
  EXPECT_FALSE(d.SetDetectedAlert(id, false, 0));
  EXPECT_EQ(4242, id);
  EXPECT_EQ(0, d.getEventId());
  EXPECT_FALSE(SetStatus(4242, eAlertStatusPendingMatch, 5));
  EXPECT_EQ(0, countRows("NTDetectedAlerts"));
}

// A repeat of a type with data update rebuilds its parameters and keeps its state; a cleared repeat moves the
// row to cleared and records the time, type 3 keeping its parameters and type 12 dropping them. Another
// event's parameters are never touched.
TEST_P(DetectedAlertTest, RepeatsRebuildOrClearTheRowTheyFind) {
  struct Case {
    int alertType, state;
    bool cleared;
    int after;
    long long kept;  // of the description and the message arguments
  };
  const std::vector<Case> cases = {{10, eAlertStatusPending, false, eAlertStatusPending, 0},
                                   {3, 0x40, true, eAlertStatusCleared, 1},
                                   {12, 0x40, true, eAlertStatusCleared, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.alertType);
    const int id = pendingAlert(c.alertType, c.state);
    const int other = pendingAlert(c.alertType, c.state);
    EvNDetectParams p(nullptr);
    ASSERT_TRUE(p.AddParam(id, ParamDescription, "old text"));
    ASSERT_TRUE(p.AddParam(id, static_cast<NotiParamTypes>(143), "kept by its owner"));
    ASSERT_TRUE(p.AddParam(other, ParamDescription, "other event"));
    addMsgParam(id);
    addMsgParam(other);
    ageRow(id);
    TestDetector d;
    if (c.cleared) prime(d, c.alertType);
    else prime(d, 99, 77, 55, 66, "Other|1");  // the stored row keeps its own columns
    int existing = id;
    const long long before = time(nullptr);
    ASSERT_TRUE(d.SetDetectedAlert(existing, c.cleared, 0));
    EXPECT_EQ(0, existing) << "no new row was made";
    const NTDetectedAlerts_t r = row(id);
    EXPECT_EQ(c.after, r.processStat);
    EXPECT_EQ(c.kept, params(id, ParamDescription));
    EXPECT_EQ(c.kept, msgParams(id));
    EXPECT_EQ(1, params(other, ParamDescription));
    EXPECT_EQ(1, msgParams(other));
    if (c.cleared) {
      long long detected = 0;
      ASSERT_TRUE(p.GetOneParam(id, ParamDetectTime, detected));
      EXPECT_GE(detected, before);
      continue;
    }
    EXPECT_EQ(id, d.getEventId());
    EXPECT_EQ(43, r.criteria);
    EXPECT_EQ(2001, r.occurTime.year) << "occurTime of the first occurrence stays";
    EXPECT_NE(2001, r.processTime.year);
    EXPECT_EQ(1, params(id, 143));
  }
}

// The notifier took the row between the look-up and the update: its state
// stays as the notifier left it and the event gets a row of its own.
TEST_P(DetectedAlertTest, ARepeatOfAnOccurrenceNoLongerPendingIsANewOccurrence) {
  for (bool cleared : {false, true}) {
    SCOPED_TRACE(cleared ? "cleared" : "repeat");
    const int id = pendingAlert(10, 8);
    EvNDetectParams p(nullptr);
    ASSERT_TRUE(p.AddParam(id, ParamDescription, "sent"));
    ageRow(id);
    TestDetector d;
    prime(d, 10);
    int existing = id;
    ASSERT_TRUE(d.SetDetectedAlert(existing, cleared, 0));
    const NTDetectedAlerts_t r = row(id);
    EXPECT_EQ(8, r.processStat);
    EXPECT_EQ(2001, r.processTime.year);
    EXPECT_EQ(1, params(id, ParamDescription)) << "its parameters belong to the sent notification";
    EXPECT_EQ(0, params(id, ParamDetectTime));
    EXPECT_EQ(cleared, existing == 0) << "a cleared condition without a pending occurrence writes nothing";
    if (!cleared) {
      EXPECT_EQ(eAlertStatusWriting, row(existing).processStat);
    }
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
  EXPECT_EQ(17, d.getEventId()) << "a refused id is not taken";
  EXPECT_EQ(0, countRows("NTDetectedAlerts WHERE processStat <> 0 AND eventId <> 2147483647"));
  if (isPostgres()) exec("SELECT setval(pg_get_serial_sequence('ntdetectedalerts', 'eventid'), 1, false)");
  exec("DROP TABLE NTDetectedAlerts");
  EXPECT_FALSE(d.SetDetectedAlert(id, false, 0));
  EXPECT_EQ(0, id);
}

// Each state change writes only the state columns of the named row and stamps occurTime.
TEST_P(DetectedAlertTest, StateChangesWriteOnlyTheStateOfTheNamedRow) {
  const int id = pendingAlert(3, eAlertStatusWriting);
  const int other = pendingAlert(3);
  ageRow(id);
  ASSERT_TRUE(SetStatus_Detected(id));
  NTDetectedAlerts_t r = row(id);
  EXPECT_EQ(eAlertStatusPending, r.processStat);
  EXPECT_NE(2001, r.occurTime.year) << "the time of the state change, not the event's";
  EXPECT_EQ(2001, r.processTime.year) << "processTime belongs to inserts and repeats";
  // A column changed by someone else since the row was made stays.
  exec("UPDATE NTDetectedAlerts SET entityId = 'Changed|1', criteria = 99 WHERE eventId = " + std::to_string(id));
  ASSERT_TRUE(SetStatus(id, eAlertStatusPendingMatch, 3029));
  r = row(id);
  EXPECT_EQ(eAlertStatusPendingMatch, r.processStat);
  EXPECT_EQ(3029, r.status);
  EXPECT_STREQ("Changed|1", r.entityId);
  EXPECT_EQ(99, r.criteria);
  EXPECT_EQ(eAlertStatusPending, row(other).processStat) << "only the named row changes";
}

EVD_INSTANTIATE_BACKENDS(DetectedAlertTest);

}  // namespace

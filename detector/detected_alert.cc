// The detected-alert record: filling, inserting and updating the
// NTDetectedAlerts row of one occurrence, and moving it between processing
// states.
#include <strings.h>

#include <cstring>
#include <ctime>
#include <string>

#include "Db/AllBindings.h"
#include "host/EvAlertDebug.h"
#include "detector/EvNDetector.h"
#include "detector/ProcessStat.h"

namespace {

DB_DATETIME now() {
  DB_DATETIME dt;
  EvNDetector::UlongTimeToDbDatetime(static_cast<long>(EvAlertDebug::now()), dt, false);
  return dt;
}

// Moves the row of EVENTID to PROCESSSTAT (and STATUS when given) and
// re-stamps occurTime, in one statement: a read and a whole-row write-back
// would undo whatever the notifier changed in between. DETECTEDFORM picks
// the wording of the error line: the SetStatus_Detected line names the
// layer's text "ErrorString", the SetStatus lines "Error".
bool changeState(int eventId, int processStat, const int* status, bool detectedForm) {
  EvAlertDebug log;
  const char* label = "SetStatus_Detected";
  try {
    NTDetectedAlerts table(nullptr);
    table.setWhere("eventId = %d", eventId);
    const DB_DATETIME t = now();
    // No row updated (100) means there is no such occurrence: a failure.
    const int rc = status ? table.rowUpdate("occurTime = %p, processStat = %d, status = %d", DBodbcDate(&t),
                                            processStat, *status)
                          : table.rowUpdate("occurTime = %p, processStat = %d", DBodbcDate(&t), processStat);
    if (rc == 0) return true;
    if (detectedForm)
      log.Error(label, "Error Updating table [%s] , ErrorString [%s]", table.getTableName(), table.getErrorStr(rc));
    else
      log.Error(label, "Error Updating table [%s] , Error [%s]", table.getTableName(), table.getErrorStr(rc));
  } catch (...) {
    log.Error(label, "Unexpected failure while setting processStat [%d] of eventId [%d]", processStat, eventId);
  }
  return false;
}

// What became of a repeat of a pending occurrence.
enum RepeatResult { kRepeatRecorded, kRepeatNotPending, kRepeatFailed };

RepeatResult updateRepeat(EvNDetector& detector, int eventId, bool conditionCleared, bool writingIsPending) {
  EvAlertDebug log;
  const char* label = "EvNDetector::SetDetectedAlert";
  // The stored row keeps its own columns (its occurTime among them); the
  // read only tells whether it exists and which alert type it has.
  NTDetectedAlerts table(nullptr);
  table.setWhere("eventId = %d", eventId);
  int rc = table.getOneRow();
  if (!DBrowRead(rc)) {
    log.Error(label, "eventId <%d> not found in table [%s], ErrorString [%s]", eventId, table.getTableName(),
              table.getErrorStr(rc));
    return kRepeatFailed;
  }
  const int storedType = table.getDataPtr()->alertType;
  table.closeCursor();

  // Only the columns a repeat changes, and only while the row is still
  // pending: the notifier may have moved it on since the look-up.
  const long nowSecs = static_cast<long>(EvAlertDebug::now());
  DB_DATETIME processed;
  EvNDetector::UlongTimeToDbDatetime(nowSecs, processed, false);
  NTDetectedAlerts update(nullptr);
  if (writingIsPending)
    update.setWhere("eventId = %d and ((processStat & %d) <> 0 or processStat = %d)", eventId,
                    kPendingProcessStatMask, static_cast<int>(eAlertStatusWriting));
  else
    update.setWhere("eventId = %d and (processStat & %d) <> 0", eventId, kPendingProcessStatMask);
  rc = conditionCleared ? update.rowUpdate("processTime = %p, processStat = %d", DBodbcDate(&processed),
                                           static_cast<int>(eAlertStatusCleared))
                        : update.rowUpdate("processTime = %p", DBodbcDate(&processed));
  if (rc == DB_NO_DATA) return kRepeatNotPending;
  if (rc != 0) {
    log.Error(label, "Could not update table [%s], ErrorString [%s]", update.getTableName(), update.getErrorStr(rc));
    return kRepeatFailed;
  }

  EvNDetectParams params(nullptr);
  if (isDataUpdateSupportedInRepeatedAlert(storedType)) {
    // The handler writes the parameters of this repeat afresh.
    if (!params.ClearMsgParams(eventId)) return kRepeatFailed;
    if (!params.ClearEventParams(eventId)) return kRepeatFailed;
  }
  if (conditionCleared && !params.AddParam(eventId, ParamDetectTime, nowSecs)) return kRepeatFailed;

  detector.setEventId(eventId);
  return kRepeatRecorded;
}

}  // namespace

void EvNDetector::SetNotiRec(NTDetectedAlerts_t* row) {
  EvAlertDebug log;
  if (row == nullptr) return;
  row->category = m_category;
  row->alertType = m_alertType;
  row->criteria = m_criteria;
  row->status = m_alertStatus;
  const DB_DATETIME t = now();
  row->occurTime = t;
  row->processTime = t;
  row->processStat = eAlertStatusWriting;
  if (m_notificationId > 0) row->ntNotificationId = m_notificationId;
  if (!m_entityId.empty()) EvNDetectParams::AllocateAndAssign(row->entityId, m_entityId);
}

bool EvNDetector::SetDetectedAlert(int& existingEventId, bool conditionCleared, int occurTime,
                                   bool writingIsPending) {
  EvAlertDebug log;
  const char* label = "EvNDetector::SetDetectedAlert";
  if (existingEventId == 0 && conditionCleared) {
    log.DebugLvl(label, 8, "ConditionCleared updates for the events that never existed. ignoring the event");
    return true;
  }

  if (existingEventId != 0) {
    const RepeatResult rc = updateRepeat(*this, existingEventId, conditionCleared, writingIsPending);
    if (rc == kRepeatRecorded) {
      noteOccurrence(conditionCleared ? EvNEventKind::Cleared : EvNEventKind::Repeat, existingEventId);
      // 0 tells the caller that no new row was made.
      existingEventId = 0;
      return true;
    }
    if (rc == kRepeatFailed) return false;
    // The occurrence left the pending states since it was looked up (the
    // notifier took it): this event is a new occurrence, exactly as if the
    // look-up had found nothing.
    log.DebugLvl(label, 8, "eventId <%d> is no longer pending; recording a new occurrence", existingEventId);
    existingEventId = 0;
    if (conditionCleared) {
      log.DebugLvl(label, 8, "ConditionCleared updates for the events that never existed. ignoring the event");
      return true;
    }
  }

  NTDetectedAlerts table(nullptr);
  NTDetectedAlerts_t* row = table.getDataPtr();
  SetNotiRec(row);
  if (occurTime > 0) UlongTimeToDbDatetime(occurTime, row->occurTime, false);
  const int rc = table.rowInsert(true);
  if (rc != 0) {
    log.Error(label, "Could not insert row into table [%s], ErrorString [%s]", table.getTableName(),
              table.getErrorStr(rc));
    return false;
  }
  // An id that does not fit the column's type comes back cut or wrapped:
  // the row it names would be another one (or none), so nothing may be
  // written under it.
  if (row->eventId <= 0) {
    log.Error(label, "Could not insert row into table [%s], ErrorString [%s]", table.getTableName(),
              "the new eventId does not fit 32 bits");
    return false;
  }
  existingEventId = row->eventId;
  setEventId(row->eventId);
  noteOccurrence(EvNEventKind::New, row->eventId);
  return true;
}

bool SetStatus_Detected(int eventId) { return changeState(eventId, eAlertStatusPending, nullptr, true); }

bool SetStatus(int eventId, int processStat) { return changeState(eventId, processStat, nullptr, false); }

bool SetStatus(int eventId, int processStat, int status) {
  return changeState(eventId, processStat, &status, false);
}

namespace {

// Whether the rows of DEF belong to one occurrence each: the detail,
// parameter, message-argument and query-result tables of ours all carry the
// occurrence's eventId (spelt EventId in the query results; SQL names are
// not case-sensitive).
bool ownedByOccurrence(const Db::TableDef& def) {
  if (def.foreign || def.kind != Db::HeaderType::Table || std::strcmp(def.name, "NTDetectedAlerts") == 0)
    return false;
  for (int i = 0; i < def.columnCount; ++i)
    if (strcasecmp(def.columns[i].name, "eventId") == 0) return true;
  return false;
}

// Deletes the rows of table T that belong to an occurrence of RULEID, on
// TRAN. 0 or the error code (no rows is 0).
template <class T>
int clearOwnedRows(DBtran& tran, int ruleId) {
  T table(&tran);
  if (!ownedByOccurrence(table.definition())) return 0;
  table.setWhere("eventId IN (SELECT eventId FROM NTDetectedAlerts WHERE ntNotificationId = %d)", ruleId);
  const int rc = table.rowDelete();
  return rc == DB_NO_DATA ? 0 : rc;
}

}  // namespace

int ClearDetectedAlertsForRule(int ruleId) {
  EvAlertDebug log;
  const char* label = "ClearDetectedAlertsForRule";
  try {
    log.DebugLvl(label, 8, "Clearing detected alerts for notif rule [%d]", ruleId);
    // Rows recorded without a rule keep notification id 0; a rule id that
    // names no rule must not sweep them away.
    if (ruleId <= 0) return DB_NO_DATA;
    // An occurrence goes with every row that hangs on it, or not at all: rows
    // left behind would be read as another occurrence's once its id is reused.
    DBtran tran;
    int rc = tran.startTran();
#define EVD_CLEAR_OWNED(T) \
    if (rc == 0) rc = clearOwnedRows<T>(tran, ruleId);
    DB_ALL_TABLES(EVD_CLEAR_OWNED)
#undef EVD_CLEAR_OWNED
    NTDetectedAlerts table(&tran);
    table.setWhere("ntNotificationId = %d", ruleId);
    if (rc == 0) rc = table.rowDelete();
    if (rc == 0 || rc == DB_NO_DATA) {
      const int deleted = rc;
      rc = tran.commitTran();
      if (rc == 0) return deleted;
    }
    if (tran.isActive()) tran.rollbackTran();
    log.Error(label, "ErrorCode [%d] in clearing detected alerts for notif rule [%d]", rc, ruleId);
    return rc;
  } catch (...) {
    log.Error(label, "ErrorCode [%d] in clearing detected alerts for notif rule [%d]", DB_ERR_USAGE, ruleId);
    return DB_ERR_USAGE;
  }
}

bool isDataUpdateSupportedInRepeatedAlert(int alertType) {
  return alertType == 2 || alertType == 10 || alertType == 12 || alertType == 13;
}

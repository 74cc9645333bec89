// The detected-alert record: filling, inserting and updating the
// NTDetectedAlerts row of one occurrence, and moving it between processing
// states.
#include <ctime>
#include <string>

#include "Db/AllBindings.h"
#include "detector/EvAlertDebug.h"
#include "detector/EvNDetector.h"
#include "detector/ProcessStat.h"

namespace {

DB_DATETIME now() {
  DB_DATETIME dt;
  EvNDetector::UlongTimeToDbDatetime(static_cast<long>(time(nullptr)), dt, false);
  return dt;
}

// Reads the row of EVENTID, moves it to PROCESSSTAT (and STATUS when given),
// re-stamps occurTime and writes it back. DETECTEDFORM picks the wording of
// the error line: the SetStatus_Detected line names the layer's text
// "ErrorString", the SetStatus lines "Error".
bool changeState(int eventId, int processStat, const int* status, bool detectedForm) {
  EvAlertDebug log;
  const char* label = "SetStatus_Detected";
  try {
    NTDetectedAlerts table(nullptr);
    NTDetectedAlerts_t* row = table.getDataPtr();
    table.setWhere("eventId = %d", eventId);
    // A cut text written back whole would lose the rest of it, so only a
    // complete read is good enough here.
    int rc = table.getOneRow();
    if (rc == 0) {
      row->occurTime = now();
      row->processStat = processStat;
      if (status) row->status = *status;
      rc = table.rowUpdate(nullptr);
    }
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

}  // namespace

void EvNDetector::SetNotiRec(NTDetectedAlerts_t* row) {
  EvAlertDebug log;
  if (row == nullptr) return;
  try {
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
  } catch (...) {
    log.Error("EvNDetector::SetNotiRec", "Could not copy entityId [%s] into the row", m_entityId.c_str());
  }
}

bool EvNDetector::SetDetectedAlert(int& existingEventId, bool conditionCleared, int occurTime) {
  EvAlertDebug log;
  const char* label = "EvNDetector::SetDetectedAlert";
  try {
    if (existingEventId == 0 && conditionCleared) {
      log.DebugLvl(label, 8, "ConditionCleared updates for the events that never existed. ignoring the event");
      return true;
    }

    NTDetectedAlerts table(nullptr);
    NTDetectedAlerts_t* row = table.getDataPtr();

    if (existingEventId == 0) {
      SetNotiRec(row);
      if (occurTime > 0) UlongTimeToDbDatetime(occurTime, row->occurTime, false);
      const int rc = table.rowInsert(true);
      if (rc != 0) {
        log.Error(label, "Could not insert row into table [%s], ErrorString [%s]", table.getTableName(),
                  table.getErrorStr(rc));
        return false;
      }
      existingEventId = row->eventId;
      setEventId(row->eventId);
      return row->eventId != 0;
    }

    // A repeat: the stored row keeps its own columns (and its occurTime);
    // only the processing time and, for a cleared condition, the state move.
    table.setWhere("eventId = %d", existingEventId);
    int rc = table.getOneRow();
    if (rc != 0) {
      log.Error(label, "eventId <%d> not found in table [%s], ErrorString [%s]", existingEventId,
                table.getTableName(), table.getErrorStr(rc));
      return false;
    }

    EvNDetectParams params(nullptr);
    if (isDataUpdateSupportedInRepeatedAlert(row->alertType)) {
      // The handler writes the parameters of this repeat afresh.
      if (!params.ClearMsgParams(existingEventId)) return false;
      if (!params.ClearEventParams(existingEventId)) return false;
    }

    const long nowSecs = static_cast<long>(time(nullptr));
    UlongTimeToDbDatetime(nowSecs, row->processTime, false);
    if (conditionCleared) {
      row->processStat = eAlertStatusCleared;
      if (!params.AddParam(existingEventId, ParamDetectTime, nowSecs)) return false;
    }

    rc = table.rowUpdate(nullptr);
    if (rc != 0) {
      log.Error(label, "Could not update table [%s], ErrorString [%s]", table.getTableName(), table.getErrorStr(rc));
      return false;
    }
    setEventId(existingEventId);
    // 0 tells the caller that no new row was made.
    existingEventId = 0;
    return true;
  } catch (...) {
    log.Error(label, "Unexpected failure while recording eventId [%d]", existingEventId);
    return false;
  }
}

bool SetStatus_Detected(int eventId) { return changeState(eventId, eAlertStatusPending, nullptr, true); }

bool SetStatus(int eventId, int processStat) { return changeState(eventId, processStat, nullptr, false); }

bool SetStatus(int eventId, int processStat, int status) {
  return changeState(eventId, processStat, &status, false);
}

int ClearDetectedAlertsForRule(int ruleId) {
  EvAlertDebug log;
  const char* label = "ClearDetectedAlertsForRule";
  try {
    log.DebugLvl(label, 8, "Clearing detected alerts for notif rule [%d]", ruleId);
    // Rows recorded without a rule keep notification id 0; a rule id that
    // names no rule must not sweep them away.
    if (ruleId <= 0) return DB_NO_DATA;
    NTDetectedAlerts table(nullptr);
    table.setWhere("ntNotificationId = %d", ruleId);
    const int rc = table.rowDelete();
    if (rc != 0 && rc != DB_NO_DATA)
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

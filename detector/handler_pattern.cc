// The shared steps of the alert handlers (see handler_pattern.h).
#include "detector/handler_pattern.h"

namespace {

void logClearFailed(EvAlertDebug& log, const char* label, WithdrawWording wording, long long jobId, const char* error) {
  switch (wording) {
    case WithdrawWording::DataProtection:
      log.Error(label, "Failed to clear condition for Alert Data Protection, JobId [%lld], ErrorString [%s]", jobId,
                error);
      break;
    case WithdrawWording::DataProtectionEq:
      log.Error(label, "Failed to clear condition for Alert Data Protection, JobId = [%lld], ErrorString [%s]", jobId,
                error);
      break;
    case WithdrawWording::FLR:
      log.Error(label, "Failed to clear condition for Alert FLR Jobs, JobId [%lld], Error [%s]", jobId, error);
      break;
  }
}

}  // namespace

void HandlerCall::logInsertFailed(InsertWording wording, const char* table, const char* error) {
  if (wording == InsertWording::Error)
    m_log.Error(m_label, "Could not insert row into table [%s], Error [%s]", table, error);
  else
    m_log.Error(m_label, "Could not insert row into table [%s], ErrorString [%s]", table, error);
}

bool HandlerCall::withdrawDelayedJob(const char* detailTable, WithdrawWording wording) {
  const long long jobId = m_alert.getJobId();
  NTDClearDelayedJobAlert proc(nullptr);
  proc.setValues(static_cast<int>(EvNDetector::JobIdHigh(jobId)), static_cast<int>(EvNDetector::JobIdLow(jobId)),
                 detailTable);
  const int rc = proc.getOneRow();
  if (!DBrowRead(rc)) {
    logClearFailed(m_log, m_label, wording, jobId, proc.getErrorStr(rc));
    return false;
  }
  const int retVal = proc.getDataPtr()->retVal;
  if (retVal != 0) {
    m_log.Error(m_label, "NTDClearDelayedJobAlert Failed [%d]", retVal);
    return false;
  }
  return true;
}

HandlerCall::Pending HandlerCall::matchPending(const EvSuppressionArgs& args) {
  const int pending = m_detector.GetExistingEventIdEx(args);
  if (pending <= 0) return Pending::None;
  switch (matchOrRecord(pending)) {
    case Matched::New:
      m_rowRecorded = true;
      return Pending::Recorded;
    case Matched::Repeat: return Pending::Refreshed;
    case Matched::ClearedNothing: return Pending::Nothing;
    case Matched::Failed: break;
  }
  return Pending::Failed;
}

HandlerCall::Matched HandlerCall::matchOrRecord(const EvSuppressionArgs& lookup) {
  return matchOrRecord(m_detector.GetExistingEventIdEx(lookup));
}

HandlerCall::Matched HandlerCall::matchOrRecord(int pendingEventId) {
  const int found = pendingEventId > 0 ? pendingEventId : 0;
  int local = found;
  if (!m_detector.SetDetectedAlert(local, m_alert.IsConditionCleared(), 0)) return Matched::Failed;
  // A new id comes back for a new occurrence, also when the one found had
  // left the pending states since the look-up.
  if (local != 0) return Matched::New;
  // No id back and the detector not on the one found: a cleared condition
  // with nothing (or no longer anything) pending.
  if (found == 0 || m_detector.getEventId() != found) return Matched::ClearedNothing;
  return Matched::Repeat;
}

bool HandlerCall::insertDetectedAlert(InsertWording wording) { return insertDetectedAlert(nullptr, wording); }

bool HandlerCall::insertDetectedAlert(const std::function<bool()>& ready, InsertWording wording) {
  if (m_rowRecorded) return true;
  NTDetectedAlerts table(nullptr);
  NTDetectedAlerts_t* row = table.getDataPtr();
  m_detector.SetNotiRec(row);
  logNewOccurrence(row->occurTime.toString(false));
  if (ready && !ready()) return false;
  const int rc = table.rowInsert(true);
  if (rc != 0) {
    logInsertFailed(wording, table.getTableName(), table.getErrorStr(rc));
    return false;
  }
  m_detector.setEventId(row->eventId);
  m_detector.noteOccurrence(EvNEventKind::New, row->eventId);
  return true;
}

int HandlerCall::copyOccurrence(int storagePolicy, int copy, int* eventId, std::string* table, std::string* error) {
  NTDauxCopyDataVer existing(nullptr);
  existing.setWhere(
      "storagePolicyId = %d and copyId = %d and eventId in (select eventId from NTDetectedAlerts where "
      "alertType=%d and criteria=%d)",
      storagePolicy, copy, m_detector.getAlertType(), m_detector.getCriteria());
  const int rc = existing.getOneRow();
  if (DBrowRead(rc)) {
    *eventId = existing.getDataPtr()->eventId;
  } else if (rc != DB_NO_DATA) {
    *table = existing.getTableName();
    *error = existing.getErrorStr(rc);
  }
  return rc;
}

void HandlerCall::logUnexpected() {
  m_log.Error(m_label, "Alert event of type [%d] criteria [%d] for job [%lld] not recorded: unexpected failure",
              m_detector.getAlertType(), m_detector.getCriteria(), static_cast<long long>(m_alert.getJobId()));
}

void HandlerCall::logNewAlert() {
  m_log.DebugLvl(m_label, 8, "New alert event occurred type: [%d] Criteria: [%d]  Category: [%d] oldCondition: [%d]",
                 m_detector.getAlertType(), m_detector.getCriteria(), m_detector.getCategory(),
                 m_detector.getAlertStatus());
}

void HandlerCall::logNewOccurrence(const char* occurTime) {
  logNewAlert();
  m_log.DebugLvl(m_label, 8, "occurTime : %s", occurTime);
}

bool HandlerCall::enableSuppression(const EvSuppressionArgs& args, const char* failLabel) {
  if (m_detector.EnableSupression(eventId(), args)) return true;
  if (failLabel) m_log.Error(failLabel, "Unable to enable suppression. error for eventId [%d]", eventId());
  return false;
}

void HandlerCall::logRecorded(RecordedWording wording) {
  if (wording == RecordedWording::Colon)
    m_log.DebugLvl(m_label, 8, "Alert Event[eventId : %d] insertered in to the database successfully.", eventId());
  else
    m_log.DebugLvl(m_label, 8, "Alert Event[eventId [%d]] insertered in to the database successfully.", eventId());
}

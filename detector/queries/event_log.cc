// Event-log alerts (alert type 58): new messages arrived in the server's
// event log. One occurrence covers every message id added since the last
// processed one; the notifier reads the range from NTDEventMonitoring. The
// marker moves only once the range is stored, so a failure leaves the same
// range to the next event. (With no rule for the type, StoreNotiData moves
// the marker itself so that a later rule does not report the backlog.)
#include "Db/AllBindings.h"
#include "detector/EvNDetector.h"
#include "host/EvAlertDebug.h"
#include "host/EvAlertEx.h"
#include "host/NxPlatform.h"

bool EvNDetector::TolvaneEventLogAlert(EvAlertEx&) {
  EvAlertDebug log;
  const char* label = "EvNDetector::TolvaneEventLogAlert";
  int newest = 0;
  if (!GetLastEvMsgId(newest)) {
    log.Error(label, " Unable to retrieve Id for last message from KrCounter. So not adding alert");
    return false;
  }
  int lastProcessed = 0;
  // An unreadable marker is not a marker of 0: that would report the whole
  // event log again.
  const int readRc = NXGlobalParam::getNTAlertLastEventId(lastProcessed, nullptr);
  if (readRc != 0) {
    log.Error(label, "Unable to read last Event processed for Alerts, error [%d]. So not adding alert", readRc);
    return false;
  }
  log.DebugLvl(label, 7, "Last Event id processed for Alerts is %d", lastProcessed);
  if (lastProcessed >= newest) {
    log.DebugLvl(label, 7,
                 "Message Id for which alert was sent last is %d. No new messages added. Hence no alert added",
                 lastProcessed);
    return true;
  }

  const int first = lastProcessed + 1;
  int newId = 0;
  if (!SetDetectedAlert(newId, false, 0)) return false;
  setEventId(newId);

  NTDEventMonitoring range(nullptr);
  NTDEventMonitoring_t* row = range.getDataPtr();
  row->eventId = newId;
  row->tolvaneEventId_h = newest;
  row->tolvaneEventId_l = first;
  const int rc = range.rowInsert(true);
  if (rc != 0) {
    log.Error(label, "Could not insert row into table [%s], ErrorString [%s]", range.getTableName(),
              range.getErrorStr(rc));
    return false;
  }

  // The range is stored and goes out either way; a marker that cannot move
  // means the next event reports it again, which the host must hear of.
  const int setRc = NXGlobalParam::setNTAlertLastEventId(newest, nullptr);
  if (setRc != 0)
    log.Error(label, "Unable to update last Event processed for Alerts to [%d], error [%d].", newest, setRc);
  const bool ready = SetStatus_Detected(newId);
  return ready && setRc == 0;
}

// Configuration alerts about storage policies and their copies (alert type
// 15) and about schedules (14). Every event is a new occurrence; the comment
// travels only as a parameter, never in the detail row's comment column.
#include "detector/handler_pattern.h"

bool EvNDetector::StoreStoragePolicy(EvAlertEx& alert) {
  HandlerCall call(*this, alert, "EvNDetector::StoreStoragePolicy");
  return call.guarded([&]() -> bool {
    if (!call.insertDetectedAlert()) return false;
    if (!call.insertDetail<NTDspConfig>(
            [&](NTDspConfig_t& row) {
              row.storagePolicyId = static_cast<int>(alert.getStorPolicyId());
              row.copyId = static_cast<int>(alert.getCopyId());
            },
            InsertWording::Error))
      return false;
    ParamRows p = call.params();
    p.asLong(ParamWhomId, alert.getWhomId()).text(ParamComment, alert.getComment());
    if (!p.ok()) return false;
    call.logRecorded();
    return call.markDetected();
  });
}

bool EvNDetector::StoreSchedules(EvAlertEx& alert) {
  HandlerCall call(*this, alert, "EvNDetector::StoreSchedules");
  return call.guarded([&]() -> bool {
    // Schedule alerts have never written the "New alert event" trace lines,
    // so the row is made here rather than by insertDetectedAlert.
    {
      NTDetectedAlerts detected(nullptr);
      SetNotiRec(detected.getDataPtr());
      const int rc = detected.rowInsert(true);
      if (rc != 0) {
        call.log().Error(call.label(), "Could not insert row into table [%s], ErrorString [%s]",
                         detected.getTableName(), detected.getErrorStr(rc));
        return false;
      }
      setEventId(detected.getDataPtr()->eventId);
      noteOccurrence(EvNEventKind::New, detected.getDataPtr()->eventId);
    }
    if (!call.insertDetail<NTDschedConfig>([&](NTDschedConfig_t& row) {
          row.clientId = static_cast<int>(alert.getClientId());
          row.appTypeId = static_cast<int>(alert.getappTypeId());
          row.instanceId = static_cast<int>(alert.getInstanceId());
          row.backupSetId = static_cast<int>(alert.getBackupsetId());
          row.subClientId = static_cast<int>(alert.getSubClientId());
          row.storagePolicyId = static_cast<int>(alert.getStorPolicyId());
          row.copyId = static_cast<int>(alert.getCopyId());
          row.taskId = alert.getTaskId();
          // Schedule events carry their audit operation in the job id; -1 marks none.
          row.evGuiAuditOperation = alert.getJobId() > 0 ? static_cast<int>(JobIdLow(alert.getJobId())) : -1;
          dbCopyText(row.scheduleName, alert.getScheduleName().c_str());
        }))
      return false;
    ParamRows p = call.params();
    p.asLong(ParamWhomId, alert.getWhomId())
        .msgParams(alert.getEventMsgList())
        .text(ParamComment, alert.getComment());
    if (!p.ok()) return false;
    call.logRecorded();
    return call.markDetected();
  });
}

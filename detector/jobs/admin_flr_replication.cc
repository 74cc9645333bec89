// Admin-job (alert type 73), file-level-restore (28), file-replication (25),
// journal-mailbox (23) and SharePoint (30) alerts.
//
// A file-replication occurrence stays pending per replicated object: repeats
// only refresh it. The journal-mailbox and SharePoint alerts are always filed
// under category 6 with the alert type, criteria and status the event names,
// whatever the rule's alert type says.
#include "detector/handler_pattern.h"

namespace {

constexpr int kDelayedJobCriteria = 5;
constexpr int kApplicationCategory = 6;

// The client and agent an application alert is about.
void fillClientApp(NTDclntAgentMAConfig_t& row, const EvAlertEx& alert) {
  row.clientId = static_cast<int>(alert.getClientId());
  row.appTypeId = static_cast<int>(alert.getappTypeId());
}

}  // namespace

bool EvNDetector::StoreAdminJobData(EvAlertEx& alert) {
  HandlerCall call(*this, alert, "EvNDetector::StoreAdminJobData");
  return call.guarded([&]() -> bool {
    return recordJobOccurrence<NTDAdminJobInfo>(
        call, [&](NTDAdminJobInfo_t& row) { fillJobColumns(row, alert); },
        [&](ParamRows& p) { p.jobBasics(alert).text(ParamJobErrorString, alert.getJobErrString()); });
  });
}

bool EvNDetector::StoreFLRJobs(EvAlertEx& alert) {
  HandlerCall call(*this, alert, "EvNDetector::StoreFLRJobs");
  return call.guarded([&]() -> bool {
    if (call.delayedJobCleared(kDelayedJobCriteria)) return call.withdrawDelayedJob("NTDdpDr", WithdrawWording::FLR);
    return recordJobOccurrence<NTDdpDr>(
        call,
        [&](NTDdpDr_t& row) {
          fillJobColumns(row, alert);
          fillAgentColumns(row, alert);
          row.protectedCount = saturateToInt(alert.getProtectedCount(), "protectedCount");
          row.failedCount = saturateToInt(alert.getFailedCount(), "failedCount");
        },
        [&](ParamRows& p) {
          p.jobFailureRows(alert)
              .text(ParamFlrSvuName, alert.getSVUName())
              .text(ParamJobErrorString, alert.getJobErrString());
        });
  });
}

bool EvNDetector::StoreFileReplication(EvAlertEx& alert) {
  HandlerCall call(*this, alert, "EvNDetector::StoreFileReplication");
  return call.guarded([&]() -> bool {
    // The replicated objects name the occurrence; the job does not.
    const EvSuppressionArgs objects = EvSuppressionArgs::fromEvent(alert).jobId(0);
    int handedBack = GetExistingEventIdEx(objects);
    if (handedBack < 0) handedBack = 0;
    // A repeat is refreshed and a cleared condition without an occurrence
    // writes nothing: either way no new id comes back.
    if (!SetDetectedAlert(handedBack, alert.IsConditionCleared(), 0)) return false;
    if (handedBack == 0) return true;

    if (!call.insertDetail<NTDclntAgentMAConfig>([&](NTDclntAgentMAConfig_t& row) {
          fillClientApp(row, alert);
          row.backupSetId = static_cast<int>(alert.getBackupsetId());
          row.subClientId = static_cast<int>(alert.getSubClientId());
          row.freeSpace = saturateToInt(alert.getFreeSpace(), "freeSpace");
          row.threshold = saturateToInt(alert.getThreshold(), "threshold");
          row.fileSize = alert.getFileSize();
          UlongTimeToDbDatetime(static_cast<long>(alert.getLastActivity()), row.lastActivity, false);
        }))
      return false;

    ParamRows p = call.params();
    p.text(ParamFolderName, alert.getFolderName())
        .text(ParamReplicationDriveName, alert.getDriveName())
        .text(ParamReplicationDrivePoolName, alert.getDrivePoolName())
        .text(ParamContainerName, alert.getContainerName())
        .text(ParamComment, alert.getComment())
        .folderMsgParams(alert.getFreeSpaceList(), alert.getThresholdsList(), alert.getFoldersList(), false);
    if (!p.ok()) return false;

    if (!call.enableSuppression(objects)) return false;
    if (!p.msgParams(alert.getEventMsgList()).ok()) return false;
    return call.markDetected();
  });
}

namespace {

// The journal-mailbox and SharePoint alerts: filed as the event names them,
// one occurrence per event, the comment as their one parameter.
bool recordApplicationAlert(EvNDetector& detector, HandlerCall& call, EvAlertEx& alert, bool mailbox,
                            RecordedWording wording) {
  detector.SetNotiCategoryAndType(kApplicationCategory, alert.getAlertType());
  detector.SetNotiCriteria(alert.getAlertCriteria());
  return recordJobOccurrence<NTDclntAgentMAConfig>(
      call,
      [&](NTDclntAgentMAConfig_t& row) {
        fillClientApp(row, alert);
        if (mailbox) {
          row.exJorMsgCount = saturateToInt(alert.getMessageCount(), "messageCount");
          dbCopyText(row.jorMBName, alert.getMailBoxName().c_str());
        }
      },
      [&](ParamRows& p) { p.text(ParamComment, alert.getComment()); }, wording);
}

}  // namespace

bool EvNDetector::StoreJournalMailbox(EvAlertEx& alert) {
  HandlerCall call(*this, alert, "EvNDetector::StoreJournalMailbox");
  return call.guarded([&]() -> bool {
    m_alertStatus = static_cast<int>(alert.getCondition());
    return recordApplicationAlert(*this, call, alert, true, RecordedWording::Brackets);
  });
}

bool EvNDetector::StoreAppSharePoint(EvAlertEx& alert) {
  HandlerCall call(*this, alert, "EvNDetector::StoreAppSharePoint");
  return call.guarded([&]() -> bool {
    m_alertStatus = static_cast<int>(alert.getCondition());
    return recordApplicationAlert(*this, call, alert, false, RecordedWording::Colon);
  });
}

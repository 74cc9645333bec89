// Data-recovery (restore) job alerts, alert type 4.
//
// The plain handler pattern with the restore-side columns of NTDdpDr: no
// repeat check and no suppression, so every event that is not a cleared
// criteria-5 event makes a new occurrence. A description may carry an
// App::DPAlertAdditionalInfo message whose fields 1 and 2 are stored
// whenever the message reads. Failed restores of the virtual-server agent
// are held (state 128) for per-VM processing.
#include "detector/handler_pattern.h"

namespace {

constexpr int kDelayedJobCriteria = 5;
constexpr int kVirtualServerAppType = 106;
constexpr int kHeldForVMProcessing = 128;

// Fields of App::DPAlertAdditionalInfo, in the order they are read and
// stored. Fields 1 and 2 are read without an isSet test (an unset one
// stores what getint64 returns for it, 0).
constexpr MessageField kRestoreInfoFields[] = {
    {1, 1496726, ParamClientId, ParamKind::Int, /*onlyWhenSet=*/false},
    {2, 4555209, ParamRestoreDetailField2, ParamKind::Int, /*onlyWhenSet=*/false},
    {6, 1848506, ParamJobDetailValueB, ParamKind::Int64},
    {8, 2573156, ParamJobDetailValueC, ParamKind::Int64},
    {7, 179639, ParamJobDetailValueA, ParamKind::Int64},
};

// The restore side of NTDdpDr; backupLevel, isVSS and isRDJob keep the
// row's initial values. The three texts are cut to their columns (512
// bytes) without splitting a UTF-8 sequence.
void fillRestoreColumns(NTDdpDr_t& row, const EvAlertEx& alert) {
  fillJobColumns(row, alert);
  fillAgentColumns(row, alert);
  row.subClientId = static_cast<int>(alert.getSubClientId());
  row.libraryId = static_cast<int>(alert.getLibraryId());
  row.mediaRequired = alert.IsMediaRequired() ? 1 : 0;
  row.failedCount = saturateToInt(alert.getFailedCount(), "failedCount");
  row.protectedCount = saturateToInt(alert.getRecoveredCount(), "recoveredCount");  // the restored items
  row.skippedCount = saturateToInt(alert.getSkippedCount(), "skippedCount");
  dbCopyText(row.container, alert.getContainerName().c_str());
  dbCopyText(row.exportLoc, alert.getExportLocName().c_str());
  dbCopyText(row.mediaLabel, alert.getMediaLable().c_str());
}

}  // namespace

bool EvNDetector::StoreDataRecoveryData(EvAlertEx& alert) {
  HandlerCall call(*this, alert, "EvNDetector::StoreDataRecoveryData");
  return call.guarded([&]() -> bool {
    if (call.delayedJobCleared(kDelayedJobCriteria)) return call.withdrawDelayedJob("NTDdpDr");

    if (!call.insertDetectedAlert()) return false;
    if (!call.insertDetail<NTDdpDr>([&](NTDdpDr_t& row) { fillRestoreColumns(row, alert); })) return false;

    ParamRows p = call.params();
    p.text(ParamFailureReason, alert.getFailureReason())
        .text(ParamAttachmentName, alert.getAttachmentName())  // stored even when empty
        .asLong(ParamWhomId, alert.getWhomId())
        .msgParams(alert.getEventMsgList())
        .failureReasons(alert.getFailureReasons())
        .text(ParamJobErrorString, alert.getJobErrString())
        .text(ParamRestoreUserName, alert.getRestoreUserName())
        .as64(ParamNumberOfItems, alert.getNumberOfItems())
        .as64(ParamRestoreSize, alert.getRestoreSize())
        .texts(ParamMediaList, alert.getMediaList());
    if (!p.ok()) return false;

    // A description that is not this message stores nothing more and is no error.
    DescriptionMessage<App::DPAlertAdditionalInfo> info;
    if (info.read(alert.getDescription()) && !p.fromMessage(info, kRestoreInfoFields).ok()) return false;

    // Unlike the backup handler, the line follows the additional information.
    call.logRecorded();

    const bool failedJob = m_criteria == 3 || m_criteria == 1 || m_criteria == 57;
    if (alert.getappTypeId() == kVirtualServerAppType && failedJob) return call.setState(kHeldForVMProcessing);
    return call.markDetected();
  });
}

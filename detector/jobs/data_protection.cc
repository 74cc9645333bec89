// Data-protection (backup) job alerts, alert type 3.
//
// Criteria 65 and 73 match a pending occurrence of the same object instead
// of raising a new one; criteria 73 (a job view of a rule) keeps no detail
// row; a cleared criteria 5 withdraws the job's delayed-job alerts. Backups
// of the virtual-server agent may be held (state 128) for per-VM processing.
#include "detector/handler_pattern.h"

namespace {

constexpr int kDelayedJobCriteria = 5;
constexpr int kRepeatedBackupCriteria = 65;
constexpr int kJobViewCriteria = 73;
constexpr int kVirtualServerAppType = 106;
constexpr int kHeldForVMProcessing = 128;
constexpr int kConditionCleared = 4;
constexpr const char* kSuppressionLabel = "StoreDataProtectionData";

// Fields of App::NTBackupAlertAdditionalInfo, in the order they are stored.
using BackupInfo = App::NTBackupAlertAdditionalInfo::Fields;
constexpr MessageField kBackupInfoFields[] = {
    messageField(BackupInfo::detailField1, ParamJobDetailField1, ParamKind::Int64),
    messageField(BackupInfo::detailField2, ParamJobDetailField2, ParamKind::Int),
    messageField(BackupInfo::detailField3, ParamJobDetailField3, ParamKind::Long),
    messageField(BackupInfo::valueB, ParamJobDetailValueB, ParamKind::Int64),
    messageField(BackupInfo::valueA, ParamJobDetailValueA, ParamKind::Int64),
    messageField(BackupInfo::valueC, ParamJobDetailValueC, ParamKind::Int64),
};

void fillBackupColumns(NTDdpDr_t& row, const EvAlertEx& alert) {
  fillJobColumns(row, alert);
  fillAgentColumns(row, alert);
  row.subClientId = static_cast<int>(alert.getSubClientId());
  row.protectedCount = saturateToInt(alert.getProtectedCount(), "protectedCount");
  row.failedCount = saturateToInt(alert.getFailedCount(), "failedCount");
  row.backupLevel = static_cast<int>(alert.getBackupLevel());
  row.isVSS = alert.IsVSS() ? 1 : 0;
  row.isRDJob = alert.getRdJob() ? 1 : 0;
}

// A pending occurrence of the object was refreshed: a job view also counts
// the items and jobs again; a cleared condition ends the occurrence.
bool refreshPendingBackup(HandlerCall& call, EvAlertEx& alert, bool jobView, int criteria) {
  if (jobView) {
    call.params()
        .upsert().ignored().as64(ParamRepeatItemCount, alert.getNumberOfItems())
        .upsert().ignored().asInt(ParamRepeatJobCount, alert.getNumOfJobsToBeCopied());
  }
  if (alert.IsConditionCleared()) {
    call.setState(kConditionCleared);
    call.log().DebugLvl(call.label(), 8,
                        "EventId [%d] already present for criteria :  [%d]  SubclientId [%ld]  being cleared now.",
                        call.eventId(), criteria, static_cast<long>(alert.getSubClientId()));
  } else {
    call.log().DebugLvl(call.label(), 8, "EventId [%d] already present for criteria [%d] SubclientId [%ld] ",
                        call.eventId(), criteria, static_cast<long>(alert.getSubClientId()));
  }
  return true;
}

// The parameters of a new backup occurrence, in the order they are stored.
ParamRows& addBackupParams(ParamRows& p, EvAlertEx& alert) {
  return p.jobFailureRows(alert)
      .mediaList(alert.getMediaIdsList(), ParamMediaList, ParamMediaLocation)
      .text(ParamSvuName, alert.getSVUName())
      .text(ParamWorkflowName, alert.getWorkFlowName())
      .asInt(ParamMbTransferred, alert.getMbTransferred())
      .as64(ParamTransferSize, alert.getXferSizeBytes())
      .asInt(ParamTransferTimeSecs, alert.getXferTimeSecs())
      .text(ParamThroughputGb, alert.getXferThruPutGB())
      .text(ParamJobErrorString, alert.getJobErrString())
      .as64(ParamPrevJobId, alert.getPrevJobId())
      .as64(ParamPrevBackupSize, alert.getPrevBkpSize())
      .asInt(ParamPercentageChange, alert.getPercentageChange())
      .asLong(ParamRetentionTime, alert.getRetensionTime())
      .asInt(ParamExtendedRetention, alert.IsExtendedRetension() ? 1 : 0)
      .textIfNotEmpty(ParamJobAttachmentName, alert.getAttachmentName())
      .texts(ParamStoragePolicyList, alert.getVtStoragePolicyList());
}

// Failed virtual-server backups and synthetic-level ones may be held for
// additional per-VM processing.
bool heldForVMProcessing(HandlerCall& call, EvAlertEx& alert, int criteria, int alertStatus) {
  const bool jobFlag = criteria == 3 || criteria == 1 || criteria == 57 || (criteria == 14 && alertStatus == 3001);
  const bool levelFlag = alert.getBackupLevel() == 64 || alert.getBackupLevel() == 128;
  if (alert.getappTypeId() != kVirtualServerAppType || (!jobFlag && !levelFlag)) return false;

  const auto probe = EvNDetector::Testing::vmBackupFeatureProbe;
  int featureOff = probe ? probe() : isVMBackupFeatureDisabled();
  const bool indexingV2 = isIndexingVSAV2EnabledOnClient(static_cast<unsigned int>(alert.getClientId()));
  if (featureOff == 0 && indexingV2) {
    featureOff = 1;
    call.log().DebugLvl(call.label(), 8,
                        "Disabling additional alert processing for individual VM backups since client[%d] has "
                        "indexing v2 for VSA enabled. ",
                        static_cast<int>(alert.getClientId()));
  }
  return (levelFlag && indexingV2) || (jobFlag && featureOff == 0);
}

}  // namespace

bool EvNDetector::StoreDataProtectionData(EvAlertEx& alert) {
  HandlerCall call(*this, alert, "EvNDetector::StoreDataProtectionData");
  return call.guarded([&]() -> bool {
    if (call.delayedJobCleared(kDelayedJobCriteria)) return call.withdrawDelayedJob("NTDdpDr");

    const bool jobView = m_criteria == kJobViewCriteria;
    const EvSuppressionArgs byRule = EvSuppressionArgs::fromEvent(alert).ruleOrUserId(alert.getAlertRule());

    if (jobView || m_criteria == kRepeatedBackupCriteria) {
      // The occurrence belongs to the rule the event names.
      if (jobView) m_notificationId = alert.getAlertRule();
      const HandlerCall::Pending pending = call.matchPending(byRule);
      if (pending == HandlerCall::Pending::Failed) return false;
      // Anything but a refresh is a new occurrence, as if nothing had been
      // pending: a cleared criteria-65 event included.
      if (pending == HandlerCall::Pending::Refreshed) return refreshPendingBackup(call, alert, jobView, m_criteria);
    }

    if (!call.insertDetectedAlert()) return false;

    if (jobView) {
      call.params()
          .ignored().as64(ParamRepeatItemCount, alert.getNumberOfItems())
          .ignored().asInt(ParamRepeatJobCount, alert.getNumOfJobsToBeCopied());
      if (!call.enableSuppression(byRule, kSuppressionLabel)) return false;
      return call.markDetected();
    }

    if (!call.insertDetail<NTDdpDr>([&](NTDdpDr_t& row) { fillBackupColumns(row, alert); })) return false;

    if (m_criteria == kRepeatedBackupCriteria) {
      if (!call.enableSuppression(EvSuppressionArgs::fromEvent(alert), kSuppressionLabel)) return false;
      if (!call.params()
               .upsert().asLong(ParamJobEndTime, alert.getEndTime())
               .upsert().asLong(ParamJobStartTime, alert.getStartTime())
               .ok())
        return false;
    }

    ParamRows p = call.params();
    if (!addBackupParams(p, alert).ok()) return false;

    call.logRecorded();

    // A description that is not this message stores nothing more and is no error.
    DescriptionMessage<App::NTBackupAlertAdditionalInfo> info;
    if (info.read(alert.getDescription()) && !p.fromMessage(info, kBackupInfoFields).ok()) return false;

    if (!p.as64(ParamNumberOfItems, alert.getNumberOfItems()).ok()) return false;

    return heldForVMProcessing(call, alert, m_criteria, m_alertStatus) ? call.setState(kHeldForVMProcessing)
                                                                      : call.markDetected();
  });
}

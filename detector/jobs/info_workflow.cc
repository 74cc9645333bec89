// Information-management (53), data-classification (27), data-analytics (66),
// report (52), workflow (63) and virtualization (64) job alerts.
//
// Each records a plain job occurrence (recordJobOccurrence) with its own
// detail table and parameters; information management adds per-phase
// parameter blocks, analytics drops a repeated fallen-behind alert of a
// storage policy copy, and a workflow alert is only written once its name and
// description message have been read.
#include <algorithm>
#include <iterator>
#include <utility>

#include "detector/handler_pattern.h"

namespace {

constexpr int kFallenBehindCriteria = 56;

// The five parameters of one information-management phase.
struct PhaseParams {
  NotiParamTypes present, name, count1, count2, count3;
};

constexpr PhaseParams kPhase2{ParamImPhase2Present, ParamImPhase2Name, ParamImPhase2Count1, ParamImPhase2Count2,
                              ParamImPhase2Count3};
constexpr PhaseParams kPhase3{ParamImPhase3Present, ParamImPhase3Name, ParamImPhase3Count1, ParamImPhase3Count2,
                              ParamImPhase3Count3};
constexpr PhaseParams kPhase6{ParamImPhase6Present, ParamImPhase6Name, ParamImPhase6Count1, ParamImPhase6Count2,
                              ParamImPhase6Count3};
constexpr PhaseParams kPhase8{ParamImPhase8Present, ParamImPhase8Name, ParamImPhase8Count1, ParamImPhase8Count2,
                              ParamImPhase8Count3};
constexpr PhaseParams kPhase10{ParamImPhase10Present, ParamImPhase10Name, ParamImPhase10Count1, ParamImPhase10Count2,
                               ParamImPhase10Count3};
constexpr PhaseParams kPhase11{ParamImPhase11Present, ParamImPhase11Name, ParamImPhase11Count1, ParamImPhase11Count2,
                               ParamImPhase11Count3};

// Phase number -> its block. Phases 4 and 5 are reported in the block of 2;
// a phase not listed has no block.
constexpr std::pair<int, PhaseParams> kPhaseBlocks[] = {
    {2, kPhase2}, {3, kPhase3}, {4, kPhase2}, {5, kPhase2}, {6, kPhase6}, {8, kPhase8}, {10, kPhase10}, {11, kPhase11},
};

const PhaseParams* phaseBlock(int phaseNumber) {
  const auto* it = std::find_if(std::begin(kPhaseBlocks), std::end(kPhaseBlocks),
                                [&](const auto& entry) { return entry.first == phaseNumber; });
  return it == std::end(kPhaseBlocks) ? nullptr : &it->second;
}

// Keys of the workflow description message (Workflow::AlertContainer and
// the two messages nested in it).
constexpr uint32_t kAlertInfoField = 1824703;   // AlertContainer 1: AlertInfo
constexpr uint32_t kPhaseNameField = 10011302;  // AlertContainer 2: phase name
constexpr uint32_t kWorkflowField = 10347491;   // AlertInfo 1: WorkflowEntity
constexpr uint32_t kWorkflowIdField = 8711482;  // WorkflowEntity 0: workflow id

// What a workflow event's description says about its workflow.
struct WorkflowDetails {
  int workFlowId = 0;
  bool hasPhaseName = false;
  std::string phaseName;
};

// Reads the description of a workflow event into OUT. False (logged) when
// the description does not read or names a workflow without its id; an
// empty description leaves OUT as it is.
bool readWorkflowMessage(HandlerCall& call, const std::string& description, WorkflowDetails& out) {
  if (description.empty()) return true;
  DescriptionMessage<Workflow::AlertContainer> container;
  if (!container.read(description)) {
    call.log().Error(call.label(), "ErrorCode [%d] returned from unserialize.", container.result);
    return false;
  }
  if (container.isSet(1, kAlertInfoField)) {
    CNMessageBase* info =
        container.msg.getObjectAccessor(true, false, 1, 1, Workflow::AlertContainer::kClassKey, kAlertInfoField,
                                        Workflow::AlertInfo::kTypeMajor, Workflow::AlertInfo::kTypeMinor);
    if (info && info->isSet(1, Workflow::AlertInfo::kClassKey, kWorkflowField)) {
      const CNMessageBase* workflow = info->getObjectAccessor(
          true, false, 1, 1, Workflow::AlertInfo::kClassKey, kWorkflowField, App::WorkflowEntity::kTypeMajor,
          App::WorkflowEntity::kTypeMinor);
      if (!workflow || !workflow->isSet(0, App::WorkflowEntity::kClassKey, kWorkflowIdField)) {
        call.log().Error(call.label(), "Workflow Id is not recieved");
        return false;
      }
      out.workFlowId = static_cast<int>(workflow->getint64(0, App::WorkflowEntity::kClassKey, kWorkflowIdField));
    }
  }
  if (container.isSet(2, kPhaseNameField)) {
    out.hasPhaseName = true;
    out.phaseName = container.text(2, 2, kPhaseNameField);
  }
  return true;
}

}  // namespace

bool EvNDetector::StoreInfoManagementData(EvAlertEx& alert) {
  HandlerCall call(*this, alert, "EvNDetector::StoreInfoManagementData");
  return call.guarded([&]() -> bool {
    if (call.delayedJobCleared()) return call.withdrawDelayedJob("NTDdataAgingER", WithdrawWording::DataProtectionEq);
    return recordJobOccurrence<NTDdataAgingER>(
        call, [&](NTDdataAgingER_t& row) { fillJobColumns(row, alert); },
        [&](ParamRows& p) {
          const auto& phases = alert.getInfoManagementPhaseDetails();
          p.text(ParamFailureReason, alert.getFailureReason())
              .asLong(ParamWhomId, alert.getWhomId())
              .msgParams(alert.getEventMsgList())
              .text(ParamCompliancePolicyName, alert.getCompliancePolicyName())
              .asInt(ParamImPhaseCount, static_cast<long long>(phases.size()));
          for (const InfoManagementPhaseDetails& phase : phases) {
            if (!p.ok()) return;
            const PhaseParams* block = phaseBlock(phase.phaseNumber);
            if (block == nullptr) {
              call.log().DebugLvl(call.label(), 3,
                                  "Unsupported phase [%d]. Alert cannot be sent with details of this phase.",
                                  phase.phaseNumber);
              continue;
            }
            p.asInt(block->present, 1)
                .text(block->name, phase.phaseName)
                .as64(block->count1, phase.count1)
                .as64(block->count2, phase.count2)
                .as64(block->count3, phase.count3);
          }
        });
  });
}

bool EvNDetector::StoreDataClassification(EvAlertEx& alert) {
  HandlerCall call(*this, alert, "EvNDetector::StoreDataClassification");
  return call.guarded([&]() -> bool {
    return recordJobOccurrence<NTDclntAgentMAConfig>(
        call,
        [&](NTDclntAgentMAConfig_t& row) {
          fillAgentColumns(row, alert);
        },
        [&](ParamRows& p) {
          p.msgParams(alert.getEventMsgList())
              .text(ParamJobErrorString, alert.getJobErrString())
              .text(ParamFailureReason, alert.getFailureReason())
              .text(ParamComment, alert.getComment());
        });
  });
}

bool EvNDetector::StoreDataAnalytics(EvAlertEx& alert) {
  HandlerCall call(*this, alert, "EvNDetector::StoreDataAnalytics");
  return call.guarded([&]() -> bool {
    if (call.delayedJobCleared()) return call.withdrawDelayedJob("NTDdpDr");

    const int storagePolicyId = static_cast<int>(alert.getStorPolicyId());
    const int copyId = static_cast<int>(alert.getCopyId());
    const bool fallenBehind = m_criteria == kFallenBehindCriteria;
    if (fallenBehind) {
      // One fallen-behind alert per storage policy copy is enough.
      int earlier = 0;
      std::string table, error;
      const int rc = call.copyOccurrence(storagePolicyId, copyId, &earlier, &table, &error);
      if (DBrowRead(rc)) {
        call.log().DebugLvl(call.label(), 8,
                            "EventId [%d] already present for storage policy [%d] copy [%d]; event not recorded.",
                            earlier, storagePolicyId, copyId);
        return true;
      }
      if (rc != DB_NO_DATA) {
        call.log().Error(call.label(), "Error reading the table[%s] ErrorString [%s]", table.c_str(), error.c_str());
        return false;
      }
    }

    if (!call.insertDetectedAlert()) return false;
    if (!call.insertDetail<NTDdpDr>([&](NTDdpDr_t& row) {
          fillJobColumns(row, alert);
          fillAgentColumns(row, alert);
          row.subClientId = static_cast<int>(alert.getSubClientId());
        }))
      return false;
    // NTDdpDr has no storage policy or copy: the copy of a fallen-behind
    // alert is kept in NTDauxCopyDataVer, where the check above finds it.
    if (fallenBehind && !call.insertDetail<NTDauxCopyDataVer>([&](NTDauxCopyDataVer_t& row) {
          fillJobColumns(row, alert);
          row.storagePolicyId = storagePolicyId;
          row.copyId = copyId;
        }))
      return false;

    ParamRows p = call.params();
    p.jobBasics(alert)
        .mediaList(alert.getMediaIdsList(), ParamMediaList, ParamMediaLocation)
        .asInt(ParamPhaseFailureCount, alert.getPhaseFailuresCount())
        .asInt(ParamNetworkFailureCount, alert.getNetworkFailuresCount())
        .text(ParamJobErrorString, alert.getJobErrString())
        .sizeText(ParamTransferSize, alert.getXferSizeBytes(), static_cast<unsigned long>(m_serverEventSelector));
    for (const std::string& media : alert.getMediaList()) p.text(ParamMediaList, media);
    for (const std::string& media : alert.getCopiedMediaList()) p.text(ParamCopiedMediaList, media);
    if (!p.ok()) return false;

    call.logRecorded(RecordedWording::Colon);
    return call.markDetected();
  });
}

bool EvNDetector::StoreReportData(EvAlertEx& alert) {
  HandlerCall call(*this, alert, "EvNDetector::StoreReportData");
  return call.guarded([&]() -> bool {
    return recordJobOccurrence<NTDdataAgingER>(
        call, [&](NTDdataAgingER_t& row) { fillJobColumns(row, alert); },
        [&](ParamRows& p) {
          p.text(ParamFailureReason, alert.getFailureReason())
              .asLong(ParamWhomId, alert.getWhomId())
              .msgParams(alert.getEventMsgList())
              .text(ParamReportName, alert.getReportName())
              .failureReasons(alert.getFailureReasons())
              .text(ParamJobErrorString, alert.getJobErrString());
        });
  });
}

bool EvNDetector::StoreWorkFlowData(EvAlertEx& alert) {
  HandlerCall call(*this, alert, "EvNDetector::StoreWorkFlowData");
  return call.guarded([&]() -> bool {
    // Both rows are written only once the name and the message have read.
    WorkflowDetails details;
    const auto ready = [&] {
      if (alert.getWorkFlowName().empty()) {
        call.log().Error(call.label(), "Workflow name is not recieved");
        return false;
      }
      return readWorkflowMessage(call, alert.getDescription(), details);
    };
    if (!call.insertDetectedAlert(ready)) return false;
    if (!call.insertDetail<NTDWorkflow>([&](NTDWorkflow_t& row) {
          fillJobColumns(row, alert);
          row.clientId = static_cast<int>(alert.getClientId());
          row.workFlowId = details.workFlowId;
          const std::string& name = alert.getWorkFlowName();
          dbCopyText(row.workFlowName, sizeof row.workFlowName, name.data(), name.size());
          if (details.hasPhaseName)
            dbCopyText(row.phaseName, sizeof row.phaseName, details.phaseName.data(), details.phaseName.size());
        }))
      return false;

    ParamRows p = call.params();
    p.jobBasics(alert)
        .asInt(ParamPhaseFailureCount, alert.getPhaseFailuresCount())
        .text(ParamJobErrorString, alert.getJobErrString())
        .as64(ParamPrevJobId, alert.getPrevJobId());
    if (!p.ok()) return false;

    call.logRecorded();
    return call.markDetected();
  });
}

bool EvNDetector::StoreVirtualizeMEData(EvAlertEx& alert) {
  HandlerCall call(*this, alert, "EvNDetector::StoreVirtualizeMEData");
  return call.guarded([&]() -> bool {
    return recordJobOccurrence<NTDauxCopyDataVer>(
        call,
        [&](NTDauxCopyDataVer_t& row) {
          fillJobIdAndTimes(row, alert);
          row.taskId = alert.getTaskId();
          // This table has no client column; the client rides in storagePolicyId.
          row.storagePolicyId = static_cast<int>(alert.getClientId());
        },
        [&](ParamRows& p) {
          p.jobBasics(alert)
              .text(ParamJobErrorString, alert.getJobErrString());
        });
  });
}

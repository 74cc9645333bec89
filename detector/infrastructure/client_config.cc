// Configuration alerts of clients (alert type 10), of the installation as a
// whole (alert types 12 and 60) and of client groups (alert type 59).
//
// Client and installation alerts keep one occurrence per object while it is
// pending: a repeat refreshes the occurrence, rewrites its detail row (or
// makes it again when it has gone missing) and writes its parameters afresh
// under the same event id. Client-group alerts are always new occurrences.
#include <cstdio>

#include "detector/handler_pattern.h"

namespace {

constexpr int kInstallationSuppressedCriteria = 18;
constexpr DetailUpsertNames kClientNames{"StoreClientConfig", "client Config", "Client config"};
constexpr DetailUpsertNames kZentraNames{"StoreZentra", "ZentraConfig", "ZentraConfig"};

// The job id as the audit operation of the detail row; -1 when the event
// names no job.
int auditOperation(const EvAlertEx& alert) {
  const long long jobId = alert.getJobId();
  return jobId > 0 ? static_cast<int>(EvNDetector::JobIdLow(jobId)) : -1;
}

// What the matched form left to do: false ends the handler with RESULT.
bool continueAfterMatch(HandlerCall::Matched outcome, bool& result) {
  if (outcome == HandlerCall::Matched::Failed) {
    result = false;
    return false;
  }
  if (outcome == HandlerCall::Matched::ClearedNothing) {
    result = true;
    return false;
  }
  return true;
}

}  // namespace

bool populateNtClientAlertAdditionalInfo(int eventId, EvNDetectParams params, EvAlertEx alert) {
  // Without the message (or with one that does not read) the figures are
  // megabytes.
  DescriptionMessage<App::NtClientAlertAdditionalInfo> info;
  constexpr int kPercentField = 1;
  constexpr uint32_t kPercentKey = 7176824;
  const bool percent = info.read(alert.getDescription()) && info.isSet(kPercentField, kPercentKey) &&
                       info.int64(kPercentField, kPercentKey) != 0;
  return params.AddMsgParams(eventId, alert.getFreeSpaceList(), alert.getThresholdsList(), alert.getFoldersList(),
                             percent);
}

bool EvNDetector::StoreClientConfig(EvAlertEx& alert, int criteriaCleared) {
  HandlerCall call(*this, alert, "EvNDetector::StoreClientConfig");
  return call.guarded([&]() -> bool {
    const HandlerCall::Matched outcome =
        call.matchOrRecord(EvSuppressionArgs::fromEvent(alert).subClientId(0).jobId(0));
    if (bool result = false; !continueAfterMatch(outcome, result)) return result;
    const bool repeat = outcome == HandlerCall::Matched::Repeat;
    if (!repeat) call.logNewAlert();

    if (!upsertDetail<NTDclntAgentMAConfig>(
            call, repeat, kClientNames,
            [&](NTDclntAgentMAConfig_t& row) {
              row.subClientId = static_cast<int>(alert.getSubClientId());
              fillAgentColumns(row, alert);
              row.mediaAgentId = static_cast<int>(alert.getMediaAgentId());
              row.freeSpace = saturateToInt(alert.getFreeSpace(), "freeSpace");
              row.threshold = saturateToInt(alert.getThreshold(), "threshold");
              row.evGuiAuditOperation = auditOperation(alert);
            },
            [](NTDclntAgentMAConfig& t, const NTDclntAgentMAConfig_t& row) {
              return t.rowUpdate(
                  "subClientId = %d, clientId = %d, appTypeId = %d, instanceId = %d, backupSetId = %d, "
                  "mediaAgentId=%d, freeSpace = %d, threshold = %d, evGuiAuditOperation = %d, comment='%s'",
                  row.subClientId, row.clientId, row.appTypeId, row.instanceId, row.backupSetId, row.mediaAgentId,
                  row.freeSpace, row.threshold, row.evGuiAuditOperation, row.comment);
            }))
      return false;

    ParamRows p = call.params();
    p.jobBasics(alert)
        .text(ParamClientName, alert.getClientName())
        .text(ParamObjStoreCacheDir, alert.getObjStoreCacheDir())
        .asLong(ParamClientDaysToLicenseExpiry, alert.getNoOfDaysLicenseToExpire())
        .text(ParamComment, alert.getComment());
    if (!p.ok() || !populateNtClientAlertAdditionalInfo(m_eventId, call.store(), alert)) return false;

    const struct {
      NotiParamTypes type;
      const std::string& name;
      const char* what;
    } names[] = {
        {ParamInstanceName, alert.getInstanceName(), "Instance"},
        {ParamBackupsetName, alert.getBackupsetName(), "Backupset"},
        {ParamSubclientName, alert.getSubClientName(), "subclient"},
    };
    for (const auto& n : names) {
      if (n.name.empty()) continue;
      call.log().DebugLvl(kClientNames.label, 3, "Inserting %s name param in alert : [%s]", n.what, n.name.c_str());
      if (!p.text(n.type, n.name).ok()) return false;
    }

    if (!call.enableSuppression(EvSuppressionArgs::fromEvent(alert).jobId(0))) return false;
    if (criteriaCleared > 0 && !p.asInt(ParamCriteriaCleared, criteriaCleared).ok()) return false;

    call.logRecorded(RecordedWording::Brackets);
    // A repeat keeps the state SetDetectedAlert left it in.
    return repeat ? true : call.markDetected();
  });
}

bool EvNDetector::StoreZentra(EvAlertEx& alert, int criteriaCleared) {
  HandlerCall call(*this, alert, "EvNDetector::StoreZentra");
  return call.guarded([&]() -> bool {
    // The installation as a whole: no client, subclient or job in the look-up.
    EvSuppressionArgs lookup = EvSuppressionArgs::fromEvent(alert).subClientId(0).jobId(0);
    lookup.client = 0;
    const HandlerCall::Matched outcome = call.matchOrRecord(lookup);
    if (bool result = false; !continueAfterMatch(outcome, result)) return result;
    const bool repeat = outcome == HandlerCall::Matched::Repeat;
    if (!repeat) call.logNewAlert();

    if (!upsertDetail<NTDzentraConfig>(
            call, repeat, kZentraNames,
            [&](NTDzentraConfig_t& row) {
              row.deConfigClientId = static_cast<int>(alert.getClientId());
              row.deConfigAppId = static_cast<int>(alert.getappTypeId());
              row.deConfigInstId = static_cast<int>(alert.getInstanceId());
              row.freeSpace = saturateToInt(alert.getFreeSpace(), "freeSpace");
              row.freeDBSpace = saturateToInt(alert.getFreeDBSpace(), "freeDBSpace");
            },
            [](NTDzentraConfig& t, const NTDzentraConfig_t& row) {
              return t.rowUpdate(
                  "deConfigClientId=%d, deConfigAppId=%d,deConfigInstId=%d, freeSpace=%d,freeDBSpace=%d, comment='%s'",
                  row.deConfigClientId, row.deConfigAppId, row.deConfigInstId, row.freeSpace, row.freeDBSpace,
                  row.comment);
            }))
      return false;

    char mediaAgent[16];
    std::snprintf(mediaAgent, sizeof mediaAgent, "%d", static_cast<int>(alert.getMediaAgentId()));
    ParamRows p = call.params();
    p.text(ParamMediaAgentId, mediaAgent)
        .asLong(ParamWhomId, alert.getWhomId())
        .msgParams(alert.getEventMsgList())
        .text(ParamGuiClientName, alert.getGuiClientName())
        .asInt(ParamFailedLoginGroupId, alert.getFailedLoginGroupId())
        .asInt(ParamFailedLoginCount, alert.getFailedLoginCount())
        .asLong(ParamDaysToLicenseExpiry, alert.getNoOfDaysLicenseToExpire())
        .asLong(ParamPercentLicenseConsumed, alert.getPerCentLicenseConsumed())
        .asInt(ParamJobId, alert.getJobId())
        .text(ParamComment, alert.getComment());
    if (!p.ok() || !populateNtClientAlertAdditionalInfo(m_eventId, call.store(), alert)) return false;
    if (criteriaCleared > 0 && !p.asInt(ParamCriteriaCleared, criteriaCleared).ok()) return false;

    // Only this criteria's occurrences are held back as repeats.
    if (m_criteria == kInstallationSuppressedCriteria &&
        !call.enableSuppression(EvSuppressionArgs::fromEvent(alert).jobId(0)))
      return false;

    call.log().DebugLvl(call.label(), 8, "Alert Event[eventId [%d]] inserted in to the database successfully.",
                        m_eventId);
    return repeat ? true : call.markDetected();
  });
}

bool EvNDetector::StoreClientGroupConfig(EvAlertEx& alert) {
  HandlerCall call(*this, alert, "EvNDetector::StoreClientGroupConfig");
  return call.guarded([&]() -> bool {
    return recordJobOccurrence<NTDclntAgentMAConfig>(
        call,
        [&](NTDclntAgentMAConfig_t& row) {
          // The group id goes into the client id column.
          row.clientId = static_cast<int>(alert.getClientGroupId());
          row.evGuiAuditOperation = auditOperation(alert);
        },
        [&](ParamRows& p) {
          p.asLong(ParamWhomId, alert.getWhomId())
              .msgParams(alert.getEventMsgList())
              .text(ParamClientGroupName, alert.getClientGroupName())
              .text(ParamComment, alert.getComment());
        });
  });
}

// Alerts of jobs that copy or check data already protected: auxiliary copy
// (alert types 2 and 54), data verification (6, 29, 55) and backup copy
// (61). All three keep their job detail in NTDauxCopyDataVer.
//
// An auxiliary copy that has fallen behind (criteria 56) stays one
// occurrence per storage policy or copy while it is pending: a repeat
// rewrites the occurrence's detail row instead of adding one. A verification
// that is behind (criteria 64) is raised once per storage policy and copy.
#include "detector/handler_pattern.h"

namespace {

constexpr int kDelayedJobCriteria = 5;
constexpr int kAuxCopyFallenBehind = 56;
constexpr int kVerificationBehind = 64;
constexpr const char* kDetailTable = "NTDauxCopyDataVer";
constexpr DetailUpsertNames kAuxCopyNames{"StoreAuxCopyData", "Auxcopy Config", "AuxCopy config", false};

// Fields of App::AuxcopyFallenBehindAlertInfo. All three are stored, set or
// not, once the description is not empty.
using FallenBehind = App::AuxcopyFallenBehindAlertInfo::Fields;
constexpr MessageField kFallenBehindFields[] = {
    messageField(FallenBehind::detailField1, ParamAuxCopyDetailField1, ParamKind::Int, false),
    messageField(FallenBehind::detailField2, ParamAuxCopyDetailField2, ParamKind::Int, false),
    messageField(FallenBehind::detailField3, ParamAuxCopyDetailField3, ParamKind::Text, false),
};

void fillCopyColumns(NTDauxCopyDataVer_t& row, const EvAlertEx& alert) {
  fillJobColumns(row, alert);
  row.storagePolicyId = static_cast<int>(alert.getStorPolicyId());
  row.copyId = static_cast<int>(alert.getCopyId());
}

// The occur time of a detected-alert row as text, for the trace line.
std::string occurTimeOf(int eventId) {
  NTDetectedAlerts table(nullptr);
  table.setWhere("eventId = %d", eventId);
  if (!DBrowRead(table.getOneRow())) return std::string();
  return table.getDataPtr()->occurTime.toString(false);
}

}  // namespace

bool EvNDetector::StoreAuxCopyData(EvAlertEx& alert) {
  HandlerCall call(*this, alert, "EvNDetector::StoreAuxCopyData");
  return call.guarded([&]() -> bool {
    if (call.delayedJobCleared(kDelayedJobCriteria)) return call.withdrawDelayedJob(kDetailTable);

    const bool fallenBehind = m_criteria == kAuxCopyFallenBehind;
    const bool cleared = alert.IsConditionCleared();
    const int storagePolicy = static_cast<int>(alert.getStorPolicyId());
    const int copy = static_cast<int>(alert.getCopyId());
    // The look-up is keyed on the storage policy and copy; the marking also
    // records the subclient and the user the event concerns.
    const EvSuppressionArgs lookup = EvSuppressionArgs::fromEvent(alert)
                                         .subClientId(0)
                                         .storeId(static_cast<int>(alert.getOtherLibId()))
                                         .storagePolicyId(storagePolicy)
                                         .copyId(copy);
    const EvSuppressionArgs marking = EvSuppressionArgs::fromEvent(alert)
                                          .ruleOrUserId(static_cast<int>(alert.getWhomId()))
                                          .storagePolicyId(storagePolicy)
                                          .copyId(copy);

    const HandlerCall::Matched outcome = call.matchOrRecord(fallenBehind ? GetExistingEventIdEx(lookup) : 0);
    if (outcome == HandlerCall::Matched::Failed) return false;
    if (outcome == HandlerCall::Matched::ClearedNothing) return true;
    const bool repeated = outcome == HandlerCall::Matched::Repeat;
    if (!repeated && call.log().enabled(8)) call.logNewOccurrence(occurTimeOf(m_eventId).c_str());

    bool insertDetail = false;
    if (!upsertDetail<NTDauxCopyDataVer>(
            call, repeated, kAuxCopyNames, [&](NTDauxCopyDataVer_t& row) { fillCopyColumns(row, alert); },
            [](NTDauxCopyDataVer& t, const NTDauxCopyDataVer_t& row) {
              return t.rowUpdate(
                  "jobId_h = %d, jobId_l = %d, startTime = %p, endTime = %p, schedTime = %p, storagePolicyId=%d, "
                  "copyId = %d, taskId = %d, schedPolicyId = %d ",
                  row.jobId_h, row.jobId_l, DBodbcDate(&row.startTime), DBodbcDate(&row.endTime),
                  DBodbcDate(&row.schedTime), row.storagePolicyId, row.copyId, row.taskId, row.schedPolicyId);
            },
            &insertDetail))
      return false;

    ParamRows p = call.params();
    p.jobBasics(alert)
        .mediaList(alert.getMediaIdsList(), ParamMediaList, ParamMediaLocation)
        .asInt(ParamPhaseFailureCount, alert.getPhaseFailuresCount())
        .asInt(ParamNetworkFailureCount, alert.getNetworkFailuresCount())
        .text(ParamJobErrorString, alert.getJobErrString())
        .sizeText(ParamTransferSize, alert.getXferSizeBytes(), static_cast<unsigned long>(m_serverEventSelector))
        .texts(ParamMediaList, alert.getMediaList())
        .texts(ParamCopiedMediaList, alert.getCopiedMediaList());
    if (!p.ok()) return false;

    if (fallenBehind) {
      p.sizeText(ParamBytesToBeCopied, alert.getBytesToBeCopied(), static_cast<unsigned long>(m_serverEventSelector))
          .asInt(ParamMediaToBeCopied, alert.getNumOfMediaToBeCopied())
          .asInt(ParamJobsToBeCopied, alert.getNumOfJobsToBeCopied())
          .asLong(ParamOldestJobEndTime, alert.getOldestJobEndTime());
      if (!p.ok()) return false;
      if (!alert.getDescription().empty()) {
        // The fields are stored whether or not the text read as the message.
        DescriptionMessage<App::AuxcopyFallenBehindAlertInfo> info;
        info.read(alert.getDescription());
        if (!p.fromMessage(info, kFallenBehindFields).ok()) return false;
      }
      if (!call.enableSuppression(marking)) return false;
    }

    call.log().DebugLvl(call.label(), 8, "Alert Event[eventId : %d] updated in the database successfully.",
                        m_eventId);

    // A repeat keeps the state SetDetectedAlert left; a cleared repeat
    // whose detail row had to be re-made stays cleared.
    if (insertDetail && !(repeated && cleared)) return call.markDetected();
    return true;
  });
}

bool EvNDetector::StoreDataVerific(EvAlertEx& alert) {
  HandlerCall call(*this, alert, "EvNDetector::StoreDataVerific");
  return call.guarded([&]() -> bool {
    if (call.delayedJobCleared(kDelayedJobCriteria)) return call.withdrawDelayedJob(kDetailTable);

    const bool behind = m_criteria == kVerificationBehind;
    if (behind) {
      // One pending occurrence per storage policy and copy.
      int earlier = 0;
      std::string table, error;
      const int rc = call.copyOccurrence(static_cast<int>(alert.getStorPolicyId()),
                                         static_cast<int>(alert.getCopyId()), &earlier, &table, &error);
      if (DBrowRead(rc)) return true;
      if (rc != DB_NO_DATA) {
        call.log().prefixedError("../copy_verify(%d): -Error-: Error reading the table [%s] ErrorString [%s]", __LINE__,
                         table.c_str(), error.c_str());
        return false;
      }
    }

    if (!call.insertDetectedAlert(InsertWording::Error)) return false;
    if (!call.insertDetail<NTDauxCopyDataVer>([&](NTDauxCopyDataVer_t& row) { fillCopyColumns(row, alert); }))
      return false;

    ParamRows p = call.params();
    p.jobBasics(alert)
        .text(ParamJobErrorString, alert.getJobErrString())
        .asInt(ParamPhaseFailureCount, alert.getPhaseFailuresCount())
        .asInt(ParamNetworkFailureCount, alert.getNetworkFailuresCount());
    if (behind) {
      p.sizeText(ParamBytesToBeCopied, alert.getBytesToBeCopied(), static_cast<unsigned long>(m_serverEventSelector))
          .asInt(ParamJobsToBeCopied, alert.getNumOfJobsToBeCopied())
          .asLong(ParamOldestJobEndTime, alert.getOldestJobEndTime());
    }
    if (!p.ok()) return false;

    call.logRecorded(RecordedWording::Brackets);
    return call.markDetected();
  });
}

bool EvNDetector::StoreBackupCopyData(EvAlertEx& alert) {
  HandlerCall call(*this, alert, "EvNDetector::StoreBackupCopyData");
  return call.guarded([&]() -> bool {
    if (call.delayedJobCleared(kDelayedJobCriteria)) return call.withdrawDelayedJob(kDetailTable);
    return recordJobOccurrence<NTDauxCopyDataVer>(
        call, [&](NTDauxCopyDataVer_t& row) { fillCopyColumns(row, alert); },
        [&](ParamRows& p) { p.jobBasics(alert).text(ParamJobErrorString, alert.getJobErrString()); });
  });
}

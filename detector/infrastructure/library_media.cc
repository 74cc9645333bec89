// Alerts about libraries, drives and media: library configuration (alert
// type 16), library management (17), drives (21), media inventory (7) and
// export (8), media erase jobs (9), erase-data jobs (22) and media movements
// of a vault-tracking policy (18).
//
// The library alerts keep one occurrence per library object while it is
// pending: a repeat refreshes the detected-alert row and, for types 16 and
// 17, carries the values the notification shows over into the occurrence.
// The other three record every event as a new occurrence.
#include "detector/handler_pattern.h"

namespace {

constexpr int kMediaInventory = 7;
constexpr int kMediaExport = 8;
constexpr int kLibraryConfig = 16;
constexpr int kLibraryManagement = 17;
constexpr int kDrive = 21;

// Library-management events whose threshold comment and reason change while
// the occurrence stays pending; a repeat rewrites both parameters.
constexpr int kThresholdCriteria = 26;
constexpr int kThresholdCondition = 2010;

// The library objects an occurrence is about; client, subclient, job and
// the rest do not take part.
EvSuppressionArgs libraryObjects(const EvAlertEx& alert) {
  return EvSuppressionArgs::fromEvent(alert).clientId(0).subClientId(0).jobId(0);
}

void fillManagementColumns(NTDlibraryMang_t& row, const EvAlertEx& alert) {
  fillJobIdAndTimes(row, alert);
  row.libraryId = static_cast<int>(alert.getLibraryId());
  row.otherLibId = static_cast<int>(alert.getOtherLibId());
  row.copyId = static_cast<int>(alert.getCopyId());
  row.mediaAgentId = static_cast<int>(alert.getMediaAgentId());
  row.mediaSpaceLeft = saturateToInt(alert.getMediaSpaceLeft(), "mediaSpaceLeft");
  row.threshold = saturateToInt(alert.getThreshold(), "threshold");
  row.driveId = alert.getDriveId();
  row.moreMedia = alert.getMoreMediaToCome() ? 1 : 0;
  dbCopyText(row.exportLoc, alert.getExportLocName().c_str());
}

// Rewrites the value of one parameter row of EVENTID with TEXT, stored as
// the parameter store stores a new text.
int rewriteParam(int eventId, NotiParamTypes type, const std::string& text, NTDparams& table) {
  NTDparams_t* row = table.getDataPtr();
  UTF8Char2WideChar(row->value, sizeof row->value, text.c_str());
  table.setWhere("eventId = %d AND type=%d", eventId, static_cast<int>(type));
  return table.rowUpdate("value = '%s'", row->value);
}

// A repeat of a pending library occurrence: types 16 and 17 carry the
// values the notification shows over into it; the other types only have
// their detected-alert row refreshed, which matchOrRecord has done.
bool refreshLibraryRepeat(HandlerCall& call, EvAlertEx& alert, const EvNDetector& detector) {
  const int eventId = call.eventId();
  const bool cleared = alert.IsConditionCleared();
  if (cleared) call.log().DebugLvl(call.label(), 7, "Condition Cleared for the alert event[eventId [%d]].", eventId);

  if (detector.getAlertType() == kLibraryConfig) {
    NTDlibConfig config(nullptr);
    // Cut to the column as an inserted comment would be.
    dbCopyText(config.getDataPtr()->comment, alert.getComment().c_str());
    config.setWhere("eventId = %d", eventId);
    const int rc = config.rowUpdate("comment = '%s'", config.getDataPtr()->comment);
    if (rc == 0) return true;
    call.log().Error(call.label(), "Could not update NTDlibConfig[%d]. ErrorString [%s]", eventId,
                     config.getErrorStr(rc));
    return false;
  }
  if (detector.getAlertType() != kLibraryManagement) return true;

  NTDlibraryMang mang(nullptr);
  mang.setWhere("eventId = %d", eventId);
  int rc = mang.rowUpdate("mediaSpaceLeft = %d", saturateToInt(alert.getMediaSpaceLeft(), "mediaSpaceLeft"));
  if (rc != 0) {
    call.log().Error(call.label(), "Could not update NTDlibraryMang[%d]. ErrorString [%s]", eventId,
                     mang.getErrorStr(rc));
    return false;
  }
  if ((detector.getCriteria() != kThresholdCriteria && detector.getAlertStatus() != kThresholdCondition) || cleared)
    return true;
  for (const NotiParamTypes type : {ParamThreshold, ParamFailureReason}) {
    NTDparams params(nullptr);
    rc = rewriteParam(eventId, type, type == ParamThreshold ? alert.getThresholdCommen() : alert.getFailureReason(),
                      params);
    if (rc != 0) {
      call.log().prefixedError("../library_media(%d): -Error-: Could not update NTDParam[%d].Error[%s]", __LINE__, eventId,
                       params.getErrorStr(rc));
      return false;
    }
  }
  return true;
}

// A new library occurrence (its detected-alert row made by matchOrRecord):
// the detail row and parameters of its type, its suppression object, and
// the final state.
bool recordNewLibraryOccurrence(HandlerCall& call, EvAlertEx& alert, int alertType) {
  ParamRows p = call.params();
  switch (alertType) {
    case kLibraryConfig: {
      // The comment travels as a parameter; the column takes it only from a repeat.
      NTDlibConfig config(nullptr);
      config.getDataPtr()->eventId = call.eventId();
      config.getDataPtr()->libraryId = static_cast<int>(alert.getLibraryId());
      const int rc = config.rowInsert(true);
      if (rc != 0) {
        call.log().Error(call.label(), "Could not insert row into table [%s][%d], ErrorString [%s]",
                         config.getTableName(), call.eventId(), config.getErrorStr(rc));
        return false;
      }
      p.text(ParamComment, alert.getComment());
      break;
    }
    case kMediaInventory:
    case kMediaExport:
      if (!call.insertDetail<NTDmediaInvSchedExport>([&](NTDmediaInvSchedExport_t& row) {
            fillJobColumns(row, alert);
            row.libraryId = static_cast<int>(alert.getLibraryId());
            dbCopyText(row.exportLoc, alert.getExportLocName().c_str());
          }))
        return false;
      p.failureReasons(alert.getFailureReasons());
      if (alertType == kMediaExport) p.texts(ParamMediaList, alert.getMediaList());
      break;
    case kLibraryManagement:
      if (!call.insertDetail<NTDlibraryMang>([&](NTDlibraryMang_t& row) { fillManagementColumns(row, alert); }))
        return false;
      call.log().DebugLvl(call.label(), 7, "MediaAgentId [%d] LibraryId [%d] DriveId [%d]",
                          static_cast<int>(alert.getMediaAgentId()), static_cast<int>(alert.getLibraryId()),
                          alert.getDriveId());
      p.text(ParamFailureReason, alert.getFailureReason())
          .text(ParamDriveName, alert.getDriveName())
          .text(ParamDrivePoolName, alert.getDrivePoolName())
          .text(ParamMountPath, alert.getSparePoolMountPathName())
          .text(ParamMediaLabel, alert.getMediaLable())
          .text(ParamDescription, alert.getDescription())
          .text(ParamThreshold, alert.getThresholdCommen())
          .msgParams(alert.getEventMsgList())
          .failureReasons(alert.getFailureReasons())
          .asLong(ParamRecallTime, alert.getRecallTime())
          .text(ParamRecallReason, alert.getRecallReason())
          .text(ParamRecallDestination, alert.getRecallDestination())
          .texts(ParamMediaList, alert.getMediaList());
      break;
    case kDrive:
      if (!call.insertDetail<NTDlibraryMang>([&](NTDlibraryMang_t& row) {
            row.libraryId = static_cast<int>(alert.getLibraryId());
            row.driveId = alert.getDriveId();
          }))
        return false;
      p.text(ParamFailureReason, alert.getFailureReason())
          .text(ParamDriveName, alert.getDriveName())
          .asInt(ParamMountPath, alert.getMountPathId())
          .msgParams(alert.getEventMsgList())
          .failureReasons(alert.getFailureReasons())
          .text(ParamDrivePoolName, alert.getDrivePoolName());
      break;
    default:
      call.log().Error(call.label(), "Alert type [%d] is not a library alert; event not recorded.", alertType);
      return false;
  }
  p.asLong(ParamWhomId, alert.getWhomId());
  if (!p.ok()) return false;
  if (!call.enableSuppression(libraryObjects(alert))) return false;
  return call.markDetected();
}

}  // namespace

bool EvNDetector::StoreLibrary(EvAlertEx& alert) {
  HandlerCall call(*this, alert, "EvNDetector::StoreLibrary");
  return call.guarded([&]() -> bool {
    switch (call.matchOrRecord(libraryObjects(alert))) {
      case HandlerCall::Matched::New: return recordNewLibraryOccurrence(call, alert, m_alertType);
      case HandlerCall::Matched::Repeat: return refreshLibraryRepeat(call, alert, *this);
      case HandlerCall::Matched::ClearedNothing: return true;
      case HandlerCall::Matched::Failed: break;
    }
    return false;
  });
}

bool EvNDetector::StoreMediaErase(EvAlertEx& alert) {
  HandlerCall call(*this, alert, "EvNDetector::StoreMediaErase");
  return call.guarded([&]() -> bool {
    return recordJobOccurrence<NTDlibraryMang>(
        call,
        [&](NTDlibraryMang_t& row) {
          fillJobColumns(row, alert);
          row.libraryId = static_cast<int>(alert.getLibraryId());
          dbCopyText(row.exportLoc, alert.getExportLocName().c_str());
        },
        [&](ParamRows& p) {
          p.jobBasics(alert)
              .mediaList(alert.getSucceededMedialist(), ParamSucceededMediaList, NotiParamTypes{})
              .mediaList(alert.getFailedMedialist(), ParamFailedMediaList, NotiParamTypes{})
              .text(ParamJobErrorString, alert.getJobErrString());
        });
  });
}

bool EvNDetector::StoreEraseData(EvAlertEx& alert) {
  HandlerCall call(*this, alert, "EvNDetector::StoreEraseData");
  return call.guarded([&]() -> bool {
    return recordJobOccurrence<NTDdataAgingER>(
        call,
        [&](NTDdataAgingER_t& row) {
          fillJobColumns(row, alert);
          row.clientId = static_cast<int>(alert.getClientId());
          row.appTypeId = static_cast<int>(alert.getappTypeId());
          row.instanceId = static_cast<int>(alert.getInstanceId());
          row.backupSetId = static_cast<int>(alert.getBackupsetId());
          row.subClientId = static_cast<int>(alert.getSubClientId());
        },
        [&](ParamRows& p) {
          p.jobBasics(alert)
              .text(ParamJobErrorString, alert.getJobErrString());
        });
  });
}

bool EvNDetector::StoreVaultTracker(EvAlertEx& alert) {
  HandlerCall call(*this, alert, "EvNDetector::StoreVaultTracker");
  return call.guarded([&]() -> bool {
    // A movement without its policy cannot be told apart from any other.
    if (alert.getVtPolicyId() == 0) {
      call.log().Error(call.label(), "FATAL ALERT ERROR: Invalid alert parameter, vault tracker policy id = 0");
      return false;
    }
    return recordJobOccurrence<NTDvaultTracker>(
        call,
        [&](NTDvaultTracker_t& row) {
          row.libId = static_cast<int>(alert.getLibraryId());
          row.policyId = alert.getVtPolicyId();
        },
        [&](ParamRows& p) {
          p.text(ParamVtInitiator, alert.getVtInitiator())
              .text(ParamVtSourceLocation, alert.getVtSourceLoc())
              .text(ParamVtTransitLocation, alert.getVtTransitLoc())
              .text(ParamVtDestinationLocation, alert.getVtDestLoc())
              .text(ParamVtBarcodeCurrentLocation, alert.getVtBarCodeCurrLoc())
              .asLong(ParamWhomId, alert.getWhomId())
              .mediaList(alert.getMediaIdsList(), ParamMediaList, ParamMediaLocation);
        });
  });
}

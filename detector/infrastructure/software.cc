// Alerts about software maintenance of the installation: update downloads
// (alert type 19), update installation (20), updates available for download
// (24), a server release upgrade that requires client updates (26), and the
// uninstall (67), client upgrade (68) and install (69) jobs. Every event is a
// new occurrence: these jobs are not repeated or suppressed.
#include <cstdint>
#include <vector>

#include "detector/handler_pattern.h"

namespace {

// The update-status rows are keyed by the low half of the job id only.
int lowJobId(const EvAlertEx& alert) { return static_cast<int>(EvNDetector::JobIdLow(alert.getJobId())); }

void fillDistributionColumns(NTDftpDistToClnt_t& row, const EvAlertEx& alert) {
  fillJobColumns(row, alert);
  row.elapsedTime = alert.getElapsedTime();
}

// The clients of a distribution job, in the order the update-status rows
// come. A failed read ends the list where it stands: the notification then
// names the clients read so far rather than none.
std::vector<int> jobClientIds(const EvAlertEx& alert) {
  std::vector<int> ids;
  JMMaltrexUpdateStatus status(nullptr);
  status.setWhere("jobId = %d", lowJobId(alert));
  int counter = 0;
  // A row whose client name had to be cut still names its client.
  while (DBrowRead(status.getNextRow(&counter))) ids.push_back(status.getDataPtr()->clientId);
  status.closeCursor();
  return ids;
}

// A job that installs, removes or upgrades software on clients. The patch
// install has no failure-reason text of its own.
bool recordDistributionJob(EvNDetector& detector, EvAlertEx& alert, const char* label, bool withFailureReason) {
  HandlerCall call(detector, alert, label);
  return call.guarded([&]() -> bool {
    return recordJobOccurrence<NTDftpDistToClnt>(
        call, [&](NTDftpDistToClnt_t& row) { fillDistributionColumns(row, alert); },
        [&](ParamRows& p) {
          p.asLong(ParamWhomId, alert.getWhomId()).failureReasons(alert.getFailureReasons());
          if (withFailureReason) p.text(ParamFailureReason, alert.getFailureReason());
          // Read only once the earlier rows are in; an empty list is stored too.
          if (p.ok()) p.ints(ParamClientIdList, jobClientIds(alert));
        });
  });
}

// The direct form for the alerts that keep no detail row.
template <class Params>
bool recordWithoutDetail(HandlerCall& call, Params&& params) {
  if (!call.insertDetectedAlert()) return false;
  ParamRows rows = call.params();
  params(rows);
  if (!rows.ok()) return false;
  call.logRecorded();
  return call.markDetected();
}

}  // namespace

bool EvNDetector::StoreDownloadUpdates(EvAlertEx& alert) {
  HandlerCall call(*this, alert, "EvNDetector::StoreDownloadUpdates");
  return call.guarded([&]() -> bool {
    return recordJobOccurrence<NTDftpDistToClnt>(
        call,
        [&](NTDftpDistToClnt_t& row) {
          fillDistributionColumns(row, alert);
          row.totFilesAvail = alert.getNumberOfAvailFiles();
          row.filesDownloaded = alert.getNumberOfDownloadedFiles();
          row.kbDownloaded = alert.getKBDoanloaded();
        },
        [&](ParamRows& p) {
          p.asLong(ParamWhomId, alert.getWhomId()).failureReasons(alert.getFailureReasons());
          if (!p.ok()) return;
          // A job that downloaded nothing (or whose rows cannot be read) is
          // still worth its notification.
          const auto job = static_cast<unsigned long>(static_cast<uint32_t>(lowJobId(alert)));
          getDownloadedUpdates(p.eventId(), job, 0, ParamDownloadedUpdates);
          getDownloadedUpdates(p.eventId(), job, 1, ParamUpdatesList);
        },
        RecordedWording::Colon);
  });
}

bool EvNDetector::StorePatchInstall(EvAlertEx& alert) {
  return recordDistributionJob(*this, alert, "EvNDetector::StorePatchInstall", false);
}

bool EvNDetector::StoreUnInstallSoftware(EvAlertEx& alert) {
  return recordDistributionJob(*this, alert, "EvNDetector::StoreUnInstallSoftware", true);
}

bool EvNDetector::StoreUpgradeClient(EvAlertEx& alert) {
  return recordDistributionJob(*this, alert, "EvNDetector::StoreUpgradeClient", true);
}

bool EvNDetector::StoreInstallSoftware(EvAlertEx& alert) {
  return recordDistributionJob(*this, alert, "EvNDetector::StoreInstallSoftware", true);
}

bool EvNDetector::StoreUpdatesAvailForDownload(EvAlertEx& alert) {
  HandlerCall call(*this, alert, "EvNDetector::StoreUpdatesAvailForDownload");
  return call.guarded([&]() -> bool {
    return recordWithoutDetail(call, [&](ParamRows& p) {
      // The notification goes out even when the list could not be stored.
      p.asLong(ParamWhomId, alert.getWhomId()).ignored().texts(ParamUpdatesList, alert.getUpdatesList());
    });
  });
}

bool EvNDetector::StoreReleaseUpgradeAndUpdateRequired(EvAlertEx& alert) {
  HandlerCall call(*this, alert, "EvNDetector::StoreReleaseUpgradeAndUpdateRequired");
  return call.guarded([&]() -> bool {
    return recordWithoutDetail(call, [&](ParamRows& p) {
      p.text(ParamZentraRelease, alert.getZentraRelease())
          .asLong(ParamWhomId, alert.getWhomId())
          .asLong(ParamCentrixUpgradeTime, alert.getCXupgradeTime())
          .ints(ParamClientIdList, alert.getClientIdsList())
          .texts(ParamUpdatesList, alert.getUpdatesList());
    });
  });
}

// Handler slots whose handlers have not been built yet. Each answers false
// so that an event of such a type is reported, never silently recorded as
// done. A handler that lands moves its definition out of this file.
#include "host/EvAlertDebug.h"
#include "detector/EvNDetector.h"
#include "host/EvAlertEx.h"

namespace {

bool notBuilt(const char* handler, const EvNDetector& d) {
  EvAlertDebug log;
  log.DebugLvl(handler, 3, "No handler is available yet for alert type [%d], criteria [%d]; event not recorded.",
               d.getAlertType(), d.getCriteria());
  return false;
}

}  // namespace

bool EvNDetector::StoreLibrary(EvAlertEx&) { return notBuilt("EvNDetector::StoreLibrary", *this); }
bool EvNDetector::StoreMediaErase(EvAlertEx&) { return notBuilt("EvNDetector::StoreMediaErase", *this); }
bool EvNDetector::StoreClientConfig(EvAlertEx&, int) { return notBuilt("EvNDetector::StoreClientConfig", *this); }
bool EvNDetector::StoreZentra(EvAlertEx&, int) { return notBuilt("EvNDetector::StoreZentra", *this); }
bool EvNDetector::StoreMediaAgentConfig(EvAlertEx&, int) { return notBuilt("EvNDetector::StoreMediaAgentConfig", *this); }
bool EvNDetector::StoreSchedules(EvAlertEx&) { return notBuilt("EvNDetector::StoreSchedules", *this); }
bool EvNDetector::StoreStoragePolicy(EvAlertEx&) { return notBuilt("EvNDetector::StoreStoragePolicy", *this); }
bool EvNDetector::StoreVaultTracker(EvAlertEx&) { return notBuilt("EvNDetector::StoreVaultTracker", *this); }
bool EvNDetector::StoreDownloadUpdates(EvAlertEx&) { return notBuilt("EvNDetector::StoreDownloadUpdates", *this); }
bool EvNDetector::StorePatchInstall(EvAlertEx&) { return notBuilt("EvNDetector::StorePatchInstall", *this); }
bool EvNDetector::StoreEraseData(EvAlertEx&) { return notBuilt("EvNDetector::StoreEraseData", *this); }
bool EvNDetector::StoreUpdatesAvailForDownload(EvAlertEx&) { return notBuilt("EvNDetector::StoreUpdatesAvailForDownload", *this); }
bool EvNDetector::StoreReleaseUpgradeAndUpdateRequired(EvAlertEx&) { return notBuilt("EvNDetector::StoreReleaseUpgradeAndUpdateRequired", *this); }
bool EvNDetector::TolvaneEventLogAlert(EvAlertEx&) { return notBuilt("EvNDetector::TolvaneEventLogAlert", *this); }
bool EvNDetector::StoreClientGroupConfig(EvAlertEx&) { return notBuilt("EvNDetector::StoreClientGroupConfig", *this); }
bool EvNDetector::StoreUnInstallSoftware(EvAlertEx&) { return notBuilt("EvNDetector::StoreUnInstallSoftware", *this); }
bool EvNDetector::StoreUpgradeClient(EvAlertEx&) { return notBuilt("EvNDetector::StoreUpgradeClient", *this); }
bool EvNDetector::StoreInstallSoftware(EvAlertEx&) { return notBuilt("EvNDetector::StoreInstallSoftware", *this); }
bool EvNDetector::StoreUserConfig(EvAlertEx&) { return notBuilt("EvNDetector::StoreUserConfig", *this); }
bool EvNDetector::StoreUserGroupConfig(EvAlertEx&) { return notBuilt("EvNDetector::StoreUserGroupConfig", *this); }
bool EvNDetector::StoreAdminAlertDataForAlert(EvAlertEx&) { return notBuilt("EvNDetector::StoreAdminAlertDataForAlert", *this); }

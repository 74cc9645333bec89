// The suppression argument list as one value, and the detector's forms that
// take it; they hand the ids on to the positional forms in their order.
#include "detector/suppression_args.h"

#include "detector/EvNDetector.h"
#include "host/EvAlertEx.h"

EvSuppressionArgs EvSuppressionArgs::fromEvent(const EvAlertEx& alert) {
  EvSuppressionArgs a;
  // Ids wider than the 32-bit arguments are cut as the columns cut them.
  a.library = static_cast<int>(alert.getLibraryId());
  a.sparePool = alert.getSparePoolId();
  a.drive = alert.getDriveId();
  a.media = static_cast<int>(alert.getMediaId());
  a.mediaAgent = static_cast<int>(alert.getMediaAgentId());
  a.mountPath = alert.getMountPathId();
  a.client = static_cast<int>(alert.getClientId());
  a.subClient = static_cast<int>(alert.getSubClientId());
  a.job = alert.getJobId();
  return a;
}

std::string EvNDetector::GetSupressionObjTypeId(const EvSuppressionArgs& a, long long& objId) {
  return GetSupressionObjTypeId(a.library, a.sparePool, a.drive, a.media, a.mediaAgent, a.mountPath, a.client,
                                a.subClient, objId, a.job, a.store, a.ruleOrUser, a.storagePolicy, a.copy);
}

int EvNDetector::GetExistingEventIdEx(const EvSuppressionArgs& a) {
  return GetExistingEventIdEx(a.library, a.sparePool, a.drive, a.media, a.mediaAgent, a.mountPath, a.client,
                              a.subClient, a.job, a.store, a.ruleOrUser, a.storagePolicy, a.copy);
}

bool EvNDetector::EnableSupression(int eventId, const EvSuppressionArgs& a) {
  return EnableSupression(eventId, a.library, a.sparePool, a.drive, a.media, a.mediaAgent, a.mountPath, a.client,
                          a.subClient, a.job, a.store, a.ruleOrUser, a.storagePolicy, a.copy);
}

// The suppression argument list as one value, and the detector's positional
// forms, which hand their ids on to the forms that take it.
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

namespace {

EvSuppressionArgs positional(int library, int sparePool, int drive, int media, int mediaAgent, int mountPath,
                             int client, int subClient, long long jobId, int store, int ruleOrUser, int storagePolicy,
                             int copy) {
  return EvSuppressionArgs{.library = library,
                           .sparePool = sparePool,
                           .drive = drive,
                           .media = media,
                           .mediaAgent = mediaAgent,
                           .mountPath = mountPath,
                           .client = client,
                           .subClient = subClient,
                           .job = jobId,
                           .store = store,
                           .ruleOrUser = ruleOrUser,
                           .storagePolicy = storagePolicy,
                           .copy = copy};
}

}  // namespace

std::string EvNDetector::GetSupressionObjTypeId(int library, int sparePool, int drive, int media, int mediaAgent,
                                                int mountPath, int client, int subClient, long long& objId,
                                                long long jobId, int store, int ruleOrUser, int storagePolicy,
                                                int copy) {
  return GetSupressionObjTypeId(positional(library, sparePool, drive, media, mediaAgent, mountPath, client, subClient,
                                           jobId, store, ruleOrUser, storagePolicy, copy),
                                objId);
}

int EvNDetector::GetExistingEventIdEx(int library, int sparePool, int drive, int media, int mediaAgent, int mountPath,
                                      int client, int subClient, long long jobId, int store, int ruleOrUser,
                                      int storagePolicy, int copy) {
  return GetExistingEventIdEx(positional(library, sparePool, drive, media, mediaAgent, mountPath, client, subClient,
                                         jobId, store, ruleOrUser, storagePolicy, copy));
}

bool EvNDetector::EnableSupression(int eventId, int library, int sparePool, int drive, int media, int mediaAgent,
                                   int mountPath, int client, int subClient, long long jobId, int store,
                                   int ruleOrUser, int storagePolicy, int copy) {
  return EnableSupression(eventId, positional(library, sparePool, drive, media, mediaAgent, mountPath, client,
                                              subClient, jobId, store, ruleOrUser, storagePolicy, copy));
}

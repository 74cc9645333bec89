// Event texts shared by the benchmark programs: each is what a busy server
// hands the detector most, with the fields a real one fills in.
#pragma once

#include <string>

namespace evd::bench {

// A failed backup (alert type 3, criteria 1) with failure reasons, media
// lists, catalogue messages and an additional-information message in the
// description: every one is a new occurrence.
inline const char* const kBackupFailure =
    R"({"alertType":3,"alertCriteria":1,"alertStatus":1,"clientId":12,"clientName":"fs01","subClientId":118,)"
    R"("subClientName":"default","backupsetId":40,"appTypeId":33,"instanceId":1,"mediaAgentId":7,"jobId":184467,)"
    R"("backupLevel":2,"startTime":1733400000,"endTime":1733403600,"scheduledTime":1733400000,"taskId":55,)"
    R"("schedPolicyId":9,"failureReason":"Failed to mount the disk media.","failureReasons":[72,1011,1290],)"
    R"("phaseFailuresCount":1,"networkFailuresCount":0,"protectedCount":15234,"failedCount":17,)"
    R"("xferSizeBytes":5368709120,"xferTimeSecs":3540,"xferThruPutGB":"5.46",)"
    R"("jobErrString":"Error occurred in Disk Media, Path [D:\\mp01].",)"
    R"("mediaList":["V_000123","V_000124","V_000125"],"vtStoragePolicyList":["SP-Gold"],)"
    R"("attachmentName":"job184467.log","numberOfItems":2400,)"
    R"("eventMsgList":[{"tokenId":1241514762,"msgId":1241514761,"type":11,"msgIndex":1,"data":"fs01"},)"
    R"({"tokenId":1241514762,"msgId":1241514761,"type":11,"msgIndex":1,"data":"D:\\mp01"},)"
    R"({"tokenId":1241514764,"msgId":1241514763,"type":11,"msgIndex":2,"data":"ma01"}],)"
    R"("description":"<message type=\"30,1880\" class=\"507417001\"><int field=\"1\" key=\"4371981\">5368709120)"
    R"(</int><int field=\"2\" key=\"4663322\">12</int><int field=\"3\" key=\"13716006\">3600</int>)"
    R"(<int field=\"7\" key=\"1848506\">1024</int></message>"})";

// A client's free-space alert (alert type 10, criteria 77): after the first
// on CLIENT, every one refreshes its pending occurrence, rewrites the detail
// row and rebuilds the parameters and folder figures. VARIANT changes the
// figures and the job.
inline std::string clientConfigEvent(int client, int variant) {
  const std::string free = std::to_string(8 + variant), c = std::to_string(client);
  return R"({"alertType":10,"alertCriteria":77,"clientId":)" + c + R"(,"clientName":"fs)" + c +
         R"(","subClientId":118,)"
         R"("subClientName":"default","appTypeId":33,"instanceId":1,"instanceName":"DefaultInstance",)"
         R"("backupsetId":40,"backupsetName":"defaultBackupSet","mediaAgentId":7,"jobId":)" +
         std::to_string(184700 + variant) + R"(,"freeSpace":)" + free + R"(,"threshold":10,"whomId":1,)"
         R"("failureReason":"Free space on client fs01 is below its threshold.","comment":"Job results folder",)"
         R"("noOfDaysLicenseToExpire":30,"objStoreCacheDir":"/opt/cache",)"
         R"("foldersList":["/opt/jobresults","/var/log"],"freeSpaceList":[)" + free + R"(,40],)"
         R"("thresholdsList":[10,10],)"
         R"("eventMsgList":[{"tokenId":1241514762,"msgId":1241514761,"type":11,"msgIndex":1,"data":"fs01"}],)"
         R"("description":"<message type=\"30,2192\" class=\"503988448\"><int field=\"1\" key=\"7176824\">1)"
         R"(</int></message>"})";
}

}  // namespace evd::bench

// The updates a download job fetched, as text blocks for the notification:
// one block per release and operating system, split again where service
// packs and packages start, each stored as one parameter of the occurrence.
#include <cstdint>
#include <cstring>
#include <string>

#include "Db/AllBindings.h"
#include "host/EvAlertDebug.h"
#include "detector/EvNDetector.h"

std::string EvNDetector::getOSVersionGivenId(int osType) {
  switch (osType) {
    case 1: return "Win32";
    case 3: return "WinX64";
    case 5: return "Unix";
    default: return "Other OS";
  }
}

bool EvNDetector::getDownloadedUpdates(int eventId, unsigned long jobId, int onlyWithStatus, NotiParamTypes type) {
  static const char* const kFn = "EvNDetector::getDownloadedUpdates";
  static const char* const kBlockEnd = "] MsgNewLine_MsgTab_";
  EvAlertDebug log;
  const int lowJob = static_cast<int>(static_cast<uint32_t>(jobId));
  EvNDetectParams params(nullptr);
  JMMaltrexDownloadStatus t(nullptr);
  t.setIsolationType(4);
  t.setWhere("jobId = %d AND (updateNumber !=0 OR (updateNumber = 0 And OsType!=0)) ", lowJob);
  if (onlyWithStatus != 0) t.setCatWhere(" AND status != 0");
  t.setOrderBy("Mversion, osType, isSrvPack, updateNumber");

  // A block is a header (release and OS) and a body listing update
  // numbers; rows come sorted so that one block's rows are adjacent.
  bool haveBlock = false;
  int prevSrvPack = -1;
  int prevUpdate = -1;
  std::string header;
  std::string body;
  int counter = 0;
  int rc = 0;
  while (DBrowRead(rc = t.getNextRow(&counter))) {
    const JMMaltrexDownloadStatus_t* r = t.getDataPtr();
    const std::string os = getOSVersionGivenId(r->OSType);
    const std::string rowHeader =
        "[Ver : " + std::string(r->MVersion, strnlen(r->MVersion, sizeof r->MVersion)) + "] [OS: " + os + "]";
    // A package (update 0) never shares a block with numbered updates.
    const bool newBlock = !haveBlock || rowHeader != header || r->isSrvPack != prevSrvPack ||
                          (r->updateNumber != prevUpdate && (r->updateNumber == 0 || prevUpdate == 0));
    if (newBlock) {
      if (haveBlock) params.AddParam(eventId, type, (header + body + kBlockEnd).c_str());
      haveBlock = true;
      prevSrvPack = r->isSrvPack;
      prevUpdate = r->updateNumber;
      header = rowHeader;
      if (r->updateNumber == 0)
        body = "[Package : " + os;
      else
        body = std::string(r->isSrvPack == 0 ? "[Updates : " : "[Service Pack : ") + std::to_string(r->updateNumber);
    }
    if (r->updateNumber != prevUpdate) {
      prevUpdate = r->updateNumber;
      body += ", " + std::to_string(r->updateNumber);
    }
  }
  if (rc == DB_NO_DATA) {
    if (!haveBlock) {
      log.DebugLvl(kFn, 3, "No update downloaded as part of jobId  [%lu]", jobId);
      return false;
    }
    params.AddParam(eventId, type, (header + body + kBlockEnd).c_str());
    return true;
  }
  // A failed read is reported as such even before the first row, so it is
  // never mistaken for a job that downloaded nothing.
  log.Error(kFn, "Error in reading job details [%d]", lowJob);
  return false;
}

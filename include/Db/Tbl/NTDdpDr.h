// Detail of data-protection and data-recovery job occurrences.
#pragma once

#include "Db/Binding.h"

#define NTDdpDr_COLUMNS(X) \
  X(eventId, INT32, 0) \
  X(jobId_h, INT32, 0) \
  X(jobId_l, INT32, 0) \
  X(startTime, DATETIME, 0) \
  X(endTime, DATETIME, 0) \
  X(schedTime, DATETIME, 0) \
  X(clientId, INT32, 0) \
  X(appTypeId, INT32, 0) \
  X(instanceId, INT32, 0) \
  X(backupSetId, INT32, 0) \
  X(subClientId, INT32, 0) \
  X(protectedCount, INT32, 0) \
  X(failedCount, INT32, 0) \
  X(skippedCount, INT32, 0) \
  X(mediaRequired, INT32, 0) \
  X(libraryId, INT32, 0) \
  X(backupLevel, INT32, 0) \
  X(container, CHARS, 513) \
  X(exportLoc, CHARS, 513) \
  X(mediaLabel, CHARS, 513) \
  X(taskId, INT32, 0) \
  X(schedPolicyId, INT32, 0) \
  X(isVSS, INT32, 0) \
  X(isRDJob, INT32, 0)

DB_BINDING(NTDdpDr, Table, "", "")

// Detail of software download and distribution occurrences.
#pragma once

#include "Db/Binding.h"

#define NTDftpDistToClnt_COLUMNS(X) \
  X(eventId, INT32, 0) \
  X(jobId_h, INT32, 0) \
  X(jobId_l, INT32, 0) \
  X(startTime, DATETIME, 0) \
  X(endTime, DATETIME, 0) \
  X(schedTime, DATETIME, 0) \
  X(elapsedTime, INT32, 0) \
  X(totFilesAvail, INT32, 0) \
  X(filesDownloaded, INT32, 0) \
  X(kbDownloaded, INT32, 0) \
  X(taskId, INT32, 0) \
  X(schedPolicyId, INT32, 0)

DB_BINDING(NTDftpDistToClnt, Table, "", "")

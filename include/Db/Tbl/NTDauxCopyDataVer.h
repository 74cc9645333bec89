// Detail of auxiliary-copy and data-verification occurrences.
#pragma once

#include "Db/Binding.h"

#define NTDauxCopyDataVer_COLUMNS(X) \
  X(eventId, INT32, 0) \
  X(jobId_h, INT32, 0) \
  X(jobId_l, INT32, 0) \
  X(startTime, DATETIME, 0) \
  X(endTime, DATETIME, 0) \
  X(schedTime, DATETIME, 0) \
  X(storagePolicyId, INT32, 0) \
  X(copyId, INT32, 0) \
  X(taskId, INT32, 0) \
  X(schedPolicyId, INT32, 0)

DB_BINDING(NTDauxCopyDataVer, Table, "", "")

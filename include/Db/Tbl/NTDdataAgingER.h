// Detail of data-aging and disaster-recovery-backup occurrences.
#pragma once

#include "Db/Binding.h"

#define NTDdataAgingER_COLUMNS(X) \
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
  X(level, INT32, 0) \
  X(taskId, INT32, 0) \
  X(schedPolicyId, INT32, 0)

DB_BINDING(NTDdataAgingER, Table, "", "")

// Detail of schedule occurrences.
#pragma once

#include "Db/Binding.h"

#define NTDschedConfig_COLUMNS(X) \
  X(eventId, INT32, 0) \
  X(clientId, INT32, 0) \
  X(appTypeId, INT32, 0) \
  X(instanceId, INT32, 0) \
  X(backupSetId, INT32, 0) \
  X(subClientId, INT32, 0) \
  X(storagePolicyId, INT32, 0) \
  X(copyId, INT32, 0) \
  X(scheduleName, CHARS, 2049) \
  X(comment, CHARS, 1025) \
  X(taskId, INT32, 0) \
  X(evGuiAuditOperation, INT32, 0)

DB_BINDING(NTDschedConfig, Table, "", "")

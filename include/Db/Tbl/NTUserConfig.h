// Detail of user occurrences.
#pragma once

#include "Db/Binding.h"

#define NTUserConfig_COLUMNS(X) \
  X(eventId, INT32, 0) \
  X(userId, INT32, 0) \
  X(subClientId, INT32, 0) \
  X(quotaLimit, INT64, 0) \
  X(spaceConsumed, INT64, 0) \
  X(objectSize, INT64, 0) \
  X(jobId, INT32, 0) \
  X(evGuiAuditOperation, INT32, 0) \
  X(userName, CHARS, 511)

DB_BINDING(NTUserConfig, Table, "", "")

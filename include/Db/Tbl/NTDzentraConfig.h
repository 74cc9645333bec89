// Detail of system configuration occurrences.
#pragma once

#include "Db/Binding.h"

#define NTDzentraConfig_COLUMNS(X) \
  X(eventId, INT32, 0) \
  X(freeSpace, INT32, 0) \
  X(deConfigClientId, INT32, 0) \
  X(deConfigAppId, INT32, 0) \
  X(deConfigInstId, INT32, 0) \
  X(comment, CHARS, 1025) \
  X(freeDBSpace, INT32, 0)

DB_BINDING(NTDzentraConfig, Table, "", "")

// Detail of storage-policy occurrences.
#pragma once

#include "Db/Binding.h"

#define NTDspConfig_COLUMNS(X) \
  X(eventId, INT32, 0) \
  X(storagePolicyId, INT32, 0) \
  X(copyId, INT32, 0) \
  X(comment, CHARS, 1025)

DB_BINDING(NTDspConfig, Table, "", "")

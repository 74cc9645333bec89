// Detail of media-movement occurrences.
#pragma once

#include "Db/Binding.h"

#define NTDvaultTracker_COLUMNS(X) \
  X(eventId, INT32, 0) \
  X(libId, INT32, 0) \
  X(policyId, INT32, 0)

DB_BINDING(NTDvaultTracker, Table, "", "")

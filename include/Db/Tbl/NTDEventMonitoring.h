// Detail of event-log occurrences: the range of event-log message ids.
#pragma once

#include "Db/Binding.h"

#define NTDEventMonitoring_COLUMNS(X) \
  X(eventId, INT32, 0) \
  X(tolvaneEventId_h, INT32, 0) \
  X(tolvaneEventId_l, INT32, 0)

DB_BINDING(NTDEventMonitoring, Table, "", "")

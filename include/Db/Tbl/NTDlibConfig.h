// Detail of library configuration occurrences.
#pragma once

#include "Db/Binding.h"

#define NTDlibConfig_COLUMNS(X) \
  X(eventId, INT32, 0) \
  X(libraryId, INT32, 0) \
  X(comment, CHARS, 1025)

DB_BINDING(NTDlibConfig, Table, "", "")

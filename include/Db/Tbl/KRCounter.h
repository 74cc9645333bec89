// Named counters of the server (the event-log counter among them).
#pragma once

#include "Db/Binding.h"

#define KRCounter_COLUMNS(X) \
  X(id, INT32, 0) \
  X(name, CHARS, 19) \
  X(next_h, INT32, 0) \
  X(next_l, INT32, 0)

DB_BINDING(KRCounter, Table, "id", "id")

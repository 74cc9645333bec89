// Typed parameters of an occurrence, one row per value.
#pragma once

#include "Db/Binding.h"

#define NTDparams_COLUMNS(X) \
  X(eventId, INT32, 0) \
  X(type, INT32, 0) \
  X(value, CHARS, 8001) \
  X(created, INT64, 0)

DB_BINDING(NTDparams, Table, "", "")

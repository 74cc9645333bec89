// The pending occurrence of the same alert on the same object. Inputs: category, alert type, criteria, old condition, entity id.
#pragma once

#include "Db/Binding.h"

#define NTGetExistingEventIdEx_COLUMNS(X) \
  X(rcCode, INT32, 0)

DB_BINDING(NTGetExistingEventIdEx, Query, "", "")

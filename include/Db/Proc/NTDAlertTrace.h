// Records the trace of one event. Inputs: nineteen values (five ints, a text, thirteen ints).
#pragma once

#include "Db/Binding.h"

#define NTDAlertTrace_COLUMNS(X) \
  X(retVal, INT32, 0)

DB_BINDING(NTDAlertTrace, Procedure, "", "")

// Withdraws the pending delayed-job occurrences of one job. Inputs: jobId_h, jobId_l, detail table name.
#pragma once

#include "Db/Binding.h"

#define NTDClearDelayedJobAlert_COLUMNS(X) \
  X(retVal, INT32, 0)

DB_BINDING(NTDClearDelayedJobAlert, Procedure, "", "")

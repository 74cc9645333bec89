// Detail of workflow occurrences.
#pragma once

#include "Db/Binding.h"

#define NTDWorkflow_COLUMNS(X) \
  X(eventId, INT32, 0) \
  X(jobId_h, INT32, 0) \
  X(jobId_l, INT32, 0) \
  X(startTime, DATETIME, 0) \
  X(endTime, DATETIME, 0) \
  X(schedTime, DATETIME, 0) \
  X(workFlowId, INT32, 0) \
  X(clientId, INT32, 0) \
  X(taskId, INT32, 0) \
  X(schedPolicyId, INT32, 0) \
  X(workFlowName, CHARS, 513) \
  X(phaseName, CHARS, 513)

DB_BINDING(NTDWorkflow, Table, "", "")

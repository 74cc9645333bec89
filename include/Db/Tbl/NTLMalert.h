// Detail of log-monitoring occurrences.
#pragma once

#include "Db/Binding.h"

#define NTLMalert_COLUMNS(X) \
  X(eventId, INT32, 0) \
  X(monPolId, INT32, 0) \
  X(comment, TEXT, 0) \
  X(monPolName, TEXT, 0) \
  X(linesMatched, TEXT, 0) \
  X(clientId, INT32, 0) \
  X(monitoringCriteriaId, INT32, 0) \
  X(lineNum, INT32, 0) \
  X(attachedFilePath, TEXT, 0) \
  X(linesAbove, TEXT, 0) \
  X(linesBelow, TEXT, 0) \
  X(jobId, INT32, 0)

DB_BINDING(NTLMalert, Table, "", "")

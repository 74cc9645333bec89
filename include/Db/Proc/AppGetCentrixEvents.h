// Server events of a time window. Inputs: fifteen values.
#pragma once

#include "Db/Binding.h"

#define AppGetCentrixEvents_COLUMNS(X) \
  X(id, INT32, 0) \
  X(messageId, INT32, 0) \
  X(outClientId, INT32, 0) \
  X(clientName, CHARS, 1021) \
  X(displayName, CHARS, 2049) \
  X(severity, INT32, 0) \
  X(outJobId, INT64, 0) \
  X(eventTime, DATETIME, 0) \
  X(subsystem, CHARS, 257) \
  X(type, INT32, 0) \
  X(acknowledge, INT32, 0) \
  X(description, CHARS, 2049) \
  X(eventCodeString, CHARS, 257) \
  X(anomaly, INT32, 0) \
  X(occurance, INT32, 0)

DB_BINDING(AppGetCentrixEvents, Procedure, "", "")

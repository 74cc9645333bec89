// Per-client status of software-distribution jobs (another module's table; read only).
#pragma once

#include "Db/Binding.h"

#define JMMaltrexUpdateStatus_COLUMNS(X) \
  X(jobId, INT32, 0) \
  X(clientId, INT32, 0) \
  X(clientName, CHARS, 511) \
  X(status, INT32, 0) \
  X(category, INT32, 0)

DB_FOREIGN_BINDING(JMMaltrexUpdateStatus, "", "")

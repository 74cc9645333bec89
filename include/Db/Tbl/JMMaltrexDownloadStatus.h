// Updates fetched by download jobs (another module's table; read only).
#pragma once

#include "Db/Binding.h"

#define JMMaltrexDownloadStatus_COLUMNS(X) \
  X(jobId, INT32, 0) \
  X(OSType, INT32, 0) \
  X(MVersion, CHARS, 11) \
  X(isSrvPack, INT32, 0) \
  X(updateNumber, INT32, 0) \
  X(status, INT32, 0)

DB_FOREIGN_BINDING(JMMaltrexDownloadStatus, "", "")

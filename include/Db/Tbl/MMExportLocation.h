// Export locations of media (another module's table; read only).
#pragma once

#include "Db/Binding.h"

#define MMExportLocation_COLUMNS(X) \
  X(ExportLocationId, INT32, 0) \
  X(ExportLocation, WCHARS, 257)

DB_FOREIGN_BINDING(MMExportLocation, "ExportLocationId", "ExportLocationId")

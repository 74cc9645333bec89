// Media (another module's table; read only).
#pragma once

#include "Db/Binding.h"

#define MMMedia_COLUMNS(X) \
  X(MediaId, INT32, 0) \
  X(BarCode, CHARS, 257) \
  X(MediaTypeId, INT32, 0) \
  X(MediaLocation, INT32, 0) \
  X(ExportLocationId, INT32, 0) \
  X(ContainerId, INT32, 0)

DB_FOREIGN_BINDING(MMMedia, "MediaId", "MediaId")

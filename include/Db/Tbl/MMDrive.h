// Drives (another module's table; read only).
#pragma once

#include "Db/Binding.h"

#define MMDrive_COLUMNS(X) \
  X(DriveId, INT32, 0) \
  X(AliasName, WCHARS, 4097)

DB_FOREIGN_BINDING(MMDrive, "", "")

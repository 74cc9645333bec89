// Mount paths of disk media (another module's table; read only).
#pragma once

#include "Db/Binding.h"

#define MMMountPath_COLUMNS(X) \
  X(MediaSideId, INT32, 0) \
  X(MountPathName, WCHARS, 4097)

DB_FOREIGN_BINDING(MMMountPath, "", "")

// Packages installed on clients (another module's table; read only).
#pragma once

#include "Db/Binding.h"

#define SimInstalledPackages_COLUMNS(X) \
  X(ClientId, INT32, 0) \
  X(simPackageID, INT32, 0)

DB_FOREIGN_BINDING(SimInstalledPackages, "", "")

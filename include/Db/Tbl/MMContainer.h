// Media containers (another module's table; read only).
#pragma once

#include "Db/Binding.h"

#define MMContainer_COLUMNS(X) \
  X(ContainerId, INT32, 0) \
  X(ContainerName, WCHARS, 1025)

DB_FOREIGN_BINDING(MMContainer, "", "")

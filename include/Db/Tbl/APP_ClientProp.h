// Client properties (another module's table; read only).
#pragma once

#include "Db/Binding.h"

#define APP_ClientProp_COLUMNS(X) \
  X(componentNameId, INT32, 0) \
  X(attrName, CHARS, 2049) \
  X(attrVal, CHARS, 2049) \
  X(modified, INT64, 0)

DB_FOREIGN_BINDING(APP_ClientProp, "", "")

// Named properties of notification rules; current rows have modified 0.
#pragma once

#include "Db/Binding.h"

#define NTnotificationProp_COLUMNS(X) \
  X(id, INT32, 0) \
  X(componentNameId, INT32, 0) \
  X(attrName, TEXT, 0) \
  X(attrType, INT32, 0) \
  X(attrVal, TEXT, 0) \
  X(created, INT64, 0) \
  X(modified, INT64, 0)

DB_BINDING(NTnotificationProp, Table, "id", "id")

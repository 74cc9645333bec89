// Alert types and their categories (only the columns the detector reads).
#pragma once

#include "Db/Binding.h"

#define NTAlertType_COLUMNS(X) \
  X(id, INT32, 0) \
  X(categoryID, INT32, 0)

DB_BINDING(NTAlertType, Table, "", "")

// The first six result columns of a custom-query occurrence.
#pragma once

#include "Db/Binding.h"

#define NTDQueryResults_COLUMNS(X) \
  X(EventId, INT32, 0) \
  X(QueryId, INT32, 0) \
  X(columIndex0, TEXT, 0) \
  X(columIndex1, TEXT, 0) \
  X(columIndex2, TEXT, 0) \
  X(columIndex3, TEXT, 0) \
  X(columIndex4, TEXT, 0) \
  X(columIndex5, TEXT, 0)

DB_BINDING(NTDQueryResults, Table, "", "")

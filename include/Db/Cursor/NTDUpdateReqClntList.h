// Clients stored as a client-id list parameter of an occurrence. Inputs: event id, parameter type.
#pragma once

#include "Db/Binding.h"

#define NTDUpdateReqClntList_COLUMNS(X) \
  X(id, INT32, 0) \
  X(name, CHARS, 511) \
  X(release, CHARS, 129) \
  X(platform, INT32, 0)

DB_BINDING(NTDUpdateReqClntList, Query, "", "")

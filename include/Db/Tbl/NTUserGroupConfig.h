// Detail of user-group occurrences.
#pragma once

#include "Db/Binding.h"

#define NTUserGroupConfig_COLUMNS(X) \
  X(eventId, INT32, 0) \
  X(userGroupId, INT32, 0) \
  X(userGroupName, CHARS, 511) \
  X(evGuiAuditOperation, INT32, 0)

DB_BINDING(NTUserGroupConfig, Table, "", "")

// Detail of client, agent and MediaAgent configuration occurrences.
#pragma once

#include "Db/Binding.h"

#define NTDclntAgentMAConfig_COLUMNS(X) \
  X(eventId, INT32, 0) \
  X(clientId, INT32, 0) \
  X(appTypeId, INT32, 0) \
  X(instanceId, INT32, 0) \
  X(backupSetId, INT32, 0) \
  X(subClientId, INT32, 0) \
  X(mediaAgentId, INT32, 0) \
  X(comment, CHARS, 1025) \
  X(exJorMsgCount, INT32, 0) \
  X(jorMBName, CHARS, 513) \
  X(freeSpace, INT32, 0) \
  X(threshold, INT32, 0) \
  X(fileSize, INT32, 0) \
  X(lastActivity, DATETIME, 0) \
  X(evGuiAuditOperation, INT32, 0)

DB_BINDING(NTDclntAgentMAConfig, Table, "", "")

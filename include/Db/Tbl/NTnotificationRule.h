// Notification rules; status bits 0 and 1 switch a rule off.
#pragma once

#include "Db/Binding.h"

#define NTnotificationRule_COLUMNS(X) \
  X(id, INT32, 0) \
  X(categoryId, INT32, 0) \
  X(alertTypeId, INT32, 0) \
  X(notificationName, CHARS, 257) \
  X(revision, INT32, 0) \
  X(lastModified, INT32, 0) \
  X(description, CHARS, 2049) \
  X(notifType, INT32, 0) \
  X(notifOwner, INT32, 0) \
  X(locale, INT32, 0) \
  X(status, INT32, 0) \
  X(ruleState, INT32, 0) \
  X(ruleState2, INT32, 0) \
  X(lastTimeTriggered, DATETIME, 0) \
  X(lastTimeTriggered2, DATETIME, 0) \
  X(lastTimeChecked, DATETIME, 0) \
  X(hasAttachments, INT32, 0) \
  X(hasAttachments2, INT32, 0) \
  X(xmlEntityList, TEXT, 0) \
  X(origZTId, INT32, 0) \
  X(GUID, CHARS, 65)

DB_BINDING(NTnotificationRule, Table, "id", "id")

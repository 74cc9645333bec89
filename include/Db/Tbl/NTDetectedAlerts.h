// One detected occurrence of an alert; eventId is assigned on insert.
#pragma once

#include "Db/Binding.h"

#define NTDetectedAlerts_COLUMNS(X) \
  X(eventId, INT32, 0) \
  X(criteria, INT32, 0) \
  X(alertType, INT32, 0) \
  X(category, INT32, 0) \
  X(status, INT32, 0) \
  X(processStat, INT32, 0) \
  X(occurTime, DATETIME, 0) \
  X(processTime, DATETIME, 0) \
  X(ntNotificationId, INT32, 0) \
  X(entityId, TEXT, 0) \
  X(nextTriggerTime, DATETIME, 0)

DB_BINDING(NTDetectedAlerts, Table, "eventId", "eventId")

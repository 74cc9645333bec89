// Saved queries attached to notification rules.
#pragma once

#include "Db/Binding.h"

#define NTNotificationQueryMapping_COLUMNS(X) \
  X(QueryId, INT32, 0) \
  X(NtNotificationId, INT32, 0) \
  X(nextRunTime, DATETIME, 0) \
  X(lastRunTime, DATETIME, 0) \
  X(isScheduled, INT32, 0) \
  X(taskId, INT32, 0) \
  X(criteriaXML, TEXT, 0) \
  X(xmlInfo, TEXT, 0) \
  X(queryCriteriaString, TEXT, 0) \
  X(queryParamDisplayString, TEXT, 0)

DB_BINDING(NTNotificationQueryMapping, Table, "", "")

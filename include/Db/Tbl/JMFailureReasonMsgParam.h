// Failure-reason message arguments of jobs (another module's table; read only).
#pragma once

#include "Db/Binding.h"

#define JMFailureReasonMsgParam_COLUMNS(X) \
  X(msgId, INT32, 0) \
  X(eventid, INT32, 0) \
  X(position, INT32, 0) \
  X(type, INT32, 0) \
  X(size, INT32, 0) \
  X(data, CHARS, 2047)

DB_FOREIGN_BINDING(JMFailureReasonMsgParam, "", "")

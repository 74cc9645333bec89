// Arguments of the messages an occurrence carries.
#pragma once

#include "Db/Binding.h"

#define NTDMsgParam_COLUMNS(X) \
  X(tokenId, INT32, 0) \
  X(eventId, INT32, 0) \
  X(msgIndex, INT32, 0) \
  X(msgId, INT32, 0) \
  X(position, INT32, 0) \
  X(type, INT32, 0) \
  X(size, INT32, 0) \
  X(data, CHARS, 2049)

DB_BINDING(NTDMsgParam, Table, "", "")

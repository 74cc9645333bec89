// Formats a catalogue message. Inputs: three ints.
#pragma once

#include "Db/Binding.h"

#define NTFormatLocaleMsg_COLUMNS(X) \
  X(r_MsgTxt, CHARS, 8001)

DB_BINDING(NTFormatLocaleMsg, Procedure, "", "")

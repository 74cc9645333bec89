// One parameter value of an occurrence. Inputs: event id, parameter type.
#pragma once

#include "Db/Binding.h"

#define NTGetEventParam_COLUMNS(X) \
  X(eventParam, TEXT, 0)

DB_BINDING(NTGetEventParam, Procedure, "", "")

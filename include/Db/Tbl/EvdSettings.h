// The host's settings: flags, configuration numbers, global parameters and
// client properties, as section/name/value text (host/NxSettings.h).
#pragma once

#include "Db/Binding.h"

#define EvdSettings_COLUMNS(X) \
  X(section, CHARS, 256) \
  X(name, CHARS, 256) \
  X(value, TEXT, 0)

DB_BINDING(EvdSettings, Table, "section,name", "")

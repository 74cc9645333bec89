// The client hosting the web console and its address. No inputs.
#pragma once

#include "Db/Binding.h"

#define APPGetWebConsoleURL_COLUMNS(X) \
  X(webconsoleClientId, INT32, 0) \
  X(webConsoleURL, TEXT, 0)

DB_BINDING(APPGetWebConsoleURL, Procedure, "", "")

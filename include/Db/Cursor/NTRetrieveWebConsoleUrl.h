// The web console address from the web server registrations. No inputs.
#pragma once

#include "Db/Binding.h"

#define NTRetrieveWebConsoleUrl_COLUMNS(X) \
  X(webConsoleUrl, TEXT, 0)

DB_BINDING(NTRetrieveWebConsoleUrl, Query, "", "")

// The monitoring-page link of a trend alert. Inputs: notification id, name-value list (XML), trend text, console address.
#pragma once

#include "Db/Binding.h"

#define NTRetrieveBrowserUrlForTrendAlert_COLUMNS(X) \
  X(trendDataUrl, TEXT, 0)

DB_BINDING(NTRetrieveBrowserUrlForTrendAlert, Query, "", "")

// The settings store of host/NxSettings.h over the table EvdSettings, on the
// calling thread's connection. Db::configure installs it.
#pragma once

#include "host/NxSettings.h"

namespace Db::detail {

SettingsStore& databaseSettings();

}  // namespace Db::detail

// Handler slots whose handlers have not been built yet. Each answers false
// so that an event of such a type is reported, never silently recorded as
// done. A handler that lands moves its definition out of this file.
#include "host/EvAlertDebug.h"
#include "detector/EvNDetector.h"
#include "host/EvAlertEx.h"

namespace {

bool notBuilt(const char* handler, const EvNDetector& d) {
  EvAlertDebug log;
  log.DebugLvl(handler, 3, "No handler is available yet for alert type [%d], criteria [%d]; event not recorded.",
               d.getAlertType(), d.getCriteria());
  return false;
}

}  // namespace


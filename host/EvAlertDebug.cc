#include "host/EvAlertDebug.h"

#include <atomic>
#include <ctime>

#include "host/EvEvent.h"
#include "host/NxPlatform.h"
#include "host/NxSettings.h"  // the name of the "Alerts" level only

EvDebugFileInstance alertInstance;
NxCriticalSection cslock;

bool EvAlertDebug::createAlertsLog = true;
bool EvAlertDebug::isInitDone = false;
long long EvAlertDebug::lastRegCheck = 0;

namespace {

std::atomic<EvAlertDebug::Clock> g_clock{nullptr};

// A check that reads the settings must not start another one on the same
// thread (cslock is recursive, so it would not block).
thread_local bool t_checking = false;

}  // namespace

EvAlertDebug::Clock EvAlertDebug::setClock(Clock clock) { return g_clock.exchange(clock); }

long long EvAlertDebug::now() {
  Clock c = g_clock.load();
  return c ? c() : static_cast<long long>(std::time(nullptr));
}

EvAlertDebug::EvAlertDebug() : EvDebug(nullptr) {
  CheckRegistrySettings();
  if (createAlertsLog) attach(&alertInstance);
}

EvAlertDebug::~EvAlertDebug() = default;

void EvAlertDebug::CheckRegistrySettings() {
  if (t_checking) return;
  try {
    NxCriticalSectionLock guard(&cslock);
    const long long t = now();
    if (lastRegCheck + kRecheckSeconds >= t) return;
    t_checking = true;
    if (createAlertsLog && !isInitDone) {
      attach(&alertInstance);
      NXPI_Focus::setFocus(NXPI_Focus::getFocus());
      initialize(kModuleId, 0, false, "");
      isInitDone = true;
    }
    if (createAlertsLog) {
      attach(&alertInstance);
      const int current = getDebugLevel();
      int level = getAppDebugLevel(EvdSetting::kAlertsApp);
      if (level != current) {
        if (level < 1) level = 1;
        if (level > EvDebugFileInstance::kMaxLevel) level = EvDebugFileInstance::kMaxLevel;
        if (level != current) {
          // Set first and write at level 1, so the line shows whatever the
          // new level is.
          setDebugLevel(level);
          DebugLvl("EvAlertDebug::CheckRegistrySettings", 1, "DebugLevel Changed from [%d] to [%d]", current, level);
        }
      }
    }
    lastRegCheck = t;
  } catch (...) {
    // A failed check leaves the level as it was; the next writer retries.
  }
  t_checking = false;
}

void EvAlertDebug::printToken(const char* function, unsigned long token, const char* value) {
  if (getDebugLevel() <= 9) return;
  char buffer[2048] = {};
  EvEvent event;
  event.evPrintf(token, buffer, sizeof buffer, 0);
  DebugLvl(function, 10, "token: %s value: %s", buffer, value ? value : "");
}

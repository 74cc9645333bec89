// The detector's alert-log writer. Every detector function makes one on
// entry; it follows the configured "Alerts" level, re-read at most once a
// minute for the whole process. Where the level comes from is installed
// from above (EvDebug::setAppDebugLevelSource): the settings store lives on
// top of the database layer, which this layer must not reach.
#pragma once

#include "host/EvDebug.h"
#include "host/NxLocks.h"

class EvAlertDebug : public EvDebug {
 public:
  // Source of the current time in seconds since 1970.
  using Clock = long long (*)();

  static constexpr long long kRecheckSeconds = 60;
  static constexpr int kModuleId = 125962221;

  EvAlertDebug();
  ~EvAlertDebug() override;

  // Initialises the alert log on first use and takes over a changed
  // configured level (clamped to 1..10), at most once per kRecheckSeconds.
  void CheckRegistrySettings();
  // At level 10: logs the text of catalogue message TOKEN with VALUE.
  void printToken(const char* function, unsigned long token, const char* value);

  // Write into alertInstance; the host may switch it off before the first event.
  static bool createAlertsLog;
  static bool isInitDone;
  // When the configured level was last read (seconds since 1970).
  static long long lastRegCheck;

  // The host's clock, read for the alert log and for every time the
  // detector stores (detection, parameter and rule times). Replaces the
  // time source (null restores the system clock); returns the previous one.
  static Clock setClock(Clock clock);
  static long long now();
};

// The alert log's file instance and the guard of the configuration check.
extern EvDebugFileInstance alertInstance;
extern NxCriticalSection cslock;

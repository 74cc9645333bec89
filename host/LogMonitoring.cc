#include "host/LogMonitoring.h"

#include <atomic>
#include <mutex>

#include "host/EvAlertDebug.h"

namespace {

std::atomic<long long> g_calls{0};
std::once_flag g_registered;
std::atomic<bool> g_isRegistered{false};

}  // namespace

void LogMonitoring::RegisterSubsystem() {
  g_calls.fetch_add(1, std::memory_order_relaxed);
  std::call_once(g_registered, [] {
    g_isRegistered.store(true);
    EvAlertDebug log;
    log.DebugLvl("LogMonitoring::RegisterSubsystem", 8, "Log monitoring subsystem registered");
  });
}

long long LogMonitoring::registerCalls() { return g_calls.load(std::memory_order_relaxed); }

bool LogMonitoring::isRegistered() { return g_isRegistered.load(); }

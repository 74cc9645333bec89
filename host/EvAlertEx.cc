#include "host/EvAlertEx.h"

#include <atomic>
#include <string>

#include "host/EvDebug.h"
#include "host/event_json.h"

namespace {

// Level of the dump line: the record is long, so only a verbose log gets it.
constexpr int kDumpLevel = 10;

std::atomic<EvDebugFileInstance*> g_logInstance{nullptr};

}  // namespace

void EvAlertEx::setLogInstance(EvDebugFileInstance* instance) { g_logInstance.store(instance); }

EvDebugFileInstance* EvAlertEx::logInstance() { return g_logInstance.load(); }

bool EvAlertEx::DumpAlert(const char* label) const {
  EvDebug log(g_logInstance.load());
  return DumpAlert(label, log);
}

bool EvAlertEx::DumpAlert(const char* label, EvDebug& log) const {
  try {
    if (!log.enabled(kDumpLevel)) return false;
    const std::string line = eventToJson(*this);
    if (line.empty()) return false;
    log.DebugLvl(label ? label : "EvAlertEx::DumpAlert", kDumpLevel, "Alert event: %s", line.c_str());
    return true;
  } catch (...) {
    return false;
  }
}

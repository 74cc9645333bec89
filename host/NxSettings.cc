#include "host/NxSettings.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>

#include "host/NxLog.h"

namespace {

std::atomic<SettingsStore*> g_store{nullptr};

bool validKey(const std::string& key) { return !key.empty() && key.size() <= EvdSetting::kMaxKeyLength; }

// Runs OP on the installed store. This is where the promise that no call
// throws is kept: the store and the strings it fills may run out of memory.
template <class Op>
int withStore(std::string* error, Op&& op) {
  SettingsStore* store = g_store.load();
  try {
    if (store == nullptr) {
      if (error) *error = "no database is configured to hold the settings";
      return EvdSetting::kNoStore;
    }
    return op(*store);
  } catch (...) {
    if (error) *error = "out of memory";  // short enough to need no allocation
    return EvdSetting::kUsage;
  }
}

int usage(std::string* error) {
  if (error) *error = "a setting's section and name must be 1 to 255 bytes";
  return EvdSetting::kUsage;
}

}  // namespace

namespace EvdSetting {

std::string trimmed(const std::string& text) {
  const char* ws = " \t\r\n";
  const size_t b = text.find_first_not_of(ws);
  if (b == std::string::npos) return std::string();
  return text.substr(b, text.find_last_not_of(ws) - b + 1);
}

bool parseSigned(const std::string& text, long long& out) {
  const std::string t = trimmed(text);
  if (t.empty()) return false;
  errno = 0;
  char* end = nullptr;
  const long long v = std::strtoll(t.c_str(), &end, 10);
  if (errno != 0 || end == t.c_str() || *end != '\0') return false;
  out = v;
  return true;
}

bool parseUnsigned(const std::string& text, unsigned long& out) {
  const std::string t = trimmed(text);
  if (t.empty() || t[0] == '-' || t[0] == '+') return false;
  errno = 0;
  char* end = nullptr;
  const unsigned long v = std::strtoul(t.c_str(), &end, 0);
  if (errno != 0 || end == t.c_str() || *end != '\0') return false;
  out = v;
  return true;
}

}  // namespace EvdSetting

SettingsStore* Settings::setStore(SettingsStore* store) { return g_store.exchange(store); }

int Settings::get(const std::string& section, const std::string& name, std::string& value, std::string* error) {
  return withStore(error, [&](SettingsStore& s) {
    return validKey(section) && validKey(name) ? s.get(section, name, value, error) : usage(error);
  });
}

int Settings::set(const std::string& section, const std::string& name, const std::string& value, std::string* error) {
  return withStore(error, [&](SettingsStore& s) {
    return validKey(section) && validKey(name) ? s.set(section, name, value, error) : usage(error);
  });
}

int Settings::remove(const std::string& section, const std::string& name, std::string* error) {
  return withStore(error, [&](SettingsStore& s) {
    return validKey(section) && validKey(name) ? s.remove(section, name, error) : usage(error);
  });
}

int Settings::list(std::vector<Entry>& out, std::string* error) {
  const int rc = withStore(error, [&](SettingsStore& s) { return s.list(nullptr, out, error); });
  if (rc != 0) out.clear();
  return rc;
}

int Settings::listSection(const std::string& section, std::vector<Entry>& out, std::string* error) {
  const int rc = withStore(error, [&](SettingsStore& s) {
    return validKey(section) ? s.list(&section, out, error) : usage(error);
  });
  if (rc != 0) out.clear();
  return rc;
}

int Settings::getLogged(const char* section, const char* name, std::string& value) {
  std::string error;
  const int rc = get(section ? section : "", name ? name : "", value, &error);
  if (rc != 0 && rc != EvdSetting::kNoData)
    log_error(__FILE__, __LINE__, "Cannot read setting [%s/%s]: error [%d] %s", section ? section : "",
              name ? name : "", rc, error.c_str());
  return rc;
}

int Settings::appDebugLevel(const char* app, int* level) {
  if (app == nullptr || level == nullptr) return EvdSetting::kUsage;
  std::string value;
  const int rc = getLogged(EvdSetting::kDebugLevelSection, app, value);
  if (rc != 0) return rc;
  long long v = 0;
  if (!EvdSetting::parseSigned(value, v)) {
    log_error(__FILE__, __LINE__, "Setting [%s/%s] is not a number: [%s]", EvdSetting::kDebugLevelSection, app,
              value.c_str());
    return EvdSetting::kBadValue;
  }
  *level = v < INT_MIN ? INT_MIN : v > INT_MAX ? INT_MAX : static_cast<int>(v);
  return 0;
}

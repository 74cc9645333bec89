// The settings of host/NxSettings.h and the platform objects of
// host/NxPlatform.h that read them, over the EvdSettings binding.
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "Db/Tbl/EvdSettings.h"
#include "host/EvDebug.h"
#include "host/NxLog.h"
#include "host/NxPlatform.h"
#include "host/NxSettings.h"

namespace {

bool validKey(const std::string& key) { return !key.empty() && key.size() <= EvdSetting::kMaxKeyLength; }

int fail(const DBtable& t, int rc, std::string* error) {
  if (error) *error = t.getErrorStr(rc);
  return rc;
}

int usage(std::string* error) {
  if (error) *error = "a setting's section and name must be 1 to 255 bytes";
  return DB_ERR_USAGE;
}

std::string trimmed(const std::string& text) {
  const char* ws = " \t\r\n";
  const size_t b = text.find_first_not_of(ws);
  if (b == std::string::npos) return std::string();
  return text.substr(b, text.find_last_not_of(ws) - b + 1);
}

// The whole text as a signed decimal; false for anything else.
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

// The whole text as an unsigned decimal or 0x-hexadecimal; a sign is refused
// rather than wrapped around.
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

int toInt(long long v) {
  if (v < INT_MIN) return INT_MIN;
  if (v > INT_MAX) return INT_MAX;
  return static_cast<int>(v);
}

// A setting read on behalf of a platform object: errors other than "absent"
// leave a line in the log, since those objects answer with a flag only.
int readLogged(const char* section, const char* name, std::string& value) {
  std::string error;
  const int rc = Settings::get(section ? section : "", name ? name : "", value, &error);
  if (rc != 0 && rc != DB_NO_DATA)
    log_error(__FILE__, __LINE__, "Cannot read setting [%s/%s]: error [%d] %s", section ? section : "",
              name ? name : "", rc, error.c_str());
  return rc;
}

// 1 when the flag's value is the number 1, else 0.
int flag(const char* name) {
  std::string value;
  long long v = 0;
  return readLogged(EvdSetting::kServerSection, name, value) == 0 && parseSigned(value, v) && v == 1 ? 1 : 0;
}

}  // namespace

// ---- Settings ----

int Settings::get(const std::string& section, const std::string& name, std::string& value, std::string* error) {
  try {
    if (!validKey(section) || !validKey(name)) return usage(error);
    EvdSettings t(nullptr);
    t.setWhere("section = '%s' AND name = '%s'", section.c_str(), name.c_str());
    const int rc = t.getOneRow();
    if (rc == DB_NO_DATA) return rc;
    // Keys are at most 255 bytes, so only an oversized stored key can come
    // back cut; the value column has no limit.
    if (!DBrowRead(rc)) return fail(t, rc, error);
    const char* v = t.getDataPtr()->value;
    value = v ? v : "";
    return 0;
  } catch (...) {
    if (error) *error = "out of memory";
    return DB_ERR_USAGE;
  }
}

int Settings::set(const std::string& section, const std::string& name, const std::string& value, std::string* error) {
  try {
    if (!validKey(section) || !validKey(name)) return usage(error);
    EvdSettings upd(nullptr);
    upd.setWhere("section = '%s' AND name = '%s'", section.c_str(), name.c_str());
    int rc = upd.rowUpdate("value = '%s'", value.c_str());
    if (rc == 0) return 0;
    if (rc != DB_NO_DATA) return fail(upd, rc, error);
    EvdSettings ins(nullptr);
    EvdSettings_t* r = ins.getDataPtr();
    dbCopyText(r->section, section.c_str());
    dbCopyText(r->name, name.c_str());
    Db::assignText(r->value, value.c_str());
    rc = ins.rowInsert(false);
    if (rc == 0) return 0;
    // Another writer may have created the entry between our update and
    // insert; then the update finds it now.
    const int again = upd.rowUpdate("value = '%s'", value.c_str());
    if (again == 0) return 0;
    return fail(ins, rc, error);
  } catch (...) {
    if (error) *error = "out of memory";
    return DB_ERR_USAGE;
  }
}

int Settings::remove(const std::string& section, const std::string& name, std::string* error) {
  try {
    if (!validKey(section) || !validKey(name)) return usage(error);
    EvdSettings t(nullptr);
    t.setWhere("section = '%s' AND name = '%s'", section.c_str(), name.c_str());
    const int rc = t.rowDelete();
    if (rc == 0 || rc == DB_NO_DATA) return rc;
    return fail(t, rc, error);
  } catch (...) {
    if (error) *error = "out of memory";
    return DB_ERR_USAGE;
  }
}

int Settings::list(std::vector<Entry>& out, std::string* error) {
  try {
    out.clear();
    EvdSettings t(nullptr);
    t.setOrderBy("section, name");
    int counter = 0;
    int rc;
    while (DBrowRead(rc = t.getNextRow(&counter))) {
      const EvdSettings_t* r = t.getDataPtr();
      out.push_back(Entry{r->section, r->name, r->value ? r->value : ""});
    }
    if (rc == DB_NO_DATA) return 0;
    out.clear();
    return fail(t, rc, error);
  } catch (...) {
    out.clear();
    if (error) *error = "out of memory";
    return DB_ERR_USAGE;
  }
}

int Settings::appDebugLevel(const char* app, int* level) {
  if (app == nullptr || level == nullptr) return DB_ERR_USAGE;
  std::string value;
  const int rc = readLogged(EvdSetting::kDebugLevelSection, app, value);
  if (rc != 0) return rc;
  long long v = 0;
  if (!parseSigned(value, v)) {
    log_error(__FILE__, __LINE__, "Setting [%s/%s] is not a number: [%s]", EvdSetting::kDebugLevelSection, app,
              value.c_str());
    return EvdSetting::kBadValue;
  }
  *level = toInt(v);
  return 0;
}

namespace {
// The alert log sits below the database layer and cannot read settings
// itself; it is handed this reader as soon as the settings store is linked
// in (every program that runs the detector links it).
[[maybe_unused]] const EvDebug::AppLevelSource g_previousLevelSource =
    EvDebug::setAppDebugLevelSource(&Settings::appDebugLevel);
}  // namespace

// ---- platform objects ----

int NXPI_CentrixServer::getBlockAlerts() const {
  try {
    return flag(EvdSetting::kBlockAlerts);
  } catch (...) {
    return 0;
  }
}

int NXPI_CentrixServer::getTraceAlerts() const {
  try {
    return flag(EvdSetting::kTraceAlerts);
  } catch (...) {
    return 0;
  }
}

int NXPlatformInfo::getNumber(const char* section, const char* name, unsigned long* value) {
  try {
    if (value == nullptr) return DB_ERR_USAGE;
    std::string text;
    const int rc = readLogged(section, name, text);
    if (rc != 0) return rc;
    unsigned long v = 0;
    if (!parseUnsigned(text, v)) return EvdSetting::kBadValue;
    *value = v;
    return 0;
  } catch (...) {
    return DB_ERR_USAGE;
  }
}

int NXGlobalParam::getNTAlertLastEventId(int& id, void*) {
  try {
    std::string text;
    const int rc = readLogged(EvdSetting::kGlobalParamSection, EvdSetting::kNTAlertLastEventId, text);
    if (rc == DB_NO_DATA) {
      id = 0;
      return 0;
    }
    if (rc != 0) return rc;
    long long v = 0;
    if (!parseSigned(text, v) || v < INT_MIN || v > INT_MAX) return EvdSetting::kBadValue;
    id = static_cast<int>(v);
    return 0;
  } catch (...) {
    return DB_ERR_USAGE;
  }
}

int NXGlobalParam::setNTAlertLastEventId(int id, void*) {
  try {
    std::string error;
    const int rc = Settings::set(EvdSetting::kGlobalParamSection, EvdSetting::kNTAlertLastEventId,
                                 std::to_string(id), &error);
    if (rc != 0)
      log_error(__FILE__, __LINE__, "Cannot write setting [%s/%s]: error [%d] %s", EvdSetting::kGlobalParamSection,
                EvdSetting::kNTAlertLastEventId, rc, error.c_str());
    return rc;
  } catch (...) {
    return DB_ERR_USAGE;
  }
}

int NXGlobalParam::getWebConsoleURL(std::string& url, void*) {
  try {
    std::string text;
    const int rc = readLogged(EvdSetting::kGlobalParamSection, EvdSetting::kWebConsoleURL, text);
    if (rc != 0) return rc;
    text = trimmed(text);
    if (text.empty()) return DB_NO_DATA;
    url = text;
    return 0;
  } catch (...) {
    return DB_ERR_USAGE;
  }
}

ClientProperties::ClientProperties(unsigned int clientId) : clientId_(clientId) {
  try {
    const std::string sect = section(clientId);
    EvdSettings t(nullptr);
    t.setWhere("section = '%s'", sect.c_str());
    int counter = 0;
    int rc;
    while (DBrowRead(rc = t.getNextRow(&counter))) {
      const EvdSettings_t* r = t.getDataPtr();
      const char* v = r->value ? r->value : "";
      if (std::strcmp(r->name, EvdSetting::kVMInstanceUUID) == 0) {
        uuid_ = v;
        hasUuid_ = true;
      } else if (std::strcmp(r->name, EvdSetting::kPersonalWorkstation) == 0) {
        workstation_ = v;
        hasWorkstation_ = true;
      }
    }
    readResult_ = rc == DB_NO_DATA ? 0 : rc;
    if (readResult_ != 0)
      log_error(__FILE__, __LINE__, "Cannot read the properties of client [%u]: error [%d] %s", clientId, rc,
                t.getErrorStr(rc));
  } catch (...) {
    readResult_ = DB_ERR_USAGE;
  }
}

std::string ClientProperties::section(unsigned int clientId) {
  return EvdSetting::kClientSectionPrefix + std::to_string(clientId);
}

int ClientProperties::getVMInstanceUUID(std::string& uuid, void*) const {
  if (readResult_ != 0) return readResult_;
  const std::string v = trimmed(uuid_);
  if (!hasUuid_ || v.empty()) return DB_NO_DATA;
  uuid = v;
  return 0;
}

int ClientProperties::getPersonalWorkstation(int& flagOut, void*) const {
  if (readResult_ != 0) return readResult_;
  if (!hasWorkstation_) return DB_NO_DATA;
  long long v = 0;
  if (!parseSigned(workstation_, v)) return EvdSetting::kBadValue;
  flagOut = toInt(v);
  return 0;
}

#include "host/NxPlatform.h"

#include <climits>
#include <mutex>

#include "host/NxLog.h"
#include "host/NxSettings.h"

namespace {
std::mutex& focusMutex() {
  static std::mutex m;
  return m;
}
std::string& focusName() {
  static std::string name = NXPI_Focus::kDefaultFocus;
  return name;
}

int toInt(long long v) {
  if (v < INT_MIN) return INT_MIN;
  if (v > INT_MAX) return INT_MAX;
  return static_cast<int>(v);
}

// 1 when the server flag's value is the number 1, else 0.
int flag(const char* name) {
  try {
    std::string value;
    long long v = 0;
    return Settings::getLogged(EvdSetting::kServerSection, name, value) == 0 &&
                   EvdSetting::parseSigned(value, v) && v == 1
               ? 1
               : 0;
  } catch (...) {
    return 0;
  }
}

}  // namespace

std::string NXPI_Focus::getFocus() {
  try {
    std::lock_guard<std::mutex> lk(focusMutex());
    return focusName();
  } catch (...) {
    return kDefaultFocus;
  }
}

void NXPI_Focus::setFocus(const std::string& name) {
  try {
    std::lock_guard<std::mutex> lk(focusMutex());
    focusName() = name.empty() ? std::string(kDefaultFocus) : name;
  } catch (...) {
  }
}

int NXPI_CentrixServer::getBlockAlerts() const { return flag(EvdSetting::kBlockAlerts); }

int NXPI_CentrixServer::getTraceAlerts() const { return flag(EvdSetting::kTraceAlerts); }

int NXPlatformInfo::getNumber(const char* section, const char* name, unsigned long* value) {
  if (value == nullptr) return EvdSetting::kUsage;
  try {
    std::string text;
    const int rc = Settings::getLogged(section, name, text);
    if (rc != 0) return rc;
    unsigned long v = 0;
    if (!EvdSetting::parseUnsigned(text, v)) return EvdSetting::kBadValue;
    *value = v;
    return 0;
  } catch (...) {
    return EvdSetting::kUsage;
  }
}

int NXGlobalParam::getNTAlertLastEventId(int& id, void*) {
  try {
    std::string text;
    const int rc = Settings::getLogged(EvdSetting::kGlobalParamSection, EvdSetting::kNTAlertLastEventId, text);
    if (rc == EvdSetting::kNoData) {
      id = 0;
      return 0;
    }
    if (rc != 0) return rc;
    long long v = 0;
    if (!EvdSetting::parseSigned(text, v) || v < INT_MIN || v > INT_MAX) return EvdSetting::kBadValue;
    id = static_cast<int>(v);
    return 0;
  } catch (...) {
    return EvdSetting::kUsage;
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
    return EvdSetting::kUsage;
  }
}

int NXGlobalParam::getWebConsoleURL(std::string& url, void*) {
  try {
    std::string text;
    const int rc = Settings::getLogged(EvdSetting::kGlobalParamSection, EvdSetting::kWebConsoleURL, text);
    if (rc != 0) return rc;
    text = EvdSetting::trimmed(text);
    if (text.empty()) return EvdSetting::kNoData;
    url = text;
    return 0;
  } catch (...) {
    return EvdSetting::kUsage;
  }
}

ClientProperties::ClientProperties(unsigned int clientId) : m_clientId(clientId) {
  try {
    std::vector<Settings::Entry> entries;
    std::string error;
    m_readResult = Settings::listSection(section(clientId), entries, &error);
    if (m_readResult != 0) {
      log_error(__FILE__, __LINE__, "Cannot read the properties of client [%u]: error [%d] %s", clientId,
                m_readResult, error.c_str());
      return;
    }
    for (const Settings::Entry& e : entries) {
      if (e.name == EvdSetting::kVMInstanceUUID) {
        m_uuid = e.value;
        m_hasUuid = true;
      } else if (e.name == EvdSetting::kPersonalWorkstation) {
        m_workstation = e.value;
        m_hasWorkstation = true;
      }
    }
  } catch (...) {
    m_readResult = EvdSetting::kUsage;
  }
}

std::string ClientProperties::section(unsigned int clientId) {
  return EvdSetting::kClientSectionPrefix + std::to_string(clientId);
}

int ClientProperties::getVMInstanceUUID(std::string& uuid, void*) const {
  if (m_readResult != 0) return m_readResult;
  const std::string v = EvdSetting::trimmed(m_uuid);
  if (!m_hasUuid || v.empty()) return EvdSetting::kNoData;
  uuid = v;
  return 0;
}

int ClientProperties::getPersonalWorkstation(int& flagOut, void*) const {
  if (m_readResult != 0) return m_readResult;
  if (!m_hasWorkstation) return EvdSetting::kNoData;
  long long v = 0;
  if (!EvdSetting::parseSigned(m_workstation, v)) return EvdSetting::kBadValue;
  flagOut = toInt(v);
  return 0;
}

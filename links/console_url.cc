// Console addresses: the web console address for the trend alerts, and the
// admin console address every entity link starts from.
//
// The admin console normally runs beside the web console on the central
// server, whose address is a global parameter; when it runs on another
// client the address comes from the application tables and is cached for
// the whole process while that client still carries the console package.
#include <string>

#include "Db/AllBindings.h"
#include "detector/EvNDetector.h"
#include "host/EvAlertDebug.h"
#include "host/NxPlatform.h"

namespace {

constexpr const char* kWebConsole = "/webconsole";
constexpr const char* kAdminConsole = "/adminconsole";
// The package that puts the admin console on a client.
constexpr int kAdminConsolePackage = 726;

// The admin console found through the application tables, shared by every
// detector of the process. Set together, never cleared; the host calls one
// detector at a time, so only the first construction needs a guard (the
// function-local static gives it).
struct AdminConsoleCache {
  std::string url;
  int clientId = 0;
};

AdminConsoleCache& adminConsoleCache() {
  static AdminConsoleCache cache;
  return cache;
}

// Replaces the last "/webconsole" of URL by "/adminconsole"; false when
// there is none.
bool toAdminConsole(std::string& url) {
  const std::string::size_type at = url.rfind(kWebConsole);
  if (at == std::string::npos) return false;
  url.replace(at, std::char_traits<char>::length(kWebConsole), kAdminConsole);
  return true;
}

}  // namespace

int EvNDetector::getDefaultWebConsoleURL(std::string& url) {
  EvAlertDebug log;
  const char* label = "EvNDetector::getDefaultWebConsoleURL";
  const int rc = NXGlobalParam::getWebConsoleURL(url, nullptr);
  if (rc != 0) {
    log.Error(label, "Could not find webconsole URL from krglobalparam [%d]", rc);
    return rc;
  }
  const std::string::size_type at = url.rfind(kWebConsole);
  if (at == std::string::npos) {
    log.Error(label, "Could not find proper webconsole URL [%s]", url.c_str());
    return 1;
  }
  url.erase(at + std::char_traits<char>::length(kWebConsole));
  return 0;
}

int EvNDetector::fetchNonCXAdminConsoleURL(std::string& url) {
  EvAlertDebug log;
  const char* label = "EvNDetector::fetchNonCXAdminConsoleURL";
  AdminConsoleCache& cache = adminConsoleCache();
  if (cache.clientId > 0 && !cache.url.empty()) {
    SimInstalledPackages packages(nullptr);
    packages.setIsolationType(4);
    packages.setWhere("ClientId = %d and simPackageID = %d", cache.clientId, kAdminConsolePackage);
    const int rc = packages.getOneRow();
    if (rc == 0) {
      log.DebugLvl(label, 5, "Returing cached adminConsoleURL [%s] for ClientId [%d]", cache.url.c_str(),
                   cache.clientId);
      url = cache.url;
      return 0;
    }
    log.DebugLvl(label, 5, " SimInstalledPackages::getOneRow failed with Error [%s] for  ClientId [%d] packageID [%d] ",
                 packages.getErrorStr(rc), cache.clientId, kAdminConsolePackage);
  }

  APPGetWebConsoleURL proc(nullptr);
  const int rc = proc.getOneRow();
  if (!DBrowRead(rc)) {
    log.Error(label, "DB error :: [%d] while fetching adminconsole URL.", rc);
    return rc;
  }
  const APPGetWebConsoleURL_t* row = proc.getDataPtr();
  std::string found = row->webConsoleURL ? row->webConsoleURL : "";
  const int clientId = row->webconsoleClientId;
  if (found.empty() || clientId <= 0) return -1;
  // An address without "/webconsole" cannot be turned into the admin
  // console's: rather no link than a link into the wrong console, and the
  // cache keeps whatever it held.
  if (!toAdminConsole(found)) {
    log.Error(label, "Could not find proper webconsole URL [%s]", found.c_str());
    return -1;
  }
  cache.clientId = clientId;
  cache.url = found;
  url = found;
  log.DebugLvl(label, 5, "adminconsole URL from SP :: [%s]", url.c_str());
  return 0;
}

int EvNDetector::getDefaultAdminConsoleURL(std::string& url) {
  if (getDefaultWebConsoleURL(url) == 0 && toAdminConsole(url)) return 0;
  url.clear();
  return fetchNonCXAdminConsoleURL(url);
}

std::string EvNDetector::RetrieveWebconsoleUrl() {
  EvAlertDebug log;
  const char* label = "EvNDetector::RetrieveWebconsoleUrl";
  if (!m_consoleAddress.empty()) return m_consoleAddress;
  NTRetrieveWebConsoleUrl query(nullptr);
  int counter = 0;
  int rc = query.getNextRow(&counter);
  if (rc == 0 && query.getDataPtr()->webConsoleUrl != nullptr) {
    std::string found = query.getDataPtr()->webConsoleUrl;
    query.closeCursor();
    m_consoleAddress = found;
    return found;
  }
  query.closeCursor();
  // A row without an address reads as 0, as the caller of the log expects.
  if (rc == 0 || rc == DB_SUCCESS_TRUNCATED) rc = 0;
  log.Error(label, "Errorcode [%d] in retrieving webconsole Url. Returning webconsole url as empty.", rc);
  return std::string();
}

#include "support/alert_log.h"

#include <climits>
#include <fstream>
#include <sstream>

#include "host/EvAlertDebug.h"
#include "host/NxLog.h"
#include "support/db_fixture.h"

namespace evd::test {

AlertLogCapture::AlertLogCapture(int level)
    : path_(tempPath("alerts") + ".log"),
      savedInit_(EvAlertDebug::isInitDone),
      savedCheck_(EvAlertDebug::lastRegCheck),
      savedCreate_(EvAlertDebug::createAlertsLog),
      savedLevel_(alertInstance.level()) {
  EvAlertDebug::createAlertsLog = true;
  EvAlertDebug::isInitDone = true;
  EvAlertDebug::lastRegCheck = LLONG_MAX / 2;
  alertInstance.setPath(path_);
  alertInstance.setLevel(level);
  alertInstance.routeLogErrors();
}

AlertLogCapture::~AlertLogCapture() {
  setLogErrorSink(nullptr);
  alertInstance.setPath("");
  alertInstance.setLevel(savedLevel_);
  EvAlertDebug::isInitDone = savedInit_;
  EvAlertDebug::lastRegCheck = savedCheck_;
  EvAlertDebug::createAlertsLog = savedCreate_;
}

void AlertLogCapture::setLevel(int level) { alertInstance.setLevel(level); }

std::string AlertLogCapture::text() const {
  std::ifstream in(path_);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

std::vector<std::string> AlertLogCapture::lines() const { return lines(""); }

std::vector<std::string> AlertLogCapture::lines(const std::string& substr) const {
  std::vector<std::string> out;
  std::ifstream in(path_);
  for (std::string l; std::getline(in, l);)
    if (l.find(substr) != std::string::npos) out.push_back(l);
  return out;
}

}  // namespace evd::test

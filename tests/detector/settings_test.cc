#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Db/DbTypes.h"
#include "host/EvAlertDebug.h"
#include "host/NxLog.h"
#include "host/NxPlatform.h"
#include "host/NxSettings.h"
#include "support/alert_log.h"
#include "support/db_fixture.h"

namespace {

class SettingsTest : public evd::test::DbTest {
 protected:
  void set(const std::string& section, const std::string& name, const std::string& value) {
    std::string error;
    ASSERT_EQ(0, Settings::set(section, name, value, &error)) << error;
  }
};

TEST_P(SettingsTest, SetGetReplaceRemove) {
  std::string value = "untouched";
  EXPECT_EQ(DB_NO_DATA, Settings::get("Server", "BlockAlerts", value));
  EXPECT_EQ("untouched", value);
  set("Server", "BlockAlerts", "1");
  set("Server", "BlockAlerts", "0");
  set("Server", "BlockAlerts", "0");  // the same value again is no insert
  ASSERT_EQ(0, Settings::get("Server", "BlockAlerts", value));
  EXPECT_EQ("0", value);
  EXPECT_EQ(1, queryInt("SELECT COUNT(*) FROM EvdSettings"));
  EXPECT_EQ(0, Settings::remove("Server", "BlockAlerts"));
  EXPECT_EQ(DB_NO_DATA, Settings::remove("Server", "BlockAlerts"));
  EXPECT_EQ(DB_NO_DATA, Settings::get("Server", "BlockAlerts", value));
}

TEST_P(SettingsTest, TextIsStoredExactlyAndKeysMustBeOneTo255Bytes) {
  const std::string tricky = "it's 100% \"quoted\" -- ; DROP TABLE EvdSettings; caf\xC3\xA9";
  set("Odd 'section'", "name %s", tricky);
  std::string value;
  ASSERT_EQ(0, Settings::get("Odd 'section'", "name %s", value));
  EXPECT_EQ(tricky, value);
  const std::string max(255, 'k'), over(256, 'k');
  std::string error;
  EXPECT_EQ(DB_ERR_USAGE, Settings::set("", "n", "v", &error));
  EXPECT_FALSE(error.empty());
  EXPECT_EQ(DB_ERR_USAGE, Settings::set(over, "n", "v"));
  EXPECT_EQ(DB_ERR_USAGE, Settings::get("s", over, value));
  set(max, max, "fits");
  ASSERT_EQ(0, Settings::get(max, max, value));
  EXPECT_EQ("fits", value);
}

TEST_P(SettingsTest, ListIsOrderedBySectionAndName) {
  set("Server", "TraceAlerts", "1");
  set("DebugLevel", "Alerts", "8");
  set("Server", "BlockAlerts", "0");
  std::vector<Settings::Entry> all{{"stale", "entry", "x"}};
  ASSERT_EQ(0, Settings::list(all));
  std::vector<std::string> flat;
  for (const Settings::Entry& e : all) flat.push_back(e.section + "/" + e.name + "=" + e.value);
  EXPECT_EQ((std::vector<std::string>{"DebugLevel/Alerts=8", "Server/BlockAlerts=0", "Server/TraceAlerts=1"}), flat);
}

TEST_P(SettingsTest, ServerFlagsAreOnOnlyForOne) {
  NXPI_CentrixServer server;
  server.setFocus(NXPI_Focus::getFocus());
  EXPECT_EQ(0, server.getBlockAlerts());
  set("Server", "BlockAlerts", " 1 ");
  EXPECT_EQ(1, server.getBlockAlerts());
  set("Server", "BlockAlerts", "2");
  EXPECT_EQ(0, server.getBlockAlerts());
  set("Server", "TraceAlerts", "1");
  EXPECT_EQ(1, server.getTraceAlerts());
}

TEST_P(SettingsTest, GetNumberLeavesTheOutputAloneUnlessANumberIsThere) {
  unsigned long value = 77;
  EXPECT_EQ(DB_NO_DATA, NXPlatformInfo::getNumber("EventManager", "nDisableVMAlertFeature", &value));
  set("EventManager", "nDisableVMAlertFeature", "12abc");
  EXPECT_EQ(EvdSetting::kBadValue, NXPlatformInfo::getNumber("EventManager", "nDisableVMAlertFeature", &value));
  EXPECT_EQ(77u, value);
  set("EventManager", "nDisableVMAlertFeature", "0x10");
  ASSERT_EQ(0, NXPlatformInfo::getNumber("EventManager", "nDisableVMAlertFeature", &value));
  EXPECT_EQ(16u, value);
  EXPECT_EQ(DB_ERR_USAGE, NXPlatformInfo::getNumber("EventManager", "nDisableVMAlertFeature", nullptr));
}

TEST_P(SettingsTest, GlobalParamsLastEventIdAndWebConsoleUrl) {
  int id = 55;
  ASSERT_EQ(0, NXGlobalParam::getNTAlertLastEventId(id, nullptr));
  EXPECT_EQ(0, id) << "no marker yet";
  ASSERT_EQ(0, NXGlobalParam::setNTAlertLastEventId(-3, nullptr));
  ASSERT_EQ(0, NXGlobalParam::getNTAlertLastEventId(id, nullptr));
  EXPECT_EQ(-3, id);
  set("GlobalParam", "NTAlertLastEventId", "4294967296");
  EXPECT_EQ(EvdSetting::kBadValue, NXGlobalParam::getNTAlertLastEventId(id, nullptr));
  EXPECT_EQ(-3, id);
  std::string url = "keep";
  set("GlobalParam", "WebConsoleURL", "   ");
  EXPECT_EQ(DB_NO_DATA, NXGlobalParam::getWebConsoleURL(url, nullptr));
  EXPECT_EQ("keep", url);
  set("GlobalParam", "WebConsoleURL", "https://cs.example.com/webconsole/\n");
  ASSERT_EQ(0, NXGlobalParam::getWebConsoleURL(url, nullptr));
  EXPECT_EQ("https://cs.example.com/webconsole/", url);
}

TEST_P(SettingsTest, ClientPropertiesAreKeyedByClientId) {
  set("Client/7", "VMInstanceUUID", "5f0c-11");
  set("Client/70", "VMInstanceUUID", "other");
  set("Client/8", "PersonalWorkstation", "maybe");
  std::string uuid;
  ASSERT_EQ(0, ClientProperties(7).getVMInstanceUUID(uuid, nullptr));
  EXPECT_EQ("5f0c-11", uuid);
  int workstation = 0;
  EXPECT_EQ(EvdSetting::kBadValue, ClientProperties(8).getPersonalWorkstation(workstation, nullptr));
}

TEST_P(SettingsTest, AppDebugLevelFeedsTheAlertLogWriter) {
  int level = -99;
  EXPECT_EQ(DB_NO_DATA, Settings::appDebugLevel("Alerts", &level));
  set("DebugLevel", "Alerts", "high");
  setLogErrorSink([](const std::string&) {});
  EXPECT_EQ(EvdSetting::kBadValue, Settings::appDebugLevel("Alerts", &level));
  setLogErrorSink(nullptr);
  EXPECT_EQ(-99, level);
  evd::test::AlertLogCapture log(1);
  EvAlertDebug::lastRegCheck = 0;  // this test wants the check
  const auto previous = EvDebug::setAppDebugLevelSource(&Settings::appDebugLevel);
  set("DebugLevel", "Alerts", "25");
  const int written = EvAlertDebug().getDebugLevel();
  EvDebug::setAppDebugLevelSource(previous);
  EXPECT_EQ(10, written);
}

EVD_INSTANTIATE_BACKENDS(SettingsTest);

}  // namespace

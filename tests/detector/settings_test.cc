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

// ---- the generic API ----

TEST_P(SettingsTest, SetGetReplaceRemove) {
  std::string value = "untouched";
  EXPECT_EQ(DB_NO_DATA, Settings::get("Server", "BlockAlerts", value));
  EXPECT_EQ("untouched", value);

  set("Server", "BlockAlerts", "1");
  ASSERT_EQ(0, Settings::get("Server", "BlockAlerts", value));
  EXPECT_EQ("1", value);

  set("Server", "BlockAlerts", "0");
  set("Server", "BlockAlerts", "0");  // the same value again is no insert
  ASSERT_EQ(0, Settings::get("Server", "BlockAlerts", value));
  EXPECT_EQ("0", value);
  EXPECT_EQ(1, queryInt("SELECT COUNT(*) FROM EvdSettings"));

  EXPECT_EQ(0, Settings::remove("Server", "BlockAlerts"));
  EXPECT_EQ(DB_NO_DATA, Settings::remove("Server", "BlockAlerts"));
  EXPECT_EQ(DB_NO_DATA, Settings::get("Server", "BlockAlerts", value));
}

TEST_P(SettingsTest, TextIsStoredExactly) {
  const std::string tricky = "it's 100% \"quoted\" -- ; DROP TABLE EvdSettings; caf\xC3\xA9";
  set("Odd 'section'", "name %s", tricky);
  set("Odd 'section'", "empty", "");
  std::string value;
  ASSERT_EQ(0, Settings::get("Odd 'section'", "name %s", value));
  EXPECT_EQ(tricky, value);
  ASSERT_EQ(0, Settings::get("Odd 'section'", "empty", value));
  EXPECT_EQ("", value);
  const std::string longValue(10000, 'v');
  set("S", "long", longValue);
  ASSERT_EQ(0, Settings::get("S", "long", value));
  EXPECT_EQ(longValue, value);
}

TEST_P(SettingsTest, KeysMustBeOneTo255Bytes) {
  std::string value, error;
  const std::string max(255, 'k'), over(256, 'k');
  EXPECT_EQ(DB_ERR_USAGE, Settings::set("", "n", "v", &error));
  EXPECT_FALSE(error.empty());
  EXPECT_EQ(DB_ERR_USAGE, Settings::set("s", "", "v"));
  EXPECT_EQ(DB_ERR_USAGE, Settings::set(over, "n", "v"));
  EXPECT_EQ(DB_ERR_USAGE, Settings::get("s", over, value));
  EXPECT_EQ(DB_ERR_USAGE, Settings::remove(over, "n"));
  set(max, max, "fits");
  ASSERT_EQ(0, Settings::get(max, max, value));
  EXPECT_EQ("fits", value);
  EXPECT_EQ(0, queryInt("SELECT COUNT(*) FROM EvdSettings WHERE section = ''"));
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

// ---- platform objects over the settings ----

TEST_P(SettingsTest, ServerFlagsAreOnOnlyForOne) {
  NXPI_CentrixServer server;
  server.setFocus(NXPI_Focus::getFocus());
  EXPECT_EQ(0, server.getBlockAlerts());
  EXPECT_EQ(0, server.getTraceAlerts());
  set("Server", "BlockAlerts", "1");
  set("Server", "TraceAlerts", " 1 ");
  EXPECT_EQ(1, server.getBlockAlerts());
  EXPECT_EQ(1, server.getTraceAlerts());
  for (const char* off : {"0", "2", "1x"}) {
    set("Server", "BlockAlerts", off);
    EXPECT_EQ(0, server.getBlockAlerts()) << "[" << off << "]";
  }
}

TEST_P(SettingsTest, GetNumberLeavesTheOutputAloneUnlessANumberIsThere) {
  unsigned long value = 77;
  EXPECT_EQ(DB_NO_DATA, NXPlatformInfo::getNumber("EventManager", "nDisableVMAlertFeature", &value));
  EXPECT_EQ(77u, value);
  for (const char* bad : {"-1", "12abc", "99999999999999999999999"}) {
    set("EventManager", "nDisableVMAlertFeature", bad);
    EXPECT_EQ(EvdSetting::kBadValue, NXPlatformInfo::getNumber("EventManager", "nDisableVMAlertFeature", &value))
        << "[" << bad << "]";
    EXPECT_EQ(77u, value);
  }
  set("EventManager", "nDisableVMAlertFeature", "1");
  ASSERT_EQ(0, NXPlatformInfo::getNumber("EventManager", "nDisableVMAlertFeature", &value));
  EXPECT_EQ(1u, value);
  set("EventManager", "nDisableVMAlertFeature", "0x10");
  ASSERT_EQ(0, NXPlatformInfo::getNumber("EventManager", "nDisableVMAlertFeature", &value));
  EXPECT_EQ(16u, value);
  EXPECT_EQ(DB_ERR_USAGE, NXPlatformInfo::getNumber("EventManager", "nDisableVMAlertFeature", nullptr));
}

TEST_P(SettingsTest, GlobalParamsLastEventIdAndWebConsoleUrl) {
  int id = 55;
  ASSERT_EQ(0, NXGlobalParam::getNTAlertLastEventId(id, nullptr));
  EXPECT_EQ(0, id) << "no marker yet";
  for (int v : {105, -3}) {
    ASSERT_EQ(0, NXGlobalParam::setNTAlertLastEventId(v, nullptr));
    ASSERT_EQ(0, NXGlobalParam::getNTAlertLastEventId(id, nullptr));
    EXPECT_EQ(v, id);
  }
  set("GlobalParam", "NTAlertLastEventId", "4294967296");
  EXPECT_EQ(EvdSetting::kBadValue, NXGlobalParam::getNTAlertLastEventId(id, nullptr));
  EXPECT_EQ(-3, id);

  std::string url = "keep";
  EXPECT_EQ(DB_NO_DATA, NXGlobalParam::getWebConsoleURL(url, nullptr));
  set("GlobalParam", "WebConsoleURL", "   ");
  EXPECT_EQ(DB_NO_DATA, NXGlobalParam::getWebConsoleURL(url, nullptr));
  EXPECT_EQ("keep", url);
  set("GlobalParam", "WebConsoleURL", "https://cs.example.com/webconsole/\n");
  ASSERT_EQ(0, NXGlobalParam::getWebConsoleURL(url, nullptr));
  EXPECT_EQ("https://cs.example.com/webconsole/", url);
}

TEST_P(SettingsTest, ClientPropertiesAreKeyedByClientId) {
  EXPECT_EQ("Client/7", ClientProperties::section(7));
  set("Client/7", "VMInstanceUUID", "5f0c-11");
  set("Client/7", "PersonalWorkstation", "1");
  set("Client/70", "VMInstanceUUID", "other");
  set("Client/8", "VMInstanceUUID", "");
  set("Client/8", "PersonalWorkstation", "maybe");

  ClientProperties seven(7);
  EXPECT_EQ(0, seven.readResult());
  std::string uuid;
  int workstation = 0;
  ASSERT_EQ(0, seven.getVMInstanceUUID(uuid, nullptr));
  EXPECT_EQ("5f0c-11", uuid);
  ASSERT_EQ(0, seven.getPersonalWorkstation(workstation, nullptr));
  EXPECT_EQ(1, workstation);

  ClientProperties eight(8);
  uuid = "";
  workstation = 0;
  EXPECT_EQ(DB_NO_DATA, eight.getVMInstanceUUID(uuid, nullptr));
  EXPECT_EQ(EvdSetting::kBadValue, eight.getPersonalWorkstation(workstation, nullptr));
  EXPECT_EQ("", uuid);
  EXPECT_EQ(0, workstation);

  ClientProperties none(9);
  EXPECT_EQ(DB_NO_DATA, none.getVMInstanceUUID(uuid, nullptr));
  EXPECT_EQ(DB_NO_DATA, none.getPersonalWorkstation(workstation, nullptr));
}

TEST_P(SettingsTest, AppDebugLevelReadsTheDebugLevelSection) {
  int level = -99;
  EXPECT_EQ(DB_NO_DATA, Settings::appDebugLevel("Alerts", &level));
  set("DebugLevel", "Alerts", "25");
  ASSERT_EQ(0, Settings::appDebugLevel("Alerts", &level));
  EXPECT_EQ(25, level) << "clamping is the writer's business";
  set("DebugLevel", "Alerts", "high");
  level = -99;
  setLogErrorSink([](const std::string&) {});
  EXPECT_EQ(EvdSetting::kBadValue, Settings::appDebugLevel("Alerts", &level));
  setLogErrorSink(nullptr);
  EXPECT_EQ(-99, level);
}

// The alert-log writer picks the configured level up from the database.
TEST_P(SettingsTest, AlertLogFollowsTheConfiguredLevel) {
  evd::test::AlertLogCapture log(1);
  EvAlertDebug::lastRegCheck = 0;  // this test wants the check
  const auto previous = EvDebug::setAppDebugLevelSource(&Settings::appDebugLevel);
  set("DebugLevel", "Alerts", "25");
  {
    EvAlertDebug w;
    EXPECT_EQ(10, w.getDebugLevel());
  }
  EvDebug::setAppDebugLevelSource(previous);
  EXPECT_EQ(1, log.count("DebugLevel Changed from [1] to [10]")) << log.text();
}

EVD_INSTANTIATE_BACKENDS(SettingsTest);

}  // namespace

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

// The database store: one row per key, text kept byte for byte, keys of 1 to 255 bytes, listed in key order.
TEST_P(SettingsTest, TheStoreKeepsOneExactRowPerKeyInKeyOrder) {
  std::string value = "untouched";
  EXPECT_EQ(DB_NO_DATA, Settings::get("Server", "BlockAlerts", value));
  EXPECT_EQ("untouched", value);
  set("Server", "BlockAlerts", "1");
  set("Server", "BlockAlerts", "0");
  set("Server", "BlockAlerts", "0");  // the same value again is no insert
  ASSERT_EQ(0, Settings::get("Server", "BlockAlerts", value));
  EXPECT_EQ("0", value);
  EXPECT_EQ(1, queryInt("SELECT COUNT(*) FROM EvdSettings"));
  const std::string tricky = "it's 100% \"quoted\" -- ; DROP TABLE EvdSettings; caf\xC3\xA9";
  set("Odd 'section'", "name %s", tricky);
  ASSERT_EQ(0, Settings::get("Odd 'section'", "name %s", value));
  EXPECT_EQ(tricky, value);
  const std::string max(255, 'k');
  set(max, max, "fits");
  ASSERT_EQ(0, Settings::get(max, max, value));
  EXPECT_EQ("fits", value);
  EXPECT_EQ(DB_ERR_USAGE, Settings::set(max + "k", "n", "v"));
  EXPECT_EQ(0, Settings::remove(max, max));
  set("DebugLevel", "Alerts", "8");
  set("Server", "Alpha", "1");
  std::vector<Settings::Entry> all{{"stale", "entry", "x"}};
  ASSERT_EQ(0, Settings::list(all));
  std::vector<std::string> flat;
  for (const Settings::Entry& e : all) flat.push_back(e.section + "/" + e.name);
  EXPECT_EQ((std::vector<std::string>{"DebugLevel/Alerts", "Odd 'section'/name %s", "Server/Alpha",
                                      "Server/BlockAlerts"}),
            flat);
  EXPECT_EQ(0, Settings::remove("Server", "BlockAlerts"));
  EXPECT_EQ(DB_NO_DATA, Settings::remove("Server", "BlockAlerts"));
  EXPECT_EQ(DB_NO_DATA, Settings::get("Server", "BlockAlerts", value));
}

// What the platform objects make of stored text the map-backed host tests do not hold: a flag other than 1,
// blank or line-ended addresses, client keys that share a prefix, and a level the alert log then clamps.
TEST_P(SettingsTest, PlatformObjectsReadTheDatabaseStore) {
  NXPI_CentrixServer server;
  server.setFocus(NXPI_Focus::getFocus());
  set("Server", "BlockAlerts", "2");
  EXPECT_EQ(0, server.getBlockAlerts());
  std::string url = "keep";
  set("GlobalParam", "WebConsoleURL", "   ");
  EXPECT_EQ(DB_NO_DATA, NXGlobalParam::getWebConsoleURL(url, nullptr));
  EXPECT_EQ("keep", url);
  set("GlobalParam", "WebConsoleURL", "https://cs.example.com/webconsole/\n");
  ASSERT_EQ(0, NXGlobalParam::getWebConsoleURL(url, nullptr));
  EXPECT_EQ("https://cs.example.com/webconsole/", url);
  set("Client/7", "VMInstanceUUID", "5f0c-11");
  set("Client/70", "VMInstanceUUID", "other");
  std::string uuid;
  ASSERT_EQ(0, ClientProperties(7).getVMInstanceUUID(uuid, nullptr));
  EXPECT_EQ("5f0c-11", uuid);

  int level = -99;
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

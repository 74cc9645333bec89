// Console addresses and links into the admin console, on both backends.
#include <gtest/gtest.h>

#include <string>

#include "Db/AllBindings.h"
#include "detector/EvNDetector.h"
#include "host/NxPlatform.h"
#include "host/NxSettings.h"
#include "support/db_fixture.h"

namespace {

using E = EvNDetector;

class LinksTest : public evd::test::DbTest {
 protected:
  void set(const std::string& section, const std::string& name, const std::string& value) {
    std::string error;
    ASSERT_EQ(0, Settings::set(section, name, value, &error)) << error;
  }
  void consoleClient(int id, const std::string& url, bool package = true) {
    exec("INSERT INTO APP_ClientProp (componentNameId, attrName, attrVal, modified) VALUES (" + std::to_string(id) +
         ", 'WebURL', " + evd::test::sqlText(url) + ", 0)");
    if (package) exec("INSERT INTO SimInstalledPackages (ClientId, simPackageID) VALUES (" + std::to_string(id) + ", 726)");
  }
  static std::string admin() {
    std::string url;
    return E::getDefaultAdminConsoleURL(url) == 0 ? url : "<none>";
  }
  static std::string anchor(const std::string& route, const std::string& text) {
    return "<a href=\"https://cs/adminconsole" + route + "\">" + text + "</a>";
  }
};

TEST_P(LinksTest, ConsoleAddresses) {
  struct Case { const char *global, *web, *adminConsole; } cases[] = {
      {"https://cs:443/webconsole/clients", "https://cs:443/webconsole", "https://cs:443/adminconsole"},
      {"http://h/webconsole/webconsole/x/", "http://h/webconsole/webconsole", "http://h/webconsole/adminconsole"},
  };
  for (const Case& c : cases) {
    set("GlobalParam", "WebConsoleURL", c.global);
    std::string web;
    ASSERT_EQ(0, E::getDefaultWebConsoleURL(web));
    EXPECT_EQ(c.web, web);
    EXPECT_EQ(c.adminConsole, admin());
  }
  // Without "/webconsole" the console client is asked; one whose address
  // cannot become the admin console's gives none.
  set("GlobalParam", "WebConsoleURL", "http://h/portal");
  std::string web;
  EXPECT_EQ(1, E::getDefaultWebConsoleURL(web));
  EXPECT_EQ("<none>", admin());
  consoleClient(31, "http://c31/portal");
  EXPECT_EQ("<none>", admin());
  consoleClient(41, "http://c41/webconsole/x");
  EXPECT_EQ("http://c41/adminconsole/x", admin());
  // Cached while client 41 keeps the package, whatever the procedure says.
  exec("UPDATE APP_ClientProp SET attrVal = 'http://moved/webconsole' WHERE componentNameId = 41");
  EXPECT_EQ("http://c41/adminconsole/x", admin());
  exec("DELETE FROM SimInstalledPackages WHERE ClientId = 41");
  consoleClient(42, "http://c42/webconsole");
  EXPECT_EQ("http://c42/adminconsole", admin());
}

TEST_P(LinksTest, DetectorWebConsoleCursorRunsOnce) {
  EvNDetector d;
  EXPECT_EQ("", d.RetrieveWebconsoleUrl());  // none registered: not cached
  exec("INSERT INTO SimWebServer (clientId, isDisabled) VALUES (5, 0)");
  exec("INSERT INTO SimWebConsoleAssoc (webServerClientId, webConsoleClientId, isDisabled) VALUES (5, 6, 0)");
  consoleClient(6, "http://web6/webconsole", false);
  EXPECT_EQ("http://web6/webconsole", d.RetrieveWebconsoleUrl());
  exec("UPDATE APP_ClientProp SET attrVal = 'http://other/webconsole' WHERE componentNameId = 6");
  EXPECT_EQ("http://web6/webconsole", d.RetrieveWebconsoleUrl());
  EXPECT_EQ("http://other/webconsole", EvNDetector().RetrieveWebconsoleUrl());
}

TEST_P(LinksTest, BuilderRoutesAndNames) {
  set("GlobalParam", "WebConsoleURL", "https://cs/webconsole/home");
  set(ClientProperties::section(8), "PersonalWorkstation", "1");
  set(ClientProperties::section(9), "VMInstanceUUID", "4210-ab cd/?x=1");
  const std::string evil = "<script>\"x\"</script>&'";
  const std::string shown = "&lt;script&gt;&quot;x&quot;&lt;/script&gt;&amp;&#39;";
  struct Case { std::string link, route, text; } cases[] = {
      {E::GetJobLink(4711), "/#/jobs/4711", "4711"},
      {E::GetClientLink(7, "c", 33), "#/fsAgentDetails/7/33", "c"},
      {E::GetClientLink(8, "ws", 33), "#/devices/8", "ws"},
      {E::GetClientLink(7, evil, 0), "/#/clientDetails/7", shown},
      {E::GetClientLink(7, "c", 106), "/#/clientDetails/7", "c"},  // no UUID
      {E::GetClientLink(9, "vm", 106), "/#/vm/4210-ab%20cd%2F%3Fx%3D1", "vm"},
      {E::GetSubClientLink(12, evil, 106, 3), "/#/collectionDetails/3/12", shown},
      {E::GetArchGroupLink(5, "P"), "/#/storagePolicyInfo?storagePolicyId=5", "P"},
      {E::GetArchGroupCopyLink(5, 2, "SP 1&x=\"><", "c"),
       "/#/storagePolicyCopyInfo?storagePolicyId=5&storagePolicyName=SP%201%26x%3D%22%3E%3C&storagePolicyCopyId=2", "c"},
      {E::GetIDALink(7, 33, "FS"), "/#/agentDetails/7/33", "FS"},
  };
  for (const Case& c : cases) EXPECT_EQ(anchor(c.route, c.text), c.link);
  EXPECT_EQ(shown, E::GetArchGroupCopyLink(5, 0, "SP", evil));
  EXPECT_EQ("<a href=\"http://h/&quot;&gt;\">x</a>", E::FrameHTMLLink("http://h/\">", "x"));

  // The agent-type lists, through both builders that read them.
  for (int t : {1, 11, 12, 13, 17, 18, 19, 20, 21, 29, 33, 34, 36, 38, 42, 43, 63, 64, 74, 91}) {
    EXPECT_EQ(anchor("#/fsAgentDetails/7/" + std::to_string(t), "n"), E::GetClientLink(7, "n", t));
    EXPECT_EQ(anchor("/#/fsSubclientDetails/12", "n"), E::GetSubClientLink(12, "n", t, 0));
  }
  for (int t : {3, 5, 22, 37, 61, 62, 79, 80, 81, 103, 104, 125, 128, 135}) {
    EXPECT_EQ(anchor("/#/clientDetails/7", "n"), E::GetClientLink(7, "n", t));
    EXPECT_EQ(anchor("/#/dbCollectionDetails/12", "n"), E::GetSubClientLink(12, "n", t, 0));
  }
  for (int t : {0, 2, 92, 105, 107})
    EXPECT_EQ(anchor("/#/subclientDetails/12", "n"), E::GetSubClientLink(12, "n", t, 0)) << t;

  // No console known: anchors without a target.
  ASSERT_EQ(0, Settings::remove("GlobalParam", "WebConsoleURL"));
  EXPECT_EQ("<a href=\"\">P</a>", E::GetArchGroupLink(5, "P"));
  EXPECT_EQ("<a href=\"\">ws</a>", E::GetClientLink(8, "ws", 33));
}

EVD_INSTANTIATE_BACKENDS(LinksTest);

}  // namespace

// Console addresses and links into the admin console, on both backends.
#include <gtest/gtest.h>

#include <string>

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
  void consoleClient(int id, const std::string& url) {
    exec("INSERT INTO APP_ClientProp (componentNameId, attrName, attrVal, modified) VALUES (" + std::to_string(id) +
         ", 'WebURL', " + evd::test::sqlText(url) + ", 0)");
    exec("INSERT INTO SimInstalledPackages (ClientId, simPackageID) VALUES (" + std::to_string(id) + ", 726)");
  }
  static std::string admin() {
    std::string url;
    return E::getDefaultAdminConsoleURL(url) == 0 ? url : "<none>";
  }
};

TEST_P(LinksTest, ConsoleAddresses) {
  // Cut after the last "/webconsole" the address holds.
  set("GlobalParam", "WebConsoleURL", "http://h/webconsole/webconsole/x/");
  EXPECT_EQ("http://h/webconsole/adminconsole", admin());
  // Without "/webconsole" the console client is asked, and kept while it keeps the package.
  set("GlobalParam", "WebConsoleURL", "http://h/portal");
  consoleClient(41, "http://c41/webconsole/x");
  EXPECT_EQ("http://c41/adminconsole/x", admin());
  exec("UPDATE APP_ClientProp SET attrVal = 'http://moved/webconsole' WHERE componentNameId = 41");
  EXPECT_EQ("http://c41/adminconsole/x", admin());
  exec("DELETE FROM SimInstalledPackages WHERE ClientId = 41");
  EXPECT_EQ("<none>", admin()) << "the cache ends with the package";
}

TEST_P(LinksTest, DetectorWebConsoleCursorRunsOnce) {
  EvNDetector d;
  EXPECT_EQ("", d.RetrieveWebconsoleUrl());  // none registered: not cached
  exec("INSERT INTO SimWebServer (clientId, isDisabled) VALUES (5, 0)");
  exec("INSERT INTO SimWebConsoleAssoc (webServerClientId, webConsoleClientId, isDisabled) VALUES (5, 6, 0)");
  consoleClient(6, "http://web6/webconsole");
  EXPECT_EQ("http://web6/webconsole", d.RetrieveWebconsoleUrl());
  exec("UPDATE APP_ClientProp SET attrVal = 'http://other/webconsole' WHERE componentNameId = 6");
  EXPECT_EQ("http://web6/webconsole", d.RetrieveWebconsoleUrl());
  EXPECT_EQ("http://other/webconsole", EvNDetector().RetrieveWebconsoleUrl());
}

TEST_P(LinksTest, BuilderRoutesAndNames) {
  set("GlobalParam", "WebConsoleURL", "https://cs/webconsole/home");
  set(ClientProperties::section(9), "VMInstanceUUID", "4210-ab cd/?x=1");
  const std::string evil = "<script>\"x\"</script>&'", shown = "&lt;script&gt;&quot;x&quot;&lt;/script&gt;&amp;&#39;";
  const std::string cases[][3] = {
      {E::GetJobLink(4711), "/#/jobs/4711", "4711"},
      {E::GetClientLink(7, "c", 33), "#/fsAgentDetails/7/33", "c"},
      {E::GetClientLink(7, evil, 0), "/#/clientDetails/7", shown},
      {E::GetClientLink(9, "vm", 106), "/#/vm/4210-ab%20cd%2F%3Fx%3D1", "vm"},
      {E::GetSubClientLink(12, evil, 106, 3), "/#/collectionDetails/3/12", shown},
      {E::GetSubClientLink(12, "n", 33, 0), "/#/fsSubclientDetails/12", "n"},
      {E::GetSubClientLink(12, "n", 22, 0), "/#/dbCollectionDetails/12", "n"},
      {E::GetArchGroupCopyLink(5, 2, "SP&x=\"><", "c"),
       "/#/storagePolicyCopyInfo?storagePolicyId=5&storagePolicyName=SP%26x%3D%22%3E%3C&storagePolicyCopyId=2", "c"},
  };
  for (const auto& c : cases) EXPECT_EQ("<a href=\"https://cs/adminconsole" + c[1] + "\">" + c[2] + "</a>", c[0]);
  EXPECT_EQ(shown, E::GetArchGroupCopyLink(5, 0, "SP", evil));
}

EVD_INSTANTIATE_BACKENDS(LinksTest);

}  // namespace

// Console addresses and the links into the admin console, on both backends:
// the global web console address, the admin console found through the
// application tables and its process-wide cache, the detector's web console
// cache, and the route of every link builder.
#include <gtest/gtest.h>

#include <string>

#include "Db/AllBindings.h"
#include "detector/EvNDetector.h"
#include "host/NxSettings.h"
#include "support/db_fixture.h"

namespace {

class LinksTest : public evd::test::DbTest {
 protected:
  void setWebConsole(const std::string& url) {
    std::string error;
    ASSERT_EQ(0, Settings::set("GlobalParam", "WebConsoleURL", url, &error)) << error;
  }
  // A client carrying the console package with a current WebURL property.
  void consoleClient(int clientId, const std::string& url, bool package = true) {
    exec("INSERT INTO APP_ClientProp (componentNameId, attrName, attrVal, modified) VALUES (" +
         std::to_string(clientId) + ", 'WebURL', " + evd::test::sqlText(url) + ", 0)");
    if (package)
      exec("INSERT INTO SimInstalledPackages (ClientId, simPackageID) VALUES (" + std::to_string(clientId) +
           ", 726)");
  }
  static std::string admin() {
    std::string url;
    return EvNDetector::getDefaultAdminConsoleURL(url) == 0 ? url : "<none>";
  }
};

TEST_P(LinksTest, GlobalAddressIsCutAfterTheLastWebconsole) {
  struct Case {
    const char* global;
    int rc;
    const char* web;
    const char* adminConsole;
  } cases[] = {
      {"https://cs.example.com:443/webconsole/clients", 0, "https://cs.example.com:443/webconsole",
       "https://cs.example.com:443/adminconsole"},
      {"http://h/webconsole/webconsole/x/", 0, "http://h/webconsole/webconsole", "http://h/webconsole/adminconsole"},
      {"http://h/webconsole", 0, "http://h/webconsole", "http://h/adminconsole"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.global);
    setWebConsole(c.global);
    std::string web;
    ASSERT_EQ(c.rc, EvNDetector::getDefaultWebConsoleURL(web));
    EXPECT_EQ(c.web, web);
    EXPECT_EQ(c.adminConsole, admin());
  }
}

TEST_P(LinksTest, WithoutAGlobalAddressTheConsoleClientIsAsked) {
  std::string web;
  EXPECT_EQ(DB_NO_DATA, EvNDetector::getDefaultWebConsoleURL(web));
  setWebConsole("http://h/portal");
  EXPECT_EQ(1, EvNDetector::getDefaultWebConsoleURL(web));

  // No console client anywhere: no address.
  std::string url;
  EXPECT_NE(0, EvNDetector::fetchNonCXAdminConsoleURL(url));
  EXPECT_EQ("<none>", admin());

  // A console address without "/webconsole" cannot become the admin's.
  consoleClient(31, "http://c31/portal");
  EXPECT_EQ("<none>", admin());

  consoleClient(32, "http://c32/webconsole/x");
  EXPECT_EQ("http://c32/adminconsole/x", admin());
}

TEST_P(LinksTest, AdminConsoleCacheHoldsWhileTheClientKeepsThePackage) {
  consoleClient(41, "http://c41/webconsole");
  EXPECT_EQ("http://c41/adminconsole", admin());

  // The procedure would now answer another address; the cache wins while
  // client 41 still carries the package.
  exec("UPDATE APP_ClientProp SET attrVal = 'http://moved/webconsole' WHERE componentNameId = 41");
  EXPECT_EQ("http://c41/adminconsole", admin());

  exec("DELETE FROM SimInstalledPackages WHERE ClientId = 41");
  consoleClient(42, "http://c42/webconsole");
  EXPECT_EQ("http://c42/adminconsole", admin());
}

TEST_P(LinksTest, DetectorCachesTheWebConsoleAddressOnceFound) {
  EvNDetector d;
  EXPECT_EQ("", d.RetrieveWebconsoleUrl());  // nothing registered; not cached

  exec("INSERT INTO SimWebServer (clientId, portNumber, apachePortNumber, isDisabled) VALUES (5, 80, 81, 0)");
  exec("INSERT INTO SimWebConsoleAssoc (webServerClientId, webConsoleClientId, isDisabled) VALUES (5, 6, 0)");
  consoleClient(6, "http://web6/webconsole", false);
  EXPECT_EQ("http://web6/webconsole", d.RetrieveWebconsoleUrl());

  // The cursor runs once per detector: a changed registration is not seen
  // by this detector, only by a new one.
  exec("UPDATE APP_ClientProp SET attrVal = 'http://other/webconsole' WHERE componentNameId = 6");
  EXPECT_EQ("http://web6/webconsole", d.RetrieveWebconsoleUrl());
  EvNDetector fresh;
  EXPECT_EQ("http://other/webconsole", fresh.RetrieveWebconsoleUrl());
}

EVD_INSTANTIATE_BACKENDS(LinksTest);

}  // namespace

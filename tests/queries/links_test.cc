// Console addresses and the links into the admin console, on both backends:
// the global web console address, the admin console found through the
// application tables and its process-wide cache, the detector's web console
// cache, and the route of every link builder.
#include <gtest/gtest.h>

#include <string>

#include "Db/AllBindings.h"
#include "detector/EvNDetector.h"
#include "host/NxPlatform.h"
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

// ---- entity links ----

class EntityLinksTest : public LinksTest {
 protected:
  void SetUp() override {
    LinksTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    setWebConsole("https://cs.example.com/webconsole/home");
  }
  void clientProperty(int clientId, const char* name, const std::string& value) {
    std::string error;
    ASSERT_EQ(0, Settings::set(ClientProperties::section(static_cast<unsigned>(clientId)), name, value, &error))
        << error;
  }
  static std::string anchor(const std::string& route, const std::string& text) {
    return "<a href=\"https://cs.example.com/adminconsole" + route + "\">" + text + "</a>";
  }
};

TEST_P(EntityLinksTest, EachBuilderAppendsItsRoute) {
  clientProperty(8, "PersonalWorkstation", "1");
  clientProperty(9, "VMInstanceUUID", "4210-ab cd/..?x=1");
  clientProperty(10, "PersonalWorkstation", "0");
  using E = EvNDetector;
  struct Case {
    std::string link;
    std::string route;
    std::string text;
  } cases[] = {
      {E::GetJobLink(4711), "/#/jobs/4711", "4711"},
      {E::GetClientLink(7, "c7", 33), "#/fsAgentDetails/7/33", "c7"},
      {E::GetClientLink(10, "c10", 1), "#/fsAgentDetails/10/1", "c10"},
      {E::GetClientLink(8, "ws", 33), "#/devices/8", "ws"},
      {E::GetClientLink(8, "ws", 0), "#/devices/8", "ws"},
      {E::GetClientLink(7, "c7", 0), "/#/clientDetails/7", "c7"},
      {E::GetClientLink(7, "c7", 106), "/#/clientDetails/7", "c7"},  // no UUID
      {E::GetClientLink(9, "vm", 106), "/#/vm/4210-ab%20cd%2F..%3Fx%3D1", "vm"},
      {E::GetClientLink(9, "vm", 3), "/#/clientDetails/9", "vm"},
      {E::GetSubClientLink(12, "sc", 106, 3), "/#/collectionDetails/3/12", "sc"},
      {E::GetSubClientLink(12, "sc", 91, 3), "/#/fsSubclientDetails/12", "sc"},
      {E::GetSubClientLink(12, "sc", 135, 3), "/#/dbCollectionDetails/12", "sc"},
      {E::GetSubClientLink(-12, "sc", 2, 3), "/#/subclientDetails/-12", "sc"},
      {E::GetArchGroupLink(5, "P"), "/#/storagePolicyInfo?storagePolicyId=5", "P"},
      {E::GetArchGroupCopyLink(5, 2, "SP 1&x=y", "primary"),
       "/#/storagePolicyCopyInfo?storagePolicyId=5&storagePolicyName=SP%201%26x%3Dy&storagePolicyCopyId=2", "primary"},
      {E::GetIDALink(7, 33, "File System"), "/#/agentDetails/7/33", "File System"},
  };
  for (const Case& c : cases) EXPECT_EQ(anchor(c.route, c.text), c.link);
  EXPECT_EQ("primary", E::GetArchGroupCopyLink(5, 0, "SP", "primary"));
}

// Every agent type of the file-system and database lists, and neighbours
// that belong to neither, through both builders that look at them.
TEST_P(EntityLinksTest, AgentTypeListsChooseTheRoute) {
  struct Case {
    int appType;
    const char* clientRoute;     // after the address, before the ids
    const char* subclientRoute;  // after the address, before the subclient id
  } cases[] = {
      {1, "fs", "/#/fsSubclientDetails/"},    {11, "fs", "/#/fsSubclientDetails/"},
      {12, "fs", "/#/fsSubclientDetails/"},   {13, "fs", "/#/fsSubclientDetails/"},
      {17, "fs", "/#/fsSubclientDetails/"},   {18, "fs", "/#/fsSubclientDetails/"},
      {19, "fs", "/#/fsSubclientDetails/"},   {20, "fs", "/#/fsSubclientDetails/"},
      {21, "fs", "/#/fsSubclientDetails/"},   {29, "fs", "/#/fsSubclientDetails/"},
      {33, "fs", "/#/fsSubclientDetails/"},   {34, "fs", "/#/fsSubclientDetails/"},
      {36, "fs", "/#/fsSubclientDetails/"},   {38, "fs", "/#/fsSubclientDetails/"},
      {42, "fs", "/#/fsSubclientDetails/"},   {43, "fs", "/#/fsSubclientDetails/"},
      {63, "fs", "/#/fsSubclientDetails/"},   {64, "fs", "/#/fsSubclientDetails/"},
      {74, "fs", "/#/fsSubclientDetails/"},   {91, "fs", "/#/fsSubclientDetails/"},
      {3, "cd", "/#/dbCollectionDetails/"},   {5, "cd", "/#/dbCollectionDetails/"},
      {22, "cd", "/#/dbCollectionDetails/"},  {37, "cd", "/#/dbCollectionDetails/"},
      {61, "cd", "/#/dbCollectionDetails/"},  {62, "cd", "/#/dbCollectionDetails/"},
      {79, "cd", "/#/dbCollectionDetails/"},  {80, "cd", "/#/dbCollectionDetails/"},
      {81, "cd", "/#/dbCollectionDetails/"},  {103, "cd", "/#/dbCollectionDetails/"},
      {104, "cd", "/#/dbCollectionDetails/"}, {125, "cd", "/#/dbCollectionDetails/"},
      {128, "cd", "/#/dbCollectionDetails/"}, {135, "cd", "/#/dbCollectionDetails/"},
      {0, "cd", "/#/subclientDetails/"},      {2, "cd", "/#/subclientDetails/"},
      {4, "cd", "/#/subclientDetails/"},      {92, "cd", "/#/subclientDetails/"},
      {105, "cd", "/#/subclientDetails/"},    {107, "cd", "/#/subclientDetails/"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.appType);
    const std::string t = std::to_string(c.appType);
    const std::string client = std::string(c.clientRoute) == "fs" ? "#/fsAgentDetails/7/" + t : "/#/clientDetails/7";
    EXPECT_EQ(anchor(client, "n"), EvNDetector::GetClientLink(7, "n", c.appType));
    EXPECT_EQ(anchor(c.subclientRoute + std::string("12"), "n"), EvNDetector::GetSubClientLink(12, "n", c.appType, 0));
  }
}

TEST_P(EntityLinksTest, HostileNamesStayText) {
  const std::string hostile = "<script>alert(\"x\")</script>&'";
  const std::string shown = "&lt;script&gt;alert(&quot;x&quot;)&lt;/script&gt;&amp;&#39;";
  EXPECT_EQ(anchor("/#/clientDetails/7", shown), EvNDetector::GetClientLink(7, hostile, 0));
  EXPECT_EQ(anchor("/#/subclientDetails/12", shown), EvNDetector::GetSubClientLink(12, hostile, 0, 0));
  EXPECT_EQ(anchor("/#/storagePolicyInfo?storagePolicyId=5", shown), EvNDetector::GetArchGroupLink(5, hostile));
  EXPECT_EQ(shown, EvNDetector::GetArchGroupCopyLink(5, 0, "SP", hostile));
  EXPECT_EQ(anchor("/#/storagePolicyCopyInfo?storagePolicyId=5&storagePolicyName="
                   "%22%3E%3Cscript%3E&storagePolicyCopyId=1",
                   "c"),
            EvNDetector::GetArchGroupCopyLink(5, 1, "\"><script>", "c"));
  // A configured address that would end the attribute cannot.
  EXPECT_EQ("<a href=\"http://h/&quot;&gt;/webconsole\">x</a>", EvNDetector::FrameHTMLLink("http://h/\">/webconsole", "x"));
}

TEST_P(EntityLinksTest, WithoutAConsoleTheAnchorHasNoTarget) {
  ASSERT_EQ(0, Settings::remove("GlobalParam", "WebConsoleURL"));
  clientProperty(8, "PersonalWorkstation", "1");
  EXPECT_EQ("<a href=\"\">P</a>", EvNDetector::GetArchGroupLink(5, "P"));
  EXPECT_EQ("<a href=\"\">4711</a>", EvNDetector::GetJobLink(4711));
  EXPECT_EQ("<a href=\"\">ws</a>", EvNDetector::GetClientLink(8, "ws", 33));
  EXPECT_EQ("<a href=\"\">c</a>", EvNDetector::GetArchGroupCopyLink(5, 1, "SP", "c"));
}

EVD_INSTANTIATE_BACKENDS(EntityLinksTest);


}  // namespace

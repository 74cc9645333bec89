// Log-monitoring matches (alert types 57 and 62), trend entries linked to the
// monitoring page, console addresses and links, on both backends.
#include "detector/EvNDetector.h"
#include "host/LogMonitoring.h"
#include "host/NxPlatform.h"
#include "host/NxSettings.h"
#include "queries/query_harness.h"

namespace {

using namespace evd::test;
using E = EvNDetector;

class LogMonitorTest : public QueryTest {
 protected:
  bool runMatch(int type, const std::string& description) {
    EvAlertEx a = event(eventLine(type, description));
    return run(a);
  }
  std::string lm(int eventId, const std::string& column) {
    return queryText("SELECT " + column + " FROM NTLMalert WHERE eventId = " + std::to_string(eventId));
  }
  void set(const std::string& section, const std::string& name, const std::string& value) {
    std::string error;
    ASSERT_EQ(0, Settings::set(section, name, value, &error)) << error;
  }
  static std::string admin() {
    std::string url;
    return E::getDefaultAdminConsoleURL(url) == 0 ? url : "<none>";
  }
};

TEST_P(LogMonitorTest, EveryMatchIsAnOccurrenceOfItsOwn) {
  const std::string head =
      "<message type=\"35,80\" class=\"600063440\"><int field=\"1\">12</int><int field=\"2\">4</int>"
      "<text field=\"3\">Kernel errors</text><text field=\"7\">I/O error</text>";
  const std::string full = head + "<int field=\"8\">4711</int><text field=\"8\">above</text>"
                                  "<text field=\"10\">/var/log/kern</text><int field=\"29\">88213</int></message>";
  const long long registered = LogMonitoring::registerCalls();
  for (int type : {57, 62}) {
    seedRule(type, type);
    for (const std::string& d : {full, full, head + "</message>"}) ASSERT_TRUE(runMatch(type, d));
  }
  EXPECT_EQ(registered + 6, LogMonitoring::registerCalls()) << "every match registers the subsystem";
  EXPECT_TRUE(LogMonitoring::isRegistered());
  EXPECT_EQ(6, countRows("NTDetectedAlerts WHERE processStat = 1")) << "two equal matches are two occurrences";
  EXPECT_EQ(6, countRows("NTLMalert WHERE monPolId = 4 AND clientId = 12 AND monPolName = 'Kernel errors' "
                         "AND linesMatched = 'I/O error'"));
  const int first = static_cast<int>(queryInt("SELECT MIN(eventId) FROM NTLMalert"));
  EXPECT_EQ("/var/log/kern", lm(first, "attachedFilePath"));
  EXPECT_EQ("<null>", lm(lastEventId(), "attachedFilePath")) << "a match without a file";
}

TEST_P(LogMonitorTest, UnreadableMatchFailsWithoutLeavingAnOccurrence) {
  seedRule(57, 57);
  const long long registered = LogMonitoring::registerCalls();
  for (const char* d : {"", "not a message", "<message type=\"30,1400\"><int field=\"10\">1</int></message>"})
    EXPECT_FALSE(runMatch(57, d));
  EXPECT_EQ(registered + 3, LogMonitoring::registerCalls()) << "registered before the match is read";
  EXPECT_EQ(0, detectedCount() + countRows("NTLMalert"));
}

TEST_P(LogMonitorTest, TrendEntriesBecomeColumnValuesLinkedToTheMonitoringPage) {
  seedRule(20, 65, kTrendRule);
  exec("INSERT INTO NTNotificationQueryMapping (NtNotificationId, QueryId, xmlInfo) VALUES (20, 40, "
       "'<NXGui_QueryAdditionalInfo><externalQueryInfo externalQueryId=\"15\"/></NXGui_QueryAdditionalInfo>')");
  exec("INSERT INTO LMUserSearch (id, searchInfo, monitoringAppType) VALUES "
       "(15, '<LogMonitoring_SearchURLInfo trendBrowserURL=\"?view=trend&amp;client=&amp;level=\"/>', 1)");
  const Result r{.rule = 20,
                 .trends = {{"Failures rose", "see", {{"client", "fs 1&2"}}}, {"Latency doubled", "on ma2", {}}}};
  exec("INSERT INTO SimWebServer (clientId) VALUES (31); "
           "INSERT INTO SimWebConsoleAssoc (webServerClientId, webConsoleClientId, isDisabled) VALUES (31, 41, 0); "
           "INSERT INTO APP_ClientProp (componentNameId, attrName, attrVal, modified) "
           "VALUES (41, 'WebURL', 'http://cs/webconsole', 0)");
  ASSERT_TRUE(runResults({r}));
  ASSERT_EQ(1u, ofRule(20).size());
  EXPECT_EQ("Failures rose <a href=\"http://cs/webconsole/logMonitoring.do?view=trend&amp;"
            "client=fs 1&amp;2&amp;level=\">see</a>",
            column(lastEventId(), 0));
  EXPECT_EQ("Latency doubled on ma2", column(lastEventId(), 1)) << "an entry without metadata keeps its text";
}

TEST_P(LogMonitorTest, ConsoleAddresses) {
  set("GlobalParam", "WebConsoleURL", "http://h/webconsole/webconsole/x/");
  EXPECT_EQ("http://h/webconsole/adminconsole", admin());
  // Without "/webconsole" the console client is asked, and kept while it keeps the package.
  set("GlobalParam", "WebConsoleURL", "http://h/portal");
  exec("INSERT INTO APP_ClientProp (componentNameId, attrName, attrVal, modified) "
       "VALUES (41, 'WebURL', 'http://c41/webconsole/x', 0)");
  exec("INSERT INTO SimInstalledPackages (ClientId, simPackageID) VALUES (41, 726)");
  EXPECT_EQ("http://c41/adminconsole/x", admin());
  exec("DELETE FROM SimInstalledPackages WHERE ClientId = 41");
  EXPECT_EQ("<none>", admin()) << "the cache ends with the package";
}

TEST_P(LogMonitorTest, DetectorWebConsoleCursorRunsOnce) {
  EvNDetector d;
  EXPECT_EQ("", d.RetrieveWebconsoleUrl());  // none registered: not cached
  exec("INSERT INTO SimWebServer (clientId, isDisabled) VALUES (5, 0)");
  exec("INSERT INTO SimWebConsoleAssoc (webServerClientId, webConsoleClientId, isDisabled) VALUES (5, 6, 0)");
  exec("INSERT INTO APP_ClientProp (componentNameId, attrName, attrVal, modified) "
       "VALUES (6, 'WebURL', 'http://web6/webconsole', 0)");
  EXPECT_EQ("http://web6/webconsole", d.RetrieveWebconsoleUrl());
  exec("UPDATE APP_ClientProp SET attrVal = 'http://other/webconsole' WHERE componentNameId = 6");
  EXPECT_EQ("http://web6/webconsole", d.RetrieveWebconsoleUrl());
  EXPECT_EQ("http://other/webconsole", EvNDetector().RetrieveWebconsoleUrl());
}

TEST_P(LogMonitorTest, BuilderRoutesAndNames) {
  set("GlobalParam", "WebConsoleURL", "https://cs/webconsole/home");
  const std::string evil = "<script>\"x\"</script>&'", shown = "&lt;script&gt;&quot;x&quot;&lt;/script&gt;&amp;&#39;";
  const std::string cases[][3] = {
      {E::GetJobLink(4711), "/#/jobs/4711", "4711"},
      {E::GetClientLink(7, evil, 0), "/#/clientDetails/7", shown},
      {E::GetSubClientLink(12, evil, 106, 3), "/#/collectionDetails/3/12", shown},
      {E::GetArchGroupCopyLink(5, 2, "SP&x=\"><", "c"),
       "/#/storagePolicyCopyInfo?storagePolicyId=5&storagePolicyName=SP%26x%3D%22%3E%3C&storagePolicyCopyId=2", "c"},
  };
  for (const auto& c : cases) EXPECT_EQ("<a href=\"https://cs/adminconsole" + c[1] + "\">" + c[2] + "</a>", c[0]);
  EXPECT_EQ(shown, E::GetArchGroupCopyLink(5, 0, "SP", evil));
}

// A console client whose address lacks "/webconsole" gives no admin console
// rather than a link into the wrong one, and is not kept: once its address is
// mended the next look-up finds it. (The console found is kept for the whole
// process: each backend takes a client of its own.)
TEST_P(LogMonitorTest, AConsoleAddressWithoutWebconsoleCountsAsNoConsoleAndIsNotKept) {
  const std::string client = isPostgres() ? "44" : "43";
  set("GlobalParam", "WebConsoleURL", "http://h/portal");
  exec("INSERT INTO APP_ClientProp (componentNameId, attrName, attrVal, modified) "
       "VALUES (" + client + ", 'WebURL', 'http://c" + client + "/console', 0)");
  exec("INSERT INTO SimInstalledPackages (ClientId, simPackageID) VALUES (" + client + ", 726)");
  std::string url = "untouched";
  EXPECT_EQ(-1, E::fetchNonCXAdminConsoleURL(url));
  EXPECT_EQ("untouched", url);
  EXPECT_EQ("<none>", admin());
  EXPECT_EQ(2, log().count("Could not find proper webconsole URL [http://c" + client + "/console]")) << log().text();
  exec("UPDATE APP_ClientProp SET attrVal = 'http://c" + client + "/webconsole' WHERE componentNameId = " + client);
  EXPECT_EQ("http://c" + client + "/adminconsole", admin());
}

EVD_INSTANTIATE_BACKENDS(LogMonitorTest);

}  // namespace

// The procedure and query bodies, run through their bindings on both
// backends with seeded rows: inputs as callers pass them, result columns by
// position, and the effects of the bodies that write.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "Db/AllBindings.h"
#include "host/messages/message_classes.h"
#include "db/catalog.h"
#include "support/db_fixture.h"

namespace {

class ProceduresTest : public evd::test::DbTest {
 protected:
  // A detected-alert row; returns its event id.
  int newAlert(int criteria, int processStat, int status = 0, const char* entity = "", int category = 1,
               int alertType = 3) {
    NTDetectedAlerts t(nullptr);
    NTDetectedAlerts_t* r = t.getDataPtr();
    r->criteria = criteria;
    r->alertType = alertType;
    r->category = category;
    r->status = status;
    r->processStat = processStat;
    Db::assignText(r->entityId, entity);
    EXPECT_EQ(0, t.rowInsert(true)) << t.getErrorStr(t.lastResult());
    return r->eventId;
  }
  long long stateOf(int eventId) {
    return queryInt("SELECT processStat FROM NTDetectedAlerts WHERE eventId = " + std::to_string(eventId));
  }
  // An occurrence with a detail row of a job in TABLE.
  int jobAlert(const std::string& table, int criteria, int processStat, int jobHigh, int jobLow) {
    int id = newAlert(criteria, processStat);
    exec("INSERT INTO " + table + " (eventId, jobId_h, jobId_l) VALUES (" + std::to_string(id) + ", " +
         std::to_string(jobHigh) + ", " + std::to_string(jobLow) + ")");
    return id;
  }
  // NTDClearDelayedJobAlert's retVal for the inputs (-1 when the call fails).
  int clearDelayed(long long jobHigh, long long jobLow, const char* table) {
    NTDClearDelayedJobAlert p(nullptr);
    p.setValues(jobHigh, jobLow, table);
    const int rc = p.getOneRow();
    EXPECT_EQ(0, rc) << table << ": " << p.getErrorStr(rc);
    return rc == 0 ? p.getDataPtr()->retVal : -1;
  }
  static std::string text(const char* p) { return p ? p : "<null>"; }
};

TEST(ProcedureBodies, EveryBindingHasOne) {
#define EVD_HAS_BODY(N) EXPECT_NE(nullptr, Db::detail::procedureBody(#N)) << #N;
  DB_ALL_PROCEDURES(EVD_HAS_BODY)
#undef EVD_HAS_BODY
  EXPECT_EQ(nullptr, Db::detail::procedureBody("NTNoSuchProcedure"));
}

TEST_P(ProceduresTest, ExistingEventMatchesOnlyPendingRowsOfTheSameAlertObjectAndStatus) {
  newAlert(65, 4, 7, "Client|5");
  auto find = [](int category, int type, int criteria, int status, const char* entity) {
    NTGetExistingEventIdEx q(nullptr);
    q.setValues(category, type, criteria, status, entity);
    int rc = q.getOneRow();
    EXPECT_EQ(0, rc) << q.getErrorStr(rc);
    return q.getDataPtr()->rcCode;
  };
  EXPECT_EQ(0, find(1, 3, 65, 7, "Client|5")) << "state 4 is not pending";
  const int pending = newAlert(65, 64, 7, "Client|5");
  EXPECT_EQ(0, find(1, 3, 65, 8, "Client|5")) << "another old condition";
  EXPECT_EQ(0, find(1, 3, 65, 7, "Client|50")) << "another object";
  EXPECT_EQ(pending, find(1, 3, 65, 7, "Client|5"));
}

TEST_P(ProceduresTest, ClearDelayedJobMovesThePendingDelayedOccurrencesOfTheJobToCleared) {
  const int pending = jobAlert("NTDdpDr", 5, 1, 0, 700);
  const int pendingMatch = jobAlert("NTDdpDr", 5, 2, 0, 700);
  const int held = jobAlert("NTDdpDr", 5, 128, 0, 700);
  const int failedJob = jobAlert("NTDdpDr", 3, 1, 0, 700);
  const int otherHigh = jobAlert("NTDdpDr", 5, 1, 1, 700);
  const int otherTable = jobAlert("NTDauxCopyDataVer", 5, 1, 0, 700);
  // A hostile table name is refused and changes nothing.
  EXPECT_NE(0, clearDelayed(0, 700, "NTDdpDr' OR '1'='1"));
  EXPECT_EQ(1, stateOf(pending));
  EXPECT_EQ(0, clearDelayed(0, 700, "NTDdpDr"));
  const std::pair<int, int> states[] = {
      {pending, 4}, {pendingMatch, 4}, {held, 128}, {failedJob, 1}, {otherHigh, 1}, {otherTable, 1}};
  for (const auto& [id, state] : states) EXPECT_EQ(state, stateOf(id)) << "event " << id;

  // Job 5 * 2^32 + 3000000000: the int32 column holds the low half as
  // 3000000000 - 2^32, and the caller may give it signed or unsigned.
  const int low = static_cast<int>(3000000000LL - 4294967296LL);
  for (long long given : {3000000000LL, static_cast<long long>(low)}) {
    const int id = jobAlert("NTDdpDr", 5, 1, 5, low);
    EXPECT_EQ(0, clearDelayed(5, given, "NTDdpDr")) << given;
    EXPECT_EQ(4, stateOf(id)) << given;
  }
}

TEST_P(ProceduresTest, AlertTraceKeepsEveryCallAndAnUnsignedLowHalf) {
  for (int i = 0; i < 2; ++i) {
    NTDAlertTrace p(nullptr);
    p.setValues(i, 5, 3, 0, 0, "it's no", 0, 0, 0, 0, 0, 0, 0, 4294967295LL, 0, 0, 0, 0, 0);
    ASSERT_EQ(0, p.getOneRow()) << p.getErrorStr(p.lastResult());
  }
  EXPECT_EQ(2, queryInt("SELECT COUNT(*) FROM NTDAlertTraceLog"));
  EXPECT_EQ(4294967295LL, queryInt("SELECT MAX(jobId_l) FROM NTDAlertTraceLog"));
  EXPECT_EQ("it's no", queryText("SELECT conditionCleared FROM NTDAlertTraceLog WHERE eventId = 1"));
}

// The anomalous events of the window, oldest first, with columns from both
// joined tables; the inputs' filters are covered end to end in tests/queries.
TEST_P(ProceduresTest, CentrixEventsOfTheWindow) {
  const long long hour = 1709287200LL;  // 2024-03-01 10:00:00 UTC
  exec("INSERT INTO APP_Client (id, name, displayName) VALUES (2, 'srv2', 'Server Two')");
  exec("INSERT INTO APP_CentrixEvents (messageId, clientId, jobId, eventTimeSecs, severity, subsystem, "
       "acknowledge, description, anomaly, occurance) VALUES "
       "(500, 2, 10, 1709283599, 1, 'JobManager', 0, 'before the window', 1, 4), "
       "(501, 2, 8589934593, 1709283600, 2, 'JobManager', 0, 'at the start, O''Neil''s', 1, 4), "
       "(503, 2, 11, 1709284800, 1, 'JobManager', 0, 'not anomalous', 0, 9), "
       "(504, 9, 0, 1709285400, 5, 'Other', 0, 'unknown client', 3, 2), "
       "(505, 2, 10, 1709287200, 1, 'JobManager', 0, 'at the end', 1, 4)");
  exec("UPDATE APP_CentrixEvents SET eventTime = '2024-03-01 09:30:15'");
  AppGetCentrixEvents p(nullptr);
  ASSERT_EQ(0, p.CallDBsprintfWrapper("%d,%d,%d,%lld,%lld,%d,%d,%d,%d,%d,%d,%d,N'%s',%d,%d", 1, -1, 0,
                                      hour - 3600, hour, 1, 1, 1, 1, -1, -1, 0, "", 0, 1));
  int counter = 0;
  ASSERT_EQ(0, p.getNextRow(&counter)) << p.getErrorStr(p.lastResult());
  const AppGetCentrixEvents_t* r = p.getDataPtr();
  EXPECT_EQ(501, r->messageId);
  EXPECT_STREQ("Server Two", r->displayName);
  EXPECT_EQ(8589934593LL, r->outJobId);
  EXPECT_EQ(15, r->eventTime.second);
  ASSERT_EQ(0, p.getNextRow(&counter));
  EXPECT_STREQ("", p.getDataPtr()->clientName) << "a client missing from APP_Client has no name";
  EXPECT_EQ(100, p.getNextRow(&counter));
}

// After each step both look-ups, as "client url | url of the first available web server's console".
TEST_P(ProceduresTest, ConsoleAddresses) {
  const std::string prop = "INSERT INTO APP_ClientProp (componentNameId, attrName, attrVal, modified) VALUES ";
  const std::vector<std::pair<std::vector<std::string>, std::string>> steps = {
      {{}, "0  | none"},  // no console anywhere: one row without a client
      // 4 has an address but not the package; 6 the package and only an old value; 9 both, its address
      // lacking the console path.
      {{prop + "(4, 'WebURL', 'http://four/webconsole', 0), (6, 'WebURL', 'http://six/webconsole', 1700000000), "
               "(9, 'WebURL', 'http://nine/console', 0), (8, 'OtherProp', 'http://eight/webconsole', 0)",
        "INSERT INTO SimInstalledPackages (ClientId, simPackageID) VALUES (6, 726), (9, 726), (8, 726), (4, 1)"},
       "9 http://nine/console | none"},
      // Server 30 and the console 41 are disabled, 42's old address is not its current one.
      {{"INSERT INTO SimWebServer (clientId, isDisabled) VALUES (30, 1), (31, 0), (32, 0)",
        "INSERT INTO SimWebConsoleAssoc (webServerClientId, webConsoleClientId, isDisabled) VALUES "
        "(30, 40, 0), (31, 41, 1), (31, 43, 0), (31, 42, 0), (32, 44, 0)",
        prop + "(40, 'WebURL', 'http://forty/webconsole', 0), (41, 'WebURL', 'http://fortyone/webconsole', 0), "
               "(42, 'WebURL', 'http://old/webconsole', 5), (42, 'WebURL', 'http://fortytwo/webconsole', 0), "
               "(43, 'WebURL', 'http://fortythree/webconsole', 0), (44, 'WebURL', 'http://fortyfour/webconsole', 0)"},
       "9 http://nine/console | http://fortytwo/webconsole"},
  };
  for (const auto& [sql, want] : steps) {
    for (const std::string& q : sql) exec(q);
    APPGetWebConsoleURL client(nullptr);
    int rc = client.getOneRow();
    EXPECT_EQ(0, rc) << client.getErrorStr(rc);
    NTRetrieveWebConsoleUrl console(nullptr);
    const int found = console.getOneRow();
    EXPECT_TRUE(found == 0 || found == 100) << console.getErrorStr(found);
    EXPECT_EQ(want, std::to_string(client.getDataPtr()->webconsoleClientId) + " " +
                        text(client.getDataPtr()->webConsoleURL) + " | " +
                        (found == 0 ? text(console.getDataPtr()->webConsoleUrl) : "none"));
  }
}

class TrendUrlTest : public ProceduresTest {
 protected:
  void SetUp() override {
    ProceduresTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    exec("INSERT INTO NTNotificationQueryMapping (QueryId, NtNotificationId, xmlInfo) VALUES "
         "(1, 70, '<NXGui_QueryAdditionalInfo><externalQueryInfo type=\"2\" externalQueryId=\"15\"/>"
         "</NXGui_QueryAdditionalInfo>'), "
         "(2, 71, '<NXGui_QueryAdditionalInfo><externalQueryInfo externalQueryId=\"16\"/>"
         "</NXGui_QueryAdditionalInfo>')");
    exec("INSERT INTO LMUserSearch (id, searchInfo, monitoringAppType) VALUES "
         "(15, '<LogMonitoring_SearchURLInfo trendBrowserURL=\"?view=trend&amp;client=&amp;level=\"/>', 1), "
         "(16, '<LogMonitoring_SearchURLInfo other=\"1\" trendBrowserURL=\"?host=\"/>', 2), "
         "(0, '<LogMonitoring_SearchURLInfo trendBrowserURL=\"?zero=\"/>', 1)");
  }
  std::string link(int rule, const std::string& meta, const std::string& trend, const std::string& console) {
    NTRetrieveBrowserUrlForTrendAlert q(nullptr);
    q.setValues(rule, meta, trend, console);
    int rc = q.getOneRow();
    EXPECT_EQ(0, rc) << q.getErrorStr(rc);
    return rc == 0 ? text(q.getDataPtr()->trendDataUrl) : "<error>";
  }
  // The name/value list as the message library serialises it.
  static std::string meta(const std::vector<std::pair<std::string, std::string>>& items) {
    App::LMTrendMetaDataList list;
    for (const auto& [name, val] : items) {
      auto item = std::make_unique<App::LMTrendMetaData>();
      item->setstring(1, name);
      item->setstring(2, val);
      EXPECT_EQ(0, list.addlistobject(1, std::move(item)));
    }
    std::string out;
    EXPECT_EQ(0, list.serialize(out));
    return out;
  }
};

TEST_P(TrendUrlTest, LinkFillsEveryNamedValueEscapedIntoTheSearchsTrendPage) {
  EXPECT_EQ("<a href=\"http://cs/webconsole/logMonitoring.do?view=trend&amp;client=srv1&amp;level=3\">"
            "CPU above 90</a>",
            link(70, meta({{"client", "srv1"}, {"level", "3"}, {"generateLinkFromBrowserUrl", "1"}}),
                 "CPU above 90", "http://cs/webconsole"));
  // Values are decoded from XML and escaped for HTML; monitoring application
  // type 2 uses the system monitoring page.
  EXPECT_EQ("<a href=\"http://cs/webconsole/sysMonitoring.do?host=a&amp;b&quot;&gt;&lt;x\">"
            "O'Hara &lt;b&gt; &amp; co</a>",
            link(71, meta({{"host", "a&b\"><x"}}), "O'Hara <b> & co", "http://cs/webconsole"));
}

TEST_P(TrendUrlTest, TextStaysPlainWithoutConsoleItemsOrTrendPageAndEmptyItemsChangeNothing) {
  const std::string items = meta({{"client", "srv1"}});
  EXPECT_EQ("CPU", link(70, items, "CPU", ""));
  EXPECT_EQ("CPU", link(99, items, "CPU", "http://cs/webconsole")) << "a rule without a saved search";
  // Empty entries and items without a value change nothing.
  const std::string list =
      "<message type=\"35,82\" class=\"512487241\"><list field=\"1\"><object/>"
      "<object><text field=\"1\">host</text></object>"
      "<object><text field=\"1\">view</text><text field=\"2\">a&#13;b</text></object></list></message>";
  EXPECT_EQ("<a href=\"http://cs/sysMonitoring.do?host=\">t</a>", link(71, list, "t", "http://cs"));
  EXPECT_EQ("<a href=\"http://cs/logMonitoring.do?view=a\rbtrend&amp;client=&amp;level=\">t</a>",
            link(70, list, "t", "http://cs"))
      << "a carriage return written as a character reference is read back";
}

TEST_P(ProceduresTest, MountPathReturnsItsDetailsAndTheMediaSidesName) {
  exec("INSERT INTO MMMountPathInfo (MountPathId, MediaSideId, MasterPoolId, LibraryId, MountPathType, MediaId, "
       "DeviceId, CenteraId, IsEnabled, IsOffline, Attribute) VALUES (5, 50, 51, 52, 53, 54, 55, 56, 1, 0, 57), "
       "(6, 60, 0, 0, 0, 0, 0, 0, 0, 1, 0)");
  exec("INSERT INTO MMMountPath (MediaSideId, MountPathName) VALUES (50, '/mnt/disk''s path'), (50, '/mnt/later')");
  // The first name of the mount path's media side and a column of its own.
  auto read = [](int mountPath) -> std::string {
    MMS2getMountPathNameGUI p(nullptr);
    p.setValues(mountPath);
    const int rc = p.getOneRow();
    if (rc == 100) return "<none>";
    EXPECT_EQ(0, rc) << p.getErrorStr(rc);
    return std::string(p.getDataPtr()->o_mountPathName) + " " + std::to_string(p.getDataPtr()->o_Attribute);
  };
  EXPECT_EQ("/mnt/disk's path 57", read(5));
  EXPECT_EQ(" 0", read(6)) << "a media side without a name";
  EXPECT_EQ("<none>", read(7));
}

EVD_INSTANTIATE_BACKENDS(ProceduresTest);
EVD_INSTANTIATE_BACKENDS(TrendUrlTest);

}  // namespace

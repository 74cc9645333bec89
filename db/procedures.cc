#include "db/catalog.h"

#include <cstring>
#include <map>

namespace Db::detail {
namespace {

struct Less {
  bool operator()(const char* a, const char* b) const { return std::strcmp(a, b) < 0; }
};

// Bodies run unchanged on both backends: inputs are $1.., bit tests use '&',
// and no statement depends on one dialect's extensions. PostgreSQL infers the
// type of every input from the statement, so each statement names $1..$k
// without gaps and casts an input wherever nothing else gives it a type.
//
// Neither backend offers a portable "find text in text", so the few bodies
// that read XML attributes walk a recursive list of positions 1..length and
// take the first position where a fixed text starts. The documents read that
// way (a rule's query information, a saved search, a trend's name/value list)
// are a few hundred characters.

// SQL: the first position (a row of generator GEN, column n) at or after
// FROM where the text TEXT holds the fixed ASCII text LIT; null when none.
std::string firstAt(const std::string& gen, const std::string& text, const std::string& lit,
                    const std::string& from) {
  std::string quoted;
  for (char c : lit) {
    quoted += c;
    if (c == '\'') quoted += '\'';
  }
  return "(SELECT MIN(" + gen + ".n) FROM " + gen + " WHERE " + gen + ".n >= " + from + " AND SUBSTR(" + text +
         ", " + gen + ".n, " + std::to_string(lit.size()) + ") = '" + quoted + "')";
}

// SQL: a generator of the positions 1..LENGTH(text) of the one-row CTE SRC.
std::string positions(const std::string& gen, const std::string& src, const std::string& text) {
  return gen + "(n) AS (SELECT 1 UNION ALL SELECT " + gen + ".n + 1 FROM " + gen + ", " + src + " WHERE " + gen +
         ".n < LENGTH(" + src + "." + text + "))";
}

// SQL: TEXT with the five predefined XML entities turned back into characters.
std::string xmlDecode(const std::string& text) {
  return "REPLACE(REPLACE(REPLACE(REPLACE(REPLACE(" + text +
         ", '&lt;', '<'), '&gt;', '>'), '&quot;', '\"'), '&apos;', ''''), '&amp;', '&')";
}

// SQL: TEXT made safe inside an HTML attribute value or element.
std::string htmlEscape(const std::string& text) {
  return "REPLACE(REPLACE(REPLACE(REPLACE(" + text + ", '&', '&amp;'), '\"', '&quot;'), '<', '&lt;'), '>', '&gt;')";
}

// CTEs P1..P3 and PV over the one-row CTE SRC with column X (positions from
// generator GEN): PV.v is the value of attribute ATTR of the first element
// ELEM in X, entities decoded; null when the element or the attribute (inside
// the element's start tag) is missing.
std::string attributeCtes(const std::string& p, const std::string& src, const std::string& gen,
                          const std::string& elem, const std::string& attr) {
  const std::string open = " " + attr + "=\"";
  const std::string len = std::to_string(open.size());
  return p + "1 AS (SELECT " + src + ".x, " + firstAt(gen, src + ".x", "<" + elem, "1") + " AS es FROM " + src +
         "), " +
         p + "2 AS (SELECT " + p + "1.x, " + firstAt(gen, p + "1.x", ">", p + "1.es") + " AS gt, " +
         firstAt(gen, p + "1.x", open, p + "1.es") + " AS ab FROM " + p + "1), " +
         p + "3 AS (SELECT " + p + "2.x, " + p + "2.gt, " + p + "2.ab, " +
         firstAt(gen, p + "2.x", "\"", p + "2.ab + " + len) + " AS ae FROM " + p + "2), " +
         p + "v AS (SELECT CASE WHEN " + p + "3.ab < " + p + "3.gt AND " + p + "3.ae IS NOT NULL THEN " +
         xmlDecode("SUBSTR(" + p + "3.x, " + p + "3.ab + " + len + ", " + p + "3.ae - " + p + "3.ab - " + len + ")") +
         " END AS v FROM " + p + "3)";
}

// SQL: true when TEXT is 1 to 9 decimal digits (so it converts to INTEGER on
// both backends without an error and without overflow).
std::string isSmallNumber(const std::string& text) {
  std::string stripped = text;
  for (char d = '0'; d <= '9'; ++d) stripped = "REPLACE(" + stripped + ", '" + std::string(1, d) + "', '')";
  return "(LENGTH(" + text + ") BETWEEN 1 AND 9 AND " + stripped + " = '')";
}

// A job id half as the detail tables store it (int32), from the caller's
// value, which may be the same 32 bits written unsigned.
std::string jobIdHalf(const char* input) {
  const std::string v = std::string("CAST(") + input + " AS BIGINT)";
  return "CASE WHEN " + v + " > 2147483647 THEN " + v + " - 4294967296 ELSE " + v + " END";
}

// Withdrawal of a job's pending delayed-job occurrences when the delay
// condition clears. Inputs: jobId_h, jobId_l, the name of the handler's
// detail table. The occurrences move to state 4 (condition cleared) rather
// than being deleted: that is the state every other cleared condition ends
// in, the notifier can still tell the recipients that the delay is over, and
// the detail and parameter rows stay consistent with a row that still exists.
// Rows in state 0 (still being written) or 128 (held) are not pending and are
// left alone. The detail table is one of a fixed set, picked by a guard per
// branch, never by building SQL from the input; any other name changes nothing
// and yields retVal 1. retVal 0 also when nothing was pending.
std::vector<std::string> clearDelayedJobAlert() {
  std::string branches;
  for (const char* table : {"NTDdpDr", "NTDauxCopyDataVer", "NTDdataAgingER"}) {
    if (!branches.empty()) branches += " UNION ALL ";
    branches += std::string("SELECT d.eventId FROM ") + table + " d, q WHERE q.tbl = '" + table +
                "' AND d.jobId_h = q.h AND d.jobId_l = q.l";
  }
  return {
      "WITH q AS (SELECT " + jobIdHalf("$1") + " AS h, " + jobIdHalf("$2") + " AS l, CAST($3 AS TEXT) AS tbl) "
      "UPDATE NTDetectedAlerts SET processStat = 4 WHERE criteria = 5 AND (processStat & 67) <> 0 "
      "AND eventId IN (" + branches + ")",
      "SELECT CASE WHEN CAST($1 AS BIGINT) IS NULL OR CAST($2 AS BIGINT) IS NULL THEN 2 "
      "WHEN CAST($3 AS TEXT) IN ('NTDdpDr', 'NTDauxCopyDataVer', 'NTDdataAgingER') THEN 0 ELSE 1 END AS retVal",
  };
}

// One trace row per event. Inputs in order: event id, criteria, alert type,
// old alert id, old condition id, "yes"/"no" for a cleared condition, client,
// library, spare pool, drive, media, MediaAgent, mount path, job id low half,
// job id high half, task, schedule policy, storage policy, copy.
std::vector<std::string> alertTrace() {
  return {
      "INSERT INTO NTDAlertTraceLog (eventId, criteria, alertType, alertId, conditionId, conditionCleared, "
      "clientId, libraryId, sparePoolId, driveId, mediaId, mediaAgentId, mountPathId, jobId_l, jobId_h, taskId, "
      "schedPolicyId, storPolicyId, copyId) "
      "VALUES ($1, $2, $3, $4, $5, $6, $7, $8, $9, $10, $11, $12, $13, $14, $15, $16, $17, $18, $19)",
      "SELECT 0 AS retVal",
  };
}

// Server events of a time window. The fifteen inputs:
//   $1  id of the asking user (1: the server's administrator); events carry
//       no per-user visibility, so it selects nothing
//   $2  the caller's message selector, with which the host renders texts;
//       event texts are stored rendered, so it selects nothing
//   $3  client id; 0 or less: every client
//   $4  start of the window, seconds since 1970, included
//   $5  end of the window, seconds since 1970, excluded (consecutive hourly
//       windows never report an event twice)
//   $6..$9  non-zero to include critical (severity 1), major (2), minor (3)
//       and information (any other severity) events
//   $10 job id; negative: any job
//   $11 message id; negative: any message
//   $12 least number of occurrences (occurance) an event must have
//   $13 subsystem name; empty: every subsystem
//   $14 non-zero: only events nobody has acknowledged yet
//   $15 non-zero: only events the server marked as anomalous
// Oldest first. Names come from APP_Client and are empty for a client that
// is not registered there.
std::vector<std::string> centrixEvents() {
  return {
      "SELECT e.id, e.messageId, e.clientId, COALESCE(c.name, ''), COALESCE(c.displayName, ''), e.severity, "
      "e.jobId, e.eventTime, e.subsystem, e.type, e.acknowledge, e.description, e.eventCodeString, e.anomaly, "
      "e.occurance "
      "FROM (SELECT CAST($1 AS INTEGER) AS userId, CAST($2 AS INTEGER) AS selector, CAST($3 AS INTEGER) AS clientId, "
      "CAST($4 AS BIGINT) AS fromTime, CAST($5 AS BIGINT) AS toTime, CAST($6 AS INTEGER) AS critical, "
      "CAST($7 AS INTEGER) AS major, CAST($8 AS INTEGER) AS minor, CAST($9 AS INTEGER) AS info, "
      "CAST($10 AS BIGINT) AS jobId, CAST($11 AS INTEGER) AS messageId, CAST($12 AS INTEGER) AS occurrences, "
      "CAST($13 AS TEXT) AS subsystem, CAST($14 AS INTEGER) AS unacknowledged, CAST($15 AS INTEGER) AS anomalous) q "
      "JOIN APP_CentrixEvents e ON e.eventTimeSecs >= q.fromTime AND e.eventTimeSecs < q.toTime "
      "LEFT JOIN APP_Client c ON c.id = e.clientId "
      "WHERE (q.clientId <= 0 OR e.clientId = q.clientId) "
      "AND ((q.critical <> 0 AND e.severity = 1) OR (q.major <> 0 AND e.severity = 2) "
      "OR (q.minor <> 0 AND e.severity = 3) OR (q.info <> 0 AND e.severity NOT IN (1, 2, 3))) "
      "AND (q.jobId < 0 OR e.jobId = q.jobId) AND (q.messageId < 0 OR e.messageId = q.messageId) "
      "AND e.occurance >= q.occurrences AND (q.subsystem = '' OR e.subsystem = q.subsystem) "
      "AND (q.unacknowledged = 0 OR e.acknowledge = 0) AND (q.anomalous = 0 OR e.anomaly <> 0) "
      "ORDER BY e.eventTimeSecs, e.id",
  };
}

// The client that hosts a web console away from the central server (it has
// the console package, 726, installed) and its address, the client's current
// "WebURL" property. Addresses holding "/webconsole" come first, then the
// lowest client id. Always one row: (0, '') when there is no such client, so
// the caller tells "none" from a database failure.
std::vector<std::string> webConsoleUrl() {
  return {
      "SELECT w.clientId, w.url FROM ("
      "SELECT p.componentNameId AS clientId, p.attrVal AS url, "
      "CASE WHEN p.attrVal LIKE '%/webconsole%' THEN 0 ELSE 1 END AS pref "
      "FROM APP_ClientProp p WHERE p.attrName = 'WebURL' AND p.modified = 0 AND p.attrVal <> '' "
      "AND p.componentNameId > 0 AND EXISTS (SELECT 1 FROM SimInstalledPackages s "
      "WHERE s.ClientId = p.componentNameId AND s.simPackageID = 726) "
      "UNION ALL SELECT 0, '', 2) w "
      "ORDER BY w.pref, w.clientId LIMIT 1",
  };
}

// Catalogue text of a message. Inputs: message id, the reader's locale, the
// locale to fall back on. The text in the reader's locale, else the one in
// the fallback locale, else the message's text in the lowest locale it has:
// a notification in another language beats none. No row when the catalogue
// does not know the message.
std::vector<std::string> formatLocaleMsg() {
  return {
      "SELECT m.msgText FROM NTLocaleMsg m WHERE m.msgId = $1 "
      "ORDER BY CASE WHEN m.locale = $2 THEN 0 WHEN m.locale = $3 THEN 1 ELSE 2 END, m.locale LIMIT 1",
  };
}

// A mount path by id, with its name from MMMountPath (empty when it has none).
std::vector<std::string> mountPathName() {
  return {
      "SELECT i.MountPathId, COALESCE((SELECT m.MountPathName FROM MMMountPath m "
      "WHERE m.MediaSideId = i.MediaSideId ORDER BY m.evdRowId LIMIT 1), ''), i.MediaSideId, i.MasterPoolId, "
      "i.LibraryId, i.MountPathType, i.MediaId, i.DeviceId, i.CenteraId, i.IsEnabled, i.IsOffline, i.Attribute "
      "FROM MMMountPathInfo i WHERE i.MountPathId = $1",
  };
}

// The address of the web console that the first available web server
// serves: the web servers in registration order, the first one not disabled
// (client id 0 when there is none), the consoles associated with it, and the
// first of their "WebURL" properties. No row when there is none.
std::vector<std::string> retrieveWebConsoleUrl() {
  return {
      "SELECT p.attrVal FROM APP_ClientProp p WHERE p.attrName = 'WebURL' AND p.modified = 0 AND p.attrVal <> '' "
      "AND p.componentNameId IN (SELECT a.webConsoleClientId FROM SimWebConsoleAssoc a WHERE a.isDisabled = 0 "
      "AND a.webServerClientId = COALESCE((SELECT w.clientId FROM SimWebServer w WHERE w.isDisabled = 0 "
      "ORDER BY w.id LIMIT 1), 0)) "
      "ORDER BY p.componentNameId LIMIT 1",
  };
}

// The trend text of a trend alert wrapped in a link to the monitoring page.
// Inputs: notification (rule) id, the trend's name/value list as the message
// library serialises it (an App::LMTrendMetaDataList: one <object> entry per
// item, the name in <text field="1">, the value in <text field="2">), the
// trend text, the web console address.
//   - no console address, no named item, or no trend page address found for
//     the rule: the trend text unchanged;
//   - the rule's saved search: externalQueryId of the externalQueryInfo
//     element of its NTNotificationQueryMapping.xmlInfo; the page address:
//     trendBrowserURL of the LogMonitoring_SearchURLInfo element of that
//     search's LMUserSearch.searchInfo;
//   - link: console address, "/sysMonitoring.do" for monitoring application
//     type 2 or else "/logMonitoring.do", the page address; then, for every
//     item in list order except generateLinkFromBrowserUrl, "name=" becomes
//     "name=val";
//   - result: <a href="link">trend text</a>, both escaped for HTML, since the
//     values come from monitored logs and must not break out of the link.
std::vector<std::string> trendBrowserUrl() {
  // Texts of the serialised form: the five entities and the carriage return,
  // which the library writes as a character reference.
  auto textDecode = [](const std::string& text) { return xmlDecode("REPLACE(" + text + ", '&#13;', '\r')"); };
  const std::string items =
      // Every entry: an <object> element that is not empty, its content up
      // to its </object> (entries hold texts only, so none nests).
      "ms AS (SELECT mp.n AS s FROM mp, inp WHERE SUBSTR(inp.meta, mp.n, 7) = '<object' "
      "AND SUBSTR(inp.meta, mp.n + 7, 1) IN (' ', '>')), "
      "mg AS (SELECT ms.s, " + firstAt("mp", "inp.meta", ">", "ms.s") + " AS gt FROM ms, inp), "
      "me AS (SELECT mg.s, SUBSTR(inp.meta, mg.gt + 1, COALESCE(" + firstAt("mp", "inp.meta", "</object>", "mg.gt") +
      ", LENGTH(inp.meta) + 1) - mg.gt - 1) AS e FROM mg, inp "
      "WHERE mg.gt IS NOT NULL AND SUBSTR(inp.meta, mg.gt - 1, 1) <> '/'), "
      "ma AS (SELECT me.s, me.e, " + firstAt("mp", "me.e", "<text field=\"1\">", "1") + " + 16 AS nb, " +
      firstAt("mp", "me.e", "<text field=\"2\">", "1") + " + 16 AS vb FROM me), "
      "mb AS (SELECT ma.s, ma.e, ma.nb, " + firstAt("mp", "ma.e", "</text>", "ma.nb") + " AS ne, ma.vb, " +
      firstAt("mp", "ma.e", "</text>", "ma.vb") + " AS ve FROM ma WHERE ma.nb IS NOT NULL), "
      "items AS (SELECT mb.s, " + textDecode("SUBSTR(mb.e, mb.nb, mb.ne - mb.nb)") + " AS name, "
      "CASE WHEN mb.ve IS NULL THEN '' ELSE " + textDecode("SUBSTR(mb.e, mb.vb, mb.ve - mb.vb)") +
      " END AS val FROM mb WHERE mb.ne IS NOT NULL), "
      "kept AS (SELECT ROW_NUMBER() OVER (ORDER BY items.s) AS k, items.name, items.val FROM items "
      "WHERE items.name <> '' AND items.name <> 'generateLinkFromBrowserUrl'), ";
  const std::string search =
      // The rule's saved search and the search's trend page address.
      "qm AS (SELECT m.xmlInfo AS x FROM NTNotificationQueryMapping m, inp WHERE m.NtNotificationId = inp.ruleId "
      "AND m.xmlInfo LIKE '%externalQueryId%' ORDER BY m.evdRowId LIMIT 1), " +
      positions("qp", "qm", "x") + ", " + attributeCtes("qa", "qm", "qp", "externalQueryInfo", "externalQueryId") +
      ", "
      "srch AS (SELECT s.searchInfo AS x, s.monitoringAppType AS appType FROM LMUserSearch s "
      "WHERE s.id = (SELECT CASE WHEN " + isSmallNumber("qav.v") + " THEN CAST(qav.v AS INTEGER) END FROM qav)), " +
      positions("sp", "srch", "x") + ", " +
      attributeCtes("sa", "srch", "sp", "LogMonitoring_SearchURLInfo", "trendBrowserURL") + ", ";
  const std::string link =
      "lk(k, link) AS (SELECT 0, inp.console || CASE WHEN srch.appType = 2 THEN '/sysMonitoring.do' "
      "ELSE '/logMonitoring.do' END || sav.v FROM inp, srch, sav WHERE sav.v <> '' "
      "UNION ALL SELECT lk.k + 1, REPLACE(lk.link, kept.name || '=', kept.name || '=' || kept.val) "
      "FROM lk JOIN kept ON kept.k = lk.k + 1), "
      "fin AS (SELECT (SELECT lk.link FROM lk ORDER BY lk.k DESC LIMIT 1) AS link) ";
  return {
      "WITH RECURSIVE inp AS (SELECT CAST($1 AS INTEGER) AS ruleId, COALESCE(CAST($2 AS TEXT), '') AS meta, "
      "COALESCE(CAST($3 AS TEXT), '') AS trend, COALESCE(CAST($4 AS TEXT), '') AS console), " +
      positions("mp", "inp", "meta") + ", " + items + search + link +
      "SELECT CASE WHEN inp.console = '' OR NOT EXISTS (SELECT 1 FROM items) OR fin.link IS NULL THEN inp.trend "
      "ELSE '<a href=\"' || " + htmlEscape("fin.link") + " || '\">' || " + htmlEscape("inp.trend") +
      " || '</a>' END FROM inp, fin",
  };
}

// Clients named by an occurrence's client-id list parameter (one NTDparams
// row per id, decimal text) that have software installed: id, name, the text
// of the client's release, and the sum of its platform bits (1 central
// server, 2 MediaAgent, 4 client; APP_Platform holds each bit once per
// client). A value that is not a plain number names no client. Ordered by
// name.
std::vector<std::string> updateReqClntList() {
  return {
      "SELECT c.id, c.name, COALESCE(r.release, ''), "
      "COALESCE((SELECT SUM(pl.platformType) FROM APP_Platform pl WHERE pl.clientId = c.id), 0) "
      "FROM APP_Client c LEFT JOIN simAllPelionRel r ON r.id = c.releaseId "
      "WHERE c.id IN (SELECT CASE WHEN " + isSmallNumber("p.value") + " THEN CAST(p.value AS INTEGER) END "
      "FROM NTDparams p WHERE p.eventId = $1 AND p.type = $2) "
      "AND EXISTS (SELECT 1 FROM SimInstalledPackages s WHERE s.ClientId = c.id) "
      "ORDER BY c.name, c.id",
  };
}

const std::map<const char*, std::vector<std::string>, Less>& bodies() {
  static const std::map<const char*, std::vector<std::string>, Less> m = {
      {"NTGetExistingEventIdEx",
       {"SELECT COALESCE((SELECT eventId FROM NTDetectedAlerts WHERE entityId = $5 AND alertType = $2 "
        "AND criteria = $3 AND category = $1 AND status = $4 AND (processStat & 67) <> 0 LIMIT 1), 0) AS rcCode"}},
      {"NTGetEventParam",
       {"SELECT value AS eventParam FROM NTDparams WHERE eventId = $1 AND type = $2 ORDER BY evdRowId LIMIT 1"}},
      {"NTDClearDelayedJobAlert", clearDelayedJobAlert()},
      {"NTDAlertTrace", alertTrace()},
      {"AppGetCentrixEvents", centrixEvents()},
      {"APPGetWebConsoleURL", webConsoleUrl()},
      {"NTFormatLocaleMsg", formatLocaleMsg()},
      {"MMS2getMountPathNameGUI", mountPathName()},
      {"NTRetrieveWebConsoleUrl", retrieveWebConsoleUrl()},
      {"NTRetrieveBrowserUrlForTrendAlert", trendBrowserUrl()},
      {"NTDUpdateReqClntList", updateReqClntList()},
  };
  return m;
}

}  // namespace

const std::vector<std::string>* procedureBody(const char* name) {
  auto it = bodies().find(name);
  return it == bodies().end() ? nullptr : &it->second;
}

}  // namespace Db::detail

#include "schema/schema.h"

namespace Db::schema {

const std::vector<std::string>& extraTables() {
  static const std::vector<std::string> v = {
      // Clients of the server as the application manager registers them:
      // the names shown in update-request lists and server-event summaries.
      "CREATE TABLE IF NOT EXISTS APP_Client (id INTEGER DEFAULT 0 PRIMARY KEY, name TEXT DEFAULT '', "
      "displayName TEXT DEFAULT '', releaseId INTEGER DEFAULT 0)",
      // One row per role of a client; platformType is a bit (1 the central
      // server, 2 MediaAgent, 4 client), so a client's roles add up to a mask.
      "CREATE TABLE IF NOT EXISTS APP_Platform (clientId INTEGER DEFAULT 0, platformType INTEGER DEFAULT 0, "
      "PRIMARY KEY (clientId, platformType))",
      // Software releases, by the id that APP_Client.releaseId names.
      "CREATE TABLE IF NOT EXISTS simAllPelionRel (id INTEGER DEFAULT 0 PRIMARY KEY, release TEXT DEFAULT '')",
      // Web servers registered with the central server, in registration order,
      // and the web consoles each serves; a console's address is its client's
      // "WebURL" property in APP_ClientProp.
      "CREATE TABLE IF NOT EXISTS SimWebServer (id $SERIAL, clientId INTEGER DEFAULT 0, "
      "portNumber INTEGER DEFAULT 0, apachePortNumber INTEGER DEFAULT 0, isDisabled INTEGER DEFAULT 0)",
      "CREATE TABLE IF NOT EXISTS SimWebConsoleAssoc (webServerClientId INTEGER DEFAULT 0, "
      "webConsoleClientId INTEGER DEFAULT 0, isDisabled INTEGER DEFAULT 0, "
      "PRIMARY KEY (webServerClientId, webConsoleClientId))",
      // Saved log-monitoring searches; searchInfo is the search's XML, whose
      // LogMonitoring_SearchURLInfo element carries the trend page address.
      "CREATE TABLE IF NOT EXISTS LMUserSearch (id INTEGER DEFAULT 0 PRIMARY KEY, searchInfo TEXT DEFAULT '', "
      "monitoringAppType INTEGER DEFAULT 0)",
      // Mount paths by id; the name lives in MMMountPath under the media side.
      "CREATE TABLE IF NOT EXISTS MMMountPathInfo (MountPathId INTEGER DEFAULT 0 PRIMARY KEY, "
      "MediaSideId INTEGER DEFAULT 0, MasterPoolId INTEGER DEFAULT 0, LibraryId INTEGER DEFAULT 0, "
      "MountPathType INTEGER DEFAULT 0, MediaId INTEGER DEFAULT 0, DeviceId INTEGER DEFAULT 0, "
      "CenteraId INTEGER DEFAULT 0, IsEnabled INTEGER DEFAULT 0, IsOffline INTEGER DEFAULT 0, "
      "Attribute INTEGER DEFAULT 0)",
      // Catalogue texts by message id and locale.
      "CREATE TABLE IF NOT EXISTS NTLocaleMsg (msgId INTEGER DEFAULT 0, locale INTEGER DEFAULT 0, "
      "msgText TEXT DEFAULT '', PRIMARY KEY (msgId, locale))",
      // The server's own event log. eventTime is the local time shown to
      // users; eventTimeSecs the same instant in seconds since 1970, which
      // time windows are asked in. severity: 1 critical, 2 major, 3 minor,
      // anything else information; anomaly is non-zero for events the server
      // marked as anomalous.
      "CREATE TABLE IF NOT EXISTS APP_CentrixEvents (id $SERIAL, messageId INTEGER DEFAULT 0, "
      "clientId INTEGER DEFAULT 0, jobId BIGINT DEFAULT 0, eventTime $DATETIME, eventTimeSecs BIGINT DEFAULT 0, "
      "severity INTEGER DEFAULT 0, subsystem TEXT DEFAULT '', type INTEGER DEFAULT 0, "
      "acknowledge INTEGER DEFAULT 0, description TEXT DEFAULT '', eventCodeString TEXT DEFAULT '', "
      "anomaly INTEGER DEFAULT 0, occurance INTEGER DEFAULT 0)",
      // One row per traced event while the server has alert tracing on. The
      // job id halves are wide so that a low half written unsigned still fits.
      "CREATE TABLE IF NOT EXISTS NTDAlertTraceLog (id $SERIAL, eventId INTEGER DEFAULT 0, "
      "criteria INTEGER DEFAULT 0, alertType INTEGER DEFAULT 0, alertId INTEGER DEFAULT 0, "
      "conditionId INTEGER DEFAULT 0, conditionCleared TEXT DEFAULT '', clientId INTEGER DEFAULT 0, "
      "libraryId INTEGER DEFAULT 0, sparePoolId INTEGER DEFAULT 0, driveId INTEGER DEFAULT 0, "
      "mediaId INTEGER DEFAULT 0, mediaAgentId INTEGER DEFAULT 0, mountPathId INTEGER DEFAULT 0, "
      "jobId_l BIGINT DEFAULT 0, jobId_h BIGINT DEFAULT 0, taskId INTEGER DEFAULT 0, "
      "schedPolicyId INTEGER DEFAULT 0, storPolicyId INTEGER DEFAULT 0, copyId INTEGER DEFAULT 0)",
  };
  return v;
}

}  // namespace Db::schema

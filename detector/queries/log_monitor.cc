// Log-monitoring alerts (types 57 and 62) and the trend results of
// custom-query rules.
//
// A log-monitoring match is always a new occurrence: the policy, the matched
// lines and their context go to NTLMalert. A trend rule's result container
// carries trend entries instead of column values; each entry stands for one
// more column value of the entity (its text, linked to the monitoring page
// when the entry has metadata), which the custom-query handler stores.
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "Db/AllBindings.h"
#include "detector/EvNDetector.h"
#include "detector/queries/query_handlers.h"
#include "host/EvAlertDebug.h"
#include "host/EvAlertEx.h"
#include "host/LogMonitoring.h"
#include "host/messages/message_classes.h"

namespace {

// NTnotificationRule.status bits.
constexpr int kTrendRuleBit = 0x10000;
constexpr int kLastValueFilterBit = 0x2000;

using Match = App::LogMonitoringAlert::Fields;

void copyText(char*& column, const App::LogMonitoringAlert& msg, const CNFieldDef& field) {
  Db::assignText(column, msg.getstring(field.number).c_str());
}

}  // namespace

bool EvNDetector::LogMonitorAlert(EvAlertEx& alert) {
  EvAlertDebug log;
  const char* label = "EvNDetector::LogMonitorAlert";
  LogMonitoring::RegisterSubsystem();

  // Read first: an unreadable description leaves no occurrence behind.
  App::LogMonitoringAlert msg;
  const int rc = alert.getDescription().empty() ? CN_ERR_EMPTY_INPUT : msg.unserialize(alert.getDescription());
  if (rc != 0) {
    log.DebugLvl(label, 3, "unserialization failed input xml %s", alert.getDescription().c_str());
    return false;
  }

  // Every match is an occurrence of its own: nothing is looked up.
  int newId = 0;
  if (!SetDetectedAlert(newId, false, 0) || newId <= 0) return false;
  setEventId(newId);

  NTLMalert table(nullptr);
  NTLMalert_t& row = *table.getDataPtr();
  row.eventId = newId;
  row.monPolId = msg.getint32(Match::monPolId.number);
  row.jobId = msg.getint32(Match::jobId.number);
  copyText(row.monPolName, msg, Match::monPolName);
  copyText(row.linesMatched, msg, Match::linesMatched);
  row.clientId = msg.getint32(Match::clientId.number);
  row.monitoringCriteriaId = msg.getint32(Match::monitoringCriteriaId.number);
  // The context lines and the attachment stay null when the match has none.
  for (const auto& [column, field] : {std::pair{&row.linesAbove, Match::linesAbove},
                                      std::pair{&row.linesBelow, Match::linesBelow},
                                      std::pair{&row.attachedFilePath, Match::attachedFilePath}})
    if (msg.isSet(CNFieldFamily::Text, field.number)) copyText(*column, msg, field);
  copyText(row.comment, msg, Match::comment);
  row.lineNum = msg.getint32(Match::lineNum.number);
  const int inserted = table.rowInsert(true);
  if (inserted != 0) {
    log.Error(label, "Could not insert row into table [%s], ErrorString [%s]", table.getTableName(),
              table.getErrorStr(inserted));
    return false;
  }
  return SetStatus_Detected(newId);
}

int GetAlertTypeForLMAlerts(int ruleId, int& lastValueFilter) {
  EvAlertDebug log;
  const char* label = "GetAlertTypeForLMAlerts";
  lastValueFilter = 0;
  try {
    NTnotificationRule table(nullptr);
    table.setIsolationType(4);
    table.setWhere("id = %d", ruleId);
    const int rc = table.getOneRow();
    if (DBrowRead(rc)) {
      const int status = table.getDataPtr()->status;
      lastValueFilter = (status & kLastValueFilterBit) ? 1 : 0;
      if (status & kTrendRuleBit) return queries::kTrendRuleKind;
    } else if (rc != DB_NO_DATA) {
      log.Error(label, "ErrorCode [%d] in checking whether rule [%d] is a trend Alert", rc, ruleId);
    }
  } catch (...) {
    log.Error(label, "ErrorCode [%d] in checking whether rule [%d] is a trend Alert", DB_ERR_USAGE, ruleId);
  }
  return 0;
}

int GetDAStatusForLMAlerts(int status) {
  switch (status) {
    case 1: return 1;
    case 2: return 2;
    case 3: return 4;
    case 4: return 8;
    default: return 0;
  }
}

namespace queries {

std::optional<std::vector<std::string>> trendColumnValues(const App::QueryResultsContainer& container,
                                                          const TrendLink& link) {
  std::vector<std::string> values;
  const CNMessageList* entries = container.getlistobject(Container::trendEntries.number);
  if (!entries) return values;
  for (const std::unique_ptr<CNMessageBase>& entry : *entries) {
    if (!entry) continue;
    std::string message = entry->getstring(TrendEntry::message.number);
    std::string extra = entry->getstring(TrendEntry::extra.number);
    const CNMessageBase* meta = entry->getObjectAccessor(TrendEntry::metaData.number);
    const CNMessageList* items = meta ? meta->getlistobject(TrendMetaData::metaDataList.number) : nullptr;
    if (items && !items->empty()) {
      std::optional<std::string> linked = link(*meta, extra);
      if (!linked) return std::nullopt;
      extra = std::move(*linked);
    }
    if (!extra.empty()) message += " " + extra;
    values.push_back(std::move(message));
  }
  return values;
}

std::optional<std::string> trendPageLink(int ruleId, const std::string& consoleUrl, const CNMessageBase& metaData,
                                         const std::string& extra) {
  std::string metaText;
  int rc = metaData.serialize(metaText);
  std::string linked;
  if (rc == 0) {
    NTRetrieveBrowserUrlForTrendAlert query(nullptr);
    query.setValues(ruleId, metaText, extra, consoleUrl);
    rc = query.getOneRow();
    if (DBrowRead(rc) && query.getDataPtr()->trendDataUrl) linked = query.getDataPtr()->trendDataUrl;
  }
  // The look-up hands back the extra text, linked or as it was; only an
  // empty extra text may come back empty.
  if (!DBrowRead(rc) || (linked.empty() && !extra.empty())) {
    EvAlertDebug log;
    log.Error("StoreLMTrendAlertData", "Errorcode [%d] in retrieving trend data", rc);
    return std::nullopt;
  }
  return linked;
}

}  // namespace queries

// Log-monitoring alerts (types 57 and 62) and the trend results of
// custom-query rules.
//
// A log-monitoring match is always a new occurrence: the policy, the matched
// lines and their context go to NTLMalert. A trend rule's result container
// carries trend entries instead of column values; each entry becomes one
// more column value of the entity (its text, linked to the monitoring page
// when the entry has metadata), and the container then goes the custom-query
// way.
#include <memory>
#include <string>

#include "Db/AllBindings.h"
#include "detector/EvNDetector.h"
#include "host/EvAlertDebug.h"
#include "host/EvAlertEx.h"
#include "host/messages/message_classes.h"

namespace {

constexpr int kTrendRuleKind = 3;
// NTnotificationRule.status bits.
constexpr int kTrendRuleBit = 0x10000;
constexpr int kLastValueFilterBit = 0x2000;

// App::QueryResultsContainer, App::LMTrendAlertEntry, App::LMTrendMetaDataList.
constexpr int kEntity = 6;
constexpr int kTrendEntries = 9;
constexpr int kRuleId = 10;
constexpr int kEntityPairs = 1;
constexpr int kPairValue = 2;
constexpr int kTrendMessage = 1;
constexpr int kTrendMetaData = 2;
constexpr int kTrendExtra = 3;
constexpr int kMetaDataItems = 1;

// App::LogMonitoringAlert: integers and texts are separate fields.
namespace lm {
constexpr int kClientId = 1, kMonPolId = 2, kMonitoringCriteriaId = 7, kLineNum = 8, kJobId = 29;
constexpr int kMonPolName = 3, kComment = 6, kLinesMatched = 7, kLinesAbove = 8, kLinesBelow = 9,
              kAttachedFilePath = 10;
}  // namespace lm

void copyText(char*& column, const App::LogMonitoringAlert& msg, int field) {
  Db::assignText(column, msg.getstring(field).c_str());
}

}  // namespace

bool EvNDetector::LogMonitorAlert(EvAlertEx& alert) {
  EvAlertDebug log;
  const char* label = "EvNDetector::LogMonitorAlert";
  try {
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
    row.monPolId = msg.getint32(lm::kMonPolId);
    row.jobId = msg.getint32(lm::kJobId);
    copyText(row.monPolName, msg, lm::kMonPolName);
    copyText(row.linesMatched, msg, lm::kLinesMatched);
    row.clientId = msg.getint32(lm::kClientId);
    row.monitoringCriteriaId = msg.getint32(lm::kMonitoringCriteriaId);
    // The context lines and the attachment stay null when the match has none.
    if (msg.isSet(CNFieldFamily::Text, lm::kLinesAbove)) copyText(row.linesAbove, msg, lm::kLinesAbove);
    if (msg.isSet(CNFieldFamily::Text, lm::kLinesBelow)) copyText(row.linesBelow, msg, lm::kLinesBelow);
    if (msg.isSet(CNFieldFamily::Text, lm::kAttachedFilePath))
      copyText(row.attachedFilePath, msg, lm::kAttachedFilePath);
    copyText(row.comment, msg, lm::kComment);
    row.lineNum = msg.getint32(lm::kLineNum);
    const int inserted = table.rowInsert(true);
    if (inserted != 0) {
      log.Error(label, "Could not insert row into table [%s], ErrorString [%s]", table.getTableName(),
                table.getErrorStr(inserted));
      return false;
    }
    return SetStatus_Detected(newId);
  } catch (...) {
    log.Error(label, "Unexpected failure while recording a log-monitoring match");
    return false;
  }
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
      if (status & kTrendRuleBit) return kTrendRuleKind;
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

bool EvNDetector::StoreLMTrendAlertData(App::QueryResultsContainer& container, bool cleared, long runTime) {
  EvAlertDebug log;
  const char* label = "StoreLMTrendAlertData";
  try {
    CNMessageList* entries = container.getlistobject(kTrendEntries);
    const int ruleId = static_cast<int>(container.getint64(kRuleId));
    if (!entries || entries->empty() || ruleId < 1) {
      log.Error(label, "Invalid data for trend alerts. Ignoring it.");
      return false;
    }
    const std::string consoleUrl = RetrieveWebconsoleUrl();
    CNMessageBase* entity =
        container.getObjectAccessor(true, true, kEntity, kEntity, App::QueryResultsContainer::kClassKey, 0,
                                    App::QueryResultEntity::kTypeMajor, App::QueryResultEntity::kTypeMinor);
    if (!entity) {
      log.Error(label, "Invalid data for trend alerts. Ignoring it.");
      return false;
    }

    for (const std::unique_ptr<CNMessageBase>& entry : *entries) {
      if (!entry) continue;
      std::string message = entry->getstring(kTrendMessage);
      std::string extra = entry->getstring(kTrendExtra);
      const CNMessageBase* meta = entry->getObjectAccessor(kTrendMetaData);
      const CNMessageList* items = meta ? meta->getlistobject(kMetaDataItems) : nullptr;
      if (items && !items->empty()) {
        std::string metaText;
        int rc = meta->serialize(metaText);
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
          log.Error(label, "Errorcode [%d] in retrieving trend data", rc);
          return false;
        }
        extra = linked;
      }
      if (!extra.empty()) message += " " + extra;
      log.DebugLvl(label, 10, "Final trend Message [%s]", message.c_str());

      auto pair = std::make_unique<App::QueryResultColumnValuePair>();
      pair->setstring(kPairValue, message);
      const int added = entity->addlistobject(kEntityPairs, std::move(pair));
      if (added != 0) {
        log.Error(label, "Could not add the trend message as a column value, error [%d]", added);
        return false;
      }
    }

    container.clearField(kTrendEntries);
    // A trend that cleared still reports itself first, then its clearing.
    if (cleared && m_queryAlertKind == kTrendRuleKind) StoreCustomQueryDataForAlert(container, false, runTime, false);
    return StoreCustomQueryDataForAlert(container, cleared, runTime, true);
  } catch (...) {
    log.Error(label, "Unexpected failure while turning trend entries into column values");
    return false;
  }
}

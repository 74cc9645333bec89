// Custom-query alerts, alert type 65: the results of a saved query that runs
// on a schedule for a notification rule. The description holds one result
// container or a list of them; each container is one result entity (one row
// of the query's result) of one rule. An entity becomes an occurrence of its
// rule and is found again by its entity id while that occurrence is pending;
// its first six column values go to NTDQueryResults, the others to
// parameters. Containers with trend entries are first turned into column
// values (log_monitor.cc).
//
// A trend rule with a last-value filter keeps the time it last matched as a
// rule property between runs: a rule that matched before files its new
// occurrences as "pending after an earlier match" (state 2).
#include <algorithm>
#include <ctime>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "Db/AllBindings.h"
#include "detector/EvNDetector.h"
#include "detector/ProcessStat.h"
#include "host/EvAlertDebug.h"
#include "host/EvAlertEx.h"
#include "host/messages/XMLDecoder.h"
#include "host/messages/message_classes.h"

namespace {

constexpr int kTrendRuleKind = 3;
// Values past this many columns are not kept; their names still are.
constexpr int kMaxQueryColumns = 101;
// Columns before this one live in NTDQueryResults, the others in parameters.
constexpr int kDetailColumns = 6;
constexpr const char* kLastMatchProperty = "Last Value Filter condition Matched time";

// Fields of App::QueryResultsContainer and its nested messages.
constexpr int kQueryId = 1;
constexpr int kEntityKey = 2;
constexpr int kEntity = 6;
constexpr int kTrendEntries = 9;
constexpr int kRuleId = 10;
constexpr int kClient = 13;
constexpr int kField16 = 16;
constexpr int kField17 = 17;
constexpr int kResultCleared = 19;
constexpr int kResultStatus = 20;
constexpr int kEntityPairs = 1;  // App::QueryResultEntity
constexpr int kPairValue = 2;    // App::QueryResultColumnValuePair
constexpr int kPairColumn = 3;
constexpr int kClientName = 1;  // App::QueryResultClientInfo

const CNMessageList* entityPairs(const App::QueryResultsContainer& c) {
  const CNMessageBase* entity = c.getObjectAccessor(kEntity);
  return entity ? entity->getlistobject(kEntityPairs) : nullptr;
}

bool hasTrendEntries(const App::QueryResultsContainer& c) {
  const CNMessageList* entries = c.getlistobject(kTrendEntries);
  return entries && !entries->empty();
}

std::string pairText(const CNMessageList& pairs, size_t i, int field) {
  return i < pairs.size() && pairs[i] ? pairs[i]->getstring(field) : std::string();
}

// What became of one container: each decides for itself, so a container
// never writes onto the occurrence an earlier container of the list made.
enum class Occurrence { New, Repeat, Nothing, Failed };

// The pending occurrence EXISTING (0: none) refreshed, or a new one recorded.
// A query result counts as pending in state 0 too: a trend rule's cleared
// result records its occurrence without a final state and clears it within
// the same event.
Occurrence recordResult(EvNDetector& detector, int existing, bool cleared, int occurTime, EvAlertDebug& log,
                        const char* label) {
  if (existing > 0) {
    const long nowSecs = static_cast<long>(EvAlertDebug::now());
    DB_DATETIME processed;
    EvNDetector::UlongTimeToDbDatetime(nowSecs, processed, false);
    NTDetectedAlerts update(nullptr);
    update.setWhere("eventId = %d and ((processStat & %d) <> 0 or processStat = %d)", existing,
                    kPendingProcessStatMask, static_cast<int>(eAlertStatusWriting));
    const int rc = cleared ? update.rowUpdate("processTime = %p, processStat = %d", DBodbcDate(&processed),
                                              static_cast<int>(eAlertStatusCleared))
                           : update.rowUpdate("processTime = %p", DBodbcDate(&processed));
    if (rc == 0) {
      if (cleared) {
        EvNDetectParams params(nullptr);
        if (!params.AddParam(existing, ParamDetectTime, nowSecs)) return Occurrence::Failed;
      }
      detector.setEventId(existing);
      return Occurrence::Repeat;
    }
    if (rc != DB_NO_DATA) {
      log.Error(label, "Could not update table [%s], ErrorString [%s]", update.getTableName(),
                update.getErrorStr(rc));
      return Occurrence::Failed;
    }
    // The notifier took it since the look-up: as if nothing were pending.
  }
  int newId = 0;
  if (!detector.SetDetectedAlert(newId, cleared, occurTime)) return Occurrence::Failed;
  return newId > 0 ? Occurrence::New : Occurrence::Nothing;
}

}  // namespace

bool EvNDetector::StoreCustomQueryData(EvAlertEx& alert) {
  EvAlertDebug log;
  const char* label = "StoreCustomQueryData";
  try {
    const long runTime = static_cast<long>(EvAlertDebug::now());
    const std::string& xml = alert.getDescription();
    std::unique_ptr<CNMessageBase> result;
    if (!xml.empty()) XMLDecoder::unSerialize(xml, result);
    if (!result) {
      log.Error(label, "Result List is null. So not processing alerts for xml [%s]", xml.c_str());
      return true;
    }
    m_queryAlertKind = 0;

    auto isCleared = [&](const App::QueryResultsContainer& c) {
      return alert.IsConditionCleared() || c.getint32(kResultCleared) != 0;
    };

    if (auto* list = message_cast<App::QueryResultsContainerList>(result.get())) {
      // The query of each rule, read once per run; a rule's entry stays 0
      // when it has no readable mapping.
      std::map<int, int> queryOfRule;
      CNMessageList noContainers;
      int currentRule = 0;
      auto saveLastMatch = [&] {
        if (m_queryAlertKind == kTrendRuleKind && currentRule != 0)
          m_ruleParams.AddOrUpdateParam(kLastMatchProperty, m_lastMatchTime);
      };
      CNMessageList* containers = list->getlistobject(1);
      for (std::unique_ptr<CNMessageBase>& item : containers ? *containers : noContainers) {
        auto* c = message_cast<App::QueryResultsContainer>(item.get());
        if (!c) continue;
        const int rule = static_cast<int>(c->getint64(kRuleId));
        if (rule == 0) continue;
        if (c->getint64(kQueryId) == 0) {
          auto known = queryOfRule.find(rule);
          if (known == queryOfRule.end()) known = queryOfRule.emplace(rule, RetrieveQueryForNTRule(rule)).first;
          if (known->second == 0) continue;
          c->setint64(kQueryId, known->second);
        }
        if (rule != currentRule) {
          saveLastMatch();
          currentRule = rule;
          m_queryAlertKind = GetAlertTypeForLMAlerts(rule, m_lastValueFilter);
          m_lastMatchTime = 0;
          m_matchedBefore = 0;
          m_ruleParams.clearProperties();
          if (m_queryAlertKind == kTrendRuleKind) {
            m_ruleParams.setAlertId(rule);
            m_ruleParams.GetOneParam(kLastMatchProperty, m_lastMatchTime);
            if (m_lastValueFilter < 1) {
              m_lastMatchTime = 0;
              m_matchedBefore = 0;
            } else {
              ClearDetectedAlertsForRule(rule);
              if (m_lastMatchTime == 0)
                m_lastMatchTime = static_cast<int>(runTime);
              else
                m_matchedBefore = 1;
            }
          }
        }
        if (!hasTrendEntries(*c)) {
          const CNMessageList* pairs = entityPairs(*c);
          if (!pairs || pairs->empty()) continue;
        }
        StoreCustomQueryDataForAlert(*c, isCleared(*c), runTime, true);
      }
      saveLastMatch();
    } else if (auto* one = message_cast<App::QueryResultsContainer>(result.get())) {
      StoreCustomQueryDataForAlert(*one, isCleared(*one), runTime, true);
    } else {
      log.Error(label, "Result is null. So not processing alerts for xml [%s]", xml.c_str());
    }
  } catch (...) {
    log.Error(label, "Unexpected failure while processing the query results");
  }
  return true;
}

bool EvNDetector::StoreCustomQueryDataForAlert(App::QueryResultsContainer& container, bool cleared, long runTime,
                                                bool setStatus) {
  EvAlertDebug log;
  const char* label = "StoreCustomQueryDataForAlert";
  try {
    const int ruleId = static_cast<int>(container.getint64(kRuleId));
    if (cleared) {
      m_lastMatchTime = 0;
      if (m_queryAlertKind == kTrendRuleKind && m_matchedBefore == 0) {
        log.DebugLvl(label, 8, "Ignoring condition cleared alert for notif rule [%d] since it wasnt matched before",
                     ruleId);
        return true;
      }
    }
    if (hasTrendEntries(container)) return StoreLMTrendAlertData(container, cleared, runTime);

    const CNMessageBase* entity = container.getObjectAccessor(kEntity);
    const CNMessageList* pairs = entityPairs(container);
    if (!entity || !pairs || pairs->empty()) {
      log.Error(label, "No column Value pair list present for entity. Ignoring it");
      return false;
    }
    std::string entityId;
    const int serialized = entity->serialize(entityId);
    if (serialized != 0) {
      log.Error(label, "Serialization failed with errorCode [%d]", serialized);
      return false;
    }
    const std::string key = container.getstring(kEntityKey);
    if (!key.empty()) entityId = key;

    const int queryId = static_cast<int>(container.getint64(kQueryId));
    const int existing = getDetectedAlertForQueryResult(queryId, ruleId, entityId);
    if (existing < 0) return false;

    m_notificationId = ruleId;
    m_entityId = entityId;
    const Occurrence occurrence = recordResult(*this, existing, cleared, m_lastMatchTime, log, label);
    if (occurrence == Occurrence::Failed) return false;
    if (occurrence == Occurrence::Nothing) return true;
    const int eventId = m_eventId;
    const bool isNew = occurrence == Occurrence::New;

    EvNDetectParams params(nullptr);
    if (isNew) {
      log.DebugLvl(label, 8, "New alert event [%d] occurred", eventId);
      NTDQueryResults table(nullptr);
      table.getDataPtr()->EventId = eventId;
      table.getDataPtr()->QueryId = queryId;
      const int rc = table.rowInsert(true);
      if (rc != 0) {
        log.Error(label, "Could not insert row into table NTQueryResults ErrorCode [%d]", rc);
        return false;
      }
      const int field16 = container.getint32(kField16);
      if (field16 != 0 && field16 != 2) params.AddParam(eventId, ParamQueryAlertField16, field16);
    }

    UpdateCustomQueryColumns(eventId, pairs);

    const CNMessageBase* client = container.getObjectAccessor(kClient);
    const std::string clientName = client ? client->getstring(kClientName) : std::string();
    if (!params.AddOrUpdateParam(eventId, ParamQueryAlertField17, static_cast<int>(container.getint32(kField17))) ||
        !params.AddOrUpdateParam(eventId, ParamClientName, clientName.c_str()))
      return false;
    if (!isNew) return true;
    if (!params.AddOrUpdateParam(eventId, ParamQueryRunTime, runTime)) return false;
    if (!setStatus) return true;
    return SetStatus(eventId, m_matchedBefore ? eAlertStatusPendingMatch : eAlertStatusPending,
                     GetDAStatusForLMAlerts(container.getint32(kResultStatus)));
  } catch (...) {
    log.Error(label, "Unexpected failure while recording a query result");
    return false;
  }
}

void EvNDetector::UpdateCustomQueryColumns(int eventId, const CNMessageList* pairs) {
  EvAlertDebug log;
  const char* label = "UpdateCustomQueryColumns";
  if (!pairs) return;
  try {
    const int n = static_cast<int>(std::min<size_t>(pairs->size(), kMaxQueryColumns));
    NTDQueryResults table(nullptr);
    table.setWhere("eventId = %d", eventId);
    int rc = table.getOneRow();
    if (!DBrowRead(rc)) {
      log.Error(label, "Could not update row into table NTQueryResults ErrorCode [%d] for EventId [%d]", rc, eventId);
      return;
    }
    NTDQueryResults_t& row = *table.getDataPtr();
    char** columns[kDetailColumns] = {&row.columIndex0, &row.columIndex1, &row.columIndex2,
                                      &row.columIndex3, &row.columIndex4, &row.columIndex5};
    for (int i = 0; i < kDetailColumns; ++i) Db::assignText(*columns[i], pairText(*pairs, i, kPairValue).c_str());
    rc = table.rowUpdate(nullptr);
    if (rc != 0) {
      log.Error(label, "Error [%d] Updating queryResult columns", rc);
      return;
    }

    EvNDetectParams params(nullptr);
    for (int i = kDetailColumns; i < n; ++i)
      params.AddOrUpdateParam(eventId, static_cast<NotiParamTypes>(ParamQueryColumnValue + i - kDetailColumns),
                              pairText(*pairs, i, kPairValue).c_str());
    std::vector<std::string> names;
    names.reserve(pairs->size());
    for (size_t i = 0; i < pairs->size(); ++i) names.push_back(pairText(*pairs, i, kPairColumn));
    params.ClearEventParams(eventId, ParamQueryColumnNames);
    params.AddParams(eventId, ParamQueryColumnNames, std::move(names));
    params.AddOrUpdateParam(eventId, ParamQueryColumnCount, n);
  } catch (...) {
    log.Error(label, "Unexpected failure while writing the columns of EventId [%d]", eventId);
  }
}

int EvNDetector::getDetectedAlertForQueryResult(int queryId, int ruleId, const std::string& entityId) {
  EvAlertDebug log;
  const char* label = "getDetectedAlertForQueryResult";
  try {
    NTDetectedAlerts table(nullptr);
    table.setWhere(
        "category = %d AND alertType = %d AND criteria = %d AND ( ( processStat & (%d) )<> 0 OR processStat = 0) "
        "AND NTNotificationId = %d and entityId = N'%s'",
        m_category, m_alertType, m_criteria, kPendingProcessStatMask, ruleId, entityId.c_str());
    const int rc = table.getOneRow();
    if (DBrowRead(rc)) {
      const int eventId = table.getDataPtr()->eventId;
      log.DebugLvl(label, 7, "Event Id [%d] already present for queryId [%d],notifRule [%d],entityId [%s]", eventId,
                   queryId, ruleId, entityId.c_str());
      return eventId;
    }
    if (rc == DB_NO_DATA) return 0;
    log.Error(label, "ErrorCode [%d] in checking whether result is already present for queryId [%d],notifRule [%d],"
              "entityId [%s]", rc, queryId, ruleId, entityId.c_str());
  } catch (...) {
    log.Error(label, "ErrorCode [%d] in checking whether result is already present for queryId [%d],notifRule [%d],"
              "entityId [%s]", DB_ERR_USAGE, queryId, ruleId, entityId.c_str());
  }
  return -1;
}

int EvNDetector::RetrieveQueryForNTRule(int ruleId) {
  EvAlertDebug log;
  const char* label = "RetrieveQueryForNTRule";
  try {
    NTNotificationQueryMapping table(nullptr);
    table.setIsolationType(4);
    table.setWhere("NTNotificationId = %d", ruleId);
    const int rc = table.getOneRow();
    if (!DBrowRead(rc)) {
      log.Error(label, "Error [%d] reading from table for rule [%d]", rc, ruleId);
      return 0;
    }
    const NTNotificationQueryMapping_t* row = table.getDataPtr();
    if (!row) {
      log.Error(label, "Data Ptr is null for rule [%d]", ruleId);
      return 0;
    }
    return row->QueryId;
  } catch (...) {
    log.Error(label, "Error [%d] reading from table for rule [%d]", DB_ERR_USAGE, ruleId);
    return 0;
  }
}

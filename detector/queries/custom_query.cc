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
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Db/AllBindings.h"
#include "detector/EvNDetector.h"
#include "detector/ProcessStat.h"
#include "detector/queries/query_handlers.h"
#include "host/EvAlertDebug.h"
#include "host/EvAlertEx.h"
#include "host/messages/XMLDecoder.h"
#include "host/messages/message_classes.h"

namespace {

using namespace queries;

// Values past this many columns are not kept; their names still are.
constexpr int kMaxQueryColumns = 101;
// Columns before this one live in NTDQueryResults, the others in parameters.
constexpr int kDetailColumns = 6;
constexpr const char* kLastMatchProperty = "Last Value Filter condition Matched time";
constexpr const char* kTrendLabel = "StoreLMTrendAlertData";

const CNMessageList* entityPairs(const App::QueryResultsContainer& c) {
  const CNMessageBase* entity = c.getObjectAccessor(Container::entity.number);
  return entity ? entity->getlistobject(Entity::columnValues.number) : nullptr;
}

bool hasTrendEntries(const App::QueryResultsContainer& c) {
  const CNMessageList* entries = c.getlistobject(Container::trendEntries.number);
  return entries && !entries->empty();
}

std::string pairText(const CNMessageList& pairs, size_t i, const CNFieldDef& field) {
  return i < pairs.size() && pairs[i] ? pairs[i]->getstring(field.number) : std::string();
}

// Appends the column values of the container's trend entries to its entity
// and drops the entries: from here on the container is an ordinary result.
bool trendEntriesToColumns(EvNDetector& detector, App::QueryResultsContainer& container) {
  EvAlertDebug log;
  const int ruleId = static_cast<int>(container.getint64(Container::ruleId.number));
  CNMessageBase* entity = ruleId < 1 ? nullptr
                                     : container.getObjectAccessor(
                                           true, true, Container::entity.number, Container::entity.slot,
                                           App::QueryResultsContainer::kClassKey, Container::entity.key,
                                           App::QueryResultEntity::kTypeMajor, App::QueryResultEntity::kTypeMinor);
  if (!entity) {
    log.Error(kTrendLabel, "Invalid data for trend alerts. Ignoring it.");
    return false;
  }
  const std::string consoleUrl = detector.RetrieveWebconsoleUrl();
  const std::optional<std::vector<std::string>> values =
      trendColumnValues(container, [&](const CNMessageBase& meta, const std::string& extra) {
        return trendPageLink(ruleId, consoleUrl, meta, extra);
      });
  if (!values) return false;
  for (const std::string& value : *values) {
    log.DebugLvl(kTrendLabel, 10, "Final trend Message [%s]", value.c_str());
    auto pair = std::make_unique<App::QueryResultColumnValuePair>();
    pair->setstring(ColumnValue::value.number, value);
    const int added = entity->addlistobject(Entity::columnValues.number, std::move(pair));
    if (added != 0) {
      log.Error(kTrendLabel, "Could not add the trend message as a column value, error [%d]", added);
      return false;
    }
  }
  container.clearField(Container::trendEntries.number);
  return true;
}

// The rule's match state the custom-query handler keeps while it goes
// through the containers of one event.
struct MatchState {
  int lastMatchTime;
  bool matchedBefore;
};

// Records one container (without trend entries) as an occurrence of its
// rule, or refreshes the pending occurrence of its entity.
bool storeResult(EvNDetector& detector, App::QueryResultsContainer& container, bool cleared, long runTime,
                 bool setStatus, MatchState match) {
  EvAlertDebug log;
  const char* label = "StoreCustomQueryDataForAlert";
  const int ruleId = static_cast<int>(container.getint64(Container::ruleId.number));
  const CNMessageBase* entity = container.getObjectAccessor(Container::entity.number);
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
  const std::string key = container.getstring(Container::entityKey.number);
  if (!key.empty()) entityId = key;

  const int queryId = static_cast<int>(container.getint64(Container::queryId.number));
  int occurrence = detector.getDetectedAlertForQueryResult(queryId, ruleId, entityId);
  if (occurrence < 0) return false;

  detector.setNotificationId(ruleId);
  detector.setEntityId(entityId);
  // Each container decides for itself: it never writes onto the occurrence
  // an earlier container of the list made. A query result counts as pending
  // in state 0 too: a trend rule's cleared result records its occurrence
  // without a final state and clears it within the same event.
  const int earlier = detector.getEventId();
  detector.setEventId(0);
  const bool recorded = detector.SetDetectedAlert(occurrence, cleared, match.lastMatchTime, true);
  if (!recorded || detector.getEventId() == 0) {
    // Failed, or a cleared result with nothing pending: nothing written.
    detector.setEventId(earlier);
    return recorded;
  }
  const int eventId = detector.getEventId();
  const bool isNew = occurrence > 0;

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
    const int field16 = container.getint32(Container::field16.number);
    if (field16 != 0 && field16 != 2) params.AddParam(eventId, ParamQueryAlertField16, field16);
  }

  detector.UpdateCustomQueryColumns(eventId, pairs);

  const CNMessageBase* client = container.getObjectAccessor(Container::client.number);
  const std::string clientName = client ? client->getstring(ClientInfo::clientName.number) : std::string();
  if (!params.AddOrUpdateParam(eventId, ParamQueryAlertField17,
                               static_cast<int>(container.getint32(Container::field17.number))) ||
      !params.AddOrUpdateParam(eventId, ParamClientName, clientName.c_str()))
    return false;
  if (!isNew) return true;
  if (!params.AddOrUpdateParam(eventId, ParamQueryRunTime, runTime)) return false;
  if (!setStatus) return true;
  return SetStatus(eventId, match.matchedBefore ? eAlertStatusPendingMatch : eAlertStatusPending,
                   GetDAStatusForLMAlerts(container.getint32(Container::resultStatus.number)));
}

}  // namespace

bool EvNDetector::StoreCustomQueryData(EvAlertEx& alert) {
  EvAlertDebug log;
  const char* label = "StoreCustomQueryData";
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
    return alert.IsConditionCleared() || c.getint32(Container::conditionCleared.number) != 0;
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
    CNMessageList* containers = list->getlistobject(ContainerList::containers.number);
    for (std::unique_ptr<CNMessageBase>& item : containers ? *containers : noContainers) {
      auto* c = message_cast<App::QueryResultsContainer>(item.get());
      if (!c) continue;
      const int rule = static_cast<int>(c->getint64(Container::ruleId.number));
      if (rule == 0) continue;
      if (c->getint64(Container::queryId.number) == 0) {
        auto known = queryOfRule.find(rule);
        if (known == queryOfRule.end()) known = queryOfRule.emplace(rule, RetrieveQueryForNTRule(rule)).first;
        if (known->second == 0) continue;
        c->setint64(Container::queryId.number, known->second);
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
  return true;
}

bool EvNDetector::StoreCustomQueryDataForAlert(App::QueryResultsContainer& container, bool cleared, long runTime,
                                                bool setStatus) {
  if (cleared) {
    m_lastMatchTime = 0;
    if (m_queryAlertKind == kTrendRuleKind && m_matchedBefore == 0) {
      EvAlertDebug log;
      log.DebugLvl("StoreCustomQueryDataForAlert", 8,
                   "Ignoring condition cleared alert for notif rule [%d] since it wasnt matched before",
                   static_cast<int>(container.getint64(Container::ruleId.number)));
      return true;
    }
  }
  if (hasTrendEntries(container)) return StoreLMTrendAlertData(container, cleared, runTime);
  return storeResult(*this, container, cleared, runTime, setStatus, {m_lastMatchTime, m_matchedBefore != 0});
}

bool EvNDetector::StoreLMTrendAlertData(App::QueryResultsContainer& container, bool cleared, long runTime) {
  if (!trendEntriesToColumns(*this, container)) return false;
  const MatchState match{m_lastMatchTime, m_matchedBefore != 0};
  // A trend that cleared still reports itself first, then its clearing.
  if (cleared && m_queryAlertKind == kTrendRuleKind) storeResult(*this, container, false, runTime, false, match);
  return storeResult(*this, container, cleared, runTime, true, match);
}

void EvNDetector::UpdateCustomQueryColumns(int eventId, const CNMessageList* pairs) {
  EvAlertDebug log;
  const char* label = "UpdateCustomQueryColumns";
  if (!pairs) return;
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
  for (int i = 0; i < kDetailColumns; ++i)
    Db::assignText(*columns[i], pairText(*pairs, i, ColumnValue::value).c_str());
  rc = table.rowUpdate(nullptr);
  if (rc != 0) {
    log.Error(label, "Error [%d] Updating queryResult columns", rc);
    return;
  }

  EvNDetectParams params(nullptr);
  for (int i = kDetailColumns; i < n; ++i)
    params.AddOrUpdateParam(eventId, static_cast<NotiParamTypes>(ParamQueryColumnValue + i - kDetailColumns),
                            pairText(*pairs, i, ColumnValue::value).c_str());
  std::vector<std::string> names;
  names.reserve(pairs->size());
  for (size_t i = 0; i < pairs->size(); ++i) names.push_back(pairText(*pairs, i, ColumnValue::column));
  params.ClearEventParams(eventId, ParamQueryColumnNames);
  params.AddParams(eventId, ParamQueryColumnNames, std::move(names));
  params.AddOrUpdateParam(eventId, ParamQueryColumnCount, n);
}

int EvNDetector::getDetectedAlertForQueryResult(int queryId, int ruleId, const std::string& entityId) {
  EvAlertDebug log;
  const char* label = "getDetectedAlertForQueryResult";
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
  return -1;
}

int EvNDetector::RetrieveQueryForNTRule(int ruleId) {
  EvAlertDebug log;
  const char* label = "RetrieveQueryForNTRule";
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
}

// What the saved-query and log-monitoring tests share: rules with status
// bits, result containers built through the message library, and the event
// line that carries them.
#pragma once

#include <nlohmann/json.hpp>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "host/messages/message_classes.h"
#include "jobs/job_harness.h"

namespace evd::test {

constexpr int kTrendRule = 0x10000;
constexpr int kLastValueFilter = 0x2000;

// One trend entry: its message, extra text and name/value metadata.
struct Trend {
  std::string message = {};
  std::string extra = {};
  std::vector<std::pair<std::string, std::string>> meta = {};
};

// One result container; fields left at 0 or empty are not written.
struct Result {
  int rule = 0;
  int query = 0;
  std::vector<std::pair<std::string, std::string>> columns = {};  // (column, value)
  std::string key = {};
  int cleared = 0;
  int status = 0;
  std::string client = {};
  std::vector<Trend> trends = {};
};

inline std::unique_ptr<App::QueryResultsContainer> container(const Result& r) {
  auto c = std::make_unique<App::QueryResultsContainer>();
  if (r.query) c->setint64(1, r.query);
  if (!r.key.empty()) c->setstring(2, r.key);
  CNMessageBase* entity = c->getObjectAccessor(true, true, 6, 6, App::QueryResultsContainer::kClassKey, 0,
                                               App::QueryResultEntity::kTypeMajor, App::QueryResultEntity::kTypeMinor);
  for (const auto& [column, value] : r.columns) {
    auto pair = std::make_unique<App::QueryResultColumnValuePair>();
    pair->setstring(2, value);
    pair->setstring(3, column);
    entity->addlistobject(1, std::move(pair));
  }
  for (const Trend& t : r.trends) {
    auto entry = std::make_unique<App::LMTrendAlertEntry>();
    entry->setstring(1, t.message);
    if (!t.extra.empty()) entry->setstring(3, t.extra);
    if (!t.meta.empty()) {
      CNMessageBase* list = entry->getObjectAccessor(true, true, 2, 2, App::LMTrendAlertEntry::kClassKey, 0,
                                                     App::LMTrendMetaDataList::kTypeMajor,
                                                     App::LMTrendMetaDataList::kTypeMinor);
      for (const auto& [name, val] : t.meta) {
        auto item = std::make_unique<App::LMTrendMetaData>();
        item->setstring(1, name);
        item->setstring(2, val);
        list->addlistobject(1, std::move(item));
      }
    }
    c->addlistobject(9, std::move(entry));
  }
  c->setint64(10, r.rule);
  if (!r.client.empty()) {
    auto* client = c->getObjectAccessor(true, true, 13, 13, App::QueryResultsContainer::kClassKey, 0,
                                        App::QueryResultClientInfo::kTypeMajor,
                                        App::QueryResultClientInfo::kTypeMinor);
    client->setstring(1, r.client);
  }
  if (r.cleared) c->setint32(19, r.cleared);
  if (r.status) c->setint32(20, r.status);
  return c;
}

inline std::string serialized(const CNMessageBase& m) {
  std::string out;
  EXPECT_EQ(0, m.serialize(out));
  return out;
}

// The entity id of a result without an entity key: its serialised entity.
inline std::string entityIdOf(const Result& r) {
  return serialized(*container(r)->getObjectAccessor(6));
}

inline std::string eventLine(int alertType, const std::string& description) {
  return nlohmann::json{{"alertType", alertType}, {"alertCriteria", 1}, {"description", description}}.dump();
}

// A type-65 event holding RESULTS as a list of containers.
inline std::string resultListEvent(const std::vector<Result>& results) {
  App::QueryResultsContainerList list;
  for (const Result& r : results) EXPECT_EQ(0, list.addlistobject(1, container(r)));
  return eventLine(65, serialized(list));
}

// A type-65 event holding one container.
inline std::string resultEvent(const Result& r) { return eventLine(65, serialized(*container(r))); }

class QueryTest : public JobTest {
 protected:
  // A rule of ID for ALERTTYPE with STATUS bits; the alert type's category
  // once per type.
  void seedRule(int id, int alertType, int status = 0) {
    exec("INSERT INTO NTnotificationRule (id, alertTypeId, status) VALUES (" + std::to_string(id) + ", " +
         std::to_string(alertType) + ", " + std::to_string(status) + ")");
    if (queryInt("SELECT COUNT(*) FROM NTAlertType WHERE id = " + std::to_string(alertType)) == 0)
      exec("INSERT INTO NTAlertType (id, categoryID) VALUES (" + std::to_string(alertType) + ", 9)");
  }
  void mapQuery(int rule, int queryId, const std::string& xmlInfo = "") {
    exec("INSERT INTO NTNotificationQueryMapping (QueryId, NtNotificationId, xmlInfo) VALUES (" +
         std::to_string(queryId) + ", " + std::to_string(rule) + ", " + sqlText(xmlInfo) + ")");
  }
  bool runLine(const std::string& line) {
    EvAlertEx a = event(line);
    return run(a);
  }
  // The detected rows of RULE, oldest first.
  std::vector<Detected> ofRule(int rule) {
    std::vector<Detected> out;
    NTDetectedAlerts t(nullptr);
    t.setWhere("ntNotificationId = %d", rule);
    t.setOrderBy("eventId");
    int counter = 0;
    std::vector<int> ids;
    while (DBrowRead(t.getNextRow(&counter))) ids.push_back(t.getDataPtr()->eventId);
    t.closeCursor();
    for (int id : ids) out.push_back(detected(id));
    return out;
  }
  std::string column(int eventId, int index) {
    return queryText("SELECT columIndex" + std::to_string(index) + " FROM NTDQueryResults WHERE EventId = " +
                     std::to_string(eventId));
  }
  long long statusOf(int eventId) {
    return queryInt("SELECT status FROM NTDetectedAlerts WHERE eventId = " + std::to_string(eventId));
  }
};

}  // namespace evd::test

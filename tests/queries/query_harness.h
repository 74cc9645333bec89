// Saved-query and log-monitoring tests: rules with status bits, result
// containers built through the message library, the event line carrying them.
#pragma once

#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <utility>
#include <vector>

#include "host/messages/message_classes.h"
#include "jobs/job_harness.h"

namespace evd::test {

constexpr int kTrendRule = 0x10000, kLastValueFilter = 0x2000;
using Texts = std::vector<std::pair<std::string, std::string>>;

struct Trend {
  std::string message = {}, extra = {};
  Texts meta = {};  // (name, value)
};
// One result container; fields left at 0 or empty are not written.
struct Result {
  int rule = 0, query = 0;
  Texts columns = {};  // (column, value)
  std::string key = {};
  int cleared = 0, status = 0;
  std::string client = {};
  std::vector<Trend> trends = {};
};

template <class T>
T* child(CNMessageBase& parent, int field, uint32_t parentKey) {
  return static_cast<T*>(
      parent.getObjectAccessor(true, true, field, field, parentKey, 0, T::kTypeMajor, T::kTypeMinor));
}
template <class T>
void addPair(CNMessageBase& list, const std::string& first, const std::string& second, int firstField,
             int secondField) {
  auto item = std::make_unique<T>();
  item->setstring(firstField, first);
  item->setstring(secondField, second);
  list.addlistobject(1, std::move(item));
}

inline std::string eventLine(int alertType, const std::string& description) {
  return nlohmann::json{{"alertType", alertType}, {"alertCriteria", 1}, {"description", description}}.dump();
}

// A type-65 event with RESULTS as a list, or as one container when ALONE.
inline std::string resultEvent(const std::vector<Result>& results, bool alone = false) {
  using namespace App;
  QueryResultsContainerList list;
  for (const Result& r : results) {
    auto c = std::make_unique<QueryResultsContainer>();
    if (r.query) c->setint64(1, r.query);
    if (!r.key.empty()) c->setstring(2, r.key);
    auto* entity = child<QueryResultEntity>(*c, 6, QueryResultsContainer::kClassKey);
    for (const auto& [column, value] : r.columns) addPair<QueryResultColumnValuePair>(*entity, value, column, 2, 3);
    for (const Trend& t : r.trends) {
      auto entry = std::make_unique<LMTrendAlertEntry>();
      entry->setstring(1, t.message);
      if (!t.extra.empty()) entry->setstring(3, t.extra);
      for (const auto& [name, val] : t.meta)
        addPair<LMTrendMetaData>(*child<LMTrendMetaDataList>(*entry, 2, LMTrendAlertEntry::kClassKey), name, val, 1, 2);
      c->addlistobject(9, std::move(entry));
    }
    c->setint64(10, r.rule);
    if (!r.client.empty())
      child<QueryResultClientInfo>(*c, 13, QueryResultsContainer::kClassKey)->setstring(1, r.client);
    if (r.cleared) c->setint32(19, r.cleared);
    if (r.status) c->setint32(20, r.status);
    list.addlistobject(1, std::move(c));
  }
  std::string out;
  EXPECT_EQ(0, alone ? (*list.getlistobject(1))[0]->serialize(out) : list.serialize(out));
  return eventLine(65, out);
}

class QueryTest : public JobTest {
 protected:
  void seedRule(int id, int alertType, int status = 0) {
    exec("INSERT INTO NTnotificationRule (id, alertTypeId, status) VALUES (" + std::to_string(id) + ", " +
         std::to_string(alertType) + ", " + std::to_string(status) + ")");
    exec("INSERT INTO NTAlertType (id, categoryID) SELECT " + std::to_string(alertType) +
         ", 9 WHERE NOT EXISTS (SELECT 1 FROM NTAlertType WHERE id = " + std::to_string(alertType) + ")");
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
    const std::string where = " FROM NTDetectedAlerts WHERE ntNotificationId = " + std::to_string(rule);
    for (long long n = countRows("NTDetectedAlerts WHERE ntNotificationId = " + std::to_string(rule)), i = 0; i < n;
         ++i)
      out.push_back(detected(static_cast<int>(
          queryInt("SELECT eventId" + where + " ORDER BY eventId LIMIT 1 OFFSET " + std::to_string(i)))));
    return out;
  }
  std::string column(int eventId, int index) {
    return queryText("SELECT columIndex" + std::to_string(index) +
                     " FROM NTDQueryResults WHERE EventId = " + std::to_string(eventId));
  }
};

}  // namespace evd::test

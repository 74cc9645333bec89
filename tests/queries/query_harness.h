// Saved-query tests: rules with status bits and result containers built through the message library.
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

// A trend entry: its message, the text that becomes the link, and the
// (name, value) metadata the monitoring page is opened with.
struct Trend {
  std::string message, extra = {};
  Texts meta = {};
  Trend(std::string m, std::string e, Texts md) : message(std::move(m)), extra(std::move(e)), meta(std::move(md)) {}
};

// One result container; fields left at 0 or empty are not written.
struct Result {
  int rule = 0, query = 0, cleared = 0;
  Texts columns = {};  // (column, value)
  std::string key = {}, client = {};
  std::vector<Trend> trends = {};
};

template <class T>
T* child(CNMessageBase& parent, int field, uint32_t parentKey) {
  return static_cast<T*>(
      parent.getObjectAccessor(true, true, field, field, parentKey, 0, T::kTypeMajor, T::kTypeMinor));
}
inline std::string eventLine(int alertType, const std::string& description) {
  return nlohmann::json{{"alertType", alertType}, {"alertCriteria", 1}, {"description", description}}.dump();
}

class QueryTest : public JobTest {
 protected:
  void seedRule(int id, int alertType, int status = 0) {
    const std::string type = std::to_string(alertType);
    exec("INSERT INTO NTnotificationRule (id, alertTypeId, status) VALUES (" + std::to_string(id) + ", " + type +
         ", " + std::to_string(status) + "); INSERT INTO NTAlertType (id, categoryID) SELECT " + type +
         ", 9 WHERE NOT EXISTS (SELECT 1 FROM NTAlertType WHERE id = " + type + ")");
  }
  // A type-65 event with RESULTS as a list, or as one container when ALONE.
  bool runResults(const std::vector<Result>& results, bool alone = false) {
    using namespace App;
    QueryResultsContainerList list;
    for (const Result& r : results) {
      auto c = std::make_unique<QueryResultsContainer>();
      if (r.query) c->setint64(1, r.query);
      if (!r.key.empty()) c->setstring(2, r.key);
      auto* entity = child<QueryResultEntity>(*c, 6, QueryResultsContainer::kClassKey);
      for (const auto& [column, value] : r.columns) {
        auto pair = std::make_unique<QueryResultColumnValuePair>();
        pair->setstring(2, value);
        pair->setstring(3, column);
        entity->addlistobject(1, std::move(pair));
      }
      for (const Trend& t : r.trends) {
        auto entry = std::make_unique<LMTrendAlertEntry>();
        entry->setstring(1, t.message);
        if (!t.extra.empty()) entry->setstring(3, t.extra);
        for (const auto& [name, value] : t.meta) {
          auto item = std::make_unique<LMTrendMetaData>();
          item->setstring(1, name);
          item->setstring(2, value);
          child<LMTrendMetaDataList>(*entry, 2, LMTrendAlertEntry::kClassKey)->addlistobject(1, std::move(item));
        }
        c->addlistobject(9, std::move(entry));
      }
      c->setint64(10, r.rule);
      if (!r.client.empty())
        child<QueryResultClientInfo>(*c, 13, QueryResultsContainer::kClassKey)->setstring(1, r.client);
      if (r.cleared) c->setint32(19, r.cleared);
      list.addlistobject(1, std::move(c));
    }
    std::string out;
    EXPECT_EQ(0, alone ? (*list.getlistobject(1))[0]->serialize(out) : list.serialize(out));
    EvAlertEx a = event(eventLine(65, out));
    return run(a);
  }
  // The detected rows of RULE, oldest first.
  std::vector<Detected> ofRule(int rule) {
    std::vector<Detected> out;
    const std::string rows = "NTDetectedAlerts WHERE ntNotificationId = " + std::to_string(rule);
    for (long long i = 0, n = countRows(rows); i < n; ++i)
      out.push_back(detected(static_cast<int>(
          queryInt("SELECT eventId FROM " + rows + " ORDER BY eventId LIMIT 1 OFFSET " + std::to_string(i)))));
    return out;
  }
  std::string column(int eventId, int index) {
    return queryText("SELECT columIndex" + std::to_string(index) + " FROM NTDQueryResults WHERE EventId = " +
                     std::to_string(eventId));
  }
};

}  // namespace evd::test

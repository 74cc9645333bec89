// What a job-handler test needs: a rule for the alert type, events run
// through StoreNotiData, and the rows they left read back.
//
//   seedRule(2);
//   const int id = record(jobAlert(2, 3, R"(,"copyId":7)"));
//   EXPECT_EQ(7, detailInt("NTDauxCopyDataVer", "copyId", id));
//   EXPECT_EQ((Params{{1, "f"}}), paramsOf(id, {1}));
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "Db/AllBindings.h"
#include "detector/EvNDetector.h"
#include "host/EvAlertEx.h"
#include "host/event_json.h"
#include "support/alert_log.h"
#include "support/db_fixture.h"

namespace evd::test {

class JobTest : public DbTest {
 public:
  // NTDparams rows of one event, (type, value) in type order.
  using Params = std::multimap<int, std::string>;

  // An event from its JSON line (docs/events.md).
  static EvAlertEx event(const std::string& json) {
    EvAlertEx a;
    EventReadError err;
    EXPECT_TRUE(parseEventLine(json, a, err)) << err.message << " in " << json;
    return a;
  }

  // Default keys of an event, as (key, JSON value) pairs.
  using EventDefaults = std::vector<std::pair<std::string, std::string>>;
  // An event of TYPE and CRITERIA with the keys of MORE (",\"key\":value..."),
  // then every key of DEFAULTS that MORE does not name.
  static EvAlertEx jobAlert(int type, int criteria, const std::string& more = "", const EventDefaults& defaults = {}) {
    std::string json = "{\"alertType\":" + std::to_string(type) + ",\"alertCriteria\":" + std::to_string(criteria) + more;
    for (const auto& [key, value] : defaults)
      if (more.find("\"" + key + "\"") == std::string::npos) json += ",\"" + key + "\":" + value;
    return event(json + "}");
  }

 protected:
  // Expected integer columns of a detail row.
  using DetailColumns = std::vector<std::pair<const char*, long long>>;
  struct Detected {
    int eventId = 0, alertType = 0, criteria = 0, category = 0, processStat = -1, ntNotificationId = 0;
    std::string entityId;
  };
  // RULES: the alert types every case of the fixture has an active rule for, of CATEGORY.
  explicit JobTest(std::vector<int> rules = {}, int category = 1) : rules_(std::move(rules)), category_(category) {}
  void SetUp() override {
    DbTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    log_ = std::make_unique<AlertLogCapture>();
    for (int type : rules_) seedRule(type, category_);
  }
  void TearDown() override {
    log_.reset();
    DbTest::TearDown();
  }

  // An active rule for ALERTTYPE and its category.
  void seedRule(int alertType, int category = 1) {
    exec("INSERT INTO NTnotificationRule (alertTypeId, status) VALUES (" + std::to_string(alertType) + ", 0)");
    exec("INSERT INTO NTAlertType (id, categoryID) VALUES (" + std::to_string(alertType) + ", " +
         std::to_string(category) + ")");
  }

  // StoreNotiData on a fresh detector; the detector's event id is kept.
  bool run(EvAlertEx& alert) {
    EvNDetector d;
    const bool ok = d.StoreNotiData(alert);
    lastEventId_ = d.getEventId();
    return ok;
  }
  bool run(EvAlertEx&& alert) { return run(alert); }
  int lastEventId() const { return lastEventId_; }
  // Runs A, expecting it to succeed; the event id it left.
  int record(EvAlertEx a) {
    EXPECT_TRUE(run(a)) << "alert type " << a.getAlertType() << ", criteria " << a.getAlertCriteria();
    return lastEventId_;
  }

  long long detectedCount() { return countRows("NTDetectedAlerts"); }
  Detected detected(int eventId) {
    NTDetectedAlerts t(nullptr);
    t.setWhere("eventId = %d", eventId);
    if (!DBrowRead(t.getOneRow())) return {};
    const NTDetectedAlerts_t& r = *t.getDataPtr();
    return {r.eventId, r.alertType, r.criteria, r.category, r.processStat, r.ntNotificationId,
            r.entityId ? r.entityId : ""};
  }
  // One integer column of the detail row of EVENTID (-1 without a row).
  long long detailInt(const std::string& table, const std::string& column, int eventId) {
    return queryInt("SELECT " + column + " FROM " + table + " WHERE eventId = " + std::to_string(eventId));
  }
  std::string detailText(const std::string& table, const std::string& column, int eventId) {
    return queryText("SELECT " + column + " FROM " + table + " WHERE eventId = " + std::to_string(eventId));
  }
  void expectColumns(const std::string& table, const DetailColumns& columns, int eventId) {
    for (const auto& [column, value] : columns)
      EXPECT_EQ(value, detailInt(table, column, eventId)) << table << "." << column;
  }
  long long detailRows(const std::string& table, int eventId) {
    return countRows(table + " WHERE eventId = " + std::to_string(eventId));
  }

  Params params(int eventId) {
    Params out;
    NTDparams t(nullptr);
    t.setWhere("eventId = %d", eventId);
    int counter = 0;
    while (DBrowRead(t.getNextRow(&counter))) out.emplace(t.getDataPtr()->type, t.getDataPtr()->value);
    t.closeCursor();
    return out;
  }
  // The rows of EVENTID of the TYPES alone.
  Params paramsOf(int eventId, const std::set<int>& types) {
    Params out;
    for (const auto& kv : params(eventId))
      if (types.count(kv.first)) out.insert(kv);
    return out;
  }
  // The parameter types of EVENTID, each once.
  std::set<int> storedTypes(int eventId) {
    std::set<int> out;
    for (const auto& kv : params(eventId)) out.insert(kv.first);
    return out;
  }
  void setState(int eventId, int state) {
    exec("UPDATE NTDetectedAlerts SET processStat = " + std::to_string(state) +
         " WHERE eventId = " + std::to_string(eventId));
  }
  // The one value of TYPE ("<none>" without one, "<many>" with several).
  std::string param(int eventId, int type) {
    const Params p = params(eventId);
    const auto n = p.count(type);
    return n == 0 ? "<none>" : n > 1 ? "<many>" : p.find(type)->second;
  }
  // NTDMsgParam rows of EVENTID, data in (msgIndex, position) order.
  std::vector<std::string> msgParams(int eventId) {
    std::vector<std::string> out;
    NTDMsgParam t(nullptr);
    t.setWhere("eventId = %d", eventId);
    t.setOrderBy("msgIndex, position");
    int counter = 0;
    while (DBrowRead(t.getNextRow(&counter))) out.emplace_back(t.getDataPtr()->data);
    t.closeCursor();
    return out;
  }

  AlertLogCapture& log() { return *log_; }

 private:
  std::unique_ptr<AlertLogCapture> log_;
  int lastEventId_ = 0;
  std::vector<int> rules_;
  int category_;
};

}  // namespace evd::test

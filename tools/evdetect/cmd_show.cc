// evdetect show: what the detector recorded.
#include <CLI/CLI.hpp>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>

#include "Db/AllBindings.h"
#include "detector/alert_types.h"
#include "params/NotiParamTypes.h"
#include "tools/evdetect/commands.h"

namespace evdetect {
namespace {

using Json = nlohmann::ordered_json;

// One column of a row buffer as JSON: numbers as numbers, date-times as
// "YYYY-MM-DD HH:MM:SS" (empty for the zero date), texts as texts.
Json columnJson(const Db::ColumnDef& c, void* row) {
  void* f = c.field(row);
  switch (c.type) {
    case Db::ColType::INT32: return *static_cast<int*>(f);
    case Db::ColType::INT64: return *static_cast<long long*>(f);
    case Db::ColType::DATETIME: {
      auto* dt = static_cast<DB_DATETIME*>(f);
      return dt->isZero() ? std::string() : std::string(dt->toString(false));
    }
    case Db::ColType::CHARS:
    case Db::ColType::WCHARS: return std::string(static_cast<const char*>(f));
    case Db::ColType::TEXT: {
      const char* s = *static_cast<char**>(f);
      return s ? Json(std::string(s)) : Json(nullptr);
    }
  }
  return nullptr;
}

Json rowJson(DBtable& t) {
  Json o = Json::object();
  const Db::TableDef& def = t.definition();
  for (int i = 0; i < def.columnCount; ++i) o[def.columns[i].name] = columnJson(def.columns[i], t.rowBuffer());
  return o;
}

// A value for the columns of human output, control characters escaped.
std::string text(const Json& v) {
  if (v.is_string()) return shown(v.get<std::string>());
  if (v.is_null()) return "";
  return v.dump();
}

bool validDateTime(const DB_DATETIME& t) {
  using namespace std::chrono;
  const year_month_day ymd{year{t.year}, month{static_cast<unsigned>(t.month)}, day{static_cast<unsigned>(t.day)}};
  return ymd.ok() && t.hour < 24 && t.minute < 60 && t.second < 60;
}

bool readOk(int rc) { return rc == 0 || rc == DB_SUCCESS_TRUNCATED; }

struct ListOptions {
  int type = -1, state = -1, limit = 50, rule = -1;
  long long client = -1;
  std::string since, until, entity;
  bool json = false;
  int eventId = 0;
};

// Names of the processing-state bits; 0 alone is a row still being written.
Json stateNames(int state) {
  static const std::pair<int, const char*> bits[] = {
      {1, "ready"}, {2, "ready after a match"}, {4, "condition cleared"}, {128, "held"}};
  Json names = Json::array();
  if (state == 0) names.push_back("being written");
  int rest = state;
  for (const auto& [bit, name] : bits) {
    if (!(state & bit)) continue;
    names.push_back(name);
    rest &= ~bit;
  }
  if (rest != 0) names.push_back("bits 0x" + [&] {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%x", static_cast<unsigned>(rest));
    return std::string(buf);
  }());
  return names;
}

// The rule's name by id, each read once.
class RuleNames {
 public:
  Json operator()(int id) {
    if (id <= 0) return nullptr;
    auto it = m_names.find(id);
    if (it != m_names.end()) return it->second;
    NTnotificationRule r(nullptr);
    r.setWhere("id = %d", id);
    // A rule removed since keeps its id on the occurrence.
    Json name = readOk(r.getOneRow()) ? Json(std::string(r.getDataPtr()->notificationName)) : Json(nullptr);
    return m_names[id] = name;
  }

 private:
  std::map<int, Json> m_names;
};

// The names beside the numbers of an occurrence row, for people and scripts alike.
void addNames(Json& row, RuleNames& rules) {
  const AlertTypeInfo* info = findAlertType(row["alertType"].get<int>());
  row["alertTypeName"] = info ? Json(info->name) : Json(nullptr);
  row["stateNames"] = stateNames(row["processStat"].get<int>());
  row["ruleName"] = rules(row["ntNotificationId"].get<int>());
}

// The zone of the stored times: the detector writes local time.
std::string zoneName() {
  const std::time_t now = std::time(nullptr);
  std::tm parts{};
  char buf[64] = "";
  if (localtime_r(&now, &parts)) std::strftime(buf, sizeof buf, "%Z", &parts);
  return buf[0] ? buf : "local";
}

// TEXT as the bound of --since or --until; an empty result after an error line.
bool timeBound(const char* option, const std::string& text, bool endOfDay, DB_DATETIME& out) {
  std::string s = text.size() == 10 ? text + (endOfDay ? " 23:59:59" : " 00:00:00") : text;
  // The parser takes any two digits; a date that is not in the calendar
  // would match nothing (or everything) without a word.
  if (out.parse(s.c_str()) && validDateTime(out)) return true;
  error(std::string(option) + " wants a date YYYY-MM-DD or \"YYYY-MM-DD HH:MM:SS\", not '" + text + "'");
  return false;
}

int listOccurrences(const ListOptions& o) {
  if (o.limit < 1) {
    error("--limit must be 1 or more");
    return kExitUsage;
  }
  NTDetectedAlerts t(nullptr);
  t.setWhere("1 = 1");
  if (o.type >= 0) t.setCatWhere(" AND alertType = %d", o.type);
  if (o.state >= 0) t.setCatWhere(" AND processStat = %d", o.state);
  if (o.rule >= 0) t.setCatWhere(" AND ntNotificationId = %d", o.rule);
  if (!o.entity.empty()) t.setCatWhere(" AND entityId = '%s'", o.entity.c_str());
  if (o.client >= 0) {
    // The client is the object of the occurrence, or one its parameters name.
    const std::string id = std::to_string(o.client);
    t.setCatWhere(" AND (entityId = '%s' OR eventId IN (SELECT eventId FROM NTDparams WHERE type = %d AND value = '%s'))",
                  ("Client|" + id).c_str(), static_cast<int>(ParamClientId), id.c_str());
  }
  DB_DATETIME since, until;
  if (!o.since.empty()) {
    if (!timeBound("--since", o.since, false, since)) return kExitUsage;
    t.setCatWhere(" AND occurTime >= %p", DBodbcDate(&since));
  }
  if (!o.until.empty()) {
    if (!timeBound("--until", o.until, true, until)) return kExitUsage;
    t.setCatWhere(" AND occurTime <= %p", DBodbcDate(&until));
  }
  t.setOrderBy("eventId DESC");
  Json all = Json::array();
  RuleNames rules;
  int counter = 0, rc = DB_NO_DATA;
  long long more = 0;
  // Rows past the limit are only counted, and only so far: a history of
  // millions would otherwise be read to say how many were not shown.
  constexpr long long kMaxCounted = 100000;
  while ((static_cast<int>(all.size()) < o.limit || more < kMaxCounted) && readOk(rc = t.getNextRow(&counter))) {
    if (static_cast<int>(all.size()) < o.limit) all.push_back(rowJson(t));
    else ++more;
  }
  t.closeCursor();
  if (more < kMaxCounted && rc != DB_NO_DATA) {
    error(std::string("cannot read occurrences: ") + t.getErrorStr(rc));
    return kExitDatabase;
  }
  for (Json& r : all) addNames(r, rules);
  if (o.json) {
    std::printf("%s\n", all.dump(2).c_str());
    return 0;
  }
  const std::string zone = "(" + zoneName() + ")";
  std::printf("%-8s %-36s %-5s %-4s %-6s %-18s %-19s %-19s %-24s %s\n", "event", "type", "crit", "cat", "status",
              "state", ("occurred " + zone).c_str(), ("processed " + zone).c_str(), "rule", "entity");
  for (auto& r : all) {
    std::string state;
    for (const Json& n : r["stateNames"]) state += (state.empty() ? "" : ", ") + n.get<std::string>();
    std::printf("%-8s %-36s %-5s %-4s %-6s %-18s %-19s %-19s %-24s %s\n", text(r["eventId"]).c_str(),
                (text(r["alertType"]) + (r["alertTypeName"].is_null() ? "" : " " + text(r["alertTypeName"]))).c_str(),
                text(r["criteria"]).c_str(), text(r["category"]).c_str(), text(r["status"]).c_str(),
                (text(r["processStat"]) + " " + state).c_str(), text(r["occurTime"]).c_str(),
                text(r["processTime"]).c_str(),
                (text(r["ntNotificationId"]) + (r["ruleName"].is_null() ? "" : " " + text(r["ruleName"]))).c_str(),
                text(r["entityId"]).c_str());
  }
  if (all.empty()) std::printf("(no occurrences)\n");
  if (more > 0) std::printf("%s%lld more (raise --limit to see them)\n", more == kMaxCounted ? "at least " : "", more);
  return 0;
}

// The detail row of an occurrence, from whichever detail table holds it.
template <class B>
bool findDetail(int eventId, Json& detail) {
  B t(nullptr);
  const Db::TableDef& def = B::def();
  // Column names are case-insensitive on both backends (NTDQueryResults spells it EventId).
  t.setWhere("eventId = %d", eventId);
  if (!readOk(t.getOneRow())) return false;
  detail = Json{{"table", def.name}, {"row", rowJson(t)}};
  return true;
}

int showOne(const ListOptions& o) {
  NTDetectedAlerts a(nullptr);
  a.setWhere("eventId = %d", o.eventId);
  int rc = a.getOneRow();
  if (rc == DB_NO_DATA) {
    error("no occurrence " + std::to_string(o.eventId));
    return kExitNotFound;
  }
  if (!readOk(rc)) {
    error(std::string("cannot read occurrence: ") + a.getErrorStr(rc));
    return kExitDatabase;
  }
  Json out{{"alert", rowJson(a)}, {"detail", nullptr}};
  RuleNames rules;
  addNames(out["alert"], rules);
  Json detail;
#define EVD_DETAIL(N) \
  if (detail.is_null()) findDetail<N>(o.eventId, detail);
  EVD_DETAIL(NTDdpDr) EVD_DETAIL(NTDauxCopyDataVer) EVD_DETAIL(NTDdataAgingER) EVD_DETAIL(NTDAdminJobInfo)
  EVD_DETAIL(NTDWorkflow) EVD_DETAIL(NTDlibConfig) EVD_DETAIL(NTDlibraryMang) EVD_DETAIL(NTDmediaInvSchedExport)
  EVD_DETAIL(NTDvaultTracker) EVD_DETAIL(NTDclntAgentMAConfig) EVD_DETAIL(NTDzentraConfig) EVD_DETAIL(NTDspConfig)
  EVD_DETAIL(NTDschedConfig) EVD_DETAIL(NTDftpDistToClnt) EVD_DETAIL(NTUserConfig) EVD_DETAIL(NTUserGroupConfig)
  EVD_DETAIL(NTDQueryResults) EVD_DETAIL(NTLMalert) EVD_DETAIL(NTDEventMonitoring)
#undef EVD_DETAIL
  out["detail"] = detail;

  Json params = Json::array();
  NTDparams p(nullptr);
  p.setWhere("eventId = %d", o.eventId);
  int counter = 0;
  while (readOk(rc = p.getNextRow(&counter))) {
    const char* name = notiParamTypeName(p.getDataPtr()->type);
    params.push_back(Json{{"type", p.getDataPtr()->type},
                          {"name", name ? Json(name) : Json(nullptr)},
                          {"value", std::string(p.getDataPtr()->value)}});
  }
  if (rc != DB_NO_DATA) {
    error(std::string("cannot read parameters: ") + p.getErrorStr(rc));
    return kExitDatabase;
  }
  out["params"] = params;

  // Message arguments grouped by the message they belong to, in the order written.
  Json msgs = Json::array();
  NTDMsgParam m(nullptr);
  m.setWhere("eventId = %d", o.eventId);
  counter = 0;
  while (readOk(rc = m.getNextRow(&counter))) {
    const NTDMsgParam_t* r = m.getDataPtr();
    if (msgs.empty() || msgs.back()["msgIndex"] != r->msgIndex || msgs.back()["msgId"] != r->msgId ||
        msgs.back()["tokenId"] != r->tokenId)
      msgs.push_back(Json{{"msgIndex", r->msgIndex}, {"msgId", r->msgId}, {"tokenId", r->tokenId}, {"args", Json::array()}});
    msgs.back()["args"].push_back(
        Json{{"position", r->position}, {"type", r->type}, {"size", r->size}, {"data", std::string(r->data)}});
  }
  if (rc != DB_NO_DATA) {
    error(std::string("cannot read message parameters: ") + m.getErrorStr(rc));
    return kExitDatabase;
  }
  out["msgParams"] = msgs;

  if (o.json) {
    std::printf("%s\n", out.dump(2).c_str());
    return 0;
  }
  const Json& al = out["alert"];
  const AlertTypeInfo* info = findAlertType(al["alertType"].get<int>());
  std::printf("occurrence %d: alert type %d%s%s%s, criteria %d, category %d\n", o.eventId, al["alertType"].get<int>(),
              info ? " (" : "", info ? info->name : "", info ? ")" : "", al["criteria"].get<int>(),
              al["category"].get<int>());
  for (auto& [k, v] : al.items()) std::printf("  %-18s %s\n", k.c_str(), text(v).c_str());
  if (detail.is_null()) {
    std::printf("detail: none\n");
  } else {
    std::printf("detail (%s):\n", detail["table"].get<std::string>().c_str());
    for (auto& [k, v] : detail["row"].items()) std::printf("  %-18s %s\n", k.c_str(), text(v).c_str());
  }
  std::printf("parameters:%s\n", params.empty() ? " none" : "");
  for (auto& p2 : params)
    std::printf("  %4d %-30s %s\n", p2["type"].get<int>(), p2["name"].is_null() ? "?" : text(p2["name"]).c_str(),
                text(p2["value"]).c_str());
  std::printf("message parameters:%s\n", msgs.empty() ? " none" : "");
  for (auto& g : msgs) {
    std::printf("  message %d (id 0x%08X, token 0x%08X)\n", g["msgIndex"].get<int>(),
                static_cast<unsigned>(g["msgId"].get<int>()), static_cast<unsigned>(g["tokenId"].get<int>()));
    for (auto& arg : g["args"])
      std::printf("    %d. [type %d] %s\n", arg["position"].get<int>(), arg["type"].get<int>(),
                  text(arg["data"]).c_str());
  }
  return 0;
}

}  // namespace

void addShow(CLI::App& app, std::vector<Command>& out) {
  CLI::App* sub = app.add_subcommand("show", "list occurrences, newest first, or show one whole");
  auto o = std::make_shared<ListOptions>();
  CLI::Option* one = sub->add_option("eventid", o->eventId, "show this occurrence with its detail and parameters");
  sub->add_option("--type", o->type, "only this alert type");
  sub->add_option("--state", o->state, "only this processing state (0 being written, 1 ready, 2 ready after an "
                                       "earlier match, 4 condition cleared, 128 held)");
  sub->add_option("--rule", o->rule, "only occurrences recorded for this rule id");
  sub->add_option("--entity", o->entity, "only occurrences of this object, e.g. Client|12");
  sub->add_option("--client", o->client, "only occurrences of this client: its object, or a client id parameter");
  sub->add_option("--since", o->since, "only occurrences detected at or after \"YYYY-MM-DD[ HH:MM:SS]\" (local time)");
  sub->add_option("--until", o->until, "only occurrences detected at or before \"YYYY-MM-DD[ HH:MM:SS]\" (local time; "
                                       "a date alone means its end)");
  sub->add_option("--limit", o->limit, "at most this many occurrences")->capture_default_str();
  sub->add_flag("--json", o->json, "print JSON instead of columns (with alertTypeName, stateNames and ruleName)");
  sub->footer("Times are the local time of the host that detected them; the header names this host's zone.");
  out.push_back({sub, [o, one](const std::string& db) {
                   if (int rc = openDatabase(db)) return rc;
                   // An id that no occurrence can have (0, negative) is "no such
                   // occurrence", never a listing of everything.
                   return one->count() > 0 ? showOne(*o) : listOccurrences(*o);
                 }});
}

}  // namespace evdetect

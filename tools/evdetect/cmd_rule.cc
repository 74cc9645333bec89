// evdetect rule: notification rules (NTnotificationRule); evdetect types: the
// alert types a rule can be for (NTAlertType).
#include <CLI/CLI.hpp>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>

#include "Db/AllBindings.h"
#include "db/backend.h"
#include "detector/EvNDetector.h"
#include "detector/alert_types.h"
#include "tools/evdetect/commands.h"

namespace evdetect {
namespace {

using Json = nlohmann::ordered_json;

// Rule status bits the detector reads.
constexpr int kRuleDisabled = 0x1;  // bits 0 and 1 switch a rule off
constexpr int kRuleOffBits = 0x3;
constexpr int kRuleLastValueFilter = 0x2000;
constexpr int kRuleTrend = 0x10000;
constexpr size_t kMaxRuleName = 256;  // NTnotificationRule.notificationName

struct RuleOptions {
  int type = 0, id = 0, status = 0;
  std::string name;
  bool disabled = false, trend = false, lastValueFilter = false, clearAlerts = false, json = false;
};

struct TypeRow {
  int id, category;
  std::string name, categoryName;
};

// The alert types of the database, with the display columns the detector's
// own binding leaves out.
int readTypes(std::vector<TypeRow>& out) {
  std::string err;
  const int rc = eachRow("SELECT id, name, categoryID, categoryName FROM NTAlertType ORDER BY id",
                         [&](const Db::detail::StatementBackend& st) {
                           size_t len = 0;
                           out.push_back({static_cast<int>(st.getInt(0)), static_cast<int>(st.getInt(2)),
                                          st.getText(1, &len), st.getText(3, &len)});
                         },
                         &err);
  if (rc != 0) error("cannot read alert types: " + err);
  return rc == 0 ? 0 : kExitDatabase;
}

std::string nameTooLong(const std::string& name) {
  return name.size() > kMaxRuleName ? "rule name longer than " + std::to_string(kMaxRuleName) + " bytes" : "";
}

int addRule(const std::string& db, const RuleOptions& o) {
  if (std::string wrong = nameTooLong(o.name); !wrong.empty()) {
    error(wrong);
    return kExitUsage;
  }
  if (int rc = openDatabase(db)) return rc;
  std::vector<TypeRow> types;
  if (int rc = readTypes(types)) return rc;
  const TypeRow* type = nullptr;
  const TypeRow* near = nullptr;
  for (const TypeRow& t : types) {
    if (t.id == o.type) type = &t;
    if (!near || std::abs(t.id - o.type) < std::abs(near->id - o.type)) near = &t;
  }
  if (!type) {
    // A rule for a type the server does not have never fires.
    if (!near) {
      error("alert type " + std::to_string(o.type) + " is not known: the database has no alert types (run 'evdetect init')");
    } else {
      error("alert type " + std::to_string(o.type) + " is not known; the nearest is " + std::to_string(near->id) +
            " (" + near->name + "); see evdetect types");
    }
    return kExitUsage;
  }
  NTnotificationRule r(nullptr);
  NTnotificationRule_t* row = r.getDataPtr();
  row->alertTypeId = o.type;
  row->categoryId = type->category;
  std::string name = o.name.empty() ? "Rule for alert type " + std::to_string(o.type) : o.name;
  dbCopyText(row->notificationName, name.c_str());
  row->status = o.status | (o.disabled ? kRuleDisabled : 0) | (o.trend ? kRuleTrend : 0) |
                (o.lastValueFilter ? kRuleLastValueFilter : 0);
  int rc = r.rowInsert(true);
  if (rc != 0) {
    error(std::string("cannot add rule: ") + r.getErrorStr(rc));
    return kExitDatabase;
  }
  std::printf("%d\n", row->id);
  return 0;
}

int listRules(const std::string& db, bool json) {
  if (int rc = openDatabase(db)) return rc;
  NTnotificationRule r(nullptr);
  r.setOrderBy("id");
  int counter = 0, rc = DB_NO_DATA;
  Json all = Json::array();
  if (!json) std::printf("%-6s %-6s %-9s %-8s %s\n", "id", "type", "category", "status", "name");
  while ((rc = r.getNextRow(&counter)) == 0 || rc == DB_SUCCESS_TRUNCATED) {
    const NTnotificationRule_t* row = r.getDataPtr();
    std::vector<std::string> flags;
    if (row->status & kRuleOffBits) flags.push_back("disabled");
    if (row->status & kRuleTrend) flags.push_back("trend");
    if (row->status & kRuleLastValueFilter) flags.push_back("last-value-filter");
    if (json) {
      all.push_back({{"id", row->id}, {"alertType", row->alertTypeId}, {"category", row->categoryId},
                     {"status", row->status}, {"name", row->notificationName}, {"flags", flags}});
      continue;
    }
    std::string shownFlags;
    for (const std::string& f : flags) shownFlags += (shownFlags.empty() ? "  [" : " ") + f;
    std::printf("%-6d %-6d %-9d 0x%-6x %s%s%s\n", row->id, row->alertTypeId, row->categoryId, row->status,
                shown(row->notificationName).c_str(), shownFlags.c_str(), shownFlags.empty() ? "" : "]");
  }
  if (rc != DB_NO_DATA) {
    error(std::string("cannot list rules: ") + r.getErrorStr(rc));
    return kExitDatabase;
  }
  if (json) std::printf("%s\n", all.dump(2).c_str());
  return 0;
}

int noRule(int id) {
  error("no rule " + std::to_string(id));
  return kExitNotFound;
}

// Runs UPDATE's SET list on rule ID.
int updateRule(const std::string& db, int id, const std::function<int(NTnotificationRule&)>& update) {
  if (int rc = openDatabase(db)) return rc;
  NTnotificationRule r(nullptr);
  r.setWhere("id = %d", id);
  const int rc = update(r);
  if (rc == DB_NO_DATA) return noRule(id);
  if (rc != 0) {
    error(std::string("cannot change rule: ") + r.getErrorStr(rc));
    return kExitDatabase;
  }
  return 0;
}

int removeRule(const std::string& db, int id, bool clearAlerts) {
  if (int rc = openDatabase(db)) return rc;
  // The rule and its occurrences go together or not at all, and the count
  // printed is what the same transaction deleted.
  DBtran tran;
  int rc = tran.startTran();
  NTnotificationRule r(&tran);
  r.setWhere("id = %d", id);
  if (rc == 0) rc = r.rowDelete();
  if (rc == DB_NO_DATA) return noRule(id);
  if (rc != 0) {
    error(std::string("cannot remove rule: ") + r.getErrorStr(rc));
    return kExitDatabase;
  }
  long long cleared = 0;
  if (clearAlerts) {
    std::string err;
    rc = eachRow("SELECT COUNT(*) FROM NTDetectedAlerts WHERE ntNotificationId = " + std::to_string(id),
                 [&](const Db::detail::StatementBackend& st) { cleared = st.getInt(0); }, &err);
    if (rc == 0) rc = ClearDetectedAlertsForRule(id);
    if (rc != 0 && rc != DB_NO_DATA) {
      error("cannot clear the occurrences of rule " + std::to_string(id) + (err.empty() ? "" : ": " + err) +
            "; nothing removed");
      return kExitDatabase;
    }
  }
  if ((rc = tran.commitTran()) != 0) {
    error(std::string("cannot remove rule: ") + tran.getErrorStr(rc));
    return kExitDatabase;
  }
  if (clearAlerts) std::printf("rule %d removed with %lld occurrences and their rows\n", id, cleared);
  return 0;
}

int listTypes(const std::string& db, bool json) {
  if (int rc = openDatabase(db)) return rc;
  std::vector<TypeRow> types;
  if (int rc = readTypes(types)) return rc;
  Json all = Json::array();
  if (!json) std::printf("%-5s %-50s %s\n", "id", "name", "category");
  for (const TypeRow& t : types) {
    if (json) all.push_back({{"id", t.id}, {"name", t.name}, {"category", t.category}, {"categoryName", t.categoryName}});
    else std::printf("%-5d %-50s %d %s\n", t.id, shown(t.name).c_str(), t.category, shown(t.categoryName).c_str());
  }
  if (json) std::printf("%s\n", all.dump(2).c_str());
  else if (types.empty()) std::printf("(no alert types: run 'evdetect init')\n");
  return 0;
}

}  // namespace

void addRule(CLI::App& app, std::vector<Command>& out) {
  CLI::App* rule = app.add_subcommand("rule", "manage notification rules");
  rule->require_subcommand(1);
  auto o = std::make_shared<RuleOptions>();

  CLI::App* a = rule->add_subcommand("add", "add a rule for an alert type; prints the new rule id");
  a->add_option("--type", o->type, "alert type id, one of evdetect types")->required();
  a->add_option("--name", o->name, "rule name");
  a->add_flag("--disabled", o->disabled, "add the rule switched off");
  a->add_flag("--trend", o->trend, "mark it as a trend rule");
  a->add_flag("--last-value-filter", o->lastValueFilter, "mark it as having a last-value filter");
  a->add_option("--status", o->status, "further status bits, as a number");
  out.push_back({a, [o](const std::string& db) { return addRule(db, *o); }});

  CLI::App* l = rule->add_subcommand("list", "list the rules");
  l->add_flag("--json", o->json, "print a JSON array of rules");
  out.push_back({l, [o](const std::string& db) { return listRules(db, o->json); }});

  CLI::App* e = rule->add_subcommand("enable", "switch a rule on");
  e->add_option("id", o->id, "rule id")->required();
  out.push_back({e, [o](const std::string& db) {
                   return updateRule(db, o->id, [](NTnotificationRule& r) {
                     return r.rowUpdate("status = status - (status & %d)", kRuleOffBits);
                   });
                 }});

  CLI::App* d = rule->add_subcommand("disable", "switch a rule off");
  d->add_option("id", o->id, "rule id")->required();
  out.push_back({d, [o](const std::string& db) {
                   return updateRule(db, o->id,
                                     [](NTnotificationRule& r) { return r.rowUpdate("status = status | %d", kRuleDisabled); });
                 }});

  CLI::App* n = rule->add_subcommand("rename", "give a rule a new name");
  n->add_option("id", o->id, "rule id")->required();
  n->add_option("name", o->name, "the new name")->required();
  out.push_back({n, [o](const std::string& db) {
                   if (std::string wrong = nameTooLong(o->name); !wrong.empty()) {
                     error(wrong);
                     return kExitUsage;
                   }
                   return updateRule(db, o->id, [o](NTnotificationRule& r) {
                     return r.rowUpdate("notificationName = '%s'", o->name.c_str());
                   });
                 }});

  CLI::App* r = rule->add_subcommand("remove", "remove a rule");
  r->add_option("id", o->id, "rule id")->required();
  r->add_flag("--clear-alerts", o->clearAlerts,
              "also delete every occurrence recorded for the rule with its detail, parameter, message and "
              "query-result rows, and print how many occurrences");
  out.push_back({r, [o](const std::string& db) { return removeRule(db, o->id, o->clearAlerts); }});

  CLI::App* t = app.add_subcommand("types", "list the alert types of the database: id, name and category");
  t->add_flag("--json", o->json, "print a JSON array of alert types");
  out.push_back({t, [o](const std::string& db) { return listTypes(db, o->json); }});
}

}  // namespace evdetect

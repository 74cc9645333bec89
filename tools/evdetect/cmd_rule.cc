// evdetect rule: notification rules (NTnotificationRule).
#include <CLI/CLI.hpp>
#include <cstdio>
#include <memory>
#include <string>

#include "Db/AllBindings.h"
#include "detector/EvNDetector.h"
#include "detector/alert_types.h"
#include "tools/evdetect/commands.h"

namespace evdetect {
namespace {

// Rule status bits the detector reads.
constexpr int kRuleDisabled = 0x1;     // bits 0 and 1 switch a rule off
constexpr int kRuleLastValueFilter = 0x2000;
constexpr int kRuleTrend = 0x10000;

struct AddOptions {
  int type = 0;
  std::string name;
  bool disabled = false, trend = false, lastValueFilter = false;
  int status = 0;
};

int addRule(const std::string& db, const AddOptions& o) {
  if (int rc = openDatabase(db)) return rc;
  int category = 0;
  NTAlertType t(nullptr);
  t.setWhere("id = %d", o.type);
  if (t.getOneRow() == 0) category = t.getDataPtr()->categoryID;
  else if (const AlertTypeInfo* info = findAlertType(o.type)) category = info->category;
  NTnotificationRule r(nullptr);
  NTnotificationRule_t* row = r.getDataPtr();
  row->alertTypeId = o.type;
  row->categoryId = category;
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

int listRules(const std::string& db) {
  if (int rc = openDatabase(db)) return rc;
  NTnotificationRule r(nullptr);
  r.setOrderBy("id");
  int counter = 0, rc = DB_NO_DATA;
  std::printf("%-6s %-6s %-9s %-8s %s\n", "id", "type", "category", "status", "name");
  while ((rc = r.getNextRow(&counter)) == 0 || rc == DB_SUCCESS_TRUNCATED) {
    const NTnotificationRule_t* row = r.getDataPtr();
    std::string flags;
    if (row->status & 3) flags += " disabled";
    if (row->status & kRuleTrend) flags += " trend";
    if (row->status & kRuleLastValueFilter) flags += " last-value-filter";
    std::printf("%-6d %-6d %-9d 0x%-6x %s%s\n", row->id, row->alertTypeId, row->categoryId, row->status,
                shown(row->notificationName).c_str(), flags.empty() ? "" : ("  [" + flags.substr(1) + "]").c_str());
  }
  if (rc != DB_NO_DATA) {
    error(std::string("cannot list rules: ") + r.getErrorStr(rc));
    return kExitDatabase;
  }
  return 0;
}

int removeRule(const std::string& db, int id, bool clearAlerts) {
  if (int rc = openDatabase(db)) return rc;
  NTnotificationRule r(nullptr);
  r.setWhere("id = %d", id);
  int rc = r.rowDelete();
  if (rc == DB_NO_DATA) {
    error("no rule " + std::to_string(id));
    return kExitNotFound;
  }
  if (rc != 0) {
    error(std::string("cannot remove rule: ") + r.getErrorStr(rc));
    return kExitDatabase;
  }
  if (clearAlerts) {
    rc = ClearDetectedAlertsForRule(id);
    if (rc != 0 && rc != DB_NO_DATA) {
      error("rule removed, but its detected alerts could not be cleared (code " + std::to_string(rc) + ")");
      return kExitDatabase;
    }
  }
  return 0;
}

}  // namespace

void addRule(CLI::App& app, std::vector<Command>& out) {
  CLI::App* rule = app.add_subcommand("rule", "manage notification rules");
  rule->require_subcommand(1);

  auto add = std::make_shared<AddOptions>();
  CLI::App* a = rule->add_subcommand("add", "add a rule for an alert type; prints the new rule id");
  a->add_option("--type", add->type, "alert type id")->required()->check(CLI::Range(1, 1000000));
  a->add_option("--name", add->name, "rule name");
  a->add_flag("--disabled", add->disabled, "add the rule switched off");
  a->add_flag("--trend", add->trend, "mark it as a trend rule");
  a->add_flag("--last-value-filter", add->lastValueFilter, "mark it as having a last-value filter");
  a->add_option("--status", add->status, "further status bits, as a number");
  out.push_back({a, [add](const std::string& db) { return addRule(db, *add); }});

  CLI::App* l = rule->add_subcommand("list", "list the rules");
  out.push_back({l, [](const std::string& db) { return listRules(db); }});

  auto id = std::make_shared<int>(0);
  auto clear = std::make_shared<bool>(false);
  CLI::App* r = rule->add_subcommand("remove", "remove a rule");
  r->add_option("id", *id, "rule id")->required();
  r->add_flag("--clear-alerts", *clear, "also delete the detected alerts of the rule");
  out.push_back({r, [id, clear](const std::string& db) { return removeRule(db, *id, *clear); }});
}

}  // namespace evdetect

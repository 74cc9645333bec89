// evdetect config: the host's settings (flags, levels, global parameters).
#include <CLI/CLI.hpp>
#include <cstdio>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "Db/DbTypes.h"
#include "host/NxSettings.h"
#include "tools/evdetect/commands.h"
#include "tools/evdetect/known_settings.h"

namespace evdetect {
namespace {

struct Key {
  std::string section, name, value;
  bool force = false, json = false;
};

int fail(int rc, const std::string& what, const std::string& err) {
  if (rc == DB_NO_DATA) return kExitNotFound;
  error(what + (err.empty() ? "" : ": " + err));
  return rc == DB_ERR_USAGE || rc == EvdSetting::kBadValue ? kExitUsage : kExitDatabase;
}

}  // namespace

void addConfig(CLI::App& app, std::vector<Command>& out) {
  CLI::App* config = app.add_subcommand("config", "read and write settings (see docs/settings.md)");
  config->require_subcommand(1);
  auto key = std::make_shared<Key>();

  CLI::App* g = config->add_subcommand("get", "print one setting");
  g->add_option("section", key->section)->required();
  g->add_option("name", key->name)->required();
  out.push_back({g, [key](const std::string& db) {
                   if (int rc = openDatabase(db)) return rc;
                   std::string value, err;
                   int rc = Settings::get(key->section, key->name, value, &err);
                   if (rc == DB_NO_DATA) {
                     error("no setting " + key->section + " " + key->name);
                     return kExitNotFound;
                   }
                   if (rc) return fail(rc, "cannot read setting", err);
                   std::printf("%s\n", shown(value).c_str());
                   return 0;
                 }});

  CLI::App* s = config->add_subcommand("set", "create or replace one setting");
  s->add_option("section", key->section)->required();
  s->add_option("name", key->name)->required();
  s->add_option("value", key->value)->required();
  s->add_flag("--force", key->force, "write it even when the detector does not read it or the value is not of its kind");
  s->footer("Known settings and the values they take: evdetect config known.");
  out.push_back({s, [key](const std::string& db) {
                   if (!key->force) {
                     const std::string wrong = checkSetting(key->section, key->name, key->value);
                     if (!wrong.empty()) {
                       error(wrong + " (--force writes it anyway)");
                       return kExitUsage;
                     }
                   }
                   if (int rc = openDatabase(db)) return rc;
                   std::string err;
                   int rc = Settings::set(key->section, key->name, key->value, &err);
                   return rc ? fail(rc, "cannot write setting", err) : 0;
                 }});

  CLI::App* u = config->add_subcommand("unset", "remove one setting");
  u->add_option("section", key->section)->required();
  u->add_option("name", key->name)->required();
  out.push_back({u, [key](const std::string& db) {
                   if (int rc = openDatabase(db)) return rc;
                   std::string err;
                   int rc = Settings::remove(key->section, key->name, &err);
                   if (rc == DB_NO_DATA) {
                     error("no setting " + key->section + " " + key->name);
                     return kExitNotFound;
                   }
                   return rc ? fail(rc, "cannot remove setting", err) : 0;
                 }});

  CLI::App* l = config->add_subcommand("list", "list every setting");
  l->add_flag("--json", key->json, "print a JSON array of {section, name, value}");
  out.push_back({l, [key](const std::string& db) {
                   if (int rc = openDatabase(db)) return rc;
                   std::vector<Settings::Entry> entries;
                   std::string err;
                   int rc = Settings::list(entries, &err);
                   if (rc) return fail(rc, "cannot list settings", err);
                   if (key->json) {
                     nlohmann::ordered_json all = nlohmann::ordered_json::array();
                     for (auto& e : entries) all.push_back({{"section", e.section}, {"name", e.name}, {"value", e.value}});
                     std::printf("%s\n", all.dump(2).c_str());
                     return 0;
                   }
                   for (auto& e : entries)
                     std::printf("%s %s = %s\n", shown(e.section).c_str(), shown(e.name).c_str(), shown(e.value).c_str());
                   return 0;
                 }});

  CLI::App* k = config->add_subcommand("known", "list the settings the detector reads and the values they take");
  k->add_flag("--json", key->json, "print a JSON array of {section, name, kind}");
  out.push_back({k, [key](const std::string&) {
                   nlohmann::ordered_json all = nlohmann::ordered_json::array();
                   for (const KnownSetting& known : knownSettings()) {
                     if (key->json) all.push_back({{"section", known.section}, {"name", known.name}, {"kind", valueKindName(known.kind)}});
                     else std::printf("%-20s %-24s %s\n", known.section, known.name, valueKindName(known.kind));
                   }
                   if (key->json) std::printf("%s\n", all.dump(2).c_str());
                   return 0;
                 }});
}

}  // namespace evdetect

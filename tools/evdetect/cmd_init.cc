#include <cstdio>

#include <CLI/CLI.hpp>

#include "Db/Database.h"
#include "tools/evdetect/commands.h"

namespace evdetect {

void error(const std::string& message) { std::fprintf(stderr, "evdetect: %s\n", message.c_str()); }

namespace {

int runInit(const std::string& db) {
  std::string report, err;
  int rc = Db::initSchema(db, &report, &err);
  if (rc != 0) {
    error(err);
    return kExitDatabase;
  }
  if (report.empty()) {
    std::printf("%s: schema is up to date, nothing created\n", db.c_str());
  } else {
    std::printf("%s: created tables\n", db.c_str());
    std::printf("%s", report.c_str());
  }
  return 0;
}

}  // namespace

void registerCommands(CLI::App& app, std::string&) {
  app.add_subcommand("init", "create the schema in the database (safe to run again)");
}

int runSelected(CLI::App& app, const std::string& db) {
  if (app.got_subcommand("init")) return runInit(db);
  error("no command given; see --help");
  return kExitUsage;
}

}  // namespace evdetect

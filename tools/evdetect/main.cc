// evdetect: the command-line host of the detector.
#include <cstdio>
#include <cstdlib>
#include <string>

#include <CLI/CLI.hpp>

#include "Db/Database.h"
#include "tools/evdetect/commands.h"

int main(int argc, char** argv) {
  CLI::App app{"evdetect - the alert detector of the backup-management server"};
  app.require_subcommand(1);
  app.fallthrough();
  std::string db;
  app.add_option("--db", db, "database URI: PATH, sqlite:PATH or postgresql://... (default: $EVDETECT_DB, else ./evdetector.db)")
      ->envname("EVDETECT_DB")
      ->default_val("evdetector.db");
  evdetect::registerCommands(app, db);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    return app.exit(e) == 0 ? 0 : evdetect::kExitUsage;
  }
  return evdetect::runSelected(app, db);
}

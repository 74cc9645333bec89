// evdetect: the command-line host of the detector.
#include <CLI/CLI.hpp>
#include <string>
#include <vector>

#include "detector/version.h"
#include "tools/evdetect/commands.h"

int main(int argc, char** argv) {
  CLI::App app{"evdetect - the alert detector of the backup-management server"};
  app.require_subcommand(1);
  app.fallthrough();
  app.set_version_flag("--version", evdetectorVersion());
  std::string db;
  app.add_option("--db", db,
                 "database URI: PATH, sqlite:PATH or postgresql://... (default: $EVDETECT_DB, else ./evdetector.db)")
      ->envname("EVDETECT_DB")
      ->default_val("evdetector.db");
  std::vector<evdetect::Command> commands;
  evdetect::addInit(app, commands);
  evdetect::addRun(app, commands);
  evdetect::addRule(app, commands);
  evdetect::addConfig(app, commands);
  evdetect::addShow(app, commands);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    return app.exit(e) == 0 ? 0 : evdetect::kExitUsage;
  }
  for (auto& c : commands)
    if (c.app->parsed()) return c.run(db);
  evdetect::error("no command given; see --help");
  return evdetect::kExitUsage;
}

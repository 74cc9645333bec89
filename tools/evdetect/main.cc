// evdetect: the command-line host of the detector.
#include <fcntl.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "detector/version.h"
#include "tools/evdetect/commands.h"

namespace {

// A standard descriptor the caller left closed would be taken by the next
// open (the database, the alert log), whose bytes would then be read as
// events or overwritten by output. Each closed one gets /dev/null opened the
// wrong way round instead, so that using it fails and is reported.
void guardStandardDescriptors() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    const int got = ::open("/dev/null", fd == STDIN_FILENO ? O_WRONLY : O_RDONLY);
    if (got >= 0 && got != fd) {
      dup2(got, fd);
      ::close(got);
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  guardStandardDescriptors();
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
  evdetect::addHistory(app, commands);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    return app.exit(e) == 0 ? 0 : evdetect::kExitUsage;
  }
  for (auto& c : commands) {
    if (!c.app->parsed()) continue;
    const int rc = c.run(db);
    // Output that did not arrive (a full disk, a closed pipe) is a failure:
    // the id that `rule add` prints may be all the caller gets.
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
      evdetect::error(std::string("cannot write standard output: ") + std::strerror(errno));
      return rc != 0 ? rc : evdetect::kExitOutput;
    }
    return rc;
  }
  evdetect::error("no command given; see --help");
  return evdetect::kExitUsage;
}

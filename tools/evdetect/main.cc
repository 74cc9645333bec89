// evdetect: the command-line host of the detector.
#include <fcntl.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "Db/Database.h"
#include "db/uri.h"
#include "host/EvAlertDebug.h"
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

std::string pathOf(const CLI::App* a) {
  std::string path;
  for (; a != nullptr && a->get_parent() != nullptr; a = a->get_parent()) path = a->get_name() + (path.empty() ? "" : " " + path);
  return path;
}

std::vector<std::string> commandNames(CLI::App* a) {
  std::vector<std::string> names;
  for (const CLI::App* sub : a->get_subcommands([](CLI::App*) { return true; })) names.push_back(sub->get_name());
  return names;
}

// The option NAME ("--limit", "-h") of A or of a command above it (options
// fall through to the parents), or null.
const CLI::Option* findOption(CLI::App* a, const std::string& name, std::vector<std::string>* known) {
  for (; a != nullptr; a = a->get_parent()) {
    for (const CLI::Option* o : a->get_options()) {
      for (const std::string& l : o->get_lnames()) {
        if ("--" + l == name) return o;
        known->push_back("--" + l);
      }
      for (const std::string& n : o->get_snames())
        if ("-" + n == name) return o;
    }
  }
  return nullptr;
}

// One line saying what is wrong with the command line: a mistyped command or
// option named with the nearest known one, else CLI11's own message.
std::string usageError(CLI::App& app, int argc, char** argv, const CLI::ParseError& e) {
  CLI::App* at = &app;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--") break;
    if (arg.size() > 1 && arg[0] == '-') {
      const std::string name = arg.substr(0, arg.find('='));
      std::vector<std::string> known;
      const CLI::Option* o = findOption(at, name, &known);
      if (o == nullptr)
        return "unknown option '" + name + "'" + (at == &app ? "" : " for '" + pathOf(at) + "'") + evdetect::didYouMean(name, known);
      if (name == arg && o->get_items_expected_min() > 0) ++i;
      continue;
    }
    const std::vector<std::string> commands = commandNames(at);
    if (commands.empty()) continue;  // a positional argument
    try {
      at = at->get_subcommand(arg);
    } catch (const CLI::OptionNotFound&) {
      return "'" + arg + "' is not a" + (at == &app ? "" : " '" + pathOf(at) + "'") + " command" +
             evdetect::didYouMean(arg, commands);
    }
  }
  const std::vector<std::string> commands = commandNames(at);
  if (!commands.empty() && at->get_subcommands().empty()) {
    std::string list;
    for (const std::string& c : commands) list += (list.empty() ? "" : ", ") + c;
    return (at == &app ? std::string("a command is needed") : "'" + pathOf(at) + "' needs a command") + ": " + list +
           "; see --help";
  }
  std::string what = e.what();
  for (char& c : what)
    if (c == '\n') c = ' ';
  while (!what.empty() && what.back() == ' ') what.pop_back();
  return (at == &app ? "" : pathOf(at) + ": ") + what + "; see --help";
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
                 "database: PATH, sqlite:PATH, postgresql://... or 'key=value ...' for libpq "
                 "(default: $EVDETECT_DB, else ./evdetector.db)")
      ->envname("EVDETECT_DB")
      ->default_val("evdetector.db");
  std::string log;
  app.add_option("--log", log,
                 "the alert log: FILE, or - for standard error (default: evdetector.log beside an SQLite "
                 "database, else in the working directory)");
  int busyTimeout = 10000;
  app.add_option("--busy-timeout", busyTimeout,
                 "SQLite: milliseconds a statement waits for another writer's lock before it fails as busy "
                 "(an event that waited that long runs once more)")
      ->check(CLI::Range(0, 3600000))
      ->capture_default_str();
  std::vector<evdetect::Command> commands;
  evdetect::addInit(app, commands);
  evdetect::addRun(app, commands);
  evdetect::addRule(app, commands);
  evdetect::addConfig(app, commands);
  evdetect::addShow(app, commands);
  evdetect::addHistory(app, commands);
  evdetect::addCheck(app, commands);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    // --help and --version end here too, with status 0.
    if (e.get_exit_code() == 0) return app.exit(e);
    evdetect::error(usageError(app, argc, argv, e));
    return evdetect::kExitUsage;
  }
  evdetect::hidePasswordOf(db);
  if (Db::uriKind(db) == Db::UriKind::Unknown) {
    evdetect::error("--db '" + Db::detail::redactUri(db) + "': unknown scheme; use PATH, sqlite:PATH, postgresql://... " +
                    "or a libpq connection string such as 'host=/tmp dbname=x'");
    return evdetect::kExitUsage;
  }
  if (!log.empty()) alertInstance.setPath(log);
  Db::setBusyTimeout(busyTimeout);
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

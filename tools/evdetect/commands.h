// The subcommands of evdetect. Each registers itself on the application and
// returns the process exit status when it runs.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace CLI { class App; }

namespace evdetect {

// Exit statuses: 0 success; the others name what went wrong.
constexpr int kExitUsage = 2;       // bad command line or argument
constexpr int kExitDatabase = 3;    // the database cannot be opened or used
constexpr int kExitFailed = 4;      // run: an event failed
constexpr int kExitUnreadable = 5;  // run: an input line could not be read
constexpr int kExitBoth = 6;        // run: both of the above
constexpr int kExitNotFound = 7;    // show/config/rule: no such entry

struct Command {
  CLI::App* app;
  std::function<int(const std::string& db)> run;
};

void addInit(CLI::App& app, std::vector<Command>& out);
void addRun(CLI::App& app, std::vector<Command>& out);
void addRule(CLI::App& app, std::vector<Command>& out);
void addConfig(CLI::App& app, std::vector<Command>& out);
void addShow(CLI::App& app, std::vector<Command>& out);

// Prints "evdetect: MESSAGE" on standard error.
void error(const std::string& message);
// Makes DB this process's database and opens it; on failure prints one line
// and returns kExitDatabase.
int openDatabase(const std::string& db);

}  // namespace evdetect

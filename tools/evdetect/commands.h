// The subcommands of evdetect. Each returns the process exit status.
#pragma once

#include <string>

namespace CLI { class App; }

namespace evdetect {

// Exit statuses: 0 success; the others name what went wrong.
constexpr int kExitUsage = 2;       // bad command line
constexpr int kExitDatabase = 3;    // the database cannot be opened or used
constexpr int kExitFailed = 4;      // an event failed (run)
constexpr int kExitUnreadable = 5;  // an input line could not be read (run)

void registerCommands(CLI::App& app, std::string& db);
int runSelected(CLI::App& app, const std::string& db);

// Prints "evdetect: MESSAGE" on standard error.
void error(const std::string& message);

}  // namespace evdetect

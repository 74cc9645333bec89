// The subcommands of evdetect. Each registers itself on the application and
// returns the process exit status when it runs.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace CLI { class App; }
namespace Db::detail { class StatementBackend; }

namespace evdetect {

// Exit statuses: 0 success; the others name what went wrong.
constexpr int kExitUsage = 2;       // bad command line or argument
constexpr int kExitDatabase = 3;    // the database cannot be opened or used
constexpr int kExitFailed = 4;      // run: an event failed
constexpr int kExitUnreadable = 5;  // run: the input or a line of it could not be read
constexpr int kExitBoth = 6;        // run: both of the above
constexpr int kExitNotFound = 7;    // show/config/rule: no such entry
constexpr int kExitOutput = 8;      // standard output could not be written

struct Command {
  CLI::App* app;
  std::function<int(const std::string& db)> run;
};

void addInit(CLI::App& app, std::vector<Command>& out);
void addRun(CLI::App& app, std::vector<Command>& out);
void addRule(CLI::App& app, std::vector<Command>& out);
void addConfig(CLI::App& app, std::vector<Command>& out);
void addShow(CLI::App& app, std::vector<Command>& out);
void addHistory(CLI::App& app, std::vector<Command>& out);
void addCheck(CLI::App& app, std::vector<Command>& out);

// Prints "evdetect: MESSAGE" on standard error, its control characters
// escaped and the password of the database (see hidePasswordOf) masked.
void error(const std::string& message);
// Makes error() mask the password of the connection string DB.
void hidePasswordOf(const std::string& db);
// TEXT for a terminal or a line-oriented reader: control characters (C0, DEL,
// C1) and bytes that are not UTF-8 become \n, \r, \t or \xNN, so a stored
// value can neither forge a line nor send an escape sequence. JSON output
// needs none of this.
std::string shown(std::string_view text);
// The known name nearest to WORD (a typo or the start of one), or "" when
// none is near enough to be meant.
std::string nearest(std::string_view word, const std::vector<std::string>& known);
// "; did you mean 'NAME'?" for the nearest known name, else "".
std::string didYouMean(std::string_view word, const std::vector<std::string>& known);
// Makes DB this process's database and opens it; on failure prints one line
// and returns kExitDatabase.
int openDatabase(const std::string& db);
// Runs SQL, which has no parameters, on this thread's connection (inside its
// open transaction, if any) and calls ROW for every result row. Returns 0 or
// the database layer's code with its text in *error.
int eachRow(const std::string& sql, const std::function<void(const Db::detail::StatementBackend&)>& row,
            std::string* error);

}  // namespace evdetect

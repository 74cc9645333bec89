// Helpers for tests that run evdetect as a child process over a stream of
// free-space events.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace evd::test {

// Runs ARGS through the shell and returns what it printed; *status its exit status.
std::string shell(const std::string& args, int* status);
// S in single quotes, for a shell command line.
std::string shellQuoted(const std::string& s);
// Starts PROGRAM with ARGS, its standard output and error going to OUT and
// ERR (appended), its standard input /dev/null; the child's pid.
pid_t spawn(const std::string& program, const std::vector<std::string>& args, const std::string& out,
            const std::string& err);
// Waits for PID: its exit status, or 128 + the signal that ended it.
int waitFor(pid_t pid);
// The whole of the file at PATH ("" when there is none).
std::string readFile(const std::string& path);
// One free-space event (alert type 10) of CLIENT as a JSON line, its free
// space N, clearing the condition when CLEARED.
std::string freeSpaceEvent(int client, int n, bool cleared);
// The integer of field NAME in the JSON a run printed ("name": value), -1 when it is absent.
long long jsonField(const std::string& json, const std::string& name);

}  // namespace evd::test

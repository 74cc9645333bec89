// Helpers for tests that run evdetect as a child process over a stream of
// free-space events.
#pragma once

#include <string>

namespace evd::test {

// Runs ARGS through the shell and returns what it printed; *status its exit status.
std::string shell(const std::string& args, int* status);
// S in single quotes, for a shell command line.
std::string shellQuoted(const std::string& s);
// One free-space event (alert type 10) of CLIENT as a JSON line, its free
// space N, clearing the condition when CLEARED.
std::string freeSpaceEvent(int client, int n, bool cleared);

}  // namespace evd::test

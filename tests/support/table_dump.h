// Every row of every table of this thread's database as text, for tests that
// compare what two runs stored.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace evd::test {

// Table (lower case) to its rows, each "col|col|...|", sorted.
using Dump = std::map<std::string, std::vector<std::string>>;

// How the rows of two runs are made comparable.
struct DumpOptions {
  // Date-times and epoch seconds of recent years become "T": runs made at
  // different moments compare equal.
  bool maskTimes = false;
  // Occurrence ids become their rank among all stored ones and plain row ids
  // "#": a PostgreSQL identity spends the values of rolled-back inserts, so
  // a run that was killed and resumed has gaps the uninterrupted one lacks.
  bool rankIds = false;
};
Dump dumpAll(DumpOptions options = {});
// The rows only one of A and B holds, a few of each, as "-row" / "+row" lines.
std::string difference(const std::vector<std::string>& a, const std::vector<std::string>& b);
// Rows per table.
std::map<std::string, long long> sizes(const Dump& dump);

}  // namespace evd::test

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
  // A PostgreSQL identity spends the values of rolled-back inserts (a failed
  // multi-row insert, a killed run), so runs that stored the same rows may
  // number them with different gaps. Plain row ids become "#" and their rank
  // within their table, which keeps the order rows were written in...
  bool rankRowIds = false;
  // ... and occurrence ids become their rank among all stored ones.
  bool rankOccurrenceIds = false;
};
Dump dumpAll(DumpOptions options = {});
// The rows only one of A and B holds, a few of each, as "-row" / "+row" lines.
std::string difference(const std::vector<std::string>& a, const std::vector<std::string>& b);
// Rows per table.
std::map<std::string, long long> sizes(const Dump& dump);

}  // namespace evd::test

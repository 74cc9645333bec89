// A stored history of occurrences, made quickly: what a server that has run
// for months holds, so that the cost of an event can be measured against a
// full NTDetectedAlerts instead of an empty one.
//
// Rows are written set-based (INSERT ... SELECT over a generated series) in
// transactions of a chunk each, through a connection of their own. Event ids
// come from the table's own serial, exactly as the detector's inserts take
// them, so later real events continue after them. Nothing stored before is
// read back or changed; the generated objects (clients, subclients,
// libraries, copies, users) have ids from kObjectBase up, so that a real
// repeat on a real object never matches a generated pending occurrence.
#pragma once

#include <string>
#include <vector>

namespace evd::history {

inline constexpr long long kObjectBase = 1000000;

struct Options {
  long long occurrences = 0;
  double pendingShare = 0.5;  // 0..1: the share left in a pending state
  std::vector<int> types;     // alert types to draw from; empty: every type generate() knows
  long long chunk = 100000;   // occurrences per transaction
};

struct Result {
  long long occurrences = 0, pending = 0, details = 0, params = 0;
  long long firstEventId = 0, lastEventId = 0;
};

// The alert types generate() can make occurrences of.
std::vector<int> knownTypes();

// Adds the occurrences to the database at URI. 0 on success; otherwise a
// database error code (or DB_ERR_USAGE for options it cannot honour) and
// one line in *error. A failed chunk is rolled back; chunks committed before
// it stay.
int generate(const std::string& uri, const Options& options, Result* result, std::string* error);

}  // namespace evd::history

// Capturing the SQL statements an event issues, so that they can be replayed
// raw:
//   - SQLite: an auto-extension installs sqlite3_trace_v2(SQLITE_TRACE_STMT)
//     on the connection the database layer opens; each traced statement is
//     recorded as its text (sqlite3_sql) and its bound values, read back from
//     sqlite3_expanded_sql against the placeholders of the text;
//   - PostgreSQL: PQprepare, PQexecPrepared, PQexec and PQexecParams (and
//     the PQsend* forms the layer uses inside a transaction) are
//     interposed by the program (pq_interpose.cc; the real ones are found
//     with dlsym RTLD_NEXT), recording each prepared statement's text and
//     the values of each execution.
#pragma once

#include <sqlite3.h>

#include <map>
#include <string>
#include <vector>

#include "host/EvAlertEx.h"

namespace evd::bench {

// The program's name, for its error lines, scratch files and schema.
extern const char* g_program;
inline constexpr int kRounds = 3;

// ---- one captured statement ----

struct Value {
  enum Kind { Null, Int, Real, Text } kind = Null;
  long long i = 0;
  double d = 0;
  std::string s;  // Text, and the text form of every kind for PostgreSQL
};

struct Statement {
  std::string sql;
  std::vector<std::string> placeholders;  // SQLite: the placeholder of each value, in order
  std::vector<Value> values;
  bool viaExec = false;  // PostgreSQL: sent unprepared with PQexec
};
using Sequence = std::vector<Statement>;

// True for the INSERT that makes a new occurrence and returns its event id.
bool createsOccurrence(const std::string& sql);

extern Sequence* g_capture;  // set while a scratch event is traced
// Set inside an interposed PQexec* call: libpq may make it through its own
// PQsend* entry points, which must not record the statement a second time.
extern thread_local int g_inPqExec;
struct PqExecScope {
  PqExecScope() { ++g_inPqExec; }
  ~PqExecScope() { --g_inPqExec; }
  PqExecScope(const PqExecScope&) = delete;
  PqExecScope& operator=(const PqExecScope&) = delete;
};

// PostgreSQL round trips the program has waited for: a blocking PQexec*
// or PQprepare call, or the first read (PQgetResult) after requests were
// sent since the previous read, however many requests and syncs went out
// before it. Counted always, not only while a capture runs.
extern unsigned long long g_pqWaits;
extern bool g_pqSent;  // requests went out since the last read
inline void pqSent() {
  if (g_inPqExec == 0) g_pqSent = true;
}
inline void pqBlockingCall() {
  if (g_inPqExec != 0) return;
  ++g_pqWaits;
  g_pqSent = false;
}

// SQLite: the auto-extension that traces a new connection's statements.
int installTrace(sqlite3* db, char**, const sqlite3_api_routines*);
// PostgreSQL: statement texts by prepared name, and the recording of one
// execution (while g_capture is set).
std::map<std::string, std::string>& preparedTexts();
void recordPq(const std::string& sql, int n, const char* const* values, bool viaExec);

// One event line read as the host reads it; a line that does not read is
// reported and gives an empty event.
EvAlertEx parse(const std::string& json);

struct Stream {
  std::string name;
  std::vector<std::string> events;
  std::vector<Sequence> captured;
  std::vector<int> capturedIds;  // the new occurrence's event id, 0 when none was made
};

// Runs each event of STREAM once more through a detector while its
// statements are recorded. The detector has seen an event before, as in a
// running host.
bool capture(Stream& stream);
// Prints the statements one event of STREAM issues, with a count per distinct one.
void printStatements(const char* backend, const Stream& stream);

}  // namespace evd::bench

// Replaying captured statements raw, as prepared statements through sqlite3 /
// libpq: the floor a handler is measured against. The event id a new
// occurrence gets from "INSERT INTO NTDetectedAlerts ... RETURNING" replaces
// the captured event id in the statements after it. Transaction control
// statements of the handler path are not replayed: a replayer commits every
// statement on its own unless begin() / commit() group them.
#pragma once

#include <libpq-fe.h>
#include <sqlite3.h>

#include <map>
#include <string>
#include <vector>

#include "bench/capture.h"

namespace evd::bench {

class Replayer {
 public:
  virtual ~Replayer() = default;
  // Runs SQL as it stands (rules and seeds of a suite); false, reported, on failure.
  virtual bool exec(const std::string& sql) = 0;
  // Prepares every statement of SEQS ahead of the measured runs.
  virtual bool prepareAll(const std::vector<Sequence>& seqs) = 0;
  // Runs SEQ once; false on a failed statement.
  virtual bool run(const Sequence& seq, int capturedId) = 0;
  // A transaction around the sequences run until commit().
  virtual bool begin() = 0;
  virtual bool commit() = 0;
  // Prints the plan of each distinct statement of SEQ, run with its
  // captured values; a line that reads a whole table is marked "<< scan".
  // Returns the number of marked lines.
  virtual int explain(const Sequence& seq) = 0;
};

// A plan line that reads every row of a table or index (SQLite "SCAN t",
// also through an index; PostgreSQL "Seq Scan", or a whole "Index Only
// Scan" is not told apart and not marked): what makes an event's cost grow
// with the stored history. A scan of a small table is harmless; the reader
// judges by the table.
bool readsWholeTable(const std::string& line);

class SqliteReplayer final : public Replayer {
 public:
  ~SqliteReplayer() override;
  bool open(const std::string& path);
  bool exec(const std::string& sql) override;
  bool begin() override;
  bool commit() override;
  int explain(const Sequence& seq) override;
  bool prepareAll(const std::vector<Sequence>& seqs) override;
  bool run(const Sequence& seq, int capturedId) override;

 private:
  static void bind(sqlite3_stmt* st, const Statement& s, int capturedId, long long newId);

  sqlite3* m_db = nullptr;
  std::map<std::string, sqlite3_stmt*> m_stmts;
};

class PgReplayer final : public Replayer {
 public:
  ~PgReplayer() override;
  bool open(const std::string& uri);
  bool exec(const std::string& sql) override;
  bool begin() override;
  bool commit() override;
  int explain(const Sequence& seq) override;
  bool prepareAll(const std::vector<Sequence>& seqs) override;
  bool run(const Sequence& seq, int capturedId) override;

 private:
  PGconn* m_conn = nullptr;
  std::map<std::string, std::string> m_names;
};

}  // namespace evd::bench

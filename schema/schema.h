// The physical schema, derived from the bindings' column lists, plus the
// indexes of the per-event look-ups.
#pragma once

#include <string>
#include <vector>

#include "db/backend.h"

namespace Db::schema {

// One index of the schema.
struct IndexDef {
  const char* name;
  const char* table;
  const char* columns;
  bool unique = false;  // the columns are a key: a second row with the same values is refused
  // A partial index: only rows for which this condition holds (null: every row).
  const char* where = nullptr;
};
const std::vector<IndexDef>& indexes();

// Tables without a binding of their own (read by procedure bodies, or the
// host's settings): portable CREATE TABLE IF NOT EXISTS statements, where
// "$DATETIME" and "$SERIAL" stand for the backend's date-time column type
// with its zero default and an integer id filled on insert.
const std::vector<std::string>& extraTables();

// The DDL for one backend, in order.
std::vector<std::string> ddl(Db::detail::Dialect dialect);

// A table as the schema creates it, with the names of its columns.
struct ExpectedTable {
  std::string name;
  std::vector<std::string> columns;
};
// Every table the DDL creates, read back from it: what a sound database holds.
std::vector<ExpectedTable> expectedTables(Db::detail::Dialect dialect);

// Creates what is missing, in one transaction; *created lists the tables made.
int createSchema(Db::detail::SessionBackend& backend, std::vector<std::string>* created, std::string* error);

// Serialises schema creation and seeding across sessions until the
// transaction open on BACKEND ends. SQLite's write transaction already does
// (BEGIN IMMEDIATE, or the first write): nothing to take there. 0 or the
// error code, its text in backend.lastError().
int lockSchema(Db::detail::SessionBackend& backend);
// The same inside the transaction open on this thread's connection; *error
// gets the text of a failure.
int lockSchema(std::string* error);

}  // namespace Db::schema

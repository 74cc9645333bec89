// The physical schema, derived from the bindings' column lists, plus the
// indexes of the per-event look-ups and the bodies of the procedures.
#pragma once

#include <string>
#include <vector>

#include "db/backend.h"

namespace Db::detail { class Session; }

namespace Db::schema {

// Hidden row id of every table whose binding has no key: keeps the order in
// which rows were written and lets a row read be written back exactly.
inline constexpr const char* kRowIdColumn = "evdRowId";

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

// Key of the PostgreSQL advisory lock that serialises schema creation and
// seeding across sessions.
inline constexpr long long kSchemaLockKey = 0x65766453636d61LL;

// Creates what is missing, in one transaction; *created lists the tables made.
int createSchema(Db::detail::SessionBackend& backend, std::vector<std::string>* created, std::string* error);

// Called when a thread opens its connection: a database without the schema
// is refused with DB_ERR_NO_SCHEMA (only initSchema creates it).
int ensureSchema(Db::detail::Session& session, std::string* error);

// The statements of a procedure or query binding, with "$1".. for inputs;
// the last one yields the result rows. Null when the name is unknown.
const std::vector<std::string>* procedureBody(const char* name);

}  // namespace Db::schema

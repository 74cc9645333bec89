// The parts of the schema the layer itself relies on. The schema above
// creates its tables from these names; the layer runs the procedure
// bindings' bodies and refuses a database that lacks the schema.
#pragma once

#include <string>
#include <vector>

namespace Db::detail {

// Hidden row id of every table whose binding has no key: keeps the order in
// which rows were written and lets a row read be written back exactly.
inline constexpr const char* kRowIdColumn = "evdRowId";

// Written last when the schema is created: a database without it has none.
inline constexpr const char* kSchemaVersionTable = "EvdSchemaVersion";

// The statements of a procedure or query binding, with "$1".. for inputs;
// the last one yields the result rows. Null when the name is unknown.
const std::vector<std::string>* procedureBody(const char* name);

}  // namespace Db::detail

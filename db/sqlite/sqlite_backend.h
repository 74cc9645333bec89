// SQLite backend: one file shared by several processes (WAL journal,
// synchronous=NORMAL, a busy timeout so writers wait instead of failing).
#pragma once

#include <memory>
#include <string>

#include "db/backend.h"

namespace Db::detail {

// PATH is a file name (":memory:" works for throw-away databases).
// Without CREATE_MISSING a file that does not exist is refused, so a mistyped
// path never turns into a new, empty database.
std::unique_ptr<SessionBackend> openSqlite(const std::string& path, std::string* error, bool createMissing);
// The busy timeout of connections opened from now on.
void setSqliteBusyTimeout(int milliseconds);

}  // namespace Db::detail

// SQLite backend: one file shared by several processes (WAL journal,
// synchronous=NORMAL, a busy timeout so writers wait instead of failing).
#pragma once

#include <memory>
#include <string>

#include "db/backend.h"

namespace evd::db {

// PATH is a file name (":memory:" works for throw-away databases).
std::unique_ptr<SessionBackend> openSqlite(const std::string& path, std::string* error);

}  // namespace evd::db

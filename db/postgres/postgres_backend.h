// PostgreSQL backend through libpq, for servers that outgrow one SQLite file.
#pragma once

#include <memory>
#include <string>

#include "db/backend.h"

namespace Db::detail {

// URI is a libpq connection URI ("postgresql://user@host:port/db?...").
std::unique_ptr<SessionBackend> openPostgres(const std::string& uri, std::string* error);

}  // namespace Db::detail

// Which backend a database URI names.
#pragma once

#include <string>

namespace Db {

// URIs: "sqlite:PATH" or a plain PATH (SQLite), "postgresql://..." or a
// libpq "key=value ..." string (PostgreSQL). Another "scheme://" is unknown.
enum class UriKind { SQLite, PostgreSQL, Unknown };
UriKind uriKind(const std::string& uri);

}  // namespace Db

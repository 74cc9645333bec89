// Database URIs: which backend a URI names, and how it may be shown.
#pragma once

#include <string>

namespace Db::detail {

// "postgresql://..." or "postgres://..." (libpq's two spellings).
bool isPostgresUri(const std::string& uri);
// The file of a SQLite URI: "sqlite:PATH" or a plain PATH.
std::string sqlitePath(const std::string& uri);

// The URI with any password replaced by "***", for messages.
std::string redactUri(const std::string& uri);

}  // namespace Db::detail

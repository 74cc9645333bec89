// Process-wide choice of database and the schema's life cycle.
//
// The host configures the database once per process; every thread that then
// uses a binding gets its own connection to it, opened on first use and
// closed when the thread ends.
#pragma once

#include <string>

namespace Db {

// URIs: "sqlite:PATH" or a plain PATH (SQLite), "postgresql://..." (libpq).
void configure(const std::string& uri);
std::string configuredUri();

// Opens (or reuses) this thread's connection. Returns 0, DB_ERR_CONNECT or
// DB_ERR_NO_SCHEMA with one line in *error. A new, empty SQLite file gets the
// schema on first use; any other database without it needs `evdetect init`.
int openThreadConnection(std::string* error);
// Closes this thread's connection (the next use opens a new one).
void closeThreadConnection();

// Creates every table, index and view that is missing. Running it again
// changes nothing. *report lists what was created.
int initSchema(const std::string& uri, std::string* report, std::string* error);

// Drops every table of the schema (test and tool use only).
int dropSchema(const std::string& uri, std::string* error);

}  // namespace Db

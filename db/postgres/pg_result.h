// Reading libpq's answers: the layer's codes for SQLSTATEs and the text of a
// failed result, shared by the session, its statements and its pipeline.
#pragma once

#include <libpq-fe.h>

#include <string>

namespace Db::detail {

// Folds a five-character SQLSTATE into the layer's error-code space.
int postgresErrorCode(const char* sqlstate);
// The SQLSTATE folded into CODE, or "" when CODE is not a PostgreSQL one.
std::string postgresSqlState(int code);

// The first line of a server or libpq message, without its severity prefix.
std::string firstLine(const char* msg);

// The layer's code for a failed result R and, in *text, the server's message
// with its SQLSTATE, e.g. "relation \"x\" does not exist (SQLSTATE 42P01)".
// Errors libpq raises itself (a lost connection) carry no result text, so the
// connection's message stands in for it.
int describeFailure(PGconn* conn, const PGresult* r, std::string* text);

bool succeeded(const PGresult* r);

// Everything the server sent for one query of a pipeline: the first result
// is kept, the rest (there is none for our statements) dropped.
PGresult* nextQueryResult(PGconn* conn);

}  // namespace Db::detail

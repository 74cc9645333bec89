// Turns the printf-style fragments that callers hand to the layer (where
// clauses, SET lists, values lists) into parameterized SQL. Every conversion
// becomes a placeholder bound with its typed value, so no text taken from an
// event can change what a statement means, and the same statement text can
// be prepared once and cached.
#pragma once

#include <cstdarg>
#include <string>
#include <vector>

#include "db/backend.h"

namespace Db::detail {

// Translates FORMAT with its arguments. Placeholders in SQL are "?".
// Conversions outside quotes (%d %i %u %x %ld %lu %lld %llu %hd %c %f %g %s,
// and %p for a DB_DATETIME pointer from DBodbcDate) each become one
// placeholder. A quoted literal ('...' or the wide form N'...') that holds
// conversions becomes one text placeholder whose value is the literal's
// rendered content; a literal without conversions stays in the SQL. The wide
// prefix N is dropped and hexadecimal literals (0x42) become decimal, so
// fragments written for one dialect run on both backends.
// Returns 0, or DB_ERR_FORMAT with *error describing the problem.
int translateFormat(const char* format, va_list ap, std::string& sql, std::vector<Param>& params,
                    std::string* error);

// Splits a translated values list ("?, ?, 'x', 5") into one Param per item,
// in order, taking the placeholders' values from PARAMS.
int valuesToParams(const std::string& sql, const std::vector<Param>& params, std::vector<Param>& out,
                   std::string* error);

// Rewrites placeholders into the backend's syntax: "?" stays for SQLite and
// becomes "$1", "$2"... for PostgreSQL; numbered "$n" (procedure bodies)
// becomes "?n" for SQLite. Quoted text is left alone.
std::string finalizeSql(const std::string& sql, Dialect dialect);

// True when SQL's first word begins, ends or nests a transaction (BEGIN,
// COMMIT, END, ROLLBACK, SAVEPOINT, RELEASE), in any case.
bool isTransactionControl(const std::string& sql);

}  // namespace Db::detail

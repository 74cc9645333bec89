// The declarative description of a table, procedure or query: one list of
// columns from which the row structure, the typed row, the SQL the layer
// writes and the schema's DDL are all derived.
#pragma once

#include <cstddef>

namespace Db {

enum class ColType : char {
  INT32,     // int
  INT64,     // long long
  DATETIME,  // DB_DATETIME
  CHARS,     // char[N]: at most N-1 bytes, cut when longer
  TEXT,      // char*, owned by the row structure; null when the column is NULL
  WCHARS,    // wide text of other modules, kept as UTF-8 in char[N]
};

struct ColumnDef {
  const char* name;
  ColType type;
  int size;                     // N of CHARS/WCHARS, else 0
  void* (*field)(void* row);    // the member inside a row structure
};

enum class HeaderType : int { Table = 1, Procedure = 2, Query = 3 };

struct TableDef {
  const char* name;
  HeaderType kind;
  const ColumnDef* columns;
  int columnCount;
  const char* keyColumns;  // comma-separated, "" when the table has no key
  const char* serialColumn;  // column the database fills on insert, or ""
  // Where the binding's rows live in our schema: true for the tables of
  // other modules that the system only reads (seeded by tests and tools).
  bool foreign;

  int columnIndex(const char* col) const;
};

}  // namespace Db

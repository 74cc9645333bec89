// evdetect check: is the database sound, and does it hold the schema this
// build expects? Run after a crash, a full disk or before an upgrade: a
// damaged file or a half-made schema is found here, not by the next event.
#include <CLI/CLI.hpp>
#include <cctype>
#include <cstdio>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "Db/Database.h"
#include "db/backend.h"
#include "db/uri.h"
#include "schema/schema.h"
#include "tools/evdetect/commands.h"

namespace evdetect {
namespace {

std::string lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

std::string text(const Db::detail::StatementBackend& st, int col) {
  size_t len = 0;
  const char* p = st.getText(col, &len);
  return std::string(p, len);
}

// The findings of one check, printed as they come: one line per thing
// checked or found wrong.
struct Report {
  int problems = 0;
  void ok(const std::string& what) { std::printf("ok: %s\n", shown(what).c_str()); }
  void checked(const std::string& what) { std::printf("checked: %s\n", shown(what).c_str()); }
  void damaged(const std::string& what) {
    ++problems;
    std::printf("damaged: %s\n", shown(what).c_str());
  }
  // Runs SQL and gives every row's first columns to ROW; a failure is damage.
  bool query(const std::string& what, const std::string& sql,
             const std::function<void(const Db::detail::StatementBackend&)>& row) {
    std::string err;
    if (eachRow(sql, row, &err) == 0) return true;
    damaged(what + ": " + err);
    return false;
  }
};

// The file's own consistency: every page, index and free list of it.
void checkSqliteFile(Report& r) {
  std::vector<std::string> found;
  if (!r.query("integrity check", "PRAGMA integrity_check", [&](const auto& st) { found.push_back(text(st, 0)); }))
    return;
  if (found.size() == 1 && found[0] == "ok") r.ok("integrity check of every page and index");
  for (const std::string& f : found)
    if (f != "ok") r.damaged("integrity: " + f);
}

// The server has no page check without extensions; reading every row of a
// table (its long values too) fails on a page the server cannot read.
void readEveryRow(Report& r, const std::vector<Db::schema::ExpectedTable>& tables, const std::set<std::string>& present) {
  int read = 0;
  for (const auto& t : tables) {
    if (!present.count(lower(t.name))) continue;
    if (r.query("reading table " + t.name, "SELECT COUNT(*), SUM(LENGTH(t::text)) FROM " + t.name + " t",
                [](const auto&) {}))
      ++read;
  }
  r.checked("read every row of " + std::to_string(read) + " tables");
}

int check(const std::string& db) {
  if (int rc = openDatabase(db)) return rc;
  const bool postgres = Db::uriKind(db) == Db::UriKind::PostgreSQL;
  const auto dialect = postgres ? Db::detail::Dialect::PostgreSQL : Db::detail::Dialect::SQLite;
  Report r;
  if (!postgres) checkSqliteFile(r);

  // What the database has, names folded: SQLite keeps them as written, the
  // server folds unquoted ones to lower case.
  std::set<std::string> tables, columns, indexes;
  const auto add = [](std::set<std::string>& to) {
    return [&to](const Db::detail::StatementBackend& st) {
      to.insert(lower(st.columnCount() > 1 ? text(st, 0) + "." + text(st, 1) : text(st, 0)));
    };
  };
  if (postgres) {
    r.query("list of tables", "SELECT table_name FROM information_schema.tables WHERE table_schema = current_schema()",
            add(tables));
    r.query("list of columns",
            "SELECT table_name, column_name FROM information_schema.columns WHERE table_schema = current_schema()",
            add(columns));
    r.query("list of indexes", "SELECT indexname FROM pg_indexes WHERE schemaname = current_schema()", add(indexes));
  } else {
    r.query("list of tables", "SELECT name FROM sqlite_master WHERE type = 'table'", add(tables));
    r.query("list of columns",
            "SELECT m.name, c.name FROM sqlite_master m JOIN pragma_table_info(m.name) c WHERE m.type = 'table'",
            add(columns));
    r.query("list of indexes", "SELECT name FROM sqlite_master WHERE type = 'index'", add(indexes));
  }

  const std::vector<Db::schema::ExpectedTable> expected = Db::schema::expectedTables(dialect);
  int columnCount = 0;
  for (const auto& t : expected) {
    if (!tables.count(lower(t.name))) {
      r.damaged("missing table " + t.name);
      continue;
    }
    for (const std::string& c : t.columns) {
      ++columnCount;
      if (!columns.count(lower(t.name + "." + c))) r.damaged("missing column " + t.name + "." + c);
    }
  }
  int indexCount = 0;
  for (const auto& i : Db::schema::indexes()) {
    ++indexCount;
    if (!indexes.count(lower(i.name))) r.damaged("missing index " + std::string(i.name) + " on " + i.table);
  }
  r.checked("schema: " + std::to_string(expected.size()) + " tables, " + std::to_string(columnCount) +
            " columns, " + std::to_string(indexCount) + " indexes looked for");
  if (postgres) readEveryRow(r, expected, tables);

  if (r.problems == 0) {
    std::printf("%s: sound\n", shown(Db::detail::redactUri(db)).c_str());
    return 0;
  }
  error("database '" + Db::detail::redactUri(db) + "' is damaged: " + std::to_string(r.problems) +
        (r.problems == 1 ? " problem" : " problems"));
  return kExitDatabase;
}

}  // namespace

void addCheck(CLI::App& app, std::vector<Command>& out) {
  CLI::App* sub = app.add_subcommand(
      "check", "check the database for damage and for the schema's tables, columns and indexes (exit 3 when not sound)");
  out.push_back({sub, [](const std::string& db) { return check(db); }});
}

}  // namespace evdetect

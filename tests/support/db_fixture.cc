#include "support/db_fixture.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <stdexcept>

#include "Db/AllBindings.h"
#include "Db/Database.h"
#include "db/backend.h"
#include "db/session.h"

namespace evd::test {
namespace {

std::string schemaName() { return "evd_t" + std::to_string(getpid()); }

// BASE with SCHEMA as the search path of every connection made from it.
std::string schemaUri(const std::string& base, const std::string& schema) {
  return base + (base.find('?') == std::string::npos ? "?" : "&") + "options=-csearch_path%3D" + schema;
}

// Tables of our schema, emptied between PostgreSQL tests.
std::string truncateAll(Db::detail::SessionBackend& b) {
  std::string names;
  int rc = 0;
  auto st = b.prepare(
      "SELECT string_agg(quote_ident(tablename), ', ') FROM pg_catalog.pg_tables WHERE schemaname = current_schema()",
      &rc);
  if (st && st->execute({}) == 0 && st->fetch() == 0 && !st->isNull(0)) names = st->getText(0, nullptr);
  return names;
}

struct PgSchema {
  std::string uri;
  bool ready = false;
  size_t tables = 0;  // tables in the schema when it was made
  ~PgSchema() {
    if (!ready) return;
    std::string err;
    auto b = Db::detail::openBackend(std::getenv("EVD_TEST_PG_URI"), &err);
    if (b) b->exec("DROP SCHEMA IF EXISTS " + schemaName() + " CASCADE");
  }
};
PgSchema g_pg;

}  // namespace

std::string postgresUri() {
  const char* base = std::getenv("EVD_TEST_PG_URI");
  if (base == nullptr || *base == '\0') return "";
  if (!g_pg.ready) {
    std::string err;
    auto b = Db::detail::openBackend(base, &err);
    if (!b) return "";
    b->exec("DROP SCHEMA IF EXISTS " + schemaName() + " CASCADE");
    if (b->exec("CREATE SCHEMA " + schemaName()) != 0) return "";
    g_pg.uri = schemaUri(base, schemaName());
    std::string report;
    if (Db::initSchema(g_pg.uri, &report, &err) != 0) return "";
    g_pg.ready = true;
    g_pg.tables = 0;
    auto mine = Db::detail::openBackend(g_pg.uri, &err);
    std::string names = mine ? truncateAll(*mine) : "";
    if (!names.empty()) g_pg.tables = static_cast<size_t>(std::count(names.begin(), names.end(), ',')) + 1;
  }
  return g_pg.uri;
}

namespace {
// Schemas freshDatabase made, dropped at exit.
struct FreshSchemas {
  std::vector<std::string> names;
  ~FreshSchemas() {
    std::string err;
    auto b = names.empty() ? nullptr : Db::detail::openBackend(std::getenv("EVD_TEST_PG_URI"), &err);
    for (const std::string& n : names)
      if (b) b->exec("DROP SCHEMA IF EXISTS " + n + " CASCADE");
  }
};
}  // namespace

std::string freshDatabase(const std::string& backend) {
  std::string uri, report, err;
  if (backend == "sqlite") {
    uri = "sqlite:" + tempPath("fresh") + ".db";
  } else {
    static FreshSchemas made;
    const char* base = std::getenv("EVD_TEST_PG_URI");
    if (base == nullptr || *base == '\0') return "";
    auto b = Db::detail::openBackend(base, &err);
    const std::string name = schemaName() + "_f" + std::to_string(made.names.size());
    if (!b || b->exec("DROP SCHEMA IF EXISTS " + name + " CASCADE; CREATE SCHEMA " + name) != 0) return "";
    made.names.push_back(name);
    uri = schemaUri(base, name);
  }
  return Db::initSchema(uri, &report, &err) == 0 ? uri : "";
}

namespace {

// A directory of this process's own, made afresh: a name built from the pid
// alone can meet files an earlier process with the same pid left behind, and
// a test would then start from someone else's rows. Removed at exit.
struct ScratchDir {
  std::filesystem::path path;
  ScratchDir() {
    const char* t = std::getenv("TMPDIR");
    std::string tmpl = (std::filesystem::path(t ? t : "/tmp") / "evd-test-XXXXXX").string();
    if (mkdtemp(tmpl.data()) == nullptr) throw std::runtime_error("cannot make a scratch directory: " + tmpl);
    path = tmpl;
  }
  ~ScratchDir() {
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
  }
};

}  // namespace

std::string tempPath(const std::string& stem) {
  static std::atomic<int> n{0};
  static const ScratchDir dir;
  return (dir.path / (stem + "-" + std::to_string(n++))).string();
}

void DbTest::SetUp() {
  if (GetParam() == "sqlite") {
    uri_ = "sqlite:" + tempPath("db") + ".db";
    std::string report, err;
    ASSERT_EQ(0, Db::initSchema(uri_, &report, &err)) << err;
  } else {
    uri_ = postgresUri();
    if (uri_.empty()) {
      if (std::getenv("EVD_TEST_REQUIRE_PG")) FAIL() << "EVD_TEST_PG_URI names no usable PostgreSQL server";
      GTEST_SKIP() << "no PostgreSQL server (set EVD_TEST_PG_URI)";
    }
    std::string err;
    auto b = Db::detail::openBackend(uri_, &err);
    ASSERT_TRUE(b) << err;
    std::string names = truncateAll(*b);
    // DELETE is far cheaper than TRUNCATE on a few dozen nearly empty tables.
    std::string sql;
    for (size_t pos = 0; pos < names.size();) {
      size_t end = names.find(", ", pos);
      if (end == std::string::npos) end = names.size();
      sql += "DELETE FROM " + names.substr(pos, end - pos) + ";";
      pos = end + 2;
    }
    if (!sql.empty()) {
      ASSERT_EQ(0, b->exec(sql)) << b->lastError();
    }
    ASSERT_EQ(0, b->exec("INSERT INTO EvdSchemaVersion (version) VALUES (1)")) << b->lastError();
    // Put back whatever an earlier test dropped.
    const size_t tables = static_cast<size_t>(std::count(names.begin(), names.end(), ',')) + 1;
    if (tables != g_pg.tables) {
      std::string report;
      ASSERT_EQ(0, Db::initSchema(uri_, &report, &err)) << err;
    }
  }
  Db::configure(uri_);
  std::string err;
  ASSERT_EQ(0, Db::openThreadConnection(&err)) << err;
}

void DbTest::TearDown() {
  if (isPostgres())
    for (const std::string& table : refusing_)
      exec("DROP TRIGGER IF EXISTS evd_refuse ON " + table + "; DROP FUNCTION IF EXISTS evd_refuse_" + table + "()");
  refusing_.clear();
  Db::closeThreadConnection();
}

void DbTest::refuseInserts(const std::string& table, const std::string& column, const std::string& value) {
  refuseInserts(table, column, std::vector<std::string>{value});
}

void DbTest::refuseInserts(const std::string& table, const std::string& column, const std::vector<std::string>& values) {
  refusing_.push_back(table);
  const std::string fn = "evd_refuse_" + table;
  std::string in;
  for (const std::string& v : values) in += (in.empty() ? "" : ", ") + sqlText(v);
  if (isPostgres()) {
    exec("CREATE OR REPLACE FUNCTION " + fn + "() RETURNS trigger AS $$ BEGIN IF NEW." + column + " IN (" + in +
         ") THEN RAISE EXCEPTION 'value refused'; END IF; RETURN NEW; END $$ LANGUAGE plpgsql");
    exec("CREATE TRIGGER evd_refuse BEFORE INSERT ON " + table + " FOR EACH ROW EXECUTE FUNCTION " + fn + "()");
  } else {
    exec("CREATE TRIGGER evd_refuse_" + table + " BEFORE INSERT ON " + table + " WHEN NEW." + column + " IN (" + in +
         ") BEGIN SELECT RAISE(ABORT, 'value refused'); END");
  }
}

void DbTest::exec(const std::string& sql) {
  int rc = 0;
  std::string err;
  auto* s = Db::detail::Session::current(&rc, &err);
  ASSERT_TRUE(s) << err;
  ASSERT_EQ(0, s->backend().exec(sql)) << s->backend().lastError() << " in " << sql;
}

long long DbTest::queryInt(const std::string& sql) {
  std::string t = queryText(sql);
  return t == "<none>" ? -1 : std::atoll(t.c_str());
}

std::string DbTest::queryText(const std::string& sql) {
  int rc = 0;
  std::string err;
  auto* s = Db::detail::Session::current(&rc, &err);
  if (!s) return "<none>";
  auto st = s->backend().prepare(sql, &rc);
  if (!st) { ADD_FAILURE() << s->backend().lastError() << " in " << sql; return "<none>"; }
  if (st->execute({}) != 0 || st->fetch() != 0) return "<none>";
  return st->isNull(0) ? "<null>" : st->getText(0, nullptr);
}

int DbTest::insertParam(int eventId, int type, const std::string& value) {
  NTDparams t(nullptr);
  t.getDataPtr()->eventId = eventId;
  t.getDataPtr()->type = type;
  dbCopyText(t.getDataPtr()->value, value.c_str());
  return t.rowInsert(true);
}

std::string sqlText(const std::string& text) {
  std::string out = "'";
  for (char c : text) {
    if (c == '\'') out += '\'';
    out += c;
  }
  return out + "'";
}

}  // namespace evd::test

#include "db/sqlite/sqlite_backend.h"

#include <atomic>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <unordered_map>

#include "db/sql_format.h"

namespace Db::detail {
namespace {

// How long a writer waits for another process's write lock before failing.
std::atomic<int> g_busyTimeoutMs{10000};

// Our stored form of a date-time: "YYYY-MM-DD HH:MM:SS.mmm"; the zero value is
// "0000-00-00 00:00:00.000", which sorts before every real time.
std::string dateText(const tagTIMESTAMP_STRUCT& ts) {
  DB_DATETIME dt;
  dt = ts;
  return dt.toString(true);
}

class SqliteStatement final : public StatementBackend {
 public:
  SqliteStatement(sqlite3* db, sqlite3_stmt* st, std::string* lastError)
      : m_db(db), m_st(st), m_lastError(lastError) {}
  ~SqliteStatement() override { sqlite3_finalize(m_st); }

  int execute(const std::vector<Param>& params) override {
    reset();
    // A statement without result columns runs to its end inside this call,
    // while PARAMS is alive: its texts need no private copy.
    const auto textLifetime = sqlite3_column_count(m_st) == 0 ? SQLITE_STATIC : SQLITE_TRANSIENT;
    const int n = sqlite3_bind_parameter_count(m_st);
    for (int i = 0; i < n && i < static_cast<int>(params.size()); ++i) {
      const Param& p = params[i];
      int rc = SQLITE_OK;
      switch (p.kind) {
        case Param::Null: rc = sqlite3_bind_null(m_st, i + 1); break;
        case Param::Int: rc = sqlite3_bind_int64(m_st, i + 1, p.i); break;
        case Param::Real: rc = sqlite3_bind_double(m_st, i + 1, p.d); break;
        case Param::Text:
          rc = sqlite3_bind_text(m_st, i + 1, p.s.data(), static_cast<int>(p.s.size()), textLifetime);
          break;
        case Param::DateTime: {
          std::string t = dateText(p.dt);
          rc = sqlite3_bind_text(m_st, i + 1, t.data(), static_cast<int>(t.size()), SQLITE_TRANSIENT);
          break;
        }
      }
      if (rc != SQLITE_OK) return fail();
    }
    // Step once: statements without rows complete here, queries keep their
    // first row for the first fetch().
    int rc = sqlite3_step(m_st);
    // Borrowed texts must not stay bound past this call.
    if (textLifetime == SQLITE_STATIC) sqlite3_clear_bindings(m_st);
    if (rc == SQLITE_ROW) { m_pending = true; return 0; }
    if (rc == SQLITE_DONE) { m_done = true; m_changes = sqlite3_changes64(m_db); return 0; }
    return fail();
  }

  int fetch() override {
    if (m_pending) { m_pending = false; return 0; }
    if (m_done) return DB_NO_DATA;
    int rc = sqlite3_step(m_st);
    if (rc == SQLITE_ROW) return 0;
    if (rc == SQLITE_DONE) { m_done = true; return DB_NO_DATA; }
    return fail();
  }

  int columnCount() const override { return sqlite3_column_count(m_st); }
  bool isNull(int col) const override { return sqlite3_column_type(m_st, col) == SQLITE_NULL; }
  int64_t getInt(int col) const override { return sqlite3_column_int64(m_st, col); }
  const char* getText(int col, size_t* len) const override {
    const unsigned char* t = sqlite3_column_text(m_st, col);
    if (len) *len = t ? static_cast<size_t>(sqlite3_column_bytes(m_st, col)) : 0;
    return t ? reinterpret_cast<const char*>(t) : "";
  }
  bool getDateTime(int col, DB_DATETIME& out) const override {
    out.clear();
    if (isNull(col)) return true;
    return out.parse(getText(col, nullptr));
  }
  int64_t changes() const override { return m_changes; }
  void reset() override {
    // Bindings are not cleared: every execute binds all of them again.
    sqlite3_reset(m_st);
    m_pending = m_done = false;
    m_changes = 0;
  }

 private:
  int fail() {
    const int code = sqlite3_extended_errcode(m_db);
    *m_lastError = sqlite3_errmsg(m_db);
    sqlite3_reset(m_st);
    m_pending = false;
    m_done = true;
    return code == 0 || code == DB_NO_DATA ? SQLITE_ERROR : code;
  }

  sqlite3* m_db;
  sqlite3_stmt* m_st;
  std::string* m_lastError;
  bool m_pending = false;
  bool m_done = false;
  int64_t m_changes = 0;
};

class SqliteSession final : public SessionBackend {
 public:
  explicit SqliteSession(sqlite3* db) : m_db(db) {}
  ~SqliteSession() override {
    for (auto& [sql, st] : m_execCache) sqlite3_finalize(st);
    sqlite3_close_v2(m_db);
  }

  Dialect dialect() const override { return Dialect::SQLite; }

  int exec(const std::string& sql) override {
    // Transaction control comes several times an event: compiled once. Its
    // texts repeat (one savepoint name per nesting level), so the cache stays small.
    if (isTransactionControl(sql) && sql.find(';') == std::string::npos) return execCached(sql);
    char* msg = nullptr;
    int rc = sqlite3_exec(m_db, sql.c_str(), nullptr, nullptr, &msg);
    if (rc == SQLITE_OK) return 0;
    m_lastError = msg ? msg : sqlite3_errmsg(m_db);
    sqlite3_free(msg);
    return sqlite3_extended_errcode(m_db);
  }

  std::unique_ptr<StatementBackend> prepare(const std::string& sql, int* rc) override {
    sqlite3_stmt* st = nullptr;
    int r = sqlite3_prepare_v3(m_db, sql.c_str(), static_cast<int>(sql.size()),
                               SQLITE_PREPARE_PERSISTENT, &st, nullptr);
    if (r != SQLITE_OK || st == nullptr) {
      m_lastError = sqlite3_errmsg(m_db);
      *rc = r == SQLITE_OK ? SQLITE_ERROR : sqlite3_extended_errcode(m_db);
      if (st) sqlite3_finalize(st);
      return nullptr;
    }
    *rc = 0;
    return std::make_unique<SqliteStatement>(m_db, st, &m_lastError);
  }

  const std::string& lastError() const override { return m_lastError; }

  std::string describeError(int code) const override {
    // Result codes, extended ones included, fit in 16 bits; ours lie beyond.
    if (code <= 0 || code > 0xffff) return "";
    return "SQLite error " + std::to_string(code) + " (" + sqlite3_errstr(code) + ")";
  }

  int commit() override { return exec("COMMIT"); }
  bool connectionLost() const override { return false; }
  bool inTransaction() const override { return sqlite3_get_autocommit(m_db) == 0; }

  bool hasTable(const std::string& name) override {
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(m_db, "SELECT 1 FROM sqlite_master WHERE type='table' AND name=?1 COLLATE NOCASE",
                           -1, &st, nullptr) != SQLITE_OK)
      return false;
    sqlite3_bind_text(st, 1, name.c_str(), -1, SQLITE_TRANSIENT);
    bool found = sqlite3_step(st) == SQLITE_ROW;
    sqlite3_finalize(st);
    return found;
  }

 private:
  int execCached(const std::string& sql) {
    sqlite3_stmt*& st = m_execCache[sql];
    if (st == nullptr &&
        sqlite3_prepare_v3(m_db, sql.c_str(), static_cast<int>(sql.size()), SQLITE_PREPARE_PERSISTENT, &st, nullptr) !=
            SQLITE_OK) {
      m_lastError = sqlite3_errmsg(m_db);
      const int code = sqlite3_extended_errcode(m_db);
      m_execCache.erase(sql);
      return code;
    }
    int rc;
    while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
    }
    sqlite3_reset(st);
    if (rc == SQLITE_DONE) return 0;
    m_lastError = sqlite3_errmsg(m_db);
    const int code = sqlite3_extended_errcode(m_db);
    return code == 0 ? SQLITE_ERROR : code;
  }

  sqlite3* m_db;
  std::string m_lastError;
  // Transaction control statements, by text.
  std::unordered_map<std::string, sqlite3_stmt*> m_execCache;
};

}  // namespace

void setSqliteBusyTimeout(int milliseconds) { g_busyTimeoutMs.store(milliseconds < 0 ? 0 : milliseconds); }

std::unique_ptr<SessionBackend> openSqlite(const std::string& path, std::string* error, bool createMissing) {
  // Memory statistics take a global lock on every allocation; nothing reads
  // them. Only possible before the library starts, so the first open does it.
  static const bool configured = sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0) == SQLITE_OK;
  (void)configured;
  sqlite3* db = nullptr;
  int rc = sqlite3_open_v2(path.c_str(), &db,
                           SQLITE_OPEN_READWRITE | (createMissing ? SQLITE_OPEN_CREATE : 0) | SQLITE_OPEN_NOMUTEX,
                           nullptr);
  if (rc != SQLITE_OK && !createMissing && path != ":memory:" && ::access(path.c_str(), F_OK) != 0 &&
      errno == ENOENT) {
    *error = "SQLite database '" + path + "' does not exist: run 'evdetect init --db " + path + "' to create it";
    sqlite3_close_v2(db);
    return nullptr;
  }
  // Switching to WAL below writes a header: a file refused for having no
  // schema must be left as it was.
  struct stat st;
  if (rc == SQLITE_OK && !createMissing && ::stat(path.c_str(), &st) == 0 && st.st_size == 0) {
    *error = "SQLite database '" + path + "' is empty, without the evdetector schema: run 'evdetect init --db " +
             path + "'";
    sqlite3_close_v2(db);
    return nullptr;
  }
  if (rc != SQLITE_OK) {
    *error = "cannot open SQLite database '" + path + "': " +
             (db ? sqlite3_errmsg(db) : sqlite3_errstr(rc));
    sqlite3_close_v2(db);
    return nullptr;
  }
  sqlite3_extended_result_codes(db, 1);
  const int busyTimeoutMs = g_busyTimeoutMs.load();
  sqlite3_busy_timeout(db, busyTimeoutMs);
  auto session = std::make_unique<SqliteSession>(db);
  // journal_mode is the first statement that touches the file, so it is also
  // where a path that is not a database shows up. Switching a new file to
  // WAL while another process does the same can answer "locked" at once,
  // without the busy handler: wait and try again within the busy timeout.
  int walRc = session->exec("PRAGMA journal_mode=WAL");
  for (int waited = 0; (walRc & 0xff) == SQLITE_BUSY && waited < busyTimeoutMs; waited += 20) {
    sqlite3_sleep(20);
    walRc = session->exec("PRAGMA journal_mode=WAL");
  }
  if (walRc != 0 ||
      // No memory-mapped reads: every page of the file a long run touches
      // would stay in the process's resident memory, which operators watch;
      // a 16 MiB page cache holds the pages an event needs. Every savepoint
      // inside a transaction (each event of a group, each handler's own
      // transaction within it) keeps a statement journal: in memory, not as
      // a temporary file written page by page. A checkpoint every 8192 pages
      // copies a page written by many commits into the file once.
      session->exec("PRAGMA synchronous=NORMAL; PRAGMA foreign_keys=OFF; PRAGMA mmap_size=0; "
                    "PRAGMA temp_store=MEMORY; PRAGMA cache_size=-16384; PRAGMA wal_autocheckpoint=8192") != 0) {
    *error = "cannot open SQLite database '" + path + "': " + session->lastError();
    return nullptr;
  }
  return session;
}

}  // namespace Db::detail

#include "db/session.h"

#include <atomic>
#include <mutex>

#include "Db/DBtable.h"
#include "Db/Database.h"
#include "db/catalog.h"
#include "db/postgres/postgres_backend.h"
#include "db/settings_store.h"
#include "db/sql_format.h"
#include "db/sqlite/sqlite_backend.h"
#include "db/uri.h"

namespace Db::detail {
namespace {

// Enough for every distinct statement of the detector with room to spare;
// past it, idle statements are dropped and prepared again when needed.
constexpr size_t kMaxCachedStatements = 512;

std::mutex g_configMutex;
std::string g_uri = "evdetector.db";
std::atomic<unsigned> g_generation{1};
std::atomic<StatementHook> g_statementHook{nullptr};

struct ThreadSlot {
  std::shared_ptr<Session> session;
  unsigned generation = 0;
};
thread_local ThreadSlot t_slot;

// Only `evdetect init` creates the schema: a database without it is refused.
int checkSchema(SessionBackend& b, const std::string& uri, std::string* error) {
  if (b.hasTable(kSchemaVersionTable)) return 0;
  const std::string shown = redactUri(uri);
  // A masked password or a spaced connection string cannot be pasted back.
  const bool pastable = shown == uri && shown.find(' ') == std::string::npos;
  *error = "database '" + shown + "' has no evdetector schema: run 'evdetect init" +
           (pastable ? " --db " + shown + "'" : "' with the same --db");
  return DB_ERR_NO_SCHEMA;
}

}  // namespace

unsigned configurationGeneration() { return g_generation.load(); }

void setStatementHook(StatementHook hook) { g_statementHook.store(hook); }

std::unique_ptr<SessionBackend> openBackend(const std::string& uri, std::string* error, bool createMissing) {
  if (isPostgresUri(uri)) return openPostgres(uri, error);
  if (Db::uriKind(uri) == Db::UriKind::Unknown) {
    *error = "unknown database scheme in '" + uri.substr(0, uri.find("://") + 3) + "...'";
    return nullptr;
  }
  const std::string path = sqlitePath(uri);
  if (path.empty()) {
    *error = "cannot open SQLite database '" + uri + "': empty path";
    return nullptr;
  }
  return openSqlite(path, error, createMissing);
}

Session* Session::current(int* rc, std::string* error) {
  const unsigned gen = g_generation.load();
  if (t_slot.session && t_slot.generation == gen) {
    *rc = 0;
    return t_slot.session.get();
  }
  t_slot.session.reset();
  std::string uri = Db::configuredUri();
  std::string err;
  // Only `evdetect init` creates a database; a mistyped path is refused.
  auto backend = openBackend(uri, &err, false);
  if (!backend) {
    *rc = DB_ERR_CONNECT;
    *error = err;
    return nullptr;
  }
  int r = checkSchema(*backend, uri, &err);
  if (r != 0) {
    *rc = r;
    *error = err;
    return nullptr;
  }
  t_slot.session = std::make_shared<Session>(std::move(backend), uri);
  t_slot.generation = gen;
  *rc = 0;
  return t_slot.session.get();
}

Session::Session(std::unique_ptr<SessionBackend> backend, std::string uri)
    : m_backend(std::move(backend)), m_uri(std::move(uri)) {}

std::string Session::describeError(int code) {
  return t_slot.session ? t_slot.session->backend().describeError(code) : std::string();
}

bool Session::dropIfLost(Session* s) {
  if (s == nullptr || !s->m_backend->connectionLost() || s->inTransaction()) return false;
  if (t_slot.session.get() == s) t_slot.session.reset();
  return true;
}

Session::~Session() {
  // Closed with transactions open (closeThreadConnection, a new
  // configuration): they are gone, and their DBtran objects must say so.
  if (!m_levels.empty() && !m_backend->connectionLost()) m_backend->exec("ROLLBACK");
  for (DBtran* t : m_levels) t->detach(true);
  m_cache.clear();  // statements go before their connection
}

std::unique_ptr<StatementLease> Session::acquire(const std::string& sql, int* rc) {
  if (StatementHook hook = g_statementHook.load(std::memory_order_relaxed)) hook(sql);
  auto it = m_cache.find(sql);
  if (it != m_cache.end() && !it->second.inUse) {
    it->second.inUse = true;
    *rc = 0;
    return std::make_unique<StatementLease>(shared_from_this(), it->second.st.get(), nullptr, &it->first);
  }
  std::string finalSql = finalizeSql(sql, dialect());
  auto st = m_backend->prepare(finalSql, rc);
  if (!st) return nullptr;
  if (it != m_cache.end()) {
    // The cached copy is open elsewhere (a nested cursor on the same
    // statement): this use gets a private one.
    StatementBackend* raw = st.get();
    return std::make_unique<StatementLease>(shared_from_this(), raw, std::move(st), nullptr);
  }
  if (m_cache.size() >= kMaxCachedStatements) {
    for (auto i = m_cache.begin(); i != m_cache.end();) {
      if (!i->second.inUse) i = m_cache.erase(i); else ++i;
    }
  }
  auto [pos, inserted] = m_cache.emplace(sql, Entry{std::move(st), true});
  (void)inserted;
  return std::make_unique<StatementLease>(shared_from_this(), pos->second.st.get(), nullptr, &pos->first);
}

void Session::giveBack(const std::string* key) {
  if (key == nullptr) return;
  auto it = m_cache.find(*key);
  if (it != m_cache.end()) it->second.inUse = false;
}

StatementLease::~StatementLease() {
  m_st->reset();
  if (!m_owned) m_session->giveBack(m_key);
}

namespace {
std::string savepointName(size_t level) { return "evd_tran_" + std::to_string(level); }
}  // namespace

bool Session::isOpen(const DBtran* tran) const {
  for (const DBtran* t : m_levels)
    if (t == tran) return true;
  return false;
}

int Session::begin(DBtran* tran) {
  if (isOpen(tran)) return DB_ERR_TRANSACTION;
  int rc;
  if (m_levels.empty())
    rc = m_backend->exec(dialect() == Dialect::SQLite ? "BEGIN IMMEDIATE" : "BEGIN");
  else
    rc = m_backend->exec("SAVEPOINT " + savepointName(m_levels.size() + 1));
  if (rc == 0) m_levels.push_back(tran);
  return rc;
}

int Session::commit(DBtran* tran) {
  if (!isInnermost(tran)) return DB_ERR_TRANSACTION;
  if (m_levels.size() > 1) {
    int rc = m_backend->exec("RELEASE SAVEPOINT " + savepointName(m_levels.size()));
    if (rc == 0) m_levels.pop_back();
    return rc;
  }
  int rc = m_backend->commit();
  // A failed COMMIT may leave the transaction open (SQLite when another
  // writer holds the file): then it is still the caller's to roll back.
  if (rc == 0 || !m_backend->inTransaction()) {
    m_levels.clear();
    transactionEnded();
  }
  return rc;
}

int Session::rollback(DBtran* tran) {
  size_t level = 0;
  while (level < m_levels.size() && m_levels[level] != tran) ++level;
  if (level == m_levels.size()) return DB_ERR_TRANSACTION;
  int rc;
  if (level == 0) {
    rc = m_backend->connectionLost() ? 0 : m_backend->exec("ROLLBACK");
  } else {
    // Two requests, not one text: a pipelining backend sends one statement
    // per request, and the release waits in its queue at no cost.
    const std::string name = savepointName(level + 1);
    rc = m_backend->exec("ROLLBACK TO SAVEPOINT " + name);
    if (rc == 0) rc = m_backend->exec("RELEASE SAVEPOINT " + name);
  }
  // The levels inside this one went with it.
  for (size_t i = m_levels.size(); i-- > level + 1;) m_levels[i]->detach(false);
  m_levels.resize(level);
  if (level == 0) transactionEnded();
  return rc;
}

int Session::lockKey(const std::string& key, bool wait, bool* held) {
  *held = true;
  // SQLite's write transaction already serialises every writer.
  if (dialect() != Dialect::PostgreSQL) return 0;
  const bool inTran = inTransaction();
  if (!inTran && !m_keyScope) return 0;
  // Waiting for a key while holding another is how two transactions that
  // take them in opposite orders deadlock.
  if (inTran && m_tryWhileHolding && m_keysInTransaction > 0) wait = false;
  // Keys of a transaction go with it; outside one, a key is held by the
  // connection until the scope ends.
  const char* sql = inTran ? (wait ? "SELECT 1 FROM pg_advisory_xact_lock(hashtextextended($1, 0))"
                                   : "SELECT CASE WHEN pg_try_advisory_xact_lock(hashtextextended($1, 0)) THEN 1 ELSE 0 END")
                           : (wait ? "SELECT 1 FROM pg_advisory_lock(hashtextextended($1, 0))"
                                   : "SELECT CASE WHEN pg_try_advisory_lock(hashtextextended($1, 0)) THEN 1 ELSE 0 END");
  int rc = 0;
  auto st = acquire(sql, &rc);
  if (!st) return rc;
  StatementBackend& q = st->get();
  rc = q.execute({Db::Param::text(key)});
  if (rc == 0) rc = q.fetch();
  if (rc != 0) return rc == DB_NO_DATA ? DB_ERR_TRANSACTION : rc;
  *held = q.getInt(0) == 1;
  if (!*held) m_keyBusy = true;
  if (*held && inTran) ++m_keysInTransaction;
  if (*held && !inTran) m_sessionKeys = true;
  return 0;
}

int Session::endKeyScope() {
  m_keyScope = false;
  if (!m_sessionKeys) return 0;
  m_sessionKeys = false;
  return m_backend->exec("SELECT pg_advisory_unlock_all()");
}

}  // namespace Db::detail

namespace Db {

void configure(const std::string& uri) {
  {
    std::lock_guard<std::mutex> lk(Db::detail::g_configMutex);
    Db::detail::g_uri = uri;
    Db::detail::g_generation.fetch_add(1);
  }
  // The host's settings live in the database from now on.
  Settings::setStore(&Db::detail::databaseSettings());
}

std::string configuredUri() {
  std::lock_guard<std::mutex> lk(Db::detail::g_configMutex);
  return Db::detail::g_uri;
}

int openThreadConnection(std::string* error) {
  int rc = 0;
  std::string err;
  Db::detail::Session::current(&rc, &err);
  if (error) *error = err;
  return rc;
}

void closeThreadConnection() { Db::detail::t_slot.session.reset(); }

void setBusyTimeout(int milliseconds) { Db::detail::setSqliteBusyTimeout(milliseconds); }

KeyLock lockKey(const std::string& key, bool wait, int* rc) {
  std::string err;
  *rc = 0;
  Db::detail::Session* s = Db::detail::Session::current(rc, &err);
  if (s == nullptr) return KeyLock::Failed;
  bool held = false;
  *rc = s->lockKey(key, wait, &held);
  if (*rc != 0) return KeyLock::Failed;
  return held ? KeyLock::Held : KeyLock::Busy;
}

void beginKeyScope() {
  int rc = 0;
  std::string err;
  if (Db::detail::Session* s = Db::detail::Session::current(&rc, &err)) s->beginKeyScope();
}

void tryKeysWhileHolding(bool on) {
  int rc = 0;
  std::string err;
  if (Db::detail::Session* s = Db::detail::Session::current(&rc, &err)) s->tryKeysWhileHolding(on);
}

bool takeKeyBusy() {
  int rc = 0;
  std::string err;
  Db::detail::Session* s = Db::detail::Session::current(&rc, &err);
  return s != nullptr && s->takeKeyBusy();
}

int endKeyScope() {
  int rc = 0;
  std::string err;
  Db::detail::Session* s = Db::detail::Session::current(&rc, &err);
  return s ? s->endKeyScope() : rc;
}

namespace {
Db::detail::SessionBackend* threadBackend() {
  int rc = 0;
  std::string err;
  Db::detail::Session* s = Db::detail::Session::current(&rc, &err);
  return s ? &s->backend() : nullptr;
}
}  // namespace

bool beginPipeline() {
  Db::detail::SessionBackend* b = threadBackend();
  return b != nullptr && b->setPipelined(true);
}

int syncPipeline(std::string* error) {
  Db::detail::SessionBackend* b = threadBackend();
  if (b == nullptr) return 0;
  const int rc = b->syncPipeline();
  if (rc != 0 && error != nullptr) *error = b->lastError();
  return rc;
}

bool pipelineFailed() {
  Db::detail::SessionBackend* b = threadBackend();
  return b != nullptr && b->pipelineFailed();
}

void endPipeline() {
  if (Db::detail::SessionBackend* b = threadBackend()) b->setPipelined(false);
}

}  // namespace Db

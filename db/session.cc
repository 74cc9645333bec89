#include "db/session.h"

#include <atomic>
#include <mutex>

#include "Db/Database.h"
#include "db/postgres/postgres_backend.h"
#include "db/sql_format.h"
#include "db/sqlite/sqlite_backend.h"
#include "schema/schema.h"

namespace evd::db {
namespace {

// Enough for every distinct statement of the detector with room to spare;
// past it, idle statements are dropped and prepared again when needed.
constexpr size_t kMaxCachedStatements = 512;

std::mutex g_configMutex;
std::string g_uri = "evdetector.db";
std::atomic<unsigned> g_generation{1};

struct ThreadSlot {
  std::unique_ptr<Session> session;
  unsigned generation = 0;
};
thread_local ThreadSlot t_slot;

bool isPostgresUri(const std::string& uri) {
  return uri.rfind("postgresql://", 0) == 0 || uri.rfind("postgres://", 0) == 0;
}

}  // namespace

unsigned configurationGeneration() { return g_generation.load(); }

std::unique_ptr<SessionBackend> openBackend(const std::string& uri, std::string* error, bool createMissing) {
  if (isPostgresUri(uri)) return openPostgres(uri, error);
  std::string path = uri.rfind("sqlite:", 0) == 0 ? uri.substr(7) : uri;
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
  auto session = std::make_unique<Session>(std::move(backend), uri);
  int r = evd::schema::ensureSchema(*session, &err);
  if (r != 0) {
    *rc = r;
    *error = err;
    return nullptr;
  }
  t_slot.session = std::move(session);
  t_slot.generation = gen;
  *rc = 0;
  return t_slot.session.get();
}

Session::Session(std::unique_ptr<SessionBackend> backend, std::string uri)
    : backend_(std::move(backend)), uri_(std::move(uri)) {}

Session::~Session() {
  if (inTransaction_) backend_->exec("ROLLBACK");
  cache_.clear();  // statements go before their connection
}

std::unique_ptr<StatementLease> Session::acquire(const std::string& sql, int* rc) {
  auto it = cache_.find(sql);
  if (it != cache_.end() && !it->second.inUse) {
    it->second.inUse = true;
    *rc = 0;
    return std::make_unique<StatementLease>(this, it->second.st.get(), nullptr, &it->first);
  }
  std::string finalSql = finalizeSql(sql, dialect());
  auto st = backend_->prepare(finalSql, rc);
  if (!st) return nullptr;
  if (it != cache_.end()) {
    // The cached copy is open elsewhere (a nested cursor on the same
    // statement): this use gets a private one.
    StatementBackend* raw = st.get();
    return std::make_unique<StatementLease>(this, raw, std::move(st), nullptr);
  }
  if (cache_.size() >= kMaxCachedStatements) {
    for (auto i = cache_.begin(); i != cache_.end();) {
      if (!i->second.inUse) i = cache_.erase(i); else ++i;
    }
  }
  auto [pos, inserted] = cache_.emplace(sql, Entry{std::move(st), true});
  (void)inserted;
  return std::make_unique<StatementLease>(this, pos->second.st.get(), nullptr, &pos->first);
}

void Session::giveBack(const std::string* key) {
  if (key == nullptr) return;
  auto it = cache_.find(*key);
  if (it != cache_.end()) it->second.inUse = false;
}

StatementLease::~StatementLease() {
  st_->reset();
  if (!owned_) session_->giveBack(key_);
}

int Session::begin() {
  if (inTransaction_) return DB_ERR_TRANSACTION;
  int rc = backend_->exec(dialect() == Dialect::SQLite ? "BEGIN IMMEDIATE" : "BEGIN");
  if (rc == 0) inTransaction_ = true;
  return rc;
}

int Session::commit() {
  if (!inTransaction_) return DB_ERR_TRANSACTION;
  int rc = backend_->exec("COMMIT");
  if (rc == 0) inTransaction_ = false;
  return rc;
}

int Session::rollback() {
  if (!inTransaction_) return DB_ERR_TRANSACTION;
  inTransaction_ = false;
  return backend_->exec("ROLLBACK");
}

}  // namespace evd::db

namespace Db {

void configure(const std::string& uri) {
  std::lock_guard<std::mutex> lk(evd::db::g_configMutex);
  evd::db::g_uri = uri;
  evd::db::g_generation.fetch_add(1);
}

std::string configuredUri() {
  std::lock_guard<std::mutex> lk(evd::db::g_configMutex);
  return evd::db::g_uri;
}

int openThreadConnection(std::string* error) {
  int rc = 0;
  std::string err;
  evd::db::Session::current(&rc, &err);
  if (error) *error = err;
  return rc;
}

void closeThreadConnection() { evd::db::t_slot.session.reset(); }

}  // namespace Db

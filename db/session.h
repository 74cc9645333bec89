// A thread's connection: its backend, its prepared-statement cache and its
// transaction state. Internal to the database layer.
#pragma once

#include <list>
#include <memory>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "db/backend.h"

class DBtran;

namespace Db::detail {

class Session;

// A prepared statement borrowed from the session's cache for one use; it
// goes back to the cache (reset) when the lease ends.
class StatementLease {
 public:
  StatementLease(std::shared_ptr<Session> s, StatementBackend* st, std::unique_ptr<StatementBackend> owned,
                 const std::string* key)
      : m_session(std::move(s)), m_st(st), m_owned(std::move(owned)), m_key(key) {}
  ~StatementLease();
  StatementLease(const StatementLease&) = delete;
  StatementLease& operator=(const StatementLease&) = delete;
  StatementBackend* operator->() { return m_st; }
  StatementBackend& get() { return *m_st; }

 private:
  // Keeps a session that was dropped (lost connection) alive until its last
  // open cursor ends.
  std::shared_ptr<Session> m_session;
  StatementBackend* m_st;
  std::unique_ptr<StatementBackend> m_owned;  // set when the cache copy was busy
  const std::string* m_key;
};

// Transactions nest: the first level is BEGIN ... COMMIT, every level begun
// while another is open is a savepoint of it. Statements run in the
// innermost open level, whatever table object sends them.
class Session : public std::enable_shared_from_this<Session> {
 public:
  // This thread's session for the configured database, opened on first use.
  // Null with *rc and *error set when it cannot be opened or lacks the schema.
  static Session* current(int* rc, std::string* error);
  // Called after a failed statement: when the connection is gone and no
  // transaction is open, the thread lets go of the session, so the next call
  // connects again. Returns true when it did; S must not be used after that.
  static bool dropIfLost(Session* s);
  // What this thread's backend says of one of its error codes ("" when no
  // connection is open or the code is not the backend's own).
  static std::string describeError(int code);

  explicit Session(std::unique_ptr<SessionBackend> backend, std::string uri);
  ~Session();

  SessionBackend& backend() { return *m_backend; }
  Dialect dialect() const { return m_backend->dialect(); }
  const std::string& uri() const { return m_uri; }

  // Borrows a prepared statement for SQL written with "?" or "$n" placeholders.
  std::unique_ptr<StatementLease> acquire(const std::string& sql, int* rc);
  void giveBack(const std::string* key);

  // Opens a level for TRAN (a transaction or a savepoint of the open one).
  int begin(DBtran* tran);
  // Commits TRAN's level, which must be the innermost one.
  int commit(DBtran* tran);
  // Rolls back TRAN's level and every level inside it.
  int rollback(DBtran* tran);
  bool inTransaction() const { return !m_levels.empty(); }
  bool isOpen(const DBtran* tran) const;
  bool isInnermost(const DBtran* tran) const { return !m_levels.empty() && m_levels.back() == tran; }

  // Db::lockKey and its scope (see Database.h).
  int lockKey(const std::string& key, bool wait, bool* held);
  void beginKeyScope() { m_keyScope = true; }
  void tryKeysWhileHolding(bool on) { m_tryWhileHolding = on; }
  bool takeKeyBusy() { return std::exchange(m_keyBusy, false); }
  int endKeyScope();

 private:
  // The outermost level ended: its keys went with it.
  void transactionEnded() { m_keysInTransaction = 0; }

  struct Entry {
    std::unique_ptr<StatementBackend> st;
    bool inUse = false;
  };
  std::unique_ptr<SessionBackend> m_backend;
  std::string m_uri;
  std::unordered_map<std::string, Entry> m_cache;
  std::vector<DBtran*> m_levels;  // open transaction levels, outermost first
  bool m_keyScope = false;         // keys outside a transaction are held until endKeyScope
  bool m_sessionKeys = false;      // a key is held at session level
  unsigned m_keysInTransaction = 0;
  bool m_tryWhileHolding = false;  // a transaction that holds a key does not wait for another
  bool m_keyBusy = false;          // a key was found busy since takeKeyBusy()
};

// Called with the text of every statement a table object is about to send,
// on the sending thread (fault-injection tests stop a process there). Null,
// the default, costs one load per statement.
using StatementHook = void (*)(const std::string& sql);
void setStatementHook(StatementHook hook);

// Generation of the process-wide configuration: bumps on every configure().
unsigned configurationGeneration();

}  // namespace Db::detail

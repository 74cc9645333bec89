// A thread's connection: its backend, its prepared-statement cache and its
// transaction state. Internal to the database layer.
#pragma once

#include <list>
#include <memory>
#include <string>
#include <unordered_map>

#include "db/backend.h"

namespace evd::db {

class Session;

// A prepared statement borrowed from the session's cache for one use; it
// goes back to the cache (reset) when the lease ends.
class StatementLease {
 public:
  StatementLease(Session* s, StatementBackend* st, std::unique_ptr<StatementBackend> owned,
                 const std::string* key)
      : session_(s), st_(st), owned_(std::move(owned)), key_(key) {}
  ~StatementLease();
  StatementLease(const StatementLease&) = delete;
  StatementLease& operator=(const StatementLease&) = delete;
  StatementBackend* operator->() { return st_; }
  StatementBackend& get() { return *st_; }

 private:
  Session* session_;
  StatementBackend* st_;
  std::unique_ptr<StatementBackend> owned_;  // set when the cache copy was busy
  const std::string* key_;
};

class Session {
 public:
  // This thread's session for the configured database, opened on first use.
  // Null with *rc and *error set when it cannot be opened or lacks the schema.
  static Session* current(int* rc, std::string* error);

  explicit Session(std::unique_ptr<SessionBackend> backend, std::string uri);
  ~Session();

  SessionBackend& backend() { return *backend_; }
  Dialect dialect() const { return backend_->dialect(); }
  const std::string& uri() const { return uri_; }

  // Borrows a prepared statement for SQL written with "?" or "$n" placeholders.
  std::unique_ptr<StatementLease> acquire(const std::string& sql, int* rc);
  void giveBack(const std::string* key);

  int begin();
  int commit();
  int rollback();
  bool inTransaction() const { return inTransaction_; }

 private:
  struct Entry {
    std::unique_ptr<StatementBackend> st;
    bool inUse = false;
  };
  std::unique_ptr<SessionBackend> backend_;
  std::string uri_;
  std::unordered_map<std::string, Entry> cache_;
  bool inTransaction_ = false;
};

// Generation of the process-wide configuration: bumps on every configure().
unsigned configurationGeneration();

}  // namespace evd::db

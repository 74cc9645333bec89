// The interface every database backend implements. One SessionBackend is one
// connection, used by one thread at a time; StatementBackends are made by and
// must not outlive their session.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "Db/DbParam.h"
#include "Db/DbTypes.h"

namespace Db::detail {

enum class Dialect { SQLite, PostgreSQL };

class StatementBackend {
 public:
  virtual ~StatementBackend() = default;
  // Binds the values and runs the statement. Returns 0 or an error code. A
  // statement that yields rows is then read with fetch().
  virtual int execute(const std::vector<Param>& params) = 0;
  // Moves to the next result row: 0 (a row), DB_NO_DATA (no more), or an error.
  virtual int fetch() = 0;
  virtual int columnCount() const = 0;
  virtual bool isNull(int col) const = 0;
  virtual int64_t getInt(int col) const = 0;
  // Text of a column; valid until the next fetch/reset. Never null.
  virtual const char* getText(int col, size_t* len) const = 0;
  // Reads a date-time column (the backend's stored form, zero date included).
  virtual bool getDateTime(int col, DB_DATETIME& out) const = 0;
  // Rows changed by the last execute of an INSERT/UPDATE/DELETE.
  virtual int64_t changes() const = 0;
  // Ends the current execution; the statement can be executed again.
  virtual void reset() = 0;
};

class SessionBackend {
 public:
  virtual ~SessionBackend() = default;
  virtual Dialect dialect() const = 0;
  // Runs one or more statements without parameters or results (DDL, BEGIN...).
  virtual int exec(const std::string& sql) = 0;
  // Prepares one statement whose placeholders are already in the backend's
  // own syntax. Null with *rc set on failure.
  virtual std::unique_ptr<StatementBackend> prepare(const std::string& sql, int* rc) = 0;
  // Text of the most recent error on this session.
  virtual const std::string& lastError() const = 0;
  // A short description of CODE when it is one of this backend's own error
  // codes, else "": what a caller can still say once lastError() has moved on.
  virtual std::string describeError(int code) const = 0;
  // True when the connected database holds a table of that name.
  virtual bool hasTable(const std::string& name) = 0;
  // Ends the open transaction. A commit the server turned into a rollback
  // (a failed statement earlier in it) is an error, never success.
  virtual int commit() = 0;
  // True when the connection itself is gone (server restarted, backend
  // terminated): nothing more will succeed on this session.
  virtual bool connectionLost() const = 0;
  // True while the connection is inside a transaction block.
  virtual bool inTransaction() const = 0;

  // Pipelining, for a backend where every statement costs a round trip.
  // While it is on, exec() and statements whose answer the caller does not
  // wait for (a single-row INSERT ... VALUES without RETURNING) are queued
  // and sent together with the next statement whose answer is needed (a
  // query, an UPDATE, a COMMIT), in one round trip. No statement runs under
  // a savepoint of its own: the first failure makes every later statement
  // fail until the caller rolls back to a level begun before the failure, and
  // pipelineFailed() stays true until pipelining is switched off. Returns
  // false when the backend does not pipeline (nothing changes). Switching it
  // off sends what is still queued first.
  virtual bool setPipelined(bool on) {
    (void)on;
    return false;
  }
  // Sends what is queued and waits for every answer. 0 when every statement
  // since pipelining began succeeded; else the code of the first failure,
  // its text in lastError().
  virtual int syncPipeline() { return 0; }
  virtual bool pipelineFailed() const { return false; }
};

// Opens a backend for a URI: "sqlite:PATH", a plain PATH, or "postgresql://...".
// On failure returns null and sets *error to one line naming the URI and reason.
// Only CREATE_MISSING lets a SQLite file that does not exist be created.
std::unique_ptr<SessionBackend> openBackend(const std::string& uri, std::string* error, bool createMissing = true);

}  // namespace Db::detail

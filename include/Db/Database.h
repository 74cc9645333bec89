// Process-wide choice of database and the schema's life cycle.
//
// The host configures the database once per process; every thread that then
// uses a binding gets its own connection to it, opened on first use and
// closed when the thread ends.
#pragma once

#include <string>

#include "Db/Uri.h"

namespace Db {

void configure(const std::string& uri);
std::string configuredUri();

// Opens (or reuses) this thread's connection. Returns 0, DB_ERR_CONNECT or
// DB_ERR_NO_SCHEMA with one line in *error. Only initSchema creates a
// database: a missing SQLite file or one without the schema is refused.
int openThreadConnection(std::string* error);
// Closes this thread's connection (the next use opens a new one).
void closeThreadConnection();

// How long an SQLite connection waits for another writer's lock before its
// statement fails as busy (10 s unless set). Connections opened later use it.
void setBusyTimeout(int milliseconds);

// Creates every table, index and view that is missing. Running it again
// changes nothing. *report lists what was created.
int initSchema(const std::string& uri, std::string* report, std::string* error);

// Database operations of this process that ended in an error (not "no row"),
// and the text of the latest, so that a host can tell a run that lost writes
// from a clean one even where the caller logged the error and went on.
struct ErrorTally {
  unsigned long long count = 0;
  std::string last;
  // Of those, the errors no retry cures (isFatalError), and the latest's text.
  unsigned long long fatal = 0;
  std::string lastFatal;
  // Of those, the errors that say the connection went (isConnectionLost) and
  // those of a database another writer kept locked (isBusy).
  unsigned long long lost = 0;
  unsigned long long busy = 0;
};
ErrorTally errorTally();
// True for an error that says the database refuses writes for good: a full
// disk, a read-only or damaged database, a failing device (SQLite FULL,
// READONLY, IOERR, CORRUPT; PostgreSQL classes 53100, 25006, 58030, XX001,
// XX002). Every later write would fail the same way.
bool isFatalError(int code);
// True for an error that says the server went away or cannot take a
// connection yet: it cannot be opened (DB_ERR_CONNECT), PostgreSQL class 08,
// 57P01, 57P02, 57P03. A transaction that met one is gone; the work can be
// done again once a connection opens.
bool isConnectionLost(int code);
// True when another connection got in the way: it kept the database locked
// past the busy timeout (SQLite BUSY, LOCKED), or the server ended this
// transaction to break a deadlock or keep transactions serialisable
// (PostgreSQL 40P01, 40001). The work can be done again.
bool isBusy(int code);

// Pipelining of this thread's statements, for the work of one event inside
// a transaction the caller opened (PostgreSQL; on SQLite, where a statement
// costs no round trip, beginPipeline() returns false and nothing changes).
// While it is on, statements whose answers are not awaited travel together
// with the next one that is, and a failure is not isolated: after it every
// statement fails until the caller rolls back the transaction level it
// opened before beginPipeline(), switches pipelining off and, to get the
// result it would have had, does the work again.
bool beginPipeline();
// Sends what is queued and waits: 0 when everything since beginPipeline()
// succeeded, else the first failure's code with its text in *error.
int syncPipeline(std::string* error);
// True when a statement since beginPipeline() failed.
bool pipelineFailed();
// Sends what is still queued and ends pipelining.
void endPipeline();

// Work on one key (a pending occurrence's match key) serialised across
// processes sharing a PostgreSQL database: the look-up that decides between
// a new row and a repeat, and the write that follows, happen under the key.
// Inside a transaction the key is held until the transaction ends; outside
// one only between beginKeyScope() and endKeyScope(), and elsewhere nothing
// is taken. On SQLite, whose write transaction admits one writer at a time,
// nothing is taken either: Held at once. With WAIT false a key another
// connection holds is Busy instead of waited for. Failed sets *rc.
enum class KeyLock { Held, Busy, Failed };
KeyLock lockKey(const std::string& key, bool wait, int* rc);
void beginKeyScope();
// Lets go of the keys taken outside a transaction since beginKeyScope().
int endKeyScope();
// With ON, a transaction that already holds a key gets Busy instead of
// waiting for another (a group of events must not deadlock with another
// group); takeKeyBusy() tells whether that happened since it was last asked.
void tryKeysWhileHolding(bool on);
bool takeKeyBusy();

// Drops every table of the schema (test and tool use only).
int dropSchema(const std::string& uri, std::string* error);

}  // namespace Db

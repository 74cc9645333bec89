// libpq pipeline mode for one connection: which requests are queued, which
// answers are owed, and which failure, if any, the transaction now refuses
// statements for. The session hands its requests here while pipelining is on.
#pragma once

#include <libpq-fe.h>

#include <string>
#include <type_traits>
#include <vector>

namespace Db::detail {

// A statement whose only answer is "the rows stored": INSERT INTO t [(cols)]
// VALUES (...)[, (...)...] and nothing after it (no RETURNING or ON
// CONFLICT). While pipelined nobody waits for it. Anything this reading does not
// recognise is taken as needing its answer, which is always safe.
bool isDeferrableInsert(const std::string& sql);

class PgPipeline {
 public:
  // Sends one request on the connection; libpq's 1 when it was taken. Made
  // from a callable that outlives the call it is passed to.
  class Send {
   public:
    template <class F, class = std::enable_if_t<!std::is_same_v<std::decay_t<F>, Send>>>
    Send(F&& f)  // NOLINT: implicit, so a lambda is passed as it stands
        : m_fn(&f), m_call([](const void* p) { return (*static_cast<const std::remove_reference_t<F>*>(p))(); }) {}
    int operator()() const { return m_call(m_fn); }

   private:
    const void* m_fn;
    int (*m_call)(const void*);
  };

  // LAST_ERROR is the session's text of its latest error, which the
  // pipeline sets when a request of its own fails.
  PgPipeline(PGconn* conn, std::string& lastError) : m_conn(conn), m_lastError(lastError) {}

  bool on() const { return m_on; }
  // Enters pipeline mode; false when the connection cannot.
  bool begin();
  // Sends what is still queued, reads every answer and leaves pipeline mode.
  void end();
  // Sends what is queued and waits: 0 when every statement since begin()
  // succeeded, else the first failure's code with its text in lastError.
  int sync();
  bool failed() const { return m_failed; }

  // Queues a statement whose answer nobody waits for; 0, or the code of the
  // failure that stops every statement until a rollback.
  int queue(Send send);
  // Sends what is queued, then SEND, then a sync, and reads every answer:
  // one round trip. ISOLATE puts a sync between the queue and SEND, so that
  // SEND runs even when something queued fails (the server skips the rest of
  // a failed stretch up to its sync); only a rollback wants that. Returns
  // SEND's result, or null with *code set when it did not succeed.
  PGresult* roundTrip(Send send, bool isolate, int* code);
  // A statement without parameters or results (BEGIN, SAVEPOINT, ...).
  int exec(const std::string& sql);
  // COMMIT in one round trip: its result, or null with *code set.
  PGresult* commit(int* code);
  // Drops a prepared statement on the server with the next request; while
  // the transaction refuses statements, that waits for its rollback.
  void deallocate(const std::string& name);
  // Records a failure the session found in an answer it read itself.
  void noteFailure(int code, const std::string& text);

 private:
  // Far more than an event sends; only bounds what one sync has to read.
  static constexpr int kMaxQueued = 512;

  int sendPlain(const char* sql);
  bool takeAnswer();
  bool takeSync();
  void drain();
  void queueDeallocations();
  void settle();
  int refuse();

  PGconn* m_conn;
  std::string& m_lastError;
  bool m_on = false;
  bool m_failed = false;   // a statement failed since pipelining began
  bool m_blocked = false;  // the transaction refuses statements until a rollback
  int m_failCode = 0;      // the first failure since pipelining began
  std::string m_failText;
  bool m_roundFailed = false;  // the first failure of the latest round trip
  int m_roundCode = 0;
  std::string m_roundText;
  int m_blockCode = 0;  // the failure that aborted the transaction
  std::string m_blockText;
  int m_queued = 0;  // requests sent whose answers are not read yet
  std::vector<std::string> m_toDeallocate;
};

}  // namespace Db::detail

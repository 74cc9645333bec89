#include "db/postgres/postgres_backend.h"

#include <libpq-fe.h>

#include <strings.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "db/uri.h"

namespace Db::detail {

std::string postgresSqlState(int code) {
  if (code < DB_PG_ERROR_BASE || code >= DB_PG_ERROR_BASE + 60466176) return "";
  int v = code - DB_PG_ERROR_BASE;
  std::string s(5, '0');
  for (int i = 4; i >= 0; --i, v /= 36) {
    const int d = v % 36;
    s[static_cast<size_t>(i)] = static_cast<char>(d < 10 ? '0' + d : 'A' + d - 10);
  }
  return s;
}

int postgresErrorCode(const char* sqlstate) {
  if (sqlstate == nullptr || std::strlen(sqlstate) != 5) return DB_PG_ERROR_BASE;
  int v = 0;
  for (int i = 0; i < 5; ++i) {
    char c = sqlstate[i];
    int d = (c >= '0' && c <= '9') ? c - '0' : (c >= 'A' && c <= 'Z') ? c - 'A' + 10 : 0;
    v = v * 36 + d;
  }
  return DB_PG_ERROR_BASE + v;
}

namespace {

// Zero date-times have no calendar value in PostgreSQL; they are stored as
// -infinity, which sorts before every real time, and read back as zero.
std::string dateText(const tagTIMESTAMP_STRUCT& ts) {
  DB_DATETIME dt;
  dt = ts;
  if (dt.isZero()) return "-infinity";
  return dt.toString(true);
}

std::string firstLine(const char* msg) {
  std::string s = msg ? msg : "";
  for (const char* prefix : {"ERROR:  ", "FATAL:  "})
    if (s.rfind(prefix, 0) == 0) s = s.substr(std::strlen(prefix));
  auto nl = s.find('\n');
  if (nl != std::string::npos) s.resize(nl);
  return s;
}

// SQLSTATE of an error the client library raised itself (no server answer):
// the connection is gone.
constexpr const char* kConnectionFailure = "08006";

// The layer's code for a failed result R and, in *text, the server's message
// with its SQLSTATE, e.g. "relation \"x\" does not exist (SQLSTATE 42P01)".
// Errors libpq raises itself (a lost connection) carry no result text, so the
// connection's message stands in for it.
int describeFailure(PGconn* conn, const PGresult* r, std::string* text) {
  const char* state = r ? PQresultErrorField(r, PG_DIAG_SQLSTATE) : nullptr;
  std::string msg = firstLine(r ? PQresultErrorMessage(r) : nullptr);
  if (msg.empty()) msg = firstLine(PQerrorMessage(conn));
  if (msg.empty()) msg = "PostgreSQL request failed";
  if (state == nullptr || std::strlen(state) != 5)
    state = PQstatus(conn) == CONNECTION_BAD ? kConnectionFailure : "XX000";
  *text = msg + " (SQLSTATE " + state + ")";
  return postgresErrorCode(state);
}

bool succeeded(const PGresult* r) {
  ExecStatusType st = PQresultStatus(r);
  return st == PGRES_COMMAND_OK || st == PGRES_TUPLES_OK || st == PGRES_EMPTY_QUERY;
}

// Everything the server sent for one query of a pipeline: the first result
// is kept, the rest (there is none for our statements) dropped.
PGresult* nextQueryResult(PGconn* conn) {
  PGresult* first = nullptr;
  while (PGresult* r = PQgetResult(conn)) {
    if (first == nullptr) first = r; else PQclear(r);
  }
  return first;
}

// Highest $n in a statement, ignoring quoted text.
int countParams(const std::string& sql) {
  int maxN = 0;
  char quote = 0;
  for (size_t i = 0; i < sql.size(); ++i) {
    char c = sql[i];
    if (quote) { if (c == quote) quote = 0; continue; }
    if (c == '\'' || c == '"') { quote = c; continue; }
    if (c == '$' && i + 1 < sql.size() && sql[i + 1] >= '0' && sql[i + 1] <= '9') {
      int n = std::atoi(sql.c_str() + i + 1);
      if (n > maxN) maxN = n;
    }
  }
  return maxN;
}

// Inside a transaction a failed statement would abort the whole of it on
// this server (every later statement refused, COMMIT turned into ROLLBACK),
// where SQLite undoes only the statement. So each request runs under a
// savepoint, sent with it in one pipeline: SAVEPOINT, request, RELEASE cost
// one round trip; only a failure costs a second one, to roll back to the
// savepoint. SEND queues the request; returns its result (null when nothing
// came back) and, on failure, its code with *text.
template <class Send>
PGresult* runUnderSavepoint(PGconn* conn, Send&& send, int* code, std::string* text) {
  *code = 0;
  if (PQenterPipelineMode(conn) != 1) {
    *code = describeFailure(conn, nullptr, text);
    return nullptr;
  }
  const bool sent = PQsendQueryParams(conn, "SAVEPOINT evd_stmt", 0, nullptr, nullptr, nullptr, nullptr, 0) == 1 &&
                    send() == 1 &&
                    PQsendQueryParams(conn, "RELEASE SAVEPOINT evd_stmt", 0, nullptr, nullptr, nullptr, nullptr, 0) == 1 &&
                    PQpipelineSync(conn) == 1;
  PGresult* savepoint = sent ? nextQueryResult(conn) : nullptr;
  PGresult* request = sent ? nextQueryResult(conn) : nullptr;
  PGresult* release = sent ? nextQueryResult(conn) : nullptr;
  // The pipeline's end marker; on a lost connection there is none.
  if (sent && PQstatus(conn) == CONNECTION_OK) PQclear(PQgetResult(conn));
  PQexitPipelineMode(conn);

  if (!succeeded(savepoint)) {
    *code = describeFailure(conn, savepoint, text);
  } else if (!succeeded(request)) {
    *code = describeFailure(conn, request, text);
    // Back to the state before the request; the transaction goes on.
    if (PQstatus(conn) == CONNECTION_OK)
      PQclear(PQexec(conn, "ROLLBACK TO SAVEPOINT evd_stmt; RELEASE SAVEPOINT evd_stmt"));
  } else if (!succeeded(release)) {
    *code = describeFailure(conn, release, text);
  }
  PQclear(savepoint);
  PQclear(release);
  if (*code != 0) {
    PQclear(request);
    return nullptr;
  }
  return request;
}

bool inOpenTransaction(PGconn* conn) { return PQtransactionStatus(conn) == PQTRANS_INTRANS; }

bool isWordChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; }

// True when SQL, past leading blanks, starts with the word KW (any case).
bool startsWithWord(const std::string& sql, size_t* pos, const char* kw) {
  size_t i = *pos;
  while (i < sql.size() && std::isspace(static_cast<unsigned char>(sql[i]))) ++i;
  const size_t n = std::strlen(kw);
  if (sql.size() - i < n || strncasecmp(sql.c_str() + i, kw, n) != 0) return false;
  if (i + n < sql.size() && isWordChar(sql[i + n])) return false;
  *pos = i + n;
  return true;
}

// Moves past one parenthesised group at *POS (quoted text skipped). False on
// anything the reading cannot vouch for: dollar quotes, comments, a ';'.
bool skipGroup(const std::string& sql, size_t* pos) {
  size_t i = *pos;
  while (i < sql.size() && std::isspace(static_cast<unsigned char>(sql[i]))) ++i;
  if (i == sql.size() || sql[i] != '(') return false;
  int depth = 0;
  for (; i < sql.size(); ++i) {
    const char c = sql[i];
    if (c == '\'' || c == '"') {
      const size_t close = sql.find(c, i + 1);
      if (close == std::string::npos) return false;
      i = close;  // a doubled quote is read as two adjacent literals: same extent
    } else if (c == ';' || (c == '$' && (i + 1 == sql.size() || !std::isdigit(static_cast<unsigned char>(sql[i + 1])))) ||
               (c == '-' && i + 1 < sql.size() && sql[i + 1] == '-') ||
               (c == '/' && i + 1 < sql.size() && sql[i + 1] == '*')) {
      return false;
    } else if (c == '(') {
      ++depth;
    } else if (c == ')' && --depth == 0) {
      *pos = i + 1;
      return true;
    }
  }
  return false;
}

// A statement whose only answer is "one row stored": INSERT INTO t [(cols)]
// VALUES (...) and nothing after it (no RETURNING, ON CONFLICT or second
// row). While pipelined nobody waits for it. Anything this reading does not
// recognise is taken as needing its answer, which is always safe.
bool isDeferrableInsert(const std::string& sql) {
  size_t i = 0;
  if (!startsWithWord(sql, &i, "INSERT") || !startsWithWord(sql, &i, "INTO")) return false;
  while (i < sql.size() && std::isspace(static_cast<unsigned char>(sql[i]))) ++i;
  const size_t name = i;
  while (i < sql.size() && (isWordChar(sql[i]) || sql[i] == '.')) ++i;
  if (i == name) return false;
  size_t afterName = i;
  if (!startsWithWord(sql, &afterName, "VALUES")) {
    if (!skipGroup(sql, &i) || !startsWithWord(sql, &i, "VALUES")) return false;
  } else {
    i = afterName;
  }
  if (!skipGroup(sql, &i)) return false;
  while (i < sql.size() && std::isspace(static_cast<unsigned char>(sql[i]))) ++i;
  return i == sql.size();
}

bool isRollback(const std::string& sql) {
  size_t i = 0;
  if (startsWithWord(sql, &i, "ROLLBACK")) return true;
  i = 0;
  return startsWithWord(sql, &i, "ABORT");
}

// The extended protocol, the only one a pipeline speaks, takes one statement
// per request; a ';' anywhere is taken as more than one (a false alarm only
// costs the slower path).
bool mayHoldSeveralStatements(const std::string& sql) { return sql.find(';') != std::string::npos; }

class PgSession;

class PgStatement final : public StatementBackend {
 public:
  PgStatement(PgSession* session, std::string name, int nParams, bool deferrable)
      : session_(session), name_(std::move(name)), nParams_(nParams), deferrable_(deferrable) {}
  ~PgStatement() override;

  int execute(const std::vector<Param>& params) override;

  int fetch() override {
    if (res_ == nullptr) return DB_NO_DATA;
    if (row_ + 1 >= PQntuples(res_)) return DB_NO_DATA;
    ++row_;
    return 0;
  }

  int columnCount() const override { return res_ ? PQnfields(res_) : 0; }
  bool isNull(int col) const override { return PQgetisnull(res_, row_, col) != 0; }
  int64_t getInt(int col) const override {
    const char* v = PQgetvalue(res_, row_, col);
    if (v[0] == 't' && v[1] == '\0') return 1;  // booleans from expressions
    return std::strtoll(v, nullptr, 10);
  }
  const char* getText(int col, size_t* len) const override {
    if (len) *len = static_cast<size_t>(PQgetlength(res_, row_, col));
    return PQgetvalue(res_, row_, col);
  }
  bool getDateTime(int col, DB_DATETIME& out) const override {
    out.clear();
    if (isNull(col)) return true;
    const char* v = PQgetvalue(res_, row_, col);
    if (std::strcmp(v, "-infinity") == 0) return true;
    return out.parse(v);
  }
  int64_t changes() const override { return changes_; }
  void reset() override {
    if (res_) PQclear(res_);
    res_ = nullptr;
    row_ = -1;
    changes_ = 0;
  }

 private:
  int done() {
    row_ = -1;
    const char* n = PQcmdTuples(res_);
    changes_ = (n && *n) ? std::atoll(n) : 0;
    return 0;
  }

  PgSession* session_;
  std::string name_;
  int nParams_;
  bool deferrable_;
  PGresult* res_ = nullptr;
  int row_ = -1;
  int64_t changes_ = 0;
};

class PgSession final : public SessionBackend {
 public:
  explicit PgSession(PGconn* conn) : conn_(conn) {}
  ~PgSession() override { PQfinish(conn_); }

  PGconn* conn() const { return conn_; }
  bool pipelined() const { return pipelined_; }

  Dialect dialect() const override { return Dialect::PostgreSQL; }

  int exec(const std::string& sql) override {
    if (pipelined_) return execPipelined(sql);
    PGresult* r = PQexec(conn_, sql.c_str());
    int code = succeeded(r) ? 0 : describeFailure(conn_, r, &lastError_);
    PQclear(r);
    return code;
  }

  int commit() override {
    int code = 0;
    PGresult* r = nullptr;
    if (pipelined_) {
      r = roundTrip([&] { return sendPlain("COMMIT"); }, false, &code);
      if (code != 0) {
        // COMMIT was skipped after a failure and the transaction is still
        // open, aborted: end it as the server ends a refused COMMIT.
        if (PQtransactionStatus(conn_) == PQTRANS_INERROR) {
          const std::string why = lastError_;
          int ignored = 0;
          PQclear(roundTrip([&] { return sendPlain("ROLLBACK"); }, true, &ignored));
          lastError_ = why;
        }
        return code;
      }
    } else {
      r = PQexec(conn_, "COMMIT");
      if (!succeeded(r)) code = describeFailure(conn_, r, &lastError_);
    }
    if (code == 0 && std::strcmp(PQcmdStatus(r), "ROLLBACK") == 0) {
      // The server answers COMMIT of an aborted transaction with ROLLBACK.
      lastError_ = "COMMIT was turned into ROLLBACK: a statement of the transaction had failed (SQLSTATE 25P02)";
      code = postgresErrorCode("25P02");
      if (pipelined_) noteFailure(code, lastError_);
    }
    PQclear(r);
    return code;
  }

  bool connectionLost() const override { return PQstatus(conn_) == CONNECTION_BAD; }

  bool inTransaction() const override {
    PGTransactionStatusType st = PQtransactionStatus(conn_);
    return st == PQTRANS_INTRANS || st == PQTRANS_INERROR || st == PQTRANS_ACTIVE;
  }

  std::unique_ptr<StatementBackend> prepare(const std::string& sql, int* rc) override {
    std::string name = "evd_s" + std::to_string(++counter_);
    const int n = countParams(sql);
    PGresult* r;
    if (pipelined_) {
      r = roundTrip([&] { return PQsendPrepare(conn_, name.c_str(), sql.c_str(), n, nullptr); }, false, rc);
      if (r == nullptr) return nullptr;
    } else if (inOpenTransaction(conn_)) {
      // A statement that does not parse must not abort the transaction either.
      r = runUnderSavepoint(
          conn_, [&] { return PQsendPrepare(conn_, name.c_str(), sql.c_str(), n, nullptr); }, rc, &lastError_);
      if (r == nullptr) return nullptr;
    } else {
      r = PQprepare(conn_, name.c_str(), sql.c_str(), n, nullptr);
      if (PQresultStatus(r) != PGRES_COMMAND_OK) {
        *rc = describeFailure(conn_, r, &lastError_);
        PQclear(r);
        return nullptr;
      }
    }
    PQclear(r);
    *rc = 0;
    return std::make_unique<PgStatement>(this, name, n, isDeferrableInsert(sql));
  }

  const std::string& lastError() const override { return lastError_; }

  std::string describeError(int code) const override {
    const std::string state = postgresSqlState(code);
    return state.empty() ? "" : "PostgreSQL error (SQLSTATE " + state + ")";
  }

  bool hasTable(const std::string& name) override {
    static const char* const kSql =
        "SELECT 1 FROM pg_catalog.pg_tables WHERE schemaname = current_schema() AND tablename = lower($1)";
    const char* v[1] = {name.c_str()};
    PGresult* r;
    if (pipelined_) {
      int code = 0;
      r = roundTrip([&] { return PQsendQueryParams(conn_, kSql, 1, nullptr, v, nullptr, nullptr, 0); }, false, &code);
    } else {
      r = PQexecParams(conn_, kSql, 1, nullptr, v, nullptr, nullptr, 0);
    }
    bool found = PQresultStatus(r) == PGRES_TUPLES_OK && PQntuples(r) > 0;
    PQclear(r);
    return found;
  }

  bool setPipelined(bool on) override {
    if (on == pipelined_) return on;
    if (on) {
      if (PQstatus(conn_) != CONNECTION_OK || PQenterPipelineMode(conn_) != 1) return false;
      pipelined_ = true;
      failed_ = blocked_ = false;
      queued_ = 0;
      return true;
    }
    drain();
    PQexitPipelineMode(conn_);
    pipelined_ = failed_ = blocked_ = false;
    return true;
  }

  int syncPipeline() override {
    if (!pipelined_) return 0;
    drain();
    if (!failed_) return 0;
    lastError_ = failText_;
    return failCode_;
  }

  bool pipelineFailed() const override { return failed_; }

  // Queues a statement whose answer nobody waits for; 0, or the code of the
  // failure that stops every statement until a rollback.
  template <class Send>
  int queue(Send&& send) {
    if (blocked_) return refuse();
    queueDeallocations();
    if (send() != 1) {
      // libpq could not even take the request: the connection is in trouble,
      // and what was queued before it is read before anything else.
      std::string text;
      const int code = describeFailure(conn_, nullptr, &text);
      drain();
      roundFailed_ = false;
      noteFailure(code, text);
      blockCode_ = code;
      blockText_ = text;
      blocked_ = true;
      return refuse();
    }
    // Far more than an event sends; only bounds what one sync has to read.
    if (++queued_ >= kMaxQueued) drain();
    return 0;
  }

  // Sends what is queued, then SEND, then a sync, and reads every answer:
  // one round trip. ISOLATE puts a sync between the queue and SEND, so that
  // SEND runs even when something queued fails (the server skips the rest of
  // a failed stretch up to its sync); only a rollback wants that. Returns
  // SEND's result, or null with *code set when it did not succeed.
  template <class Send>
  PGresult* roundTrip(Send&& send, bool isolate, int* code) {
    *code = 0;
    if (blocked_ && !isolate) {
      *code = refuse();
      return nullptr;
    }
    if (!blocked_) queueDeallocations();
    const int queued = queued_;
    queued_ = 0;
    roundFailed_ = false;
    bool ok = !(isolate && queued > 0) || PQpipelineSync(conn_) == 1;
    const bool requestSent = ok && send() == 1;
    ok = PQpipelineSync(conn_) == 1 && ok;
    for (int i = 0; i < queued && ok; ++i) ok = takeAnswer();
    if (isolate && queued > 0 && ok) ok = takeSync();
    PGresult* result = nullptr;
    std::string text;
    if (requestSent && ok) {
      result = nextQueryResult(conn_);
      if (succeeded(result)) {
        *code = 0;
      } else if (PQresultStatus(result) == PGRES_PIPELINE_ABORTED && roundFailed_) {
        *code = roundCode_;  // skipped after a queued statement failed
        text = roundText_;
      } else {
        *code = describeFailure(conn_, result, &text);
        noteFailure(*code, text);
      }
    }
    if (ok) takeSync();
    if (!requestSent || result == nullptr) {
      // Never sent, or no answer: the connection went.
      *code = describeFailure(conn_, nullptr, &text);
      noteFailure(*code, text);
    }
    settle();
    if (*code != 0) {
      PQclear(result);
      lastError_ = text;
      return nullptr;
    }
    return result;
  }

  // Statements are dropped on the server as they are dropped here; while the
  // transaction refuses statements, that waits for its rollback.
  void deallocate(const std::string& name) {
    if (PQstatus(conn_) != CONNECTION_OK) return;
    if (!pipelined_) {
      const std::string sql = "DEALLOCATE " + name;
      PQclear(PQexec(conn_, sql.c_str()));
      return;
    }
    toDeallocate_.push_back(name);
    if (!blocked_) queueDeallocations();
  }

  std::string& lastErrorRef() { return lastError_; }

 private:
  static constexpr int kMaxQueued = 512;

  int sendPlain(const char* sql) { return PQsendQueryParams(conn_, sql, 0, nullptr, nullptr, nullptr, nullptr, 0); }

  int execPipelined(const std::string& sql) {
    const bool rollback = isRollback(sql);
    if (mayHoldSeveralStatements(sql)) {
      // Only the simple protocol runs several statements in one request, and
      // it is not spoken in a pipeline: step out of it for this one.
      drain();
      if (blocked_ && !rollback) return refuse();
      PQexitPipelineMode(conn_);
      PGresult* r = PQexec(conn_, sql.c_str());
      std::string text;
      const int code = succeeded(r) ? 0 : describeFailure(conn_, r, &text);
      PQclear(r);
      PQenterPipelineMode(conn_);
      roundFailed_ = false;
      if (code != 0) {
        noteFailure(code, text);
        lastError_ = text;
      }
      settle();
      return code;
    }
    if (!rollback) return queue([&] { return sendPlain(sql.c_str()); });
    int code = 0;
    PQclear(roundTrip([&] { return sendPlain(sql.c_str()); }, true, &code));
    return code;
  }

  // Reads the answer to one queued request; false when the connection went.
  bool takeAnswer() {
    PGresult* r = nextQueryResult(conn_);
    if (PQresultStatus(r) == PGRES_PIPELINE_ABORTED) {
      noteFailure(postgresErrorCode("25P02"),
                  "statement skipped: an earlier statement of the pipeline had failed (SQLSTATE 25P02)");
    } else if (!succeeded(r)) {
      std::string text;
      noteFailure(describeFailure(conn_, r, &text), text);
    }
    PQclear(r);
    return PQstatus(conn_) == CONNECTION_OK;
  }

  // Reads a sync's end marker; false when the connection went instead.
  bool takeSync() {
    if (PQstatus(conn_) != CONNECTION_OK) return false;
    PGresult* r = PQgetResult(conn_);
    const bool ok = PQresultStatus(r) == PGRES_PIPELINE_SYNC;
    PQclear(r);
    return ok;
  }

  // Sends what is queued and reads the answers.
  void drain() {
    if (!blocked_) queueDeallocations();
    if (queued_ == 0) return;
    const int queued = queued_;
    queued_ = 0;
    roundFailed_ = false;
    bool ok = PQpipelineSync(conn_) == 1;
    for (int i = 0; i < queued && ok; ++i) ok = takeAnswer();
    if (ok) ok = takeSync();
    if (!ok && !roundFailed_) {
      std::string text;
      noteFailure(describeFailure(conn_, nullptr, &text), text);
    }
    settle();
  }

  void queueDeallocations() {
    if (toDeallocate_.empty()) return;  // the usual case, on every queued statement
    std::vector<std::string> names;
    names.swap(toDeallocate_);
    for (const std::string& n : names) {
      const std::string sql = "DEALLOCATE " + n;
      if (sendPlain(sql.c_str()) == 1) ++queued_;
    }
  }

  void noteFailure(int code, const std::string& text) {
    if (!roundFailed_) {
      roundFailed_ = true;
      roundCode_ = code;
      roundText_ = text;
    }
    if (!failed_) {
      failed_ = true;
      failCode_ = code;
      failText_ = text;
    }
  }

  // After a sync the server's own state decides: an aborted transaction
  // refuses everything but a rollback, a lost connection refuses all. The
  // refusal names the failure that aborted it.
  void settle() {
    const bool refusing =
        PQstatus(conn_) == CONNECTION_BAD || PQtransactionStatus(conn_) == PQTRANS_INERROR;
    if (refusing && roundFailed_) {
      blockCode_ = roundCode_;
      blockText_ = roundText_;
    }
    blocked_ = refusing && failed_;
  }

  int refuse() {
    lastError_ = blockText_;
    return blockCode_;
  }

  PGconn* conn_;
  std::string lastError_;
  unsigned counter_ = 0;
  bool pipelined_ = false;
  bool failed_ = false;   // a statement failed since pipelining began
  bool blocked_ = false;  // the transaction refuses statements until a rollback
  int failCode_ = 0;      // the first failure since pipelining began
  std::string failText_;
  bool roundFailed_ = false;  // the first failure of the latest round trip
  int roundCode_ = 0;
  std::string roundText_;
  int blockCode_ = 0;  // the failure that aborted the transaction
  std::string blockText_;
  int queued_ = 0;  // requests sent whose answers are not read yet
  std::vector<std::string> toDeallocate_;
};

PgStatement::~PgStatement() {
  reset();
  // Deallocate so a long-lived connection does not collect prepared plans.
  session_->deallocate(name_);
}

int PgStatement::execute(const std::vector<Param>& params) {
  reset();
  std::vector<std::string> texts(nParams_);
  std::vector<const char*> values(nParams_, nullptr);
  for (int i = 0; i < nParams_ && i < static_cast<int>(params.size()); ++i) {
    const Param& p = params[i];
    switch (p.kind) {
      case Param::Null: continue;
      case Param::Int: texts[i] = std::to_string(p.i); break;
      case Param::Real: {
        char buf[64];
        std::snprintf(buf, sizeof buf, "%.17g", p.d);
        texts[i] = buf;
        break;
      }
      case Param::Text: texts[i] = p.s; break;
      case Param::DateTime: texts[i] = dateText(p.dt); break;
    }
    values[i] = texts[i].c_str();
  }
  PGconn* conn = session_->conn();
  auto send = [&] { return PQsendQueryPrepared(conn, name_.c_str(), nParams_, values.data(), nullptr, nullptr, 0); };
  int code = 0;
  if (session_->pipelined()) {
    if (deferrable_) {
      code = session_->queue(send);
      if (code != 0) return code;
      changes_ = 1;  // the one row it asks for
      return 0;
    }
    res_ = session_->roundTrip(send, false, &code);
  } else if (inOpenTransaction(conn)) {
    res_ = runUnderSavepoint(conn, send, &code, &session_->lastErrorRef());
  } else {
    res_ = PQexecPrepared(conn, name_.c_str(), nParams_, values.data(), nullptr, nullptr, 0);
    if (!succeeded(res_)) code = describeFailure(conn, res_, &session_->lastErrorRef());
  }
  if (code != 0) {
    reset();
    return code;
  }
  return done();
}

void ignoreNotice(void*, const char*) {}

}  // namespace

std::unique_ptr<SessionBackend> openPostgres(const std::string& uri, std::string* error) {
  PGconn* conn = PQconnectdb(uri.c_str());
  if (conn == nullptr || PQstatus(conn) != CONNECTION_OK) {
    *error = "cannot connect to PostgreSQL '" + redactUri(uri) + "': " +
             firstLine(conn ? PQerrorMessage(conn) : "out of memory");
    if (conn) PQfinish(conn);
    return nullptr;
  }
  PQsetNoticeProcessor(conn, ignoreNotice, nullptr);
  auto session = std::make_unique<PgSession>(conn);
  if (session->exec("SET DateStyle = 'ISO, YMD'; SET client_min_messages = warning; "
                    "SET standard_conforming_strings = on") != 0) {
    *error = "cannot set up PostgreSQL session '" + redactUri(uri) + "': " + session->lastError();
    return nullptr;
  }
  return session;
}

}  // namespace Db::detail

#include "db/postgres/postgres_backend.h"

#include <libpq-fe.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "db/postgres/pg_pipeline.h"
#include "db/postgres/pg_result.h"
#include "db/uri.h"

namespace Db::detail {
namespace {

// Zero date-times have no calendar value in PostgreSQL; they are stored as
// -infinity, which sorts before every real time, and read back as zero.
std::string dateText(const tagTIMESTAMP_STRUCT& ts) {
  DB_DATETIME dt;
  dt = ts;
  if (dt.isZero()) return "-infinity";
  return dt.toString(true);
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
  explicit PgSession(PGconn* conn) : conn_(conn), pipeline_(conn, lastError_) {}
  ~PgSession() override { PQfinish(conn_); }

  PGconn* conn() const { return conn_; }
  PgPipeline& pipeline() { return pipeline_; }

  Dialect dialect() const override { return Dialect::PostgreSQL; }

  int exec(const std::string& sql) override {
    if (pipeline_.on()) return pipeline_.exec(sql);
    PGresult* r = PQexec(conn_, sql.c_str());
    int code = succeeded(r) ? 0 : describeFailure(conn_, r, &lastError_);
    PQclear(r);
    return code;
  }

  int commit() override {
    int code = 0;
    PGresult* r = nullptr;
    if (pipeline_.on()) {
      r = pipeline_.commit(&code);
      if (code != 0) return code;
    } else {
      r = PQexec(conn_, "COMMIT");
      if (!succeeded(r)) code = describeFailure(conn_, r, &lastError_);
    }
    if (code == 0 && std::strcmp(PQcmdStatus(r), "ROLLBACK") == 0) {
      // The server answers COMMIT of an aborted transaction with ROLLBACK.
      lastError_ = "COMMIT was turned into ROLLBACK: a statement of the transaction had failed (SQLSTATE 25P02)";
      code = postgresErrorCode("25P02");
      if (pipeline_.on()) pipeline_.noteFailure(code, lastError_);
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
    if (pipeline_.on()) {
      r = pipeline_.roundTrip([&] { return PQsendPrepare(conn_, name.c_str(), sql.c_str(), n, nullptr); }, false, rc);
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
    if (pipeline_.on()) {
      int code = 0;
      r = pipeline_.roundTrip([&] { return PQsendQueryParams(conn_, kSql, 1, nullptr, v, nullptr, nullptr, 0); },
                              false, &code);
    } else {
      r = PQexecParams(conn_, kSql, 1, nullptr, v, nullptr, nullptr, 0);
    }
    bool found = PQresultStatus(r) == PGRES_TUPLES_OK && PQntuples(r) > 0;
    PQclear(r);
    return found;
  }

  bool setPipelined(bool on) override {
    if (on == pipeline_.on()) return on;
    if (on) return pipeline_.begin();
    pipeline_.end();
    return true;
  }

  int syncPipeline() override { return pipeline_.sync(); }

  bool pipelineFailed() const override { return pipeline_.failed(); }

  // Statements are dropped on the server as they are dropped here, so a
  // long-lived connection does not collect prepared plans.
  void deallocate(const std::string& name) {
    if (PQstatus(conn_) != CONNECTION_OK) return;
    if (pipeline_.on()) {
      pipeline_.deallocate(name);
      return;
    }
    const std::string sql = "DEALLOCATE " + name;
    PQclear(PQexec(conn_, sql.c_str()));
  }

  std::string& lastErrorRef() { return lastError_; }

 private:
  PGconn* conn_;
  std::string lastError_;
  unsigned counter_ = 0;
  PgPipeline pipeline_;
};

PgStatement::~PgStatement() {
  reset();
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
  if (session_->pipeline().on()) {
    if (deferrable_) {
      code = session_->pipeline().queue(send);
      if (code != 0) return code;
      changes_ = 1;  // the one row it asks for
      return 0;
    }
    res_ = session_->pipeline().roundTrip(send, false, &code);
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

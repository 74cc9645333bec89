// This program's own libpq entry points: each records the statement it is
// given while a capture runs (bench/capture.h) and counts the round trips
// waited for (g_pqWaits), then calls the real one.
#include <dlfcn.h>
#include <libpq-fe.h>

#include "bench/capture.h"

namespace {

template <class F>
F realPq(const char* name) {
  return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

}  // namespace

extern "C" PGresult* PQprepare(PGconn* conn, const char* stmtName, const char* query, int nParams,
                               const Oid* paramTypes) {
  static const auto real =
      realPq<PGresult* (*)(PGconn*, const char*, const char*, int, const Oid*)>("PQprepare");
  evd::bench::preparedTexts()[stmtName ? stmtName : ""] = query ? query : "";
  evd::bench::pqBlockingCall();
  evd::bench::PqExecScope inside;
  return real(conn, stmtName, query, nParams, paramTypes);
}

extern "C" PGresult* PQexecPrepared(PGconn* conn, const char* stmtName, int nParams, const char* const* paramValues,
                                    const int* paramLengths, const int* paramFormats, int resultFormat) {
  static const auto real =
      realPq<PGresult* (*)(PGconn*, const char*, int, const char* const*, const int*, const int*, int)>(
          "PQexecPrepared");
  if (evd::bench::g_capture)
    evd::bench::recordPq(evd::bench::preparedTexts()[stmtName ? stmtName : ""], nParams, paramValues, false);
  evd::bench::pqBlockingCall();
  evd::bench::PqExecScope inside;
  return real(conn, stmtName, nParams, paramValues, paramLengths, paramFormats, resultFormat);
}

extern "C" PGresult* PQexecParams(PGconn* conn, const char* command, int nParams, const Oid* paramTypes,
                                  const char* const* paramValues, const int* paramLengths, const int* paramFormats,
                                  int resultFormat) {
  static const auto real = realPq<PGresult* (*)(PGconn*, const char*, int, const Oid*, const char* const*,
                                                const int*, const int*, int)>("PQexecParams");
  if (evd::bench::g_capture) evd::bench::recordPq(command ? command : "", nParams, paramValues, false);
  evd::bench::pqBlockingCall();
  evd::bench::PqExecScope inside;
  return real(conn, command, nParams, paramTypes, paramValues, paramLengths, paramFormats, resultFormat);
}

// Inside a transaction the layer sends each statement under a savepoint in
// one pipeline (PQsend*): those are recorded the same way.
extern "C" int PQsendPrepare(PGconn* conn, const char* stmtName, const char* query, int nParams,
                             const Oid* paramTypes) {
  static const auto real =
      realPq<int (*)(PGconn*, const char*, const char*, int, const Oid*)>("PQsendPrepare");
  evd::bench::preparedTexts()[stmtName ? stmtName : ""] = query ? query : "";
  evd::bench::pqSent();
  return real(conn, stmtName, query, nParams, paramTypes);
}

extern "C" int PQsendQueryPrepared(PGconn* conn, const char* stmtName, int nParams, const char* const* paramValues,
                                   const int* paramLengths, const int* paramFormats, int resultFormat) {
  static const auto real =
      realPq<int (*)(PGconn*, const char*, int, const char* const*, const int*, const int*, int)>(
          "PQsendQueryPrepared");
  if (evd::bench::g_capture && evd::bench::g_inPqExec == 0)
    evd::bench::recordPq(evd::bench::preparedTexts()[stmtName ? stmtName : ""], nParams, paramValues, false);
  evd::bench::pqSent();
  return real(conn, stmtName, nParams, paramValues, paramLengths, paramFormats, resultFormat);
}

extern "C" int PQsendQueryParams(PGconn* conn, const char* command, int nParams, const Oid* paramTypes,
                                 const char* const* paramValues, const int* paramLengths, const int* paramFormats,
                                 int resultFormat) {
  static const auto real = realPq<int (*)(PGconn*, const char*, int, const Oid*, const char* const*,
                                                      const int*, const int*, int)>("PQsendQueryParams");
  if (evd::bench::g_capture && evd::bench::g_inPqExec == 0)
    evd::bench::recordPq(command ? command : "", nParams, paramValues, false);
  evd::bench::pqSent();
  return real(conn, command, nParams, paramTypes, paramValues, paramLengths, paramFormats, resultFormat);
}

extern "C" PGresult* PQexec(PGconn* conn, const char* query) {
  static const auto real = realPq<PGresult* (*)(PGconn*, const char*)>("PQexec");
  if (evd::bench::g_capture) evd::bench::recordPq(query ? query : "", 0, nullptr, true);
  evd::bench::pqBlockingCall();
  evd::bench::PqExecScope inside;
  return real(conn, query);
}

extern "C" int PQpipelineSync(PGconn* conn) {
  static const auto real = realPq<int (*)(PGconn*)>("PQpipelineSync");
  evd::bench::pqSent();
  return real(conn);
}

// The first read after requests went out waits for the server; the reads
// after it take answers that came with the same round trip.
extern "C" PGresult* PQgetResult(PGconn* conn) {
  static const auto real = realPq<PGresult* (*)(PGconn*)>("PQgetResult");
  if (evd::bench::g_pqSent && evd::bench::g_inPqExec == 0) {
    evd::bench::g_pqSent = false;
    ++evd::bench::g_pqWaits;
  }
  return real(conn);
}

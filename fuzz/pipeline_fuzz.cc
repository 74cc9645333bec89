// One fuzzed event line through the whole detector: the line reader, then
// StoreNotiData in a transaction of its own, as `evdetect run` does, on an
// SQLite database made once per process with an active rule for every alert
// type. Besides crashes and sanitizer reports it checks what the detector
// promises of every event: a handled event leaves no occurrence in the
// writing state, and whatever happened, the database is still usable.
//
// Built and run by scripts/fuzz.sh, which links it against the detector
// library built with clang (build-fuzz/lib).
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "Db/AllBindings.h"
#include "Db/Database.h"
#include "db/backend.h"
#include "db/session.h"
#include "detector/EvNDetector.h"
#include "detector/ProcessStat.h"
#include "detector/alert_types.h"
#include "host/EvAlertEx.h"
#include "host/EvDebug.h"
#include "host/event_json.h"

namespace {

[[noreturn]] void fail(const std::string& why) {
  std::fprintf(stderr, "pipeline_fuzz: %s\n", why.c_str());
  std::abort();
}

Db::detail::SessionBackend& backend() {
  int rc = 0;
  std::string err;
  Db::detail::Session* s = Db::detail::Session::current(&rc, &err);
  if (!s) fail("no database session: " + err);
  return s->backend();
}

void exec(const std::string& sql) {
  if (backend().exec(sql) != 0) fail(sql + ": " + backend().lastError());
}

long long count(const std::string& fromWhere) {
  long long n = -1;
  int rc = 0;
  auto st = backend().prepare("SELECT COUNT(*) FROM " + fromWhere, &rc);
  if (!st || st->execute({}) != 0 || st->fetch() != 0) fail("cannot count " + fromWhere + ": " + backend().lastError());
  n = st->getInt(0);
  return n;
}

// The database of this process: a scratch directory with the file and the
// alert log, removed by nobody (the fuzzer may be killed at any point).
void setUpOnce() {
  static bool done = false;
  if (done) return;
  done = true;
  char dir[] = "/tmp/evd-pipeline-fuzz-XXXXXX";
  if (!mkdtemp(dir)) fail("cannot make a scratch directory");
  const std::string uri = std::string("sqlite:") + dir + "/fuzz.db";
  std::string report, err;
  if (Db::initSchema(uri, &report, &err) != 0) fail("init: " + err);
  EvDebugFileInstance::setDefaultDirectory(dir);
  Db::configure(uri);
  if (Db::openThreadConnection(&err) != 0) fail("open: " + err);
  if (seedAlertTypes(&err) != 0) fail("seed: " + err);
  exec("INSERT INTO NTnotificationRule (alertTypeId, status) SELECT id, 0 FROM NTAlertType");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  setUpOnce();
  const std::string_view line(reinterpret_cast<const char*>(data), size);
  EvAlertEx event;
  EventReadError err;
  if (!parseEventLine(line, event, err)) return 0;

  // A long run keeps the tables small enough that every event is cheap.
  static unsigned runs = 0;
  if (++runs % 2000 == 0)
    for (const char* t : {"NTDetectedAlerts", "NTDparams", "NTDMsgParam", "NTDQueryResults"})
      exec(std::string("DELETE FROM ") + t);

  DBtran tran;
  if (tran.startTran() != 0) fail("cannot begin a transaction");
  EvNDetector detector;
  const bool handled = detector.StoreNotiData(event);
  if (handled) {
    if (tran.commitTran() != 0) fail("cannot commit a handled event");
    if (count("NTDetectedAlerts WHERE processStat = " + std::to_string(eAlertStatusWriting)) != 0)
      fail("a handled event left an occurrence in the writing state");
  } else if (tran.rollbackTran() != 0) {
    fail("cannot roll back a failed event");
  }
  // Still usable: the next event must not inherit a broken connection.
  count("NTDetectedAlerts");
  return 0;
}

// An event's parameter rows written multi-row, and the one-row path they
// fall back to.
#include <atomic>

#include "Db/AllBindings.h"
#include "host/EvAlertDebug.h"
#include "params/EvNDetectParams.h"

namespace {

std::atomic<bool> g_multiRow{true};

}  // namespace

void EvNDetectParams::setMultiRowWrites(bool on) { g_multiRow = on; }
bool EvNDetectParams::multiRowWrites() { return g_multiRow; }

void ParamBatch::add(Kind kind, bool ignored) {
  const bool param = kind == Kind::Param || kind == Kind::List;
  const size_t end = param ? m_params.size() : m_msgs.size();
  m_steps.push_back({kind, end, ignored});
}

void ParamBatch::param(int eventId, NotiParamTypes type, const char* value, bool ignored) {
  m_params.push_back(m_store.paramRow(eventId, type, value));
  add(Kind::Param, ignored);
}

void ParamBatch::texts(int eventId, NotiParamTypes type, const std::vector<std::string>& values, bool ignored) {
  for (const std::string& v : values) m_params.push_back(m_store.paramRow(eventId, type, v.c_str()));
  add(Kind::List, ignored);
}

void ParamBatch::msgParams(int eventId, std::vector<AlertEventMsg>& msgs, bool ignored) {
  m_store.msgRows(eventId, msgs, m_msgs);
  add(Kind::Msg, ignored);
}

bool ParamBatch::failureReasons(int eventId, std::vector<int>& reasonIds, bool ignored) {
  const bool read = m_store.failureReasonRows(eventId, reasonIds, m_msgs);
  add(Kind::Reason, ignored);
  return read;
}

bool ParamBatch::write() {
  if (m_steps.empty()) return true;
  const bool ok = writeMultiRow() == 0 || writeOneByOne();
  m_params.clear();
  m_msgs.clear();
  m_steps.clear();
  return ok;
}

int ParamBatch::writeMultiRow() {
  const size_t statements = (m_params.size() + DBtable::kMaxRowsPerInsert - 1) / DBtable::kMaxRowsPerInsert +
                            (m_msgs.size() + DBtable::kMaxRowsPerInsert - 1) / DBtable::kMaxRowsPerInsert;
  // One statement is all or nothing by itself; more need a level to roll
  // back to, so that a failing later one takes the earlier ones' rows along.
  DBtran level;
  if (statements > 1) {
    if (const int rc = level.startTran(); rc != 0) return rc;
  }
  NTDparams params(nullptr);
  int rc = params.rowsInsert(
      m_params.size(), [&](size_t i) { EvNDetectParams::fillRow(*params.getDataPtr(), m_params[i]); }, false);
  if (rc == 0) {
    NTDMsgParam msgs(nullptr);
    rc = msgs.rowsInsert(
        m_msgs.size(), [&](size_t i) { EvNDetectParams::fillRow(*msgs.getDataPtr(), m_msgs[i]); }, false);
  }
  if (rc == 0 && level.isActive()) rc = level.commitTran();
  if (rc != 0 && level.isActive()) level.rollbackTran();
  return rc;
}

bool ParamBatch::writeOneByOne() {
  size_t param = 0, msg = 0;
  for (const Step& step : m_steps) {
    bool ok = true;
    if (step.kind == Kind::List) {
      ok = writeList(param, step.end);
    } else if (step.kind == Kind::Param) {
      for (; ok && param < step.end; ++param) ok = m_store.insertParamRow(m_params[param]);
    } else {
      for (; ok && msg < step.end; ++msg) ok = m_store.insertMsgRow(m_msgs[msg], step.kind == Kind::Reason);
    }
    if (!ok && !step.ignored) return false;
    // A failed step's remaining rows are not written, as its call stops at
    // its first failure.
    if (step.kind == Kind::Param || step.kind == Kind::List) param = step.end;
    else msg = step.end;
  }
  return true;
}

bool ParamBatch::writeList(size_t begin, size_t end) {
  EvAlertDebug log;
  const char* label = "EvNDetectParams::AddParams";
  DBtran level;
  if (const int rc = level.startTran(); rc != 0) {
    log.Error(label, "Cannot start a transaction for NTDparams rows, errorString [%s]", level.getErrorStr(rc));
    return false;
  }
  for (size_t i = begin; i < end; ++i)
    if (!m_store.insertParamRow(m_params[i], true)) return false;  // the level rolls back
  if (const int rc = level.commitTran(); rc != 0) {
    log.Error(label, "Cannot commit NTDparams rows, errorString [%s]", level.getErrorStr(rc));
    return false;
  }
  return true;
}

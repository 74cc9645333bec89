// The typed parameter store of an occurrence: rows of NTDparams, one per
// value, keyed by event id and parameter type, and the deletes of the
// occurrence's parameter and message-parameter rows.
//
// Every value reaches the database as a bound parameter; texts are cut to the
// 8000 bytes of the value column without splitting a UTF-8 sequence (a split
// sequence is not valid text, and a database that checks its encoding would
// refuse the whole row).
#include <cctype>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <new>
#include <string>
#include <vector>

#include "Db/AllBindings.h"
#include "host/EvAlertDebug.h"
#include "host/FXString.h"
#include "params/EvNDetectParams.h"

namespace {

// Room of the value column with its terminator.
constexpr unsigned long kValueBuffer = 8001;
// Room of a rendered number.
constexpr size_t kNumberBuffer = 256;

// The text form of a caller's SQL literal: N'it''s' gives it's, 'x' gives
// x, and a bare literal (a number) stays as its text. False when a quoted
// literal is not closed or holds a lone quote.
bool literalText(const char* literal, std::string& out) {
  out.clear();
  if (literal == nullptr) return false;
  const char* b = literal;
  const char* e = literal + std::strlen(literal);
  while (b < e && std::isspace(static_cast<unsigned char>(*b))) ++b;
  while (e > b && std::isspace(static_cast<unsigned char>(e[-1]))) --e;
  if (b < e && (*b == 'N' || *b == 'n') && e - b >= 2 && b[1] == '\'') ++b;
  if (b == e || *b != '\'') {
    out.assign(b, e);
    return true;
  }
  if (e - b < 2 || e[-1] != '\'') return false;
  for (const char* p = b + 1; p < e - 1; ++p) {
    if (*p == '\'') {
      if (p + 1 < e - 1 && p[1] == '\'') {
        ++p;
      } else {
        return false;
      }
    }
    out += *p;
  }
  return true;
}

long long nowSeconds() { return EvAlertDebug::now(); }

// The stored text of a number: longs as unsigned, as the notifier has always
// read them (-1 becomes 18446744073709551615).
struct NumberText {
  char text[32];
};
NumberText renderParam(int value) {
  NumberText n;
  snprintf(n.text, sizeof n.text, "%d", value);
  return n;
}
NumberText renderParam(long value) {
  NumberText n;
  snprintf(n.text, sizeof n.text, "%lu", static_cast<unsigned long>(value));
  return n;
}
NumberText renderParam(long long value) {
  NumberText n;
  snprintf(n.text, sizeof n.text, "%llu", static_cast<unsigned long long>(value));
  return n;
}

}  // namespace

void UTF8Char2WideChar(char* dst, unsigned long size, const char* src) {
  if (dst == nullptr || size == 0) return;
  const std::string text = FXString::ToString(src);
  dbCopyText(dst, size, text.c_str(), text.size());
  dst[size - 1] = '\0';
}

// ---- inserts ----

EvNDetectParams::ParamRow EvNDetectParams::paramRow(int eventId, NotiParamTypes type, const char* value) const {
  thread_local char stored[kValueBuffer];
  UTF8Char2WideChar(stored, kValueBuffer, value);
  return {eventId, static_cast<int>(type), stored, nowSeconds()};
}

void EvNDetectParams::fillRow(NTDparams_t& row, const ParamRow& from) {
  row.eventId = from.eventId;
  row.type = from.type;
  dbCopyText(row.value, kValueBuffer, from.value.c_str(), from.value.size());
  row.created = from.created;
}

bool EvNDetectParams::insertParamRow(const ParamRow& r, bool list) {
  EvAlertDebug log;
  const char* label = list ? "EvNDetectParams::AddParams" : "EvNDetectParams::AddParam";
  NTDparams table(m_tran);
  fillRow(*table.getDataPtr(), r);
  const int rc = table.rowInsert(true);
  if (rc != 0) {
    log.Error(label, "Cannot insert NTDparams row, errorString [%s]", table.getErrorStr(rc));
    return false;
  }
  log.DebugLvl(label, 10, "eventId [%d] paramType : [%d] value : [%s]", r.eventId, r.type, r.value.c_str());
  return true;
}

bool EvNDetectParams::AddParam(int eventId, NotiParamTypes type, const char* value) {
  return insertParamRow(paramRow(eventId, type, value));
}

bool EvNDetectParams::AddParam(int eventId, NotiParamTypes type, int value) {
  return AddParam(eventId, type, renderParam(value).text);
}

bool EvNDetectParams::AddParam(int eventId, NotiParamTypes type, long value) {
  return AddParam(eventId, type, renderParam(value).text);
}

bool EvNDetectParams::AddParam(int eventId, NotiParamTypes type, long long value) {
  return AddParam(eventId, type, renderParam(value).text);
}

bool EvNDetectParams::AddOrUpdateParam(int eventId, NotiParamTypes type, const char* value) {
  EvAlertDebug log;
  const char* label = "EvNDetectParams::AddOrUpdateParam";
  NTDparams table(m_tran);
  NTDparams_t* row = table.getDataPtr();
  table.setWhere("eventid = %d and type=%d", eventId, static_cast<int>(type));
  int rc = table.getOneRow();
  if (!DBrowRead(rc) && rc != DB_NO_DATA) {
    log.Error(label, "cannot read from table [%s], errorString [%s]", table.getTableName(), table.getErrorStr(rc));
    return false;
  }
  const bool found = rc != DB_NO_DATA;
  const long long created = nowSeconds();
  row->eventId = eventId;
  row->type = type;
  UTF8Char2WideChar(row->value, kValueBuffer, value);
  row->created = created;
  if (found) {
    // Every row of the pair takes the new value, so a pair that somehow
    // holds several rows still reads back one value.
    rc = table.rowUpdate("value=N'%s' , created = %lld", row->value, created);
    if (rc != 0) {
      log.Error(label, "Cannot Update NTDparams row for eventid [%d] ,type [%d] and value [%s], errorString[%s]",
                eventId, static_cast<int>(type), row->value, table.getErrorStr(rc));
      return false;
    }
  } else {
    rc = table.rowInsert(true);
    if (rc != 0) {
      log.Error(label, "Cannot Update NTDparams row for eventid [%d],type [%d] and value [%s], errorString[%s]",
                eventId, static_cast<int>(type), row->value, table.getErrorStr(rc));
      return false;
    }
  }
  log.DebugLvl(label, 10, "eventId [%d] paramType [%d] value [%s]", eventId, static_cast<int>(type), row->value);
  return true;
}

bool EvNDetectParams::AddOrUpdateParam(int eventId, NotiParamTypes type, int value) {
  return AddOrUpdateParam(eventId, type, renderParam(value).text);
}

bool EvNDetectParams::AddOrUpdateParam(int eventId, NotiParamTypes type, long value) {
  return AddOrUpdateParam(eventId, type, renderParam(value).text);
}

bool EvNDetectParams::AddOrUpdateParam(int eventId, NotiParamTypes type, long long value) {
  return AddOrUpdateParam(eventId, type, renderParam(value).text);
}

bool EvNDetectParams::AddParams(int eventId, NotiParamTypes type, std::vector<std::string> values) {
  EvAlertDebug log;
  const char* label = "EvNDetectParams::AddParams";
  // A list is all or nothing: without a caller's transaction the call runs
  // under one of its own, installed for its length only. However the call
  // ends, the object is left without it, and an unfinished one rolls back.
  struct LocalTran {
    explicit LocalTran(DBtran*& slot) : installed(slot) {}
    ~LocalTran() { release(false); }
    int release(bool commit) {
      if (!owned) return 0;
      installed = nullptr;
      owned = false;
      return commit ? tran.commitTran(false) : tran.rollbackTran();
    }
    DBtran*& installed;
    DBtran tran;
    bool owned = false;
  } local(m_tran);
  if (m_tran == nullptr) {
    const int rc = local.tran.startTran();
    if (rc != 0) {
      // Rows written outside a transaction could not be taken back.
      log.Error(label, "Cannot start a transaction for NTDparams rows, errorString [%s]", local.tran.getErrorStr(rc));
      return false;
    }
    m_tran = &local.tran;
    local.owned = true;
  }
  const long long created = nowSeconds();
  for (size_t i = 0; i < values.size(); ++i) {
    if (i % 100 == 0) log.DebugLvl(label, 10, "Finished entry for [%lu] entries", static_cast<unsigned long>(i));
    ParamRow row = paramRow(eventId, type, values[i].c_str());
    row.created = created;
    if (!insertParamRow(row, true)) return false;
  }
  const int rc = local.release(true);
  if (rc != 0) {
    log.Error(label, "Cannot commit NTDparams rows, errorString [%s]", local.tran.getErrorStr(rc));
    return false;
  }
  return true;
}

bool EvNDetectParams::AddParams(int eventId, NotiParamTypes type, std::vector<int> values) {
  EvAlertDebug log;
  std::vector<std::string> texts;
  texts.reserve(values.size());
  char text[kNumberBuffer];
  for (int v : values) {
    snprintf(text, sizeof text, "%lld", static_cast<long long>(v));
    texts.emplace_back(text);
  }
  return AddParams(eventId, type, std::move(texts));
}

void ParamBatch::ints(int eventId, NotiParamTypes type, const std::vector<int>& values, bool ignored) {
  std::vector<std::string> texts;
  for (int v : values) texts.emplace_back(std::to_string(v));
  this->texts(eventId, type, texts, ignored);
}

void ParamBatch::param(int eventId, NotiParamTypes type, int value, bool ignored) {
  param(eventId, type, renderParam(value).text, ignored);
}

void ParamBatch::param(int eventId, NotiParamTypes type, long value, bool ignored) {
  param(eventId, type, renderParam(value).text, ignored);
}

void ParamBatch::param(int eventId, NotiParamTypes type, long long value, bool ignored) {
  param(eventId, type, renderParam(value).text, ignored);
}

// ---- reads ----

bool EvNDetectParams::GetOneParam(int eventId, NotiParamTypes type, char* out, unsigned long size) {
  EvAlertDebug log;
  const char* label = "EvNDetectParams::GetOneParam";
  if (out != nullptr && size > 0) std::memset(out, 0, size);
  NTGetEventParam proc(m_tran);
  proc.setValues(eventId, static_cast<int>(type));
  const int rc = proc.getOneRow();
  if (rc == DB_NO_DATA) return false;
  if (!DBrowRead(rc)) {
    log.Error(label, "Error [%d] reading param [%d] for eventId [%d]", rc, static_cast<int>(type), eventId);
    return false;
  }
  const char* value = proc.getDataPtr()->eventParam;
  if (out != nullptr && size > 0 && value != nullptr) dbCopyText(out, size, value, std::strlen(value));
  return true;
}

bool EvNDetectParams::GetOneParam(int eventId, NotiParamTypes type, int& out) {
  out = 0;
  char text[kNumberBuffer];
  if (!GetOneParam(eventId, type, text, kNumberBuffer - 1)) return false;
  if (text[0] != '\0') out = atoi(text);
  return true;
}

bool EvNDetectParams::GetOneParam(int eventId, NotiParamTypes type, long long& out) {
  out = 0;
  char text[kNumberBuffer];
  if (!GetOneParam(eventId, type, text, kNumberBuffer - 1)) return false;
  if (text[0] != '\0') out = atoll(text);
  return true;
}

bool EvNDetectParams::GetParams(int eventId, NotiParamTypes type, std::vector<std::string>& out) {
  EvAlertDebug log;
  const char* label = "EvNDetectParams::GetParams";
  NTDparams table(m_tran);
  table.setWhere("eventId = %d and type = %d", eventId, static_cast<int>(type));
  int counter = 0;
  for (;;) {
    const int rc = table.getNextRow(&counter);
    // A cut value (1004) is still a row: its first 8000 bytes are all the
    // column holds.
    if (DBrowRead(rc)) {
      out.emplace_back(table.getDataPtr()->value);
      continue;
    }
    if (rc == DB_NO_DATA) return true;
    log.Error(label, "Error readig from table [%s], ErrorString [%s]", table.getTableName(), table.getErrorStr(rc));
    return false;
  }
}

bool EvNDetectParams::IsParamPresentWithValue(int eventId, NotiParamTypes type, const char* value) {
  EvAlertDebug log;
  const char* label = "EvNDetectParams::IsParamPresentWithValue";
  // The caller's literal is never pasted into the statement: its text is
  // taken out and bound, and compared in the form AddParam stores.
  std::string text;
  if (!literalText(value, text)) {
    log.DebugLvl(label, 3, "Value [%s] for param [%d] of eventId [%d] is not a literal", value ? value : "",
                 static_cast<int>(type), eventId);
    return false;
  }
  char stored[kValueBuffer];
  UTF8Char2WideChar(stored, kValueBuffer, text.c_str());
  NTDparams table(m_tran);
  table.setWhere("eventId = %d and type = %d and value = '%s'", eventId, static_cast<int>(type), stored);
  const int rc = table.getOneRow();
  return DBrowRead(rc);
}

// ---- deletes ----

bool EvNDetectParams::ClearEventParams(int eventId) {
  EvAlertDebug log;
  const char* label = "EvNDetectParams::ClearEventParams";
  NTDparams table(m_tran);
  table.setWhere(" eventId = %d and type != 143 and type != 144 ", eventId);
  const int rc = table.rowDelete();
  if (rc == 0 || rc == DB_NO_DATA) return true;
  log.Error(label, "Error while deleting event params for eventId [%d] with error Code [%d]", eventId, rc);
  return false;
}

bool EvNDetectParams::ClearEventParams(int eventId, NotiParamTypes type) {
  EvAlertDebug log;
  const char* label = "EvNDetectParams::ClearEventParams";
  NTDparams table(m_tran);
  table.setWhere(" eventId = %d and type=%d", eventId, static_cast<int>(type));
  const int rc = table.rowDelete();
  if (rc == 0 || rc == DB_NO_DATA) return true;
  log.Error(label, "Error while deleting event params for eventId [%d] with error Code [%d] for param Type [%d]",
            eventId, rc, static_cast<int>(type));
  return false;
}

bool EvNDetectParams::ClearMsgParams(int eventId) {
  EvAlertDebug log;
  const char* label = "EvNDetectParams::ClearMsgParams";
  NTDMsgParam table(m_tran);
  table.setWhere(" eventId = %d", eventId);
  const int rc = table.rowDelete();
  if (rc == 0 || rc == DB_NO_DATA) return true;
  log.Error(label, "Error while deleting msg params for eventId [%d] with error Code [%d]", eventId, rc);
  return false;
}

// ---- row buffers ----

// Row structures free their text fields with delete[], so the copy is made
// with new[]. Without memory the field is left null, which the layer stores
// as an empty text.
char* EvNDetectParams::AllocateAndAssign(char*& dst, const std::string& src) {
  if (dst != nullptr) {
    delete[] dst;
    dst = nullptr;
  }
  char* copy = new (std::nothrow) char[src.size() + 1];
  if (copy == nullptr) return dst;
  std::memset(copy, 0, src.size() + 1);
  std::memcpy(copy, src.c_str(), src.size() + 1);
  dst = copy;
  return dst;
}

// The parameter store of an occurrence: typed values in NTDparams, message
// arguments in NTDMsgParam, and the look-ups that turn ids into texts.
//
// One object per handler call, made on the stack. It owns nothing; with a
// null transaction every statement stands alone. Every operation logs its
// failures to the alert log and reports them as false; none throws.
#pragma once

#include <string>
#include <vector>

#include "params/NotiParamTypes.h"

class DBtran;
class AlertEventMsg;
struct NTDparams_t;
struct NTDMsgParam_t;
class JobStatusItem;

namespace JobManager {
// Category of a client's row in a software-distribution job.
enum NXMaltrexUpdateCategory : int {};
}  // namespace JobManager

namespace NXGui {
class ZentraTreeNode;
}  // namespace NXGui

class EvNDetectParams {
 public:
  explicit EvNDetectParams(DBtran* tran = nullptr) : m_tran(tran) {}

  // ---- typed parameters (NTDparams) ----
  bool AddParam(int eventId, NotiParamTypes type, const char* value);
  bool AddParam(int eventId, NotiParamTypes type, int value);        // "%d"
  bool AddParam(int eventId, NotiParamTypes type, long value);       // "%lu": -1 is 18446744073709551615
  bool AddParam(int eventId, NotiParamTypes type, long long value);  // "%llu"
  bool AddOrUpdateParam(int eventId, NotiParamTypes type, const char* value);
  bool AddOrUpdateParam(int eventId, NotiParamTypes type, int value);
  bool AddOrUpdateParam(int eventId, NotiParamTypes type, long value);
  bool AddOrUpdateParam(int eventId, NotiParamTypes type, long long value);
  // One row per element in one transaction (the caller's, or one of its own
  // that is rolled back whole when an element fails).
  bool AddParams(int eventId, NotiParamTypes type, std::vector<std::string> values);
  bool AddParams(int eventId, NotiParamTypes type, std::vector<int> values);  // "%lld" each
  bool GetOneParam(int eventId, NotiParamTypes type, char* out, unsigned long size);
  bool GetOneParam(int eventId, NotiParamTypes type, int& out);
  bool GetOneParam(int eventId, NotiParamTypes type, long long& out);
  bool GetParams(int eventId, NotiParamTypes type, std::vector<std::string>& out);
  // VALUE is a ready literal: a number, or a quoted text such as N'abc'.
  bool IsParamPresentWithValue(int eventId, NotiParamTypes type, const char* value);
  bool ClearEventParams(int eventId);  // keeps types 143 and 144
  bool ClearEventParams(int eventId, NotiParamTypes type);
  bool ClearMsgParams(int eventId);
  static char* AllocateAndAssign(char*& dst, const std::string& src);

  // ---- message parameters (NTDMsgParam) and formatting ----
  bool AddMsgParams(int eventId, std::vector<AlertEventMsg>& msgs);
  bool AddMsgParams(int eventId, std::vector<std::string>& list);
  bool AddMsgParams(int eventId, std::vector<int>& freeSpace, std::vector<int>& thresholds,
                    std::vector<std::string>& folders, bool percent);
  bool AddJMFailureReason(int eventId, std::vector<int>& reasonIds);
  bool AddParamWithSizeUnits(int eventId, NotiParamTypes type, long long bytes, unsigned long formatArg);
  bool FormatMsg(int first, std::string& text, int second, unsigned long third);

  // ---- look-ups ----
  bool AddMediaListParam(int eventId, std::vector<int>& mediaIds, NotiParamTypes mediaType,
                         NotiParamTypes locationType);
  bool GetMountPathName(int eventId, char* out, unsigned long size);
  bool GetDriveName(int eventId, int driveId, char* out, unsigned long size);
  bool GetDistClientList(long unused, long jobId, std::vector<std::string>& clients);
  bool GetDistClientStatusList(long unused, long jobId, int status, std::vector<std::string>& clients);
  bool GetDistClientCategoryList(long unused, long jobId, JobManager::NXMaltrexUpdateCategory category,
                                 std::vector<std::string>& clients);
  bool GetDistClientStatusList(long unused, long jobId, std::vector<std::string>& lines);
  bool GetDistClientStatusList(long unused, long jobId, std::vector<JobStatusItem>& items);
  bool GetUpdateReqClntList(int eventId, int type, bool detailed, std::vector<std::string>& lines,
                            NXGui::ZentraTreeNode& entities);

  DBtran* transaction() const { return m_tran; }

  // ---- rows as the inserts above write them ----
  struct ParamRow {
    int eventId;
    int type;
    std::string value;  // as stored: converted and cut
    long long created;
  };
  struct MsgRow {
    int tokenId, eventId, msgIndex, msgId, position, type, size;
    std::string data;  // as stored: cut
  };
  ParamRow paramRow(int eventId, NotiParamTypes type, const char* value) const;
  // The rows AddMsgParams writes for MSGS.
  void msgRows(int eventId, std::vector<AlertEventMsg>& msgs, std::vector<MsgRow>& out) const;
  // The rows AddJMFailureReason writes for REASONIDS, read from their
  // arguments. False (logged) when they cannot be read.
  bool failureReasonRows(int eventId, const std::vector<int>& reasonIds, std::vector<MsgRow>& out);
  static void fillRow(NTDparams_t& row, const ParamRow& from);
  static void fillRow(NTDMsgParam_t& row, const MsgRow& from);
  // One row, with the lines of a failing AddParam (LIST: AddParams),
  // AddMsgParams or (REASON) AddJMFailureReason.
  bool insertParamRow(const ParamRow& row, bool list = false);
  bool insertMsgRow(const MsgRow& row, bool reason);

  // Whether ParamBatch writes multi-row (the default) or every row alone.
  static void setMultiRowWrites(bool on);
  static bool multiRowWrites();

 private:
  DBtran* m_tran;
};

// The parameter rows, message arguments and failure reasons of one event,
// gathered and then written with one multi-row INSERT per table. A failing
// multi-row write is rolled back to a savepoint and the same rows are
// written again one by one, with the lines of the one-row calls: the rows
// before the bad one stay, the bad one fails, and what the caller is told
// is what one-row writes tell. Statements join the innermost open
// transaction, so the store must have none of its own.
class ParamBatch {
 public:
  explicit ParamBatch(EvNDetectParams& store) : m_store(store) {}
  ParamBatch(const ParamBatch&) = delete;
  ParamBatch& operator=(const ParamBatch&) = delete;

  // A row of AddParam's; an IGNORED row's failure does not count.
  void param(int eventId, NotiParamTypes type, const char* value, bool ignored);
  void param(int eventId, NotiParamTypes type, int value, bool ignored);
  void param(int eventId, NotiParamTypes type, long value, bool ignored);
  void param(int eventId, NotiParamTypes type, long long value, bool ignored);
  // The rows of AddParams: a list is stored whole or not at all.
  void texts(int eventId, NotiParamTypes type, const std::vector<std::string>& values, bool ignored);
  void ints(int eventId, NotiParamTypes type, const std::vector<int>& values, bool ignored);
  void msgParams(int eventId, std::vector<AlertEventMsg>& msgs, bool ignored);
  // False when the reasons' arguments could not be read: nothing gathered.
  bool failureReasons(int eventId, std::vector<int>& reasonIds, bool ignored);

  // Writes what was gathered and forgets it. False when a row whose result
  // counts failed; the rows gathered after it were not written.
  bool write();
  bool empty() const { return m_steps.empty(); }

 private:
  enum class Kind { Param, List, Msg, Reason };
  // One gathering call: its rows end at END in the vector of its kind.
  struct Step {
    Kind kind;
    size_t end;
    bool ignored;
  };
  int writeMultiRow();
  bool writeOneByOne();
  bool writeList(size_t begin, size_t end);
  void add(Kind kind, bool ignored);

  EvNDetectParams& m_store;
  std::vector<EvNDetectParams::ParamRow> m_params;
  std::vector<EvNDetectParams::MsgRow> m_msgs;
  std::vector<Step> m_steps;
};

// Passes SRC through the host's text conversion and copies at most size - 1
// bytes into DST, always terminating it. The result is narrow text.
void UTF8Char2WideChar(char* dst, unsigned long size, const char* src);

// "%lld MB", "%.*f GB", "%.*f TB" or "%.*f PB" of a megabyte count, computed
// in single precision. OUT must hold the text; it is returned.
char* AutoRangeSizeInMegaByte(long long megabytes, char* out, unsigned long precision);
// "15%" for 15; a value of 0 leaves OUT unchanged.
void convertIntFreeSpaceIntoStringPercentage(int value, std::string& out);
// The display text of a job status code.
std::string getStatusText(int status);

// EvEvent: renders messages of the server's message catalogue into text.
//
// A catalogue text names its arguments by position: "%1" .. "%9" take the
// arguments added with addArgument (in the order added), "%%" is a percent
// sign. A slot without an argument renders as nothing. The catalogue itself
// and the meaning of each id are listed in docs/catalogue.md.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

class EvEvent {
 public:
  // Results of evPrintf.
  static constexpr int kOk = 0;
  static constexpr int kTruncated = 1;     // the text was cut to fit the buffer
  static constexpr int kUnknownToken = -1; // no such id; the buffer holds ""
  static constexpr int kNoBuffer = -2;     // null buffer or size 0; nothing written
  static constexpr size_t kMaxArguments = 9;

  // Value-type code of a text argument (as in the message-argument rows).
  static constexpr int kTextArgument = 11;
  static constexpr int kInt64Argument = 9;

  struct Entry {
    unsigned long id;
    const char* name;  // symbolic name used in code and docs
    int slots;         // number of arguments the text takes
    const char* text;  // English text with %1.. slots
  };

  EvEvent() = default;

  // Adds the next argument: VALUE is its text (null counts as empty), TYPE
  // its value-type code (11 for text). Returns the argument's slot number
  // (1..9), or 0 when all slots are taken.
  int addArgument(const char* value, int type);
  EvEvent& operator<<(const char* text) {
    addArgument(text, kTextArgument);
    return *this;
  }
  EvEvent& operator<<(const std::string& text) { return *this << text.c_str(); }
  EvEvent& operator<<(long long value);
  EvEvent& operator<<(int value) { return *this << static_cast<long long>(value); }
  void clearArguments() { m_args.clear(); }
  size_t argumentCount() const { return m_args.size(); }

  // Renders catalogue message TOKEN with this event's arguments into BUFFER
  // of SIZE bytes. Never writes past SIZE and always terminates the text
  // when SIZE is at least 1; a cut never splits a UTF-8 sequence. ARG
  // selects the language of the text; the catalogue has one (English), so
  // every value renders the same.
  int evPrintf(unsigned long token, char* buffer, size_t size, long long arg) const;
  // The same into a string (no size limit); false for an unknown id.
  bool render(unsigned long token, std::string& out) const;

  // The whole catalogue, ordered by id, and the entry of one id (null when
  // unknown).
  static const std::vector<Entry>& catalogue();
  static const Entry* find(unsigned long id);

 private:
  struct Argument {
    std::string value;
    int type;
  };
  std::vector<Argument> m_args;
};

// Catalogue ids the system names in code.
namespace EvMsg {
constexpr unsigned long kFailureReasonToken = 0x4A000027;
constexpr unsigned long kFreeSpaceMessage = 0x4A00010E;
constexpr unsigned long kFreeSpaceToken = 0x4A00010F;
constexpr unsigned long kSizeGB = 0x4A00031A;
constexpr unsigned long kSizeBytes = 0x4A00031B;
constexpr unsigned long kSizeKB = 0x4A00031C;
constexpr unsigned long kSizeMB = 0x4A00031D;
constexpr unsigned long kSizeTB = 0x4A00031E;
constexpr unsigned long kAnomalyAboveUsual = 1241515334;  // 0x4A000546, anomaly 1
constexpr unsigned long kAnomalyBelowUsual = 1241515338;  // 0x4A00054A, anomaly 2
constexpr unsigned long kAnomalyOther = 1241515339;       // 0x4A00054B, any other anomaly
}  // namespace EvMsg

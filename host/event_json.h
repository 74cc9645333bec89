// The JSON form of an alert event record, one event per line (JSON Lines).
//
// A line is one JSON object. Its keys are the record's accessor names without
// the "get"/"Is" prefix, first letter lower case ("alertType", "appTypeId",
// "conditionCleared", "mediaIdsList"); docs/events.md lists them all. Every
// key is optional and a missing key leaves the value of an empty record (0,
// false, empty text or list). The reader is strict, because a mistyped key or
// a rounded id would otherwise turn into a silently different event:
//  - unknown keys and keys given twice are refused, the message naming the
//    closest known key when there is one;
//  - numbers must be integers within the field's range (int32, uint32 or
//    int64); they are read as 64-bit integers, never through a double;
//  - flags are JSON booleans, texts JSON strings, lists JSON arrays, and the
//    elements of the message and phase lists objects with keys of their own.
//
// Neither function throws, and neither logs: they are safe on untrusted input.
#pragma once

#include <string>
#include <string_view>
#include <vector>

class EvAlertEx;

struct EventReadError {
  // The offending key; for list elements with the position and element key,
  // e.g. "eventMsgList[2].msgId". Empty when the line as a whole is bad.
  std::string key;
  // One line saying what is wrong, naming the key; the caller adds where the
  // line came from.
  std::string message;
};

// Bounds that keep the reader's memory small whatever arrives: a longer line
// is refused unread, and so is one whose arrays and objects nest deeper (an
// event needs 3 levels).
inline constexpr size_t kMaxEventLineBytes = 1 << 20;
inline constexpr int kMaxEventNesting = 16;

// Reads one line into OUT. On failure returns false, fills ERR and leaves OUT
// untouched. A line that holds anything but one object (a NUL byte included)
// is refused.
bool parseEventLine(std::string_view line, EvAlertEx& out, EventReadError& err);

// Writes EV as one line of JSON without a trailing newline. By default keys
// whose value is that of an empty record are left out (the reader restores
// them), so the line shows what the event carries; ALL_KEYS writes every key.
// Text that is not valid UTF-8 has its bad bytes replaced by U+FFFD. Returns
// an empty string only when memory runs out.
std::string eventToJson(const EvAlertEx& ev, bool allKeys = false);

// Every key the reader accepts at the top level of a line, in the order the
// writer emits them; the last ones are alternative names that the writer
// never emits ("unKnownClientList", the second name of "copiedMediaList").
const std::vector<std::string>& eventJsonKeys();

// Edits (insertions, deletions, substitutions) that turn A into B, for
// pointing at the name that was meant.
size_t editDistance(const std::string& a, const std::string& b);

#include "host/EvEvent.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {

// Keep ordered by id; docs/catalogue.md lists the same rows.
const std::vector<EvEvent::Entry>& table() {
  static const std::vector<EvEvent::Entry> t = [] {
    std::vector<EvEvent::Entry> v = {
        {EvMsg::kFailureReasonToken, "FailureReasonToken", 0, "Failure reason"},
        {EvMsg::kFreeSpaceMessage, "FreeSpaceMessage", 3, "Folder %1: free space threshold %2, free space %3"},
        {EvMsg::kFreeSpaceToken, "FreeSpaceToken", 0, "Free space"},
        {EvMsg::kSizeGB, "SizeGB", 1, "%1 GB"},
        {EvMsg::kSizeBytes, "SizeBytes", 1, "%1 Bytes"},
        {EvMsg::kSizeKB, "SizeKB", 1, "%1 KB"},
        {EvMsg::kSizeMB, "SizeMB", 1, "%1 MB"},
        {EvMsg::kSizeTB, "SizeTB", 1, "%1 TB"},
        {EvMsg::kAnomalyAboveUsual, "AnomalyAboveUsual", 0, "Occurred more often than usual"},
        {EvMsg::kAnomalyBelowUsual, "AnomalyBelowUsual", 0, "Occurred less often than usual"},
        {EvMsg::kAnomalyOther, "AnomalyOther", 0, "Unusual event"},
    };
    std::sort(v.begin(), v.end(), [](const EvEvent::Entry& a, const EvEvent::Entry& b) { return a.id < b.id; });
    return v;
  }();
  return t;
}

// Length of the longest prefix of TEXT, at most LIMIT bytes, that does not
// end inside a UTF-8 sequence.
size_t utf8Prefix(const std::string& text, size_t limit) {
  if (limit >= text.size()) return text.size();
  size_t n = limit;
  while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) --n;
  return n;
}

}  // namespace

int EvEvent::addArgument(const char* value, int type) {
  if (m_args.size() >= kMaxArguments) return 0;
  try {
    m_args.push_back(Argument{value ? std::string(value) : std::string(), type});
  } catch (...) {
    return 0;
  }
  return static_cast<int>(m_args.size());
}

EvEvent& EvEvent::operator<<(long long value) {
  char text[24];
  std::snprintf(text, sizeof text, "%lld", value);
  addArgument(text, kInt64Argument);
  return *this;
}

const std::vector<EvEvent::Entry>& EvEvent::catalogue() { return table(); }

const EvEvent::Entry* EvEvent::find(unsigned long id) {
  const auto& t = table();
  auto it = std::lower_bound(t.begin(), t.end(), id, [](const Entry& e, unsigned long v) { return e.id < v; });
  return it != t.end() && it->id == id ? &*it : nullptr;
}

bool EvEvent::render(unsigned long token, std::string& out) const {
  out.clear();
  const Entry* e = find(token);
  if (e == nullptr) return false;
  for (const char* p = e->text; *p; ++p) {
    if (*p != '%') {
      out += *p;
    } else if (p[1] == '%') {
      out += '%';
      ++p;
    } else if (p[1] >= '1' && p[1] <= '9') {
      const size_t slot = static_cast<size_t>(p[1] - '1');
      if (slot < m_args.size()) out += m_args[slot].value;
      ++p;
    } else {
      out += '%';
    }
  }
  return true;
}

int EvEvent::evPrintf(unsigned long token, char* buffer, size_t size, long long) const {
  if (buffer == nullptr || size == 0) return kNoBuffer;
  buffer[0] = '\0';
  try {
    std::string text;
    if (!render(token, text)) return kUnknownToken;
    const size_t n = utf8Prefix(text, size - 1);
    std::memcpy(buffer, text.data(), n);
    buffer[n] = '\0';
    return n < text.size() ? kTruncated : kOk;
  } catch (...) {
    buffer[0] = '\0';
    return kNoBuffer;
  }
}

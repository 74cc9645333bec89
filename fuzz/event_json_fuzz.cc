// Feeds arbitrary bytes to the event line reader. Besides crashes and
// sanitizer reports it checks the reader's promises: a refused line leaves
// the record alone and says why, and an accepted line survives a write and a
// second read unchanged.
//
// Built and run by scripts/fuzz.sh.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "host/EvAlertEx.h"
#include "host/event_json.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view line(reinterpret_cast<const char*>(data), size);

  EvAlertEx sentinel;
  sentinel.setJobId(-42);
  EvAlertEx ev = sentinel;
  EventReadError err;
  if (!parseEventLine(line, ev, err)) {
    if (err.message.empty() || !(ev == sentinel)) std::abort();
    return 0;
  }

  for (bool allKeys : {false, true}) {
    const std::string written = eventToJson(ev, allKeys);
    EvAlertEx again;
    EventReadError err2;
    if (written.empty() || !parseEventLine(written, again, err2) || !(again == ev)) std::abort();
  }
  return 0;
}

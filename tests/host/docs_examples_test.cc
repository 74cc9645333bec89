// The event examples of docs/events.md carry message descriptions in the
// format of docs/messages.md; both documents must keep agreeing.
#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "host/EvAlertEx.h"
#include "host/event_json.h"
#include "host/messages/XMLDecoder.h"

TEST(DocsExamples, EventDescriptionsAreReadableMessages) {
  std::ifstream in(std::string(EVD_SOURCE_DIR) + "/docs/events.md");
  ASSERT_TRUE(in);
  std::string line;
  int messages = 0;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] != '{') continue;
    EvAlertEx ev;
    EventReadError err;
    ASSERT_TRUE(parseEventLine(line, ev, err)) << err.message;
    if (ev.getDescription().rfind("<message", 0) != 0) continue;
    std::unique_ptr<CNMessageBase> msg;
    std::string why;
    EXPECT_EQ(0, XMLDecoder::unSerialize(ev.getDescription(), msg, why)) << why << "\n" << line;
    ++messages;
  }
  EXPECT_GE(messages, 2);
}

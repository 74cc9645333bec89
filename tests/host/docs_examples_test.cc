// docs/events.md: its example lines are events the reader takes, with one
// example for each family of alerts; the message descriptions in them are in
// the format of docs/messages.md; its key tables list exactly the reader's keys.
#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <string>

#include "host/EvAlertEx.h"
#include "host/event_json.h"
#include "host/messages/XMLDecoder.h"

namespace {

std::ifstream eventsDoc() { return std::ifstream(std::string(EVD_SOURCE_DIR) + "/docs/events.md"); }

TEST(DocsExamples, EventLinesParseAndCoverEveryAlertFamily) {
  std::ifstream in = eventsDoc();
  ASSERT_TRUE(in);
  std::string line;
  int lineNo = 0, messages = 0;
  std::set<int32_t> types;
  bool oldNumbering = false;
  while (std::getline(in, line)) {
    ++lineNo;
    if (line.empty() || line[0] != '{') continue;
    EvAlertEx ev;
    EventReadError err;
    EXPECT_TRUE(parseEventLine(line, ev, err)) << "docs/events.md:" << lineNo << ": " << err.message;
    types.insert(ev.getAlertType());
    oldNumbering |= ev.getAlertCriteria() == 0 && ev.getAlert() != 0;
    if (ev.getDescription().rfind("<message", 0) != 0) continue;
    std::unique_ptr<CNMessageBase> msg;
    std::string why;
    EXPECT_EQ(0, XMLDecoder::unSerialize(ev.getDescription(), msg, why)) << why << "\n" << line;
    ++messages;
  }
  EXPECT_GE(messages, 2);
  for (int32_t type : {3, 4, 2, 10, 13, 26, 70, 65, 57, 75, 58, 53})
    EXPECT_TRUE(types.count(type)) << "no example of alert type " << type;
  EXPECT_TRUE(oldNumbering) << "no example of the old alert/condition numbering";
}

TEST(DocsExamples, KeyTablesMatchTheReader) {
  std::ifstream in = eventsDoc();
  ASSERT_TRUE(in);
  std::set<std::string> documented;
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("| `", 0) != 0) continue;
    const size_t end = line.find('`', 3);
    ASSERT_NE(end, std::string::npos) << line;
    documented.insert(line.substr(3, end - 3));
  }
  const auto& keys = eventJsonKeys();
  std::set<std::string> known(keys.begin(), keys.end());
  for (const char* k : {"tokenId", "msgId", "type", "msgIndex", "data", "phaseNumber", "phaseName", "count1",
                        "count2", "count3"})
    known.insert(k);
  for (const std::string& k : known) EXPECT_TRUE(documented.count(k)) << "key not documented: " << k;
  for (const std::string& k : documented) EXPECT_TRUE(known.count(k)) << "documented key the reader lacks: " << k;
}

}  // namespace

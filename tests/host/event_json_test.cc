#include "host/event_json.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <limits>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>

#include <nlohmann/json.hpp>

#include "host/EvAlertEx.h"
#include "host/EvDebug.h"

namespace {

using nlohmann::json;

bool parses(const json& doc) {
  EvAlertEx ev;
  EventReadError err;
  return parseEventLine(doc.dump(), ev, err);
}

// Every key with a value of its own, none of them the empty value, built on
// the all-keys form: a key the reader or the writer forgets or mixes up
// cannot survive a round trip.
json fullDoc() {
  json doc = json::parse(eventToJson(EvAlertEx(), true));
  int64_t n = 1000;
  auto text = [&n] { return "t-" + std::to_string(++n); };
  for (auto& [key, value] : doc.items()) {
    if (value.is_boolean()) value = true;
    else if (value.is_number()) value = ++n;
    else if (value.is_string()) value = text();
    else if (key == "eventMsgList")
      for (int i = 0; i < 2; ++i)
        value.push_back({{"tokenId", ++n}, {"msgId", ++n}, {"type", ++n}, {"msgIndex", ++n}, {"data", text()}});
    else if (key == "infoManagementPhaseDetails")
      value.push_back({{"phaseNumber", ++n}, {"phaseName", text()}, {"count1", ++n}, {"count2", ++n}, {"count3", ++n}});
    else if (parses(json{{key, json::array({"s"})}}))
      value = json::array({text(), text()});
    else
      value = json::array({++n, ++n});
  }
  return doc;
}

EvAlertEx parseOk(const std::string& line) {
  EvAlertEx ev;
  EventReadError err;
  EXPECT_TRUE(parseEventLine(line, ev, err)) << line << "\n -> " << err.message;
  return ev;
}

EvAlertEx fullEvent() { return parseOk(fullDoc().dump()); }

EventReadError parseBad(const std::string& line) {
  EvAlertEx ev;
  EventReadError err;
  EXPECT_FALSE(parseEventLine(line, ev, err)) << line;
  EXPECT_FALSE(err.message.empty()) << line;
  return err;
}

// ---------------------------------------------------------------------------
// The record

TEST(EvAlertExTest, CopiesAreIndependent) {
  EvAlertEx original = fullEvent();
  EvAlertEx copy(original);
  EXPECT_EQ(copy, original);
  copy.getEventMsgList()[0].data = "changed";
  copy.getFoldersList().clear();
  EXPECT_EQ(original.getEventMsgList()[0].data, fullEvent().getEventMsgList()[0].data);
  EXPECT_EQ(original.getFoldersList().size(), 2u);
}

// The verbose flag the detector takes from DumpAlert follows the log level;
// what the line says is the log's business, not checked here.
TEST(EvAlertExTest, DumpAlertReportsWhetherTheLogIsVerbose) {
  const auto path = std::filesystem::temp_directory_path() / ("evalertex_dump_" + std::to_string(::getpid()) + ".log");
  EvDebugFileInstance instance;
  instance.setPath(path.string());
  EvDebug log(&instance);
  const EvAlertEx e = fullEvent();

  instance.setLevel(9);
  EXPECT_FALSE(e.DumpAlert("Server Side", log));
  instance.setLevel(10);
  EXPECT_TRUE(e.DumpAlert("Server Side", log));

  EXPECT_FALSE(e.DumpAlert("Server Side")) << "no log registered: nothing written";
  EvAlertEx::setLogInstance(&instance);
  EXPECT_TRUE(e.DumpAlert("Server Side"));
  EXPECT_TRUE(e.DumpAlert(nullptr));
  EvAlertEx::setLogInstance(nullptr);
  std::filesystem::remove(path);
}

// ---------------------------------------------------------------------------
// Round trips

// Every key with a value survives both forms; the empty record is "{}", and
// the all-keys form writes each key once with its empty value.
TEST(EventJsonRoundTrip, EveryFieldSurvivesAndEmptyValuesAreLeftOut) {
  EXPECT_EQ(json::parse(eventToJson(fullEvent(), true)), fullDoc());
  const EvAlertEx e = fullEvent();
  EXPECT_EQ(parseOk(eventToJson(e)), e);
  EXPECT_EQ(parseOk(eventToJson(e, true)), e);

  EXPECT_EQ(eventToJson(EvAlertEx()), "{}");
  EXPECT_EQ(parseOk(" \t{ }\r"), EvAlertEx());
  EXPECT_EQ(parseOk(R"({"mediaList":[],"mediaIdsList":[],"eventMsgList":[]})"), EvAlertEx());
  const auto& keys = eventJsonKeys();
  json doc = json::parse(eventToJson(EvAlertEx(), true));
  EXPECT_EQ(doc.size(), keys.size() - 1) << "every key but the second name of the shared list";
  EXPECT_FALSE(doc.contains("unKnownClientList"));
  EXPECT_EQ(doc.at("conditionCleared"), false);
  EXPECT_EQ(doc.at("eventMsgList"), json::array());
}

TEST(EventJsonRoundTrip, IntegerExtremesAreExact) {
  EvAlertEx e;
  e.setJobId(std::numeric_limits<int64_t>::max());
  e.setClientId(std::numeric_limits<int64_t>::min());
  e.setWhomId(9007199254740993LL);  // 2^53 + 1: a double would round it
  e.setDriveId(std::numeric_limits<int32_t>::min());
  e.setTaskId(std::numeric_limits<int32_t>::max());
  e.setNoOfDaysLicenseToExpire(std::numeric_limits<uint32_t>::max());
  e.setMediaIdsList({std::numeric_limits<int32_t>::min(), -1, std::numeric_limits<int32_t>::max()});
  e.setEventMsgList({AlertEventMsg{std::numeric_limits<int64_t>::max(), std::numeric_limits<int64_t>::min(), 14,
                                   -1, ""}});
  const std::string line = eventToJson(e);
  EXPECT_NE(line.find("\"jobId\":9223372036854775807"), std::string::npos) << line;
  EXPECT_NE(line.find("\"noOfDaysLicenseToExpire\":4294967295"), std::string::npos) << line;
  EXPECT_EQ(parseOk(line), e);

  EvAlertEx hand = parseOk(R"({"whomId":9007199254740993,"clientId":-9223372036854775808,)"
                           R"("perCentLicenseConsumed":4294967295})");
  EXPECT_EQ(hand.getWhomId(), 9007199254740993LL);
  EXPECT_EQ(hand.getClientId(), std::numeric_limits<int64_t>::min());
  EXPECT_EQ(hand.getPerCentLicenseConsumed(), 4294967295u);
}

TEST(EventJsonRoundTrip, TextsKeepEscapesAndUnicodeAndBadBytesAreReplaced) {
  EvAlertEx e;
  e.setJobErrString("Path [D:\\mp01]\n\"quoted\"\ttab \x01");
  e.setClientName("h\xC3\xB6st-\xE6\x97\xA5");  // UTF-8: ö and a CJK character
  const std::string line = eventToJson(e);
  EXPECT_EQ(line.find('\n'), std::string::npos) << "one event, one line";
  EXPECT_EQ(parseOk(line), e);
  e.setComment(std::string("bad \xFF byte"));
  EXPECT_EQ(parseOk(eventToJson(e)).getComment(), "bad \xEF\xBF\xBD byte");
}

// ---------------------------------------------------------------------------
// Lists

TEST(EventJsonLists, ElementsKeepOrderAndMissingElementKeysAreEmpty) {
  EvAlertEx e = parseOk(
      R"({"eventMsgList":[{"msgIndex":2,"data":"b"},{"tokenId":7},{}],)"
      R"("infoManagementPhaseDetails":[{"phaseNumber":11,"count3":-5}],)"
      R"("foldersList":["/a","/b",""],"freeSpaceList":[3,-2,0]})");
  ASSERT_EQ(e.getEventMsgList().size(), 3u);
  EXPECT_EQ(e.getEventMsgList()[0], (AlertEventMsg{0, 0, 0, 2, "b"}));
  EXPECT_EQ(e.getEventMsgList()[1], (AlertEventMsg{7, 0, 0, 0, ""}));
  EXPECT_EQ(e.getEventMsgList()[2], AlertEventMsg{});
  ASSERT_EQ(e.getInfoManagementPhaseDetails().size(), 1u);
  EXPECT_EQ(e.getInfoManagementPhaseDetails()[0], (InfoManagementPhaseDetails{11, "", 0, 0, -5}));
  EXPECT_EQ(e.getFoldersList(), (std::vector<std::string>{"/a", "/b", ""}));
  EXPECT_EQ(e.getFreeSpaceList(), (std::vector<int32_t>{3, -2, 0}));
}

TEST(EventJsonLists, SecondNameFillsTheSharedListAndWriterUsesTheFirst) {
  EvAlertEx e = parseOk(R"({"unKnownClientList":["newclient01","newclient02"]})");
  EXPECT_EQ(e.getCopiedMediaList(), (std::vector<std::string>{"newclient01", "newclient02"}));
  json doc = json::parse(eventToJson(e));
  EXPECT_TRUE(doc.contains("copiedMediaList"));
  EXPECT_FALSE(doc.contains("unKnownClientList"));
  // The record's two names are one list too.
  e.getUnKnownClientList().push_back("V_1");
  EXPECT_EQ(e.getCopiedMediaList().size(), 3u);
}

// ---------------------------------------------------------------------------
// Bad input: false, one message naming the key, the record untouched

TEST(EventJsonBadInput, NotJsonOrNotAnObject) {
  for (const char* line : {"", "   ", "{", "{\"alertType\":3", "alertType=3", "{'alertType':3}",
                           "{\"alertType\":3} {\"alertType\":4}", "{\"a\":1e400}"}) {
    EventReadError err = parseBad(line);
    EXPECT_EQ(err.key, "") << line;
    EXPECT_EQ(err.message.rfind("not valid JSON", 0), 0u) << line << " -> " << err.message;
  }
  for (const char* line : {"[]", "3", "\"text\"", "null", "true"}) {
    EventReadError err = parseBad(line);
    EXPECT_EQ(err.message.rfind("expected a JSON object", 0), 0u) << line << " -> " << err.message;
  }
  // Anything after the object, a NUL included, makes the line bad; memory
  // stays bounded however long or deep the line is.
  const std::pair<std::string, const char*> bounded[] = {
      {std::string("{\"alertType\":3}\0{\"bogusKey\":1}", 30), "NUL byte at column 16"},
      {std::string("{\"jobErrString\":\"a\0b\"}", 22), "NUL byte"},
      {"{\"failureReasons\":" + std::string(1 << 18, '[') + std::string(1 << 18, ']') + "}", "nested deeper than 16"},
      {"{\"jobErrString\":\"" + std::string(kMaxEventLineBytes, 'x') + "\"}", "longer than the limit"},
  };
  for (const auto& [line, said] : bounded) {
    EventReadError err = parseBad(line);
    EXPECT_NE(std::string::npos, err.message.find(said)) << err.message;
  }
}

TEST(EventJsonBadInput, UnknownKeysNameTheClosestKnownKey) {
  EventReadError err = parseBad(R"({"alertType":3,"clientID":12})");
  EXPECT_EQ(err.key, "clientID");
  EXPECT_NE(err.message.find("did you mean \"clientId\""), std::string::npos) << err.message;

  err = parseBad(R"({"vss":true})");
  EXPECT_NE(err.message.find("\"vSS\""), std::string::npos) << err.message;

  err = parseBad(R"({"jobid":1,"clinetName":"x"})");
  EXPECT_EQ(err.key, "jobid");

  err = parseBad(R"({"eventMsgList":[{"msgId":1},{"msgid":2}]})");
  EXPECT_EQ(err.key, "eventMsgList[1].msgid");
  EXPECT_NE(err.message.find("did you mean \"msgId\""), std::string::npos) << err.message;

  err = parseBad(R"({"somethingElseEntirely":1})");
  EXPECT_EQ(err.message, "unknown key \"somethingElseEntirely\"");
}

TEST(EventJsonBadInput, KeysGivenTwice) {
  EventReadError err = parseBad(R"({"jobId":1,"clientId":2,"jobId":3})");
  EXPECT_EQ(err.key, "jobId");
  EXPECT_NE(err.message.find("twice"), std::string::npos) << err.message;

  err = parseBad(R"({"eventMsgList":[{"data":"a"},{"data":"b","data":"c"}]})");
  EXPECT_EQ(err.key, "data");

  // The same element keys in two different elements are fine.
  EXPECT_EQ(parseOk(R"({"eventMsgList":[{"data":"a"},{"data":"b"}]})").getEventMsgList().size(), 2u);

  err = parseBad(R"({"copiedMediaList":["V_1"],"unKnownClientList":["c1"]})");
  EXPECT_EQ(err.key, "unKnownClientList");
  EXPECT_NE(err.message.find("same list"), std::string::npos) << err.message;
}

TEST(EventJsonBadInput, WrongTypes) {
  struct Case {
    const char* line;
    const char* key;
  };
  for (const Case& c : {Case{R"({"clientId":"12"})", "clientId"},
                        Case{R"({"alertType":null})", "alertType"},
                        Case{R"({"conditionCleared":1})", "conditionCleared"},
                        Case{R"({"vSS":"true"})", "vSS"},
                        Case{R"({"clientName":12})", "clientName"},
                        Case{R"({"reportName":["a"]})", "reportName"},
                        Case{R"({"mediaList":"V_1"})", "mediaList"},
                        Case{R"({"mediaList":["V_1",2]})", "mediaList[1]"},
                        Case{R"({"mediaIdsList":[1,"2"]})", "mediaIdsList[1]"},
                        Case{R"({"eventMsgList":{"data":"a"}})", "eventMsgList"},
                        Case{R"({"eventMsgList":["a"]})", "eventMsgList[0]"},
                        Case{R"({"eventMsgList":[{"data":5}]})", "eventMsgList[0].data"},
                        Case{R"({"infoManagementPhaseDetails":[{"phaseName":null}]})",
                             "infoManagementPhaseDetails[0].phaseName"}}) {
    EventReadError err = parseBad(c.line);
    EXPECT_EQ(err.key, c.key) << c.line;
    EXPECT_NE(err.message.find(std::string("\"") + c.key + "\""), std::string::npos)
        << c.line << " -> " << err.message;
    EXPECT_NE(err.message.find("expected"), std::string::npos) << err.message;
  }
}

TEST(EventJsonBadInput, NumbersOutOfRangeOrNotIntegers) {
  struct Case {
    const char* line;
    const char* key;
  };
  for (const Case& c : {Case{R"({"alertType":2147483648})", "alertType"},
                        Case{R"({"driveId":-2147483649})", "driveId"},
                        Case{R"({"noOfDaysLicenseToExpire":-1})", "noOfDaysLicenseToExpire"},
                        Case{R"({"perCentLicenseConsumed":4294967296})", "perCentLicenseConsumed"},
                        Case{R"({"jobId":9223372036854775808})", "jobId"},
                        Case{R"({"jobId":-9223372036854775809})", "jobId"},
                        Case{R"({"jobId":18446744073709551616})", "jobId"},
                        Case{R"({"freeSpaceList":[1,2147483648]})", "freeSpaceList[1]"},
                        Case{R"({"infoManagementPhaseDetails":[{"phaseNumber":4294967295}]})",
                             "infoManagementPhaseDetails[0].phaseNumber"}}) {
    EventReadError err = parseBad(c.line);
    EXPECT_EQ(err.key, c.key) << c.line;
    EXPECT_NE(err.message.find("out of range"), std::string::npos) << c.line << " -> " << err.message;
  }
  for (const Case& c : {Case{R"({"clientId":12.5})", "clientId"}, Case{R"({"clientId":12.0})", "clientId"},
                        Case{R"({"taskId":1e3})", "taskId"},
                        Case{R"({"eventMsgList":[{"msgId":1.5}]})", "eventMsgList[0].msgId"}}) {
    EventReadError err = parseBad(c.line);
    EXPECT_EQ(err.key, c.key) << c.line;
    EXPECT_NE(err.message.find("expected an integer"), std::string::npos) << c.line << " -> " << err.message;
  }
}

TEST(EventJsonBadInput, FailureLeavesTheRecordUntouched) {
  EvAlertEx e = fullEvent();
  EventReadError err;
  EXPECT_FALSE(parseEventLine(R"({"clientId":5,"jobId":"x"})", e, err));
  EXPECT_EQ(e, fullEvent());
  // A good line replaces the whole record: keys it leaves out become empty.
  EXPECT_TRUE(parseEventLine(R"({"clientId":5})", e, err));
  EvAlertEx expected;
  expected.setClientId(5);
  EXPECT_EQ(e, expected);
}

TEST(EventJsonBadInput, MessagesStayPrintableAndShort) {
  const std::string longKey(5000, 'k');
  for (const std::string& line : {std::string("{\"a\x01\x02\":1}"), std::string("{\"") + longKey + "\":1}",
                                  std::string("{\"c\":\"\xFF\"}"), std::string("\x00\x01", 2)}) {
    EventReadError err = parseBad(line);
    EXPECT_LT(err.message.size(), 500u);
    for (char ch : err.message) {
      unsigned char u = static_cast<unsigned char>(ch);
      EXPECT_TRUE(u >= 0x20 && u < 0x7f) << "byte " << int(u) << " in: " << err.message;
    }
  }
}

// ---------------------------------------------------------------------------
// docs/events.md: the documented keys and examples are the real ones

std::string readDoc() {
  const auto root = std::filesystem::path(__FILE__).parent_path().parent_path().parent_path();
  std::ifstream in(root / "docs" / "events.md");
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

TEST(EventJsonDocs, EveryExampleLineParses) {
  const std::string doc = readDoc();
  ASSERT_FALSE(doc.empty()) << "docs/events.md not found from " << __FILE__;
  std::istringstream in(doc);
  std::string line;
  bool inBlock = false;
  int lineNo = 0;
  int linesInBlock = 0;
  std::vector<EvAlertEx> examples;
  while (std::getline(in, line)) {
    ++lineNo;
    if (!inBlock && line == "```jsonl") {
      inBlock = true;
      linesInBlock = 0;
    } else if (inBlock && line == "```") {
      inBlock = false;
      EXPECT_EQ(linesInBlock, 1) << "example block ending at line " << lineNo;
    } else if (inBlock) {
      ++linesInBlock;
      EvAlertEx ev;
      EventReadError err;
      EXPECT_TRUE(parseEventLine(line, ev, err)) << "docs/events.md:" << lineNo << ": " << err.message;
      examples.push_back(ev);
    }
  }
  EXPECT_FALSE(inBlock) << "unterminated example block";

  // One example for each family of alerts.
  std::set<int32_t> types;
  bool oldNumbering = false;
  for (const EvAlertEx& ev : examples) {
    types.insert(ev.getAlertType());
    oldNumbering |= ev.getAlertCriteria() == 0 && ev.getAlert() != 0;
  }
  for (int32_t type : {3, 4, 2, 10, 13, 26, 70, 65, 57, 75, 58, 53})
    EXPECT_TRUE(types.count(type)) << "no example of alert type " << type;
  EXPECT_TRUE(oldNumbering) << "no example of the old alert/condition numbering";
}

TEST(EventJsonDocs, KeyTablesMatchTheReader) {
  const std::string doc = readDoc();
  ASSERT_FALSE(doc.empty());
  std::set<std::string> documented;
  std::istringstream in(doc);
  std::string line;
  while (std::getline(in, line)) {
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

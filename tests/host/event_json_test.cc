#include "host/event_json.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <limits>
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
  for (const char* line : {"", "{\"alertType\":3", "{\"alertType\":3} {\"alertType\":4}", "{\"a\":1e400}"}) {
    EventReadError err = parseBad(line);
    EXPECT_EQ(err.key, "") << line;
    EXPECT_EQ(err.message.rfind("not valid JSON", 0), 0u) << line << " -> " << err.message;
  }
  for (const char* line : {"[]", "null"}) {
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

// The key named is the full path of the bad value; the message says why.
TEST(EventJsonBadInput, NamesTheKeyAndTheReason) {
  struct Case {
    const char* line;
    const char* key;
    const char* said;
  };
  const Case cases[] = {
      // Unknown keys name the closest known key.
      {R"({"alertType":3,"clientID":12})", "clientID", "did you mean \"clientId\""},
      {R"({"eventMsgList":[{"msgId":1},{"msgid":2}]})", "eventMsgList[1].msgid", "did you mean \"msgId\""},
      {R"({"somethingElseEntirely":1})", "somethingElseEntirely", "unknown key \"somethingElseEntirely\""},
      // Keys given twice, in the record, in an element, or under both names of one list.
      {R"({"jobId":1,"clientId":2,"jobId":3})", "jobId", "twice"},
      {R"({"eventMsgList":[{"data":"a"},{"data":"b","data":"c"}]})", "data", "twice"},
      {R"({"copiedMediaList":["V_1"],"unKnownClientList":["c1"]})", "unKnownClientList", "same list"},
      // Wrong types.
      {R"({"clientId":"12"})", "clientId", "\"clientId\": expected"},
      {R"({"conditionCleared":1})", "conditionCleared", "\"conditionCleared\": expected"},
      {R"({"clientName":12})", "clientName", "\"clientName\": expected"},
      {R"({"mediaList":"V_1"})", "mediaList", "\"mediaList\": expected"},
      {R"({"mediaList":["V_1",2]})", "mediaList[1]", "\"mediaList[1]\": expected"},
      {R"({"eventMsgList":["a"]})", "eventMsgList[0]", "\"eventMsgList[0]\": expected"},
      {R"({"eventMsgList":[{"data":5}]})", "eventMsgList[0].data", "\"eventMsgList[0].data\": expected"},
      // Numbers out of their field's range, or not integers.
      {R"({"alertType":2147483648})", "alertType", "out of range"},
      {R"({"noOfDaysLicenseToExpire":-1})", "noOfDaysLicenseToExpire", "out of range"},
      {R"({"jobId":9223372036854775808})", "jobId", "out of range"},
      {R"({"jobId":18446744073709551616})", "jobId", "out of range"},
      {R"({"freeSpaceList":[1,2147483648]})", "freeSpaceList[1]", "out of range"},
      {R"({"clientId":12.0})", "clientId", "expected an integer"},
      {R"({"eventMsgList":[{"msgId":1.5}]})", "eventMsgList[0].msgId", "expected an integer"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    EventReadError err = parseBad(c.line);
    EXPECT_EQ(err.key, c.key);
    EXPECT_NE(err.message.find(c.said), std::string::npos) << err.message;
  }
  // The same element keys in two different elements are fine.
  EXPECT_EQ(parseOk(R"({"eventMsgList":[{"data":"a"},{"data":"b"}]})").getEventMsgList().size(), 2u);
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

}  // namespace

#include "host/event_json.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <limits>
#include <string>
#include <tuple>
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
  // Every refusal stays printable and short, whatever the line held.
  EXPECT_LT(err.message.size(), 500u);
  for (char ch : err.message) EXPECT_TRUE(ch >= 0x20 && ch < 0x7f) << "in: " << err.message;
  return err;
}

// The verbose flag the detector takes from DumpAlert follows the log level.
TEST(EvAlertExTest, DumpAlertReportsWhetherTheLogIsVerbose) {
  const auto path = std::filesystem::temp_directory_path() / ("evalertex_dump_" + std::to_string(::getpid()) + ".log");
  EvDebugFileInstance instance;
  instance.setPath(path.string());
  EvDebug log(&instance);
  const EvAlertEx e = fullEvent();
  instance.setLevel(9);
  EXPECT_FALSE(e.DumpAlert("Server Side", log));
  EXPECT_FALSE(e.DumpAlert("Server Side")) << "no log registered: nothing written";
  instance.setLevel(10);
  EvAlertEx::setLogInstance(&instance);
  EXPECT_TRUE(e.DumpAlert(nullptr));
  EvAlertEx::setLogInstance(nullptr);
  std::filesystem::remove(path);
}

// Every key with a value survives both forms; the empty record is "{}", and
// the all-keys form writes each key once with its empty value.
TEST(EventJsonRoundTrip, EveryFieldSurvivesAndEmptyValuesAreLeftOut) {
  EXPECT_EQ(json::parse(eventToJson(fullEvent(), true)), fullDoc());
  const EvAlertEx e = fullEvent();
  EXPECT_EQ(parseOk(eventToJson(e)), e);
  EXPECT_EQ(eventToJson(EvAlertEx()), "{}");
  EXPECT_EQ(parseOk(R"( {"mediaList":[],"eventMsgList":[]})"), EvAlertEx());
  EXPECT_EQ(parseOk("\xEF\xBB\xBF{\"clientId\":5}").getClientId(), 5) << "a byte order mark is skipped";
  json doc = json::parse(eventToJson(EvAlertEx(), true));
  EXPECT_EQ(doc.size(), eventJsonKeys().size() - 1) << "every key but the second name of the shared list";
  EXPECT_EQ(doc.at("eventMsgList"), json::array());
}

// 64-bit ids are read as integers, never through a double; texts keep their
// escapes and Unicode, and a byte that is not UTF-8 is replaced.
TEST(EventJsonRoundTrip, IntegerExtremesAreExactAndTextsKeepEscapesAndUnicode) {
  EvAlertEx e;
  e.setJobId(std::numeric_limits<int64_t>::max());
  e.setWhomId(9007199254740993LL);  // 2^53 + 1: a double would round it
  e.setJobErrString("Path [D:\\mp01]\n\"quoted\"\ttab \x01");
  e.setClientName("h\xC3\xB6st-\xE6\x97\xA5");  // UTF-8: ö and a CJK character
  const std::string line = eventToJson(e);
  EXPECT_EQ(line.find('\n'), std::string::npos) << "one event, one line";
  EXPECT_EQ(parseOk(line), e);
  EvAlertEx hand = parseOk(R"({"whomId":9007199254740993,"clientId":-9223372036854775808})");
  EXPECT_EQ(hand.getWhomId(), 9007199254740993LL);
  EXPECT_EQ(hand.getClientId(), std::numeric_limits<int64_t>::min());
  e.setComment(std::string("bad \xFF byte"));
  EXPECT_EQ(parseOk(eventToJson(e)).getComment(), "bad \xEF\xBF\xBD byte");
}

TEST(EventJsonLists, ElementsKeepOrderMissingKeysAreEmptyAndTheSharedListHasTwoNames) {
  EvAlertEx e = parseOk(R"({"eventMsgList":[{"msgIndex":2,"data":"b"},{}],)"
                        R"("infoManagementPhaseDetails":[{"phaseNumber":11,"count3":-5}]})");
  EXPECT_EQ(e.getEventMsgList(), (std::vector<AlertEventMsg>{{0, 0, 0, 2, "b"}, {}}));
  EXPECT_EQ(e.getInfoManagementPhaseDetails(), (std::vector<InfoManagementPhaseDetails>{{11, "", 0, 0, -5}}));

  // The second name fills the shared list; the writer uses the first.
  e = parseOk(R"({"unKnownClientList":["newclient01","newclient02"]})");
  EXPECT_EQ(e.getCopiedMediaList(), (std::vector<std::string>{"newclient01", "newclient02"}));
  EXPECT_TRUE(json::parse(eventToJson(e)).contains("copiedMediaList"));
  e.getUnKnownClientList().push_back("V_1");
  EXPECT_EQ(e.getCopiedMediaList().size(), 3u);
}

TEST(EventJsonBadInput, NotJsonOrNotAnObject) {
  // Anything after the object, a NUL included, makes the line bad; memory
  // stays bounded however long or deep the line is.
  const std::pair<std::string, const char*> bounded[] = {
      {"{\"alertType\":3", "not valid JSON"},
      {"{\"alertType\":3} {\"alertType\":4}", "not valid JSON"},
      {"[]", "expected a JSON object"},
      {std::string("{\"alertType\":3}\0{\"bogusKey\":1}", 30), "NUL byte at column 16"},
      {std::string("{\"jobErrString\":\"a\0b\"}", 22), "NUL byte"},
      {"{\"failureReasons\":" + std::string(1 << 18, '[') + std::string(1 << 18, ']') + "}", "nested deeper than 16"},
      {"{\"jobErrString\":\"" + std::string(kMaxEventLineBytes, 'x') + "\"}", "longer than the limit"},
  };
  for (const auto& [line, said] : bounded) {
    EventReadError err = parseBad(line);
    EXPECT_NE(std::string::npos, err.message.find(said)) << err.message;
    EXPECT_EQ(err.key, "");
  }
}

// The key named is the full path of the bad value; the message says why.
TEST(EventJsonBadInput, NamesTheKeyAndTheReason) {
  const std::tuple<const char*, const char*, const char*> cases[] = {
      {R"({"alertType":3,"clientID":12})", "clientID", "did you mean \"clientId\""},
      {R"({"eventMsgList":[{"msgId":1},{"msgid":2}]})", "eventMsgList[1].msgid", "did you mean \"msgId\""},
      {R"({"somethingElseEntirely":1})", "somethingElseEntirely", "unknown key \"somethingElseEntirely\""},
      {R"({"jobId":1,"clientId":2,"jobId":3})", "jobId", "twice"},
      {R"({"eventMsgList":[{"data":"a"},{"data":"b","data":"c"}]})", "data", "twice"},
      {R"({"copiedMediaList":["V_1"],"unKnownClientList":["c1"]})", "unKnownClientList", "same list"},
      {R"({"clientId":"12"})", "clientId", "\"clientId\": expected"},
      {R"({"mediaList":["V_1",2]})", "mediaList[1]", "\"mediaList[1]\": expected"},
      {R"({"noOfDaysLicenseToExpire":-1})", "noOfDaysLicenseToExpire", "out of range"},
      {R"({"jobId":9223372036854775808})", "jobId", "out of range"},
      {R"({"clientId":12.0})", "clientId", "expected an integer"},
      {R"({"eventMsgList":[{},{"tokenId":-99999999999999999999}]})", "eventMsgList[1].tokenId", "not fit in 64 bits"},
  };
  for (const auto& [line, key, said] : cases) {
    EventReadError err = parseBad(line);
    EXPECT_EQ(err.key, key) << line;
    EXPECT_NE(err.message.find(said), std::string::npos) << err.message;
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
  EXPECT_EQ(e, parseOk(R"({"clientId":5})"));
}

TEST(EventJsonBadInput, MessagesStayPrintableAndShort) {
  for (const std::string& line : {std::string("{\"a\x01\x02\":1}"), "{\"" + std::string(5000, 'k') + "\":1}",
                                  std::string("{\"c\":\"\xFF\"}"), std::string("\x00\x01", 2)})
    parseBad(line);
}

}  // namespace

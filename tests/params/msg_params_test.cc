// Message parameters (NTDMsgParam) on both backends, and the text helpers for sizes and percentages.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <tuple>
#include <vector>

#include "Db/AllBindings.h"
#include "host/EvAlertEx.h"
#include "host/EvEvent.h"
#include "params/EvNDetectParams.h"
#include "support/db_fixture.h"

namespace {

struct MsgRow {
  int tokenId, msgIndex, msgId, position, type, size;
  std::string data;
  auto key() const { return std::tie(tokenId, msgIndex, msgId, position, type, size, data); }
  bool operator==(const MsgRow& o) const { return key() == o.key(); }
};

std::ostream& operator<<(std::ostream& os, const MsgRow& r) {
  return os << "{token " << r.tokenId << ", index " << r.msgIndex << ", msg " << r.msgId << ", pos " << r.position
            << ", type " << r.type << ", size " << r.size << ", data \"" << r.data << "\"}";
}

AlertEventMsg msg(int64_t index, int64_t type, std::string data, int64_t token = 7, int64_t msgId = 9) {
  AlertEventMsg m;
  m.tokenId = token;
  m.msgId = msgId;
  m.type = type;
  m.msgIndex = index;
  m.data = std::move(data);
  return m;
}

using Rows = std::vector<MsgRow>;

std::string repeatChar(const char* ch, int n) {
  std::string s;
  for (int i = 0; i < n; ++i) s += ch;
  return s;
}

class MsgParamsTest : public evd::test::DbTest {
 protected:
  Rows rowsOf(int eventId) {
    Rows rows;
    NTDMsgParam t(nullptr);
    t.setWhere("eventId = %d", eventId);
    t.setOrderBy("evdRowId");
    int counter = 0;
    while (DBrowRead(t.getNextRow(&counter))) {
      const NTDMsgParam_t* r = t.getDataPtr();
      rows.push_back({r->tokenId, r->msgIndex, r->msgId, r->position, r->type, r->size, r->data});
    }
    return rows;
  }

  EvNDetectParams params{nullptr};
};

constexpr int kFreeToken = 0x4A00010F;
constexpr int kFreeMsg = 0x4A00010E;
constexpr int kReasonToken = 0x4A000027;

// Positions count within an index; ids keep their low 32 bits; a type-14 element gives way
// to its follower or stands alone at position zero.
TEST_P(MsgParamsTest, EventMessagesArePositionedWithinTheirIndex) {
  std::vector<AlertEventMsg> msgs{msg(1, 14, "header"), msg(1, 11, "first", 0x100000005LL, 0x200000006LL),
                                  msg(1, 11, "second"), msg(2, 14, "alone"), msg(3, 11, "third"), msg(3, 14, "inside")};
  ASSERT_TRUE(params.AddMsgParams(3, msgs));
  EXPECT_EQ((Rows{{5, 1, 6, 1, 11, 0, "first"}, {7, 1, 9, 2, 11, 0, "second"}, {7, 2, 9, 0, 14, 0, "alone"},
                  {7, 3, 9, 1, 11, 0, "third"}, {7, 3, 9, 2, 14, 0, "inside"}}),
            rowsOf(3));
}

TEST_P(MsgParamsTest, LongMessageTextsAreCutTo960BytesWithAMark) {
  std::vector<AlertEventMsg> msgs{msg(1, 11, std::string(960, 'y')), msg(2, 11, repeatChar("\xE2\x82\xAC", 334))};
  ASSERT_TRUE(params.AddMsgParams(4, msgs));
  const auto rows = rowsOf(4);
  ASSERT_EQ(2u, rows.size());
  EXPECT_TRUE(rows[0].data == std::string(960, 'y')) << rows[0].data.size();
  // Byte 946 is inside a character: the cut keeps whole characters only.
  EXPECT_TRUE(rows[1].data == repeatChar("\xE2\x82\xAC", 315) + "MsgNewLine_>>>") << rows[1].data.size();
}

TEST_P(MsgParamsTest, AFailedInsertStopsTheListAndKeepsEarlierRows) {
  refuseInserts("NTDMsgParam", "data", "refused");
  std::vector<AlertEventMsg> msgs{msg(1, 11, "a"), msg(1, 11, "refused"), msg(1, 11, "c")};
  EXPECT_FALSE(params.AddMsgParams(5, msgs));
  EXPECT_EQ((Rows{{7, 1, 9, 1, 11, 0, "a"}}), rowsOf(5));

  exec("INSERT INTO JMFailureReasonMsgParam (msgId, eventid, position, type, size, data) VALUES "
       "(10, 500, 1, 11, 2, 'ok'), (20, 600, 1, 11, 7, 'refused')");
  std::vector<int> reasons{10, 20};
  EXPECT_FALSE(params.AddJMFailureReason(8, reasons));
  EXPECT_EQ((Rows{{kReasonToken, 10, 500, 1, 11, 2, "ok"}}), rowsOf(8));
}

TEST_P(MsgParamsTest, TypedArgumentsTakeTheirSizeAndDataFromTheTypeCode) {
  std::vector<std::string> list{"xx5001", "0112", "11abc", "07"};
  ASSERT_TRUE(params.AddMsgParams(10, list));
  EXPECT_EQ((Rows{{0, 0, 5001, 1, 1, 1, "12"}, {0, 0, 5001, 2, 11, 3, "abc"}, {0, 0, 5001, 3, 7, 4, ""}}), rowsOf(10));

  // An unlisted code and one that is not a number.
  std::vector<std::string> codes{"  42", "13x", "ab7"};
  ASSERT_TRUE(params.AddMsgParams(11, codes));
  EXPECT_EQ((Rows{{0, 0, 42, 1, 13, 0, ""}, {0, 0, 42, 2, 0, 0, ""}}), rowsOf(11));
  // Digits beyond byte 63 of the header are not part of the id.
  std::vector<std::string> longHeader{"xx" + std::string(60, '0') + "12345", "11v"};
  ASSERT_TRUE(params.AddMsgParams(13, longHeader));
  EXPECT_EQ((Rows{{0, 0, 1, 1, 11, 1, "v"}}), rowsOf(13));
}

TEST_P(MsgParamsTest, ArgumentsLongerThanTheDataColumnAreCutOnACharacterBoundary) {
  std::vector<std::string> list{"xx1", "12" + repeatChar("\xE2\x82\xAC", 1000)};
  ASSERT_TRUE(params.AddMsgParams(14, list));
  const auto rows = rowsOf(14);
  ASSERT_EQ(1u, rows.size());
  EXPECT_TRUE(rows[0].data == repeatChar("\xE2\x82\xAC", 682)) << rows[0].data.size();
  EXPECT_EQ(2046, rows[0].size);
}

// Three rows per folder; a percentage of zero shows as 0%, never another row's
// text, and a folder without figures gives no rows.
TEST_P(MsgParamsTest, FreeSpaceGivesThreeRowsPerFolderAndPercentagesShowZeroAsZero) {
  struct Case {
    bool percent;
    std::vector<int> freeSpace, thresholds;
    std::vector<std::string> folders;
    std::vector<std::string> data;  // type 5 for megabytes, 11 for percentages
  };
  Case cases[] = {  // AddMsgParams takes its lists by reference
      {false, {512, 1048576}, {2048, 0}, {"/data", "/it's"},
       {"/data", "2.00 GB", "512 MB", "/it's", "0 MB", "1.00 TB"}},
      {true, {0, 7}, {15, 0}, {"/a", "/b", "/unused"}, {"/a", "15%", "0%", "/b", "0%", "7%"}}};
  int eventId = 20;
  for (Case& c : cases) {
    ASSERT_TRUE(params.AddMsgParams(eventId, c.freeSpace, c.thresholds, c.folders, c.percent));
    Rows expected;
    for (int i = 0; i < 6; ++i)
      expected.push_back({kFreeToken, i / 3, kFreeMsg, i % 3 + 1, i % 3 && !c.percent ? 5 : 11, 0, c.data[i]});
    EXPECT_EQ(expected, rowsOf(eventId++)) << (c.percent ? "percent" : "megabytes");
  }
}

TEST_P(MsgParamsTest, FreeSpaceListsThatDoNotMatchAreRefusedWhole) {
  std::vector<int> freeSpace{1, 2}, thresholds{1};
  std::vector<std::string> folders{"/a", "/b"};
  EXPECT_FALSE(params.AddMsgParams(22, freeSpace, thresholds, folders, true));
  thresholds.push_back(2);
  folders.pop_back();
  EXPECT_FALSE(params.AddMsgParams(22, freeSpace, thresholds, folders, true));
  EXPECT_TRUE(rowsOf(22).empty());
}

// A reason longer than its buffer is copied cut, keeps its size, and the rest follow.
TEST_P(MsgParamsTest, FailureReasonsCopyTheArgumentsOfEachReason) {
  exec("INSERT INTO JMFailureReasonMsgParam (msgId, eventid, position, type, size, data) VALUES "
       "(10, 500, 1, 11, 3000, '" + std::string(3000, 'x') + "'), (10, 500, 2, 11, 6, 'disk''s'), "
       "(20, 600, 1, 11, 1, 'z'), (30, 700, 1, 11, 1, 'not asked')");
  std::vector<int> reasons{10, 99, 20};
  ASSERT_TRUE(params.AddJMFailureReason(40, reasons));
  auto rows = rowsOf(40);
  std::sort(rows.begin(), rows.end(), [](const MsgRow& a, const MsgRow& b) { return a.key() < b.key(); });
  EXPECT_EQ((Rows{{kReasonToken, 10, 500, 1, 11, 3000, std::string(2046, 'x')},
                  {kReasonToken, 10, 500, 2, 11, 6, "disk's"},
                  {kReasonToken, 20, 600, 1, 11, 1, "z"}}),
            rows);

  // In the order asked, a reason asked twice twice, each reason's arguments in stored order.
  std::vector<int> again{20, 10, 20};
  ASSERT_TRUE(params.AddJMFailureReason(42, again));
  std::vector<std::string> data;
  for (const MsgRow& r : rowsOf(42)) data.push_back(r.data.substr(0, 6));
  EXPECT_EQ((std::vector<std::string>{"z", "xxxxxx", "disk's", "z"}), data);

  // A reason that cannot be read fails the call instead of leaving its
  // message without arguments.
  exec("DROP TABLE JMFailureReasonMsgParam");
  EXPECT_FALSE(params.AddJMFailureReason(41, reasons));
  EXPECT_TRUE(rowsOf(41).empty());
}

TEST_P(MsgParamsTest, SizesAreStoredAsTheUnitMessageOfTheirRange) {
  ASSERT_TRUE(params.AddParamWithSizeUnits(40, ParamBytesToBeCopied, 1125899906842624LL, 0));
  EvEvent expected;
  expected << "1024.00";
  std::string text;
  ASSERT_TRUE(expected.render(EvMsg::kSizeTB, text));
  char stored[256];
  ASSERT_TRUE(params.GetOneParam(40, ParamBytesToBeCopied, stored, sizeof stored));
  EXPECT_EQ(text, stored);
}

TEST(SizeText, MegabytesAreRangedInSinglePrecisionAndPercentagesKeepTheTextForZero) {
  char out[64];
  EXPECT_EQ(out, AutoRangeSizeInMegaByte(-1048576, out, 2));
  EXPECT_STREQ("-1.00 TB", out);
  // 2^24 + 1 has no float of its own: single precision reads it as 2^24.
  AutoRangeSizeInMegaByte(16777217, out, 6);
  EXPECT_STREQ("16.000000 TB", out);
  std::string percent = "old";
  convertIntFreeSpaceIntoStringPercentage(-3, percent);
  EXPECT_EQ("-3%", percent);
  convertIntFreeSpaceIntoStringPercentage(0, percent);
  EXPECT_EQ("-3%", percent);
  // One spot check of the table, and a code it does not list.
  EXPECT_EQ("Updated successfully", getStatusText(2));
  EXPECT_EQ("99", getStatusText(99));
}

TEST_P(MsgParamsTest, FormatMsgReadsTheLocalizedTextOrFails) {
  exec("INSERT INTO NTLocaleMsg (msgId, locale, msgText) VALUES (100, 0, 'Job %1 failed'), "
       "(100, 2, 'Travail d''%1 en échec')");
  // Which locale wins is the procedure's business.
  std::string text = "unchanged";
  ASSERT_TRUE(params.FormatMsg(100, text, 2, 0));
  EXPECT_EQ("Travail d'%1 en échec", text);
  text = "unchanged";
  EXPECT_FALSE(params.FormatMsg(101, text, 0, 0));
  EXPECT_EQ("unchanged", text);
}

EVD_INSTANTIATE_BACKENDS(MsgParamsTest);

}  // namespace

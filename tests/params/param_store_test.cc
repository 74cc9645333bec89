// The typed parameter store (NTDparams) on both backends: rendering, cuts,
// update-or-insert, list inserts and their transaction, reads, the presence
// test and the deletes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <ctime>
#include <string>
#include <tuple>
#include <vector>

#include "Db/AllBindings.h"
#include "params/EvNDetectParams.h"
#include "support/db_fixture.h"

namespace {

// Long texts compared without printing them whole on a mismatch.
::testing::AssertionResult sameValues(const std::vector<std::string>& expected, const std::vector<std::string>& actual) {
  if (expected == actual) return ::testing::AssertionSuccess();
  auto r = ::testing::AssertionFailure() << "expected " << expected.size() << " values, got " << actual.size();
  for (size_t i = 0; i < expected.size() && i < actual.size(); ++i)
    r << "; [" << i << "] " << expected[i].size() << " vs " << actual[i].size() << " bytes"
      << (expected[i] == actual[i] ? "" : " (differ)");
  return r;
}

struct StoredParam {
  int type;
  std::string value;
  long long created;
};

class ParamStoreTest : public evd::test::DbTest {
 protected:
  // The rows of an event in insertion order.
  std::vector<StoredParam> rowsOf(int eventId) {
    std::vector<StoredParam> rows;
    NTDparams t(nullptr);
    t.setWhere("eventId = %d", eventId);
    t.setOrderBy("evdRowId");
    int counter = 0;
    while (t.getNextRow(&counter) == 0) rows.push_back({t.getDataPtr()->type, t.getDataPtr()->value, t.getDataPtr()->created});
    return rows;
  }

  std::vector<std::string> valuesOf(int eventId, NotiParamTypes type) {
    std::vector<std::string> v;
    for (const StoredParam& r : rowsOf(eventId))
      if (r.type == type) v.push_back(r.value);
    return v;
  }

  long long paramRows(int eventId) { return countRows("NTDparams WHERE eventId = " + std::to_string(eventId)); }

  EvNDetectParams params{nullptr};
};

// ---- rendering and cuts ----

TEST_P(ParamStoreTest, NumbersAreRenderedSignedForIntAndUnsignedForLongAndLongLong) {
  ASSERT_TRUE(params.AddParam(1, ParamPhaseFailureCount, -1));
  ASSERT_TRUE(params.AddParam(1, ParamWhomId, -1L));
  ASSERT_TRUE(params.AddParam(1, ParamSuppressionObjectId, -1LL));
  ASSERT_TRUE(params.AddParam(1, ParamPrevJobId, 9007199254740993LL));
  ASSERT_TRUE(params.AddOrUpdateParam(1, ParamJobId, -7));
  ASSERT_TRUE(params.AddOrUpdateParam(1, ParamRecallTime, -2L));
  ASSERT_TRUE(params.AddParams(1, ParamClientIdList, std::vector<int>{-1, 0, 2147483647}));

  EXPECT_EQ(std::vector<std::string>{"-1"}, valuesOf(1, ParamPhaseFailureCount));
  EXPECT_EQ(std::vector<std::string>{"18446744073709551615"}, valuesOf(1, ParamWhomId));
  EXPECT_EQ(std::vector<std::string>{"18446744073709551615"}, valuesOf(1, ParamSuppressionObjectId));
  EXPECT_EQ(std::vector<std::string>{"9007199254740993"}, valuesOf(1, ParamPrevJobId));
  EXPECT_EQ(std::vector<std::string>{"-7"}, valuesOf(1, ParamJobId));
  EXPECT_EQ(std::vector<std::string>{"18446744073709551614"}, valuesOf(1, ParamRecallTime));
  EXPECT_EQ((std::vector<std::string>{"-1", "0", "2147483647"}), valuesOf(1, ParamClientIdList));
}

TEST_P(ParamStoreTest, LongTextsAreCutToTheColumnWithoutSplittingACharacter) {
  const std::string ascii(9000, 'a');
  ASSERT_TRUE(params.AddParam(2, ParamDescription, ascii.c_str()));
  EXPECT_TRUE(sameValues({ascii.substr(0, 8000)}, valuesOf(2, ParamDescription)));

  // 3000 three-byte characters: byte 8000 falls inside one, so 7998 stay.
  std::string euros;
  for (int i = 0; i < 3000; ++i) euros += "\xE2\x82\xAC";
  ASSERT_TRUE(params.AddParam(2, ParamComment, euros.c_str()));
  ASSERT_TRUE(params.AddOrUpdateParam(2, ParamJobErrorString, euros.c_str()));
  ASSERT_TRUE(params.AddParams(2, ParamBarcodeList, std::vector<std::string>{euros}));
  for (NotiParamTypes t : {ParamComment, ParamJobErrorString, ParamBarcodeList})
    EXPECT_TRUE(sameValues({euros.substr(0, 7998)}, valuesOf(2, t))) << t;

  const std::string exact(8000, 'b');
  ASSERT_TRUE(params.AddParam(2, ParamReportName, exact.c_str()));
  EXPECT_TRUE(sameValues({exact}, valuesOf(2, ParamReportName)));
}

TEST(ParamTextConversion, CopiesAtMostSizeMinusOneBytesAndAlwaysTerminates) {
  char buf[6];
  std::memset(buf, 'x', sizeof buf);
  UTF8Char2WideChar(buf, sizeof buf, "abcdefgh");
  EXPECT_STREQ("abcde", buf);
  UTF8Char2WideChar(buf, sizeof buf, nullptr);
  EXPECT_STREQ("", buf);
  UTF8Char2WideChar(buf, 3, "\xC3\xA9\xC3\xA9");  // é é: the second one does not fit
  EXPECT_STREQ("\xC3\xA9", buf);
}

TEST(ParamRowBuffers, AllocateAndAssignReplacesTheFieldWithACopy) {
  char* field = nullptr;
  EXPECT_EQ(field, EvNDetectParams::AllocateAndAssign(field, "Client|42"));
  ASSERT_NE(nullptr, field);
  EXPECT_STREQ("Client|42", field);
  std::string longer(300, 'z');
  EvNDetectParams::AllocateAndAssign(field, longer);
  EXPECT_EQ(longer, field);
  EvNDetectParams::AllocateAndAssign(field, "");
  EXPECT_STREQ("", field);
  delete[] field;
}

// ---- inserts and updates ----

TEST_P(ParamStoreTest, AddParamKeepsEveryValueWhileAddOrUpdateKeepsOne) {
  ASSERT_TRUE(params.AddParam(3, ParamMediaList, "first"));
  ASSERT_TRUE(params.AddParam(3, ParamMediaList, "second"));
  EXPECT_EQ((std::vector<std::string>{"first", "second"}), valuesOf(3, ParamMediaList));

  exec("INSERT INTO NTDparams (eventId, type, value, created) VALUES (3, 26, 'old', 5)");
  const long long before = static_cast<long long>(time(nullptr));
  ASSERT_TRUE(params.AddOrUpdateParam(3, ParamSuppressionObjectType, "Client"));
  ASSERT_TRUE(params.AddOrUpdateParam(3, ParamSuppressionObjectType, "MediaAgent"));
  std::vector<StoredParam> rows;
  for (const StoredParam& r : rowsOf(3))
    if (r.type == ParamSuppressionObjectType) rows.push_back(r);
  ASSERT_EQ(1u, rows.size());
  EXPECT_EQ("MediaAgent", rows[0].value);
  EXPECT_GE(rows[0].created, before);

  // A new pair is inserted once and then updated in place.
  ASSERT_TRUE(params.AddOrUpdateParam(4, ParamSuppressionObjectId, 42LL));
  ASSERT_TRUE(params.AddOrUpdateParam(4, ParamSuppressionObjectId, 43LL));
  EXPECT_EQ(std::vector<std::string>{"43"}, valuesOf(4, ParamSuppressionObjectId));
  EXPECT_EQ(1, paramRows(4));

  // Every row of the pair takes the new value; other types and events keep theirs.
  exec("INSERT INTO NTDparams (eventId, type, value, created) VALUES (5, 27, 'a', 1), (5, 27, 'b', 1), "
       "(5, 26, 'other type', 1), (6, 27, 'other event', 1)");
  ASSERT_TRUE(params.AddOrUpdateParam(5, ParamSuppressionObjectId, "c"));
  EXPECT_EQ((std::vector<std::string>{"c", "c"}), valuesOf(5, ParamSuppressionObjectId));
  EXPECT_EQ(std::vector<std::string>{"other type"}, valuesOf(5, ParamSuppressionObjectType));
  EXPECT_EQ(std::vector<std::string>{"other event"}, valuesOf(6, ParamSuppressionObjectId));
}

// Plain inserts bind their values (the binding tests cover that); the update
// of an existing pair goes through a literal of its own.
TEST_P(ParamStoreTest, ValuesWithQuotesPassThroughTheUpdateOfAPairIntact) {
  const char* tricky = "O'Brien's \"job\"; DROP TABLE NTDparams; -- %s %d ''";
  ASSERT_TRUE(params.AddOrUpdateParam(7, ParamSubclientName, "first"));
  ASSERT_TRUE(params.AddOrUpdateParam(7, ParamSubclientName, tricky));
  char text[256];
  ASSERT_TRUE(params.GetOneParam(7, ParamSubclientName, text, sizeof text));
  EXPECT_STREQ(tricky, text);
  EXPECT_EQ(1, paramRows(7));
}

// ---- list inserts ----

TEST_P(ParamStoreTest, ListInsertStoresEveryElementInOrderWithOneTimestamp) {
  std::vector<std::string> values;
  for (int i = 0; i < 250; ++i) values.push_back("media" + std::to_string(i));
  ASSERT_TRUE(params.AddParams(8, ParamMediaList, values));
  EXPECT_EQ(values, valuesOf(8, ParamMediaList));
  EXPECT_EQ(1, queryInt("SELECT COUNT(DISTINCT created) FROM NTDparams WHERE eventId = 8"));
  EXPECT_EQ(nullptr, params.transaction());

  ASSERT_TRUE(params.AddParams(9, ParamMediaList, std::vector<std::string>{}));
  EXPECT_EQ(0, paramRows(9));
}

TEST_P(ParamStoreTest, ListInsertWithItsOwnTransactionTakesBackEveryRowOfAFailedCall) {
  ASSERT_TRUE(params.AddParam(10, ParamMediaList, "before"));
  refuseInserts("NTDparams", "value", "refused");
  EXPECT_FALSE(params.AddParams(10, ParamMediaList, std::vector<std::string>{"one", "two", "refused", "four"}));
  EXPECT_EQ(nullptr, params.transaction());
  EXPECT_EQ(std::vector<std::string>{"before"}, valuesOf(10, ParamMediaList));

  // The connection is usable again, outside any transaction.
  ASSERT_TRUE(params.AddParams(10, ParamMediaList, std::vector<std::string>{"after"}));
  EXPECT_EQ((std::vector<std::string>{"before", "after"}), valuesOf(10, ParamMediaList));
  EXPECT_FALSE(params.AddParam(10, ParamMediaList, "refused"));
  EXPECT_EQ(2, paramRows(10));
}

TEST_P(ParamStoreTest, ListInsertLeavesACallersTransactionToTheCaller) {
  refuseInserts("NTDparams", "value", "refused");
  struct Case {
    int eventId;
    std::vector<std::string> values;
    bool ok, commit;
    std::vector<std::string> stored;
  };
  const Case cases[] = {
      {11, {"a", "b"}, true, false, {}},
      {12, {"kept"}, true, true, {"kept"}},
      // A failed element fails the call; the transaction stays the caller's.
      {13, {"x", "refused", "y"}, false, false, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.eventId);
    DBtran tran;
    ASSERT_EQ(0, tran.startTran());
    EvNDetectParams inTran(&tran);
    EXPECT_EQ(c.ok, inTran.AddParams(c.eventId, ParamMediaList, c.values));
    EXPECT_EQ(&tran, inTran.transaction());
    EXPECT_TRUE(tran.isActive());
    ASSERT_EQ(0, c.commit ? tran.commitTran() : tran.rollbackTran());
    EXPECT_EQ(c.stored, valuesOf(c.eventId, ParamMediaList));
  }
}

// ---- reads ----

TEST_P(ParamStoreTest, GetOneParamReadsTheFirstValueAndConvertsNumbers) {
  ASSERT_TRUE(params.AddParam(20, ParamJobId, 1234));
  ASSERT_TRUE(params.AddParam(20, ParamJobId, 999));
  ASSERT_TRUE(params.AddParam(20, ParamPrevJobId, 5000000000LL));
  ASSERT_TRUE(params.AddParam(20, ParamClientName, "abc"));
  ASSERT_TRUE(params.AddParam(20, ParamComment, ""));

  // Int reads: the first value, 0 for a text or an empty value, false and 0 without a row.
  for (const auto& [type, found, value] : std::vector<std::tuple<NotiParamTypes, bool, int>>{
           {ParamJobId, true, 1234}, {ParamClientName, true, 0}, {ParamComment, true, 0}, {ParamMountPath, false, 0}}) {
    int i = -1;
    EXPECT_EQ(found, params.GetOneParam(20, type, i)) << type;
    EXPECT_EQ(value, i) << type;
  }
  long long ll = -1;
  EXPECT_TRUE(params.GetOneParam(20, ParamPrevJobId, ll));
  EXPECT_EQ(5000000000LL, ll);
  ll = -1;
  EXPECT_FALSE(params.GetOneParam(21, ParamPrevJobId, ll));
  EXPECT_EQ(0, ll);

  char text[4];
  std::memset(text, 'x', sizeof text);
  EXPECT_FALSE(params.GetOneParam(20, ParamMountPath, text, sizeof text));
  EXPECT_EQ(std::string(sizeof text, '\0'), std::string(text, sizeof text));
  ASSERT_TRUE(params.AddParam(20, ParamDescription, "abcdef"));
  EXPECT_TRUE(params.GetOneParam(20, ParamDescription, text, sizeof text));
  EXPECT_STREQ("abc", text);
}

TEST_P(ParamStoreTest, GetParamsAppendsEveryValueOfTheType) {
  std::vector<std::string> out{"kept"};
  EXPECT_TRUE(params.GetParams(30, ParamUpdatesList, out));
  EXPECT_EQ(std::vector<std::string>{"kept"}, out);

  ASSERT_TRUE(params.AddParams(30, ParamUpdatesList, std::vector<std::string>{"u1", "u2"}));
  ASSERT_TRUE(params.AddParam(30, ParamMediaList, "other type"));
  ASSERT_TRUE(params.AddParam(31, ParamUpdatesList, "other event"));
  EXPECT_TRUE(params.GetParams(30, ParamUpdatesList, out));
  std::sort(out.begin() + 1, out.end());
  EXPECT_EQ((std::vector<std::string>{"kept", "u1", "u2"}), out);
}

TEST_P(ParamStoreTest, PresenceTestMatchesTheTextOfTheCallersLiteral) {
  ASSERT_TRUE(params.AddParam(40, ParamClientName, "it's"));
  ASSERT_TRUE(params.AddParam(40, ParamClientName, "plain"));
  ASSERT_TRUE(params.AddParam(40, ParamJobId, 42));
  ASSERT_TRUE(params.AddParam(41, ParamClientName, "elsewhere"));

  EXPECT_TRUE(params.IsParamPresentWithValue(40, ParamClientName, "N'it''s'"));
  EXPECT_TRUE(params.IsParamPresentWithValue(40, ParamClientName, "'plain'"));
  EXPECT_TRUE(params.IsParamPresentWithValue(40, ParamClientName, " n'plain' "));
  EXPECT_TRUE(params.IsParamPresentWithValue(40, ParamJobId, "42"));
  EXPECT_FALSE(params.IsParamPresentWithValue(40, ParamJobId, "43"));
  EXPECT_FALSE(params.IsParamPresentWithValue(40, ParamClientName, "N'elsewhere'"));
  EXPECT_FALSE(params.IsParamPresentWithValue(40, ParamMediaList, "N'plain'"));

  // Nothing of the literal reaches the statement as SQL.
  EXPECT_FALSE(params.IsParamPresentWithValue(40, ParamClientName, "N'x' or 1=1 or value = 'plain'"));
  EXPECT_FALSE(params.IsParamPresentWithValue(40, ParamJobId, "0 or 1=1"));
  EXPECT_FALSE(params.IsParamPresentWithValue(40, ParamClientName, "N'unclosed"));
  EXPECT_FALSE(params.IsParamPresentWithValue(40, ParamClientName, nullptr));
  EXPECT_EQ(4, countRows("NTDparams"));
}

// ---- deletes ----

TEST_P(ParamStoreTest, ClearingAnEventKeepsTypes143And144ClearingATypeOrTheMessageParametersKeepsTheRest) {
  EXPECT_TRUE(params.ClearEventParams(50));  // nothing to delete
  exec("INSERT INTO NTDparams (eventId, type, value, created) VALUES (50, 143, 'a', 1), (50, 144, 'b', 1), "
       "(50, 1, 'c', 1), (50, 142, 'd', 1), (50, 145, 'e', 1), (51, 1, 'f', 1)");
  EXPECT_TRUE(params.ClearEventParams(50));
  std::vector<int> types;
  for (const StoredParam& r : rowsOf(50)) types.push_back(r.type);
  EXPECT_EQ((std::vector<int>{143, 144}), types);
  EXPECT_EQ(1, countRows("NTDparams WHERE eventId = 51"));

  ASSERT_TRUE(params.AddParams(60, ParamMediaList, std::vector<std::string>{"a", "b"}));
  ASSERT_TRUE(params.AddParam(60, ParamComment, "stays"));
  for (int i = 0; i < 2; ++i) EXPECT_TRUE(params.ClearEventParams(60, ParamMediaList)) << i;
  EXPECT_EQ(std::vector<std::string>{}, valuesOf(60, ParamMediaList));
  EXPECT_EQ(std::vector<std::string>{"stays"}, valuesOf(60, ParamComment));

  exec("INSERT INTO NTDMsgParam (eventId, msgIndex, data) VALUES (60, 1, 'x'), (60, 2, 'y'), (61, 1, 'z')");
  for (int i = 0; i < 2; ++i) EXPECT_TRUE(params.ClearMsgParams(60)) << i;
  EXPECT_EQ(0, countRows("NTDMsgParam WHERE eventId = 60"));
  EXPECT_EQ(1, countRows("NTDMsgParam WHERE eventId = 61"));
}

EVD_INSTANTIATE_BACKENDS(ParamStoreTest);

}  // namespace

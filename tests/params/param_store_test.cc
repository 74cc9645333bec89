// The typed parameter store (NTDparams) on both backends: rendering, cuts,
// update-or-insert, list inserts and their transaction, reads, the presence
// test and the deletes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <tuple>
#include <vector>

#include "Db/AllBindings.h"
#include "params/EvNDetectParams.h"
#include "support/db_fixture.h"

namespace {

class ParamStoreTest : public evd::test::DbTest {
 protected:
  // The values of one type of an event in insertion order.
  std::vector<std::string> valuesOf(int eventId, NotiParamTypes type) {
    std::vector<std::string> v;
    NTDparams t(nullptr);
    t.setWhere("eventId = %d AND type = %d", eventId, static_cast<int>(type));
    t.setOrderBy("evdRowId");
    int counter = 0;
    while (t.getNextRow(&counter) == 0) v.push_back(t.getDataPtr()->value);
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
  EXPECT_EQ(std::vector<std::string>{"-1"}, valuesOf(1, ParamPhaseFailureCount));
  EXPECT_EQ(std::vector<std::string>{"18446744073709551615"}, valuesOf(1, ParamWhomId));
  EXPECT_EQ(std::vector<std::string>{"18446744073709551615"}, valuesOf(1, ParamSuppressionObjectId));
}

TEST_P(ParamStoreTest, LongTextsAreCutToTheColumnWithoutSplittingACharacter) {
  const std::string ascii(9000, 'a');
  ASSERT_TRUE(params.AddParam(2, ParamDescription, ascii.c_str()));
  EXPECT_TRUE(valuesOf(2, ParamDescription) == std::vector<std::string>{ascii.substr(0, 8000)});

  // 3000 three-byte characters: byte 8000 falls inside one, so 7998 stay.
  std::string euros;
  for (int i = 0; i < 3000; ++i) euros += "\xE2\x82\xAC";
  ASSERT_TRUE(params.AddParam(2, ParamComment, euros.c_str()));
  ASSERT_TRUE(params.AddParams(2, ParamBarcodeList, std::vector<std::string>{euros}));
  for (NotiParamTypes t : {ParamComment, ParamBarcodeList})
    EXPECT_TRUE(valuesOf(2, t) == std::vector<std::string>{euros.substr(0, 7998)}) << t;
}

TEST(ParamTextConversion, CopiesAtMostSizeMinusOneBytesAndAlwaysTerminates) {
  char buf[6];
  std::memset(buf, 'x', sizeof buf);
  UTF8Char2WideChar(buf, sizeof buf, "abcdefgh");
  EXPECT_STREQ("abcde", buf);
  UTF8Char2WideChar(buf, 3, "\xC3\xA9\xC3\xA9");  // é é: the second one does not fit
  EXPECT_STREQ("\xC3\xA9", buf);
}

// ---- inserts and updates ----

TEST_P(ParamStoreTest, AddOrUpdateKeepsOneValuePerPair) {
  // A new pair is inserted once and then updated in place.
  ASSERT_TRUE(params.AddOrUpdateParam(4, ParamSuppressionObjectId, 42LL));
  ASSERT_TRUE(params.AddOrUpdateParam(4, ParamSuppressionObjectId, 43LL));
  EXPECT_EQ(std::vector<std::string>{"43"}, valuesOf(4, ParamSuppressionObjectId));

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

TEST_P(ParamStoreTest, ListInsertWithItsOwnTransactionTakesBackEveryRowOfAFailedCall) {
  ASSERT_TRUE(params.AddParam(10, ParamMediaList, "before"));
  refuseInserts("NTDparams", "value", "refused");
  EXPECT_FALSE(params.AddParams(10, ParamMediaList, std::vector<std::string>{"one", "two", "refused", "four"}));
  EXPECT_EQ(nullptr, params.transaction());
  EXPECT_EQ(std::vector<std::string>{"before"}, valuesOf(10, ParamMediaList));

  // The connection is usable again, outside any transaction; a list keeps its
  // order and shares one timestamp.
  ASSERT_TRUE(params.AddParams(11, ParamMediaList, std::vector<std::string>{"m0", "m1", "m2"}));
  EXPECT_EQ((std::vector<std::string>{"m0", "m1", "m2"}), valuesOf(11, ParamMediaList));
  EXPECT_EQ(1, queryInt("SELECT COUNT(DISTINCT created) FROM NTDparams WHERE eventId = 11"));
  EXPECT_EQ(nullptr, params.transaction());
}

TEST_P(ParamStoreTest, AFailedListInsertLeavesACallersTransactionToTheCaller) {
  refuseInserts("NTDparams", "value", "refused");
  DBtran tran;
  ASSERT_EQ(0, tran.startTran());
  EvNDetectParams inTran(&tran);
  EXPECT_FALSE(inTran.AddParams(13, ParamMediaList, std::vector<std::string>{"x", "refused", "y"}));
  EXPECT_EQ(&tran, inTran.transaction());
  EXPECT_TRUE(tran.isActive());
  ASSERT_EQ(0, tran.rollbackTran());
  EXPECT_EQ(0, paramRows(13));
}

// ---- reads ----

TEST_P(ParamStoreTest, GetOneParamReadsTheFirstValueAndGetParamsEveryValue) {
  ASSERT_TRUE(params.AddParam(20, ParamJobId, 1234));
  ASSERT_TRUE(params.AddParam(20, ParamPrevJobId, 5000000000LL));
  ASSERT_TRUE(params.AddParam(20, ParamClientName, "abc"));

  // Int reads: the first value, 0 for a text or an empty value, false and 0 without a row.
  for (const auto& [type, found, value] : std::vector<std::tuple<NotiParamTypes, bool, int>>{
           {ParamJobId, true, 1234}, {ParamClientName, true, 0}, {ParamMountPath, false, 0}}) {
    int i = -1;
    EXPECT_EQ(found, params.GetOneParam(20, type, i)) << type;
    EXPECT_EQ(value, i) << type;
  }
  long long ll = -1;
  EXPECT_TRUE(params.GetOneParam(20, ParamPrevJobId, ll));
  EXPECT_EQ(5000000000LL, ll);

  char text[4];
  std::memset(text, 'x', sizeof text);
  EXPECT_FALSE(params.GetOneParam(20, ParamMountPath, text, sizeof text));
  EXPECT_EQ(std::string(sizeof text, '\0'), std::string(text, sizeof text));
  ASSERT_TRUE(params.AddParam(20, ParamDescription, "abcdef"));
  EXPECT_TRUE(params.GetOneParam(20, ParamDescription, text, sizeof text));
  EXPECT_STREQ("abc", text);

  // GetParams appends every value of the type, of this event only.
  std::vector<std::string> out{"kept"};
  ASSERT_TRUE(params.AddParams(20, ParamUpdatesList, std::vector<std::string>{"u1", "u2"}));
  ASSERT_TRUE(params.AddParam(21, ParamUpdatesList, "other event"));
  EXPECT_TRUE(params.GetParams(20, ParamUpdatesList, out));
  std::sort(out.begin() + 1, out.end());
  EXPECT_EQ((std::vector<std::string>{"kept", "u1", "u2"}), out);
}

TEST_P(ParamStoreTest, PresenceTestMatchesTheTextOfTheCallersLiteral) {
  ASSERT_TRUE(params.AddParam(40, ParamClientName, "it's"));
  ASSERT_TRUE(params.AddParam(40, ParamJobId, 42));
  ASSERT_TRUE(params.AddParam(41, ParamClientName, "elsewhere"));

  EXPECT_TRUE(params.IsParamPresentWithValue(40, ParamClientName, " N'it''s' "));
  EXPECT_TRUE(params.IsParamPresentWithValue(40, ParamJobId, "42"));
  EXPECT_FALSE(params.IsParamPresentWithValue(40, ParamClientName, "N'elsewhere'"));
  // Nothing of the literal reaches the statement as SQL.
  EXPECT_FALSE(params.IsParamPresentWithValue(40, ParamClientName, "N'x' or 1=1 or value = 'it''s'"));
  EXPECT_FALSE(params.IsParamPresentWithValue(40, ParamClientName, nullptr));
}

// ---- deletes ----

TEST_P(ParamStoreTest, ClearingAnEventKeepsTypes143And144ClearingATypeOrTheMessageParametersKeepsTheRest) {
  exec("INSERT INTO NTDparams (eventId, type, value, created) VALUES (50, 143, 'a', 1), (50, 144, 'b', 1), "
       "(50, 1, 'c', 1), (50, 142, 'd', 1), (50, 145, 'e', 1), (51, 1, 'f', 1)");
  EXPECT_TRUE(params.ClearEventParams(50));
  EXPECT_EQ(2, countRows("NTDparams WHERE eventId = 50 AND type IN (143, 144)"));
  EXPECT_EQ(2, paramRows(50));
  EXPECT_EQ(1, countRows("NTDparams WHERE eventId = 51"));

  ASSERT_TRUE(params.AddParams(60, ParamMediaList, std::vector<std::string>{"a", "b"}));
  ASSERT_TRUE(params.AddParam(60, ParamComment, "stays"));
  EXPECT_TRUE(params.ClearEventParams(60, ParamMediaList));
  EXPECT_EQ(std::vector<std::string>{}, valuesOf(60, ParamMediaList));
  EXPECT_EQ(std::vector<std::string>{"stays"}, valuesOf(60, ParamComment));

  exec("INSERT INTO NTDMsgParam (eventId, msgIndex, data) VALUES (60, 1, 'x'), (60, 2, 'y'), (61, 1, 'z')");
  EXPECT_TRUE(params.ClearMsgParams(60));
  EXPECT_EQ(0, countRows("NTDMsgParam WHERE eventId = 60"));
  EXPECT_EQ(1, countRows("NTDMsgParam WHERE eventId = 61"));
}

// A list whose own transaction could not start or commit was not stored, and
// the call says so. SQLite refuses to begin inside a transaction opened behind
// the store's back; PostgreSQL refuses the commit through a deferred check.
TEST_P(ParamStoreTest, AListInsertWhoseTransactionCannotStartOrCommitFails) {
  if (isPostgres()) {
    exec("CREATE OR REPLACE FUNCTION evd_refuse_late() RETURNS trigger LANGUAGE plpgsql AS "
         "$$BEGIN IF NEW.value = 'late' THEN RAISE EXCEPTION 'refused at commit'; END IF; RETURN NEW; END$$");
    exec("CREATE CONSTRAINT TRIGGER evd_refuse_late AFTER INSERT ON NTDparams DEFERRABLE INITIALLY DEFERRED "
         "FOR EACH ROW EXECUTE FUNCTION evd_refuse_late()");
    const bool stored = params.AddParams(14, ParamMediaList, std::vector<std::string>{"early", "late"});
    exec("DROP TRIGGER evd_refuse_late ON NTDparams");
    EXPECT_FALSE(stored);
    EXPECT_EQ(0, paramRows(14));
  } else {
    exec("BEGIN");
    const bool stored = params.AddParams(14, ParamMediaList, std::vector<std::string>{"early", "late"});
    const long long inside = paramRows(14);
    exec("ROLLBACK");
    EXPECT_FALSE(stored);
    EXPECT_EQ(0, inside);
  }
  EXPECT_EQ(nullptr, params.transaction());
  ASSERT_TRUE(params.AddParams(14, ParamMediaList, std::vector<std::string>{"after"}));
  EXPECT_EQ(std::vector<std::string>{"after"}, valuesOf(14, ParamMediaList));
}

EVD_INSTANTIATE_BACKENDS(ParamStoreTest);

}  // namespace

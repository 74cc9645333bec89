// Named properties of a notification rule, on both backends: defaults for
// missing properties, the cache (loaded once, reloaded after a clear), the
// write-through (insert, or value-only update of the current row) and texts
// with quotes.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "Db/AllBindings.h"
#include "host/EvAlertDebug.h"
#include "params/EvNTRuleParams.h"
#include "support/alert_log.h"
#include "support/db_fixture.h"

namespace {

const std::string kMatchedTime = "Last Value Filter condition Matched time";

class RuleParamsTest : public evd::test::DbTest {
 protected:
  static std::string q(const std::string& text) { return evd::test::sqlText(text); }
  static std::string n(long long v) { return std::to_string(v); }

  void prop(int alertId, const std::string& name, int type, const std::string& value, long long created = 1000,
            long long modified = 0) {
    exec("INSERT INTO NTnotificationProp (componentNameId, attrName, attrType, attrVal, created, modified) VALUES (" +
         n(alertId) + ", " + q(name) + ", " + n(type) + ", " + q(value) + ", " + n(created) + ", " + n(modified) +
         ")");
  }
  // Changes a stored value without going through the class.
  void setBehindCache(int alertId, const std::string& name, const std::string& value) {
    exec("UPDATE NTnotificationProp SET attrVal = " + q(value) + " WHERE componentNameId = " + n(alertId) +
         " AND attrName = " + q(name));
  }
  long long rows(int alertId, const std::string& name, const std::string& extra = "") {
    return queryInt("SELECT COUNT(*) FROM NTnotificationProp WHERE componentNameId = " + n(alertId) +
                    " AND attrName = " + q(name) + extra);
  }
  std::string column(int alertId, const std::string& name, const std::string& col, const std::string& extra = "") {
    return queryText("SELECT " + col + " FROM NTnotificationProp WHERE componentNameId = " + n(alertId) +
                     " AND attrName = " + q(name) + extra);
  }

  evd::test::AlertLogCapture log_;
};

// ---- reading --------------------------------------------------------------

TEST_P(RuleParamsTest, MissingPropertyGivesDefaultsInEveryFormAndLeavesCacheLoaded) {
  prop(2, "Other", 1, "x");
  EvNTRuleParams r(nullptr);
  r.setAlertId(1);

  int i = 5;
  long long ll = 5;
  std::string s = "stale";
  char buf[8];
  std::memset(buf, 'x', sizeof buf);
  EXPECT_TRUE(r.GetOneParam("Other", i)) << "a property of another rule";
  EXPECT_EQ(0, i);
  EXPECT_TRUE(r.GetOneParam("Missing", ll));
  EXPECT_EQ(0, ll);
  EXPECT_TRUE(r.GetOneParam("Missing", s));
  EXPECT_EQ("", s);
  EXPECT_TRUE(r.GetOneParam("Missing", buf, sizeof buf));
  EXPECT_EQ(std::string(sizeof buf, '\0'), std::string(buf, sizeof buf));
  EXPECT_TRUE(r.isLoaded());

  ApplProperty p("Missing", 1, "");
  EXPECT_EQ(0x80001, r.getProperty(p));
}

TEST_P(RuleParamsTest, ReadFormsConvertTheStoredText) {
  prop(1, "Int", 7, "42");
  prop(1, "Big", 14, "9007199254740993");
  prop(1, "Text", 1, "abcdefghij");
  prop(1, "NotANumber", 1, "abc");
  EvNTRuleParams r(nullptr);
  r.setAlertId(1);

  int i = 0;
  long long ll = 0;
  std::string s;
  char small[5];
  EXPECT_TRUE(r.GetOneParam("Int", i));
  EXPECT_EQ(42, i);
  EXPECT_TRUE(r.GetOneParam("Big", ll));
  EXPECT_EQ(9007199254740993LL, ll);
  EXPECT_TRUE(r.GetOneParam("Text", s));
  EXPECT_EQ("abcdefghij", s);
  EXPECT_TRUE(r.GetOneParam("Text", small, sizeof small));
  EXPECT_STREQ("abcd", small);
  EXPECT_TRUE(r.GetOneParam("NotANumber", i));
  EXPECT_EQ(0, i);
}

TEST_P(RuleParamsTest, RowsWithNullValueOrNotCurrentAreNotInTheCache) {
  exec("INSERT INTO NTnotificationProp (componentNameId, attrName, attrType, attrVal, created, modified) "
       "VALUES (1, 'NullValue', 1, NULL, 1000, 0)");
  exec("INSERT INTO NTnotificationProp (componentNameId, attrName, attrType, attrVal, created, modified) "
       "VALUES (1, NULL, 1, 'no name', 1000, 0)");
  prop(1, "History", 1, "old", 1000, 1700000000);
  EvNTRuleParams r(nullptr);
  r.setAlertId(1);

  ApplProperty nullValue("NullValue", 1, "");
  EXPECT_EQ(0x80001, r.getProperty(nullValue));
  ApplProperty history("History", 1, "");
  EXPECT_EQ(0x80001, r.getProperty(history));
  std::string s = "stale";
  EXPECT_TRUE(r.GetOneParam("NullValue", s));
  EXPECT_EQ("", s);
}

// ---- cache ---------------------------------------------------------------

TEST_P(RuleParamsTest, SecondReadIsServedFromCacheUntilClearProperties) {
  prop(1, kMatchedTime, 7, "100");
  EvNTRuleParams r(nullptr);
  r.setAlertId(1);

  int v = 0;
  r.GetOneParam(kMatchedTime, v);
  EXPECT_EQ(100, v);
  setBehindCache(1, kMatchedTime, "200");
  prop(1, "Added later", 1, "x");
  r.GetOneParam(kMatchedTime, v);
  EXPECT_EQ(100, v) << "the table was read only once";
  std::string s;
  r.GetOneParam("Added later", s);
  EXPECT_EQ("", s);

  r.clearProperties();
  EXPECT_FALSE(r.isLoaded());
  r.GetOneParam(kMatchedTime, v);
  EXPECT_EQ(200, v);
  r.GetOneParam("Added later", s);
  EXPECT_EQ("x", s);
}

TEST_P(RuleParamsTest, FailedLoadGivesDefaultsAndIsRetriedOnTheNextRead) {
  exec("ALTER TABLE NTnotificationProp RENAME TO NTnotificationPropAway");
  EvNTRuleParams r(nullptr);
  r.setAlertId(1);
  int v = 7;
  EXPECT_TRUE(r.GetOneParam(kMatchedTime, v));
  EXPECT_EQ(0, v);
  EXPECT_FALSE(r.isLoaded());

  exec("ALTER TABLE NTnotificationPropAway RENAME TO NTnotificationProp");
  prop(1, kMatchedTime, 7, "55");
  EXPECT_TRUE(r.GetOneParam(kMatchedTime, v));
  EXPECT_EQ(55, v);
  EXPECT_TRUE(r.isLoaded());
}

// ---- writing --------------------------------------------------------------

TEST_P(RuleParamsTest, WritingNewIntPropertyInsertsCurrentRowAndCachesIt) {
  EvNTRuleParams r(nullptr);
  r.setAlertId(3);
  int v = 0;
  r.GetOneParam(kMatchedTime, v);  // loads the (empty) cache first
  ASSERT_TRUE(r.AddOrUpdateParam(kMatchedTime, 1700000123));

  EXPECT_EQ(1, rows(3, kMatchedTime));
  EXPECT_EQ("1700000123", column(3, kMatchedTime, "attrVal"));
  EXPECT_EQ("7", column(3, kMatchedTime, "attrType"));
  EXPECT_EQ("0", column(3, kMatchedTime, "modified"));
  EXPECT_GT(std::stoll(column(3, kMatchedTime, "created")), 1600000000LL);

  setBehindCache(3, kMatchedTime, "1");
  r.GetOneParam(kMatchedTime, v);
  EXPECT_EQ(1700000123, v) << "the written value is read from the cache";
}

TEST_P(RuleParamsTest, UpdateChangesOnlyTheValueOfTheCurrentRow) {
  prop(4, "Limit", 7, "10", 1000);
  prop(4, "Limit", 7, "3", 500, 900);  // history of the property
  EvNTRuleParams r(nullptr);
  r.setAlertId(4);
  ASSERT_TRUE(r.AddOrUpdateParam("Limit", std::string("20")));

  EXPECT_EQ(1, rows(4, "Limit", " AND modified = 0"));
  EXPECT_EQ("20", column(4, "Limit", "attrVal", " AND modified = 0"));
  EXPECT_EQ("1000", column(4, "Limit", "created", " AND modified = 0")) << "created keeps its first time";
  EXPECT_EQ("7", column(4, "Limit", "attrType", " AND modified = 0"));
  EXPECT_EQ("3", column(4, "Limit", "attrVal", " AND modified = 900")) << "history is never rewritten";

  int v = 0;
  r.GetOneParam("Limit", v);
  EXPECT_EQ(20, v);
}

TEST_P(RuleParamsTest, PropertyKeptOnlyAsHistoryIsWrittenAsNewCurrentRow) {
  prop(5, "Limit", 9, "3", 500, 900);
  EvNTRuleParams r(nullptr);
  r.setAlertId(5);
  ASSERT_TRUE(r.AddOrUpdateParam("Limit", 8L));

  EXPECT_EQ(2, rows(5, "Limit"));
  EXPECT_EQ("8", column(5, "Limit", "attrVal", " AND modified = 0"));
  EXPECT_EQ("9", column(5, "Limit", "attrType", " AND modified = 0"));
  r.clearProperties();
  long long v = 0;
  r.GetOneParam("Limit", v);
  EXPECT_EQ(8, v) << "the new row is the current one after a reload";
}

TEST_P(RuleParamsTest, NamesAndValuesWithQuotesAreStoredIntact) {
  const std::string name = "O'Brien's rule; --";
  const std::string value = "it's 'quoted' %s \\ N'x'";
  EvNTRuleParams r(nullptr);
  r.setAlertId(6);
  ASSERT_TRUE(r.AddOrUpdateParam(name, value));
  EXPECT_EQ(value, column(6, name, "attrVal"));
  EXPECT_EQ("1", column(6, name, "attrType"));

  ASSERT_TRUE(r.AddOrUpdateParam(name, value + "2")) << "found again by its quoted name";
  EXPECT_EQ(1, rows(6, name));
  r.clearProperties();
  std::string s;
  r.GetOneParam(name, s);
  EXPECT_EQ(value + "2", s);
}

TEST_P(RuleParamsTest, WriteThatCannotReadTheTableFailsAndLeavesTheCache) {
  prop(7, "Limit", 7, "10");
  EvNTRuleParams r(nullptr);
  r.setAlertId(7);
  int v = 0;
  r.GetOneParam("Limit", v);
  ASSERT_EQ(10, v);

  exec("DROP TABLE NTnotificationProp");
  EXPECT_FALSE(r.AddOrUpdateParam("Limit", 11));
  r.GetOneParam("Limit", v);
  EXPECT_EQ(10, v) << "the cache changes only after the table was written";
}

EVD_INSTANTIATE_BACKENDS(RuleParamsTest);

}  // namespace

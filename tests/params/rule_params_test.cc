// Named properties of a notification rule, on both backends: defaults, the
// cache (loaded once, reloaded after a clear) and the write-through.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

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
  std::string column(int alertId, const std::string& name, const std::string& col, const std::string& extra = "") {
    return queryText("SELECT " + col + " FROM NTnotificationProp WHERE componentNameId = " + n(alertId) +
                     " AND attrName = " + q(name) + extra);
  }
  int intOf(const std::string& name) {
    int v = -1;
    r.GetOneParam(name, v);
    return v;
  }

  evd::test::AlertLogCapture log_;
  EvNTRuleParams r{nullptr};
};

// Another rule's property, a missing one, a NULL value and history only: all defaults.
TEST_P(RuleParamsTest, MissingPropertyGivesDefaultsAndLeavesCacheLoaded) {
  prop(2, "Other", 1, "x");
  exec("INSERT INTO NTnotificationProp (componentNameId, attrName, attrType, attrVal, created, modified) "
       "VALUES (1, 'NullValue', 1, NULL, 1000, 0)");
  prop(1, "History", 1, "old", 1000, 1700000000);
  r.setAlertId(1);
  int i = 5;
  char buf[8];
  std::memset(buf, 'x', sizeof buf);
  EXPECT_TRUE(r.GetOneParam("Other", i)) << "a property of another rule";
  EXPECT_EQ(0, i);
  EXPECT_TRUE(r.GetOneParam("Missing", buf, sizeof buf));
  EXPECT_EQ(std::string(sizeof buf, '\0'), std::string(buf, sizeof buf));
  EXPECT_TRUE(r.isLoaded());
  for (const char* name : {"Missing", "NullValue", "History"}) {
    ApplProperty p(name, 1, "");
    EXPECT_EQ(0x80001, r.getProperty(p)) << name;
  }
}

TEST_P(RuleParamsTest, ReadFormsConvertTheStoredText) {
  prop(1, "Big", 14, "9007199254740993");
  prop(1, "Text", 1, "abcdefghij");
  r.setAlertId(1);
  long long ll = 0;
  char small[5];
  EXPECT_TRUE(r.GetOneParam("Big", ll));
  EXPECT_EQ(9007199254740993LL, ll);
  EXPECT_TRUE(r.GetOneParam("Text", small, sizeof small));
  EXPECT_STREQ("abcd", small);
  EXPECT_EQ(0, intOf("Text"));
}

// Reads and writes are served from the cache until clearProperties; a new
// int property is inserted as the current row with its type.
TEST_P(RuleParamsTest, ReadsAndWritesAreCachedUntilClearProperties) {
  prop(1, kMatchedTime, 7, "100");
  r.setAlertId(1);
  EXPECT_EQ(100, intOf(kMatchedTime));
  setBehindCache(1, kMatchedTime, "200");
  EXPECT_EQ(100, intOf(kMatchedTime)) << "the table was read only once";
  r.clearProperties();
  EXPECT_FALSE(r.isLoaded());
  EXPECT_EQ(200, intOf(kMatchedTime));
  ASSERT_TRUE(r.AddOrUpdateParam("New", 1700000123));
  EXPECT_EQ("1700000123", column(1, "New", "attrVal", " AND modified = 0"));
  EXPECT_EQ("7", column(1, "New", "attrType"));
  setBehindCache(1, "New", "1");
  EXPECT_EQ(1700000123, intOf("New")) << "the written value is read from the cache";
}

TEST_P(RuleParamsTest, FailedLoadGivesDefaultsAndIsRetriedOnTheNextRead) {
  exec("ALTER TABLE NTnotificationProp RENAME TO NTnotificationPropAway");
  r.setAlertId(1);
  EXPECT_EQ(0, intOf(kMatchedTime));
  EXPECT_FALSE(r.isLoaded());
  exec("ALTER TABLE NTnotificationPropAway RENAME TO NTnotificationProp");
  prop(1, kMatchedTime, 7, "55");
  EXPECT_EQ(55, intOf(kMatchedTime));
  EXPECT_TRUE(r.isLoaded());
}

TEST_P(RuleParamsTest, UpdateChangesOnlyTheValueOfTheCurrentRow) {
  prop(4, "Limit", 7, "10", 1000);
  prop(4, "Limit", 7, "3", 500, 900);  // history of the property
  r.setAlertId(4);
  ASSERT_TRUE(r.AddOrUpdateParam("Limit", std::string("20")));
  EXPECT_EQ("20", column(4, "Limit", "attrVal", " AND modified = 0"));
  EXPECT_EQ("1000", column(4, "Limit", "created", " AND modified = 0")) << "created keeps its first time";
  EXPECT_EQ("3", column(4, "Limit", "attrVal", " AND modified = 900")) << "history is never rewritten";
}

TEST_P(RuleParamsTest, PropertyKeptOnlyAsHistoryIsWrittenAsNewCurrentRow) {
  prop(5, "Limit", 9, "3", 500, 900);
  r.setAlertId(5);
  ASSERT_TRUE(r.AddOrUpdateParam("Limit", 8L));
  EXPECT_EQ("8", column(5, "Limit", "attrVal", " AND modified = 0"));
  EXPECT_EQ("9", column(5, "Limit", "attrType", " AND modified = 0"));
  r.clearProperties();
  EXPECT_EQ(8, intOf("Limit")) << "the new row is the current one after a reload";
}

TEST_P(RuleParamsTest, NamesAndValuesWithQuotesAreStoredIntact) {
  const std::string name = "O'Brien's rule; --";
  const std::string value = "it's 'quoted' %s \\ N'x'";
  r.setAlertId(6);
  ASSERT_TRUE(r.AddOrUpdateParam(name, value));
  ASSERT_TRUE(r.AddOrUpdateParam(name, value + "2")) << "found again by its quoted name";
  EXPECT_EQ(value + "2", column(6, name, "attrVal"));
}

TEST_P(RuleParamsTest, WriteThatCannotReadTheTableFailsAndLeavesTheCache) {
  prop(7, "Limit", 7, "10");
  r.setAlertId(7);
  ASSERT_EQ(10, intOf("Limit"));
  exec("DROP TABLE NTnotificationProp");
  EXPECT_FALSE(r.AddOrUpdateParam("Limit", 11));
  EXPECT_EQ(10, intOf("Limit")) << "the cache changes only after the table was written";
}

EVD_INSTANTIATE_BACKENDS(RuleParamsTest);

}  // namespace

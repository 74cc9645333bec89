// Every table binding writes and reads back every column on both backends; row copies own their texts.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "Db/AllBindings.h"
#include "support/db_fixture.h"

namespace {

// The row's columns as text except the serial; with a seed, each column is first set to a value
// derived from its position, so a column bound to the wrong place shows up as a mismatch.
std::string columns(const Db::TableDef& def, void* row, int seed = 0) {
  std::string out;
  for (int i = 0; i < def.columnCount; ++i) {
    const Db::ColumnDef& c = def.columns[i];
    if (def.serialColumn[0] && std::strcmp(def.serialColumn, c.name) == 0) continue;
    void* f = c.field(row);
    const int v = seed * 100 + i + 1;
    const std::string text = std::string(c.name) + "='" + std::to_string(v) + "\"";
    switch (c.type) {
      case Db::ColType::INT32:
        if (seed) *static_cast<int*>(f) = v;
        out += std::to_string(*static_cast<int*>(f));
        break;
      case Db::ColType::INT64:
        if (seed) *static_cast<long long*>(f) = (1LL << 40) + v;
        out += std::to_string(*static_cast<long long*>(f));
        break;
      case Db::ColType::DATETIME:
        if (seed) static_cast<DB_DATETIME*>(f)->year = static_cast<int16_t>(2000 + v);
        if (seed) static_cast<DB_DATETIME*>(f)->month = static_cast<uint16_t>(1 + i % 12);
        if (seed) static_cast<DB_DATETIME*>(f)->day = static_cast<uint16_t>(1 + i % 28);
        out += static_cast<DB_DATETIME*>(f)->toString(true);
        break;
      case Db::ColType::CHARS:
      case Db::ColType::WCHARS:
        if (seed) dbCopyText(static_cast<char*>(f), static_cast<size_t>(c.size), text.c_str(), text.size());
        out += static_cast<char*>(f);
        break;
      case Db::ColType::TEXT:
        if (seed) Db::assignText(*static_cast<char**>(f), text.c_str());
        out += *static_cast<char**>(f) ? *static_cast<char**>(f) : "<null>";
        break;
    }
    out += ";";
  }
  return out;
}

template <class B>
void roundTrip() {
  SCOPED_TRACE(B::def().name);
  B writer(nullptr);
  columns(B::def(), writer.getDataPtr(), 1);
  ASSERT_EQ(0, writer.rowInsert(true)) << writer.getErrorStr(writer.lastResult());
  B reader(nullptr);
  ASSERT_EQ(0, reader.getOneRow()) << reader.getErrorStr(reader.lastResult());
  EXPECT_EQ(columns(B::def(), writer.getDataPtr()), columns(B::def(), reader.getDataPtr()));
  const std::string updated = columns(B::def(), reader.getDataPtr(), 2);
  ASSERT_EQ(0, reader.rowUpdate(nullptr)) << reader.getErrorStr(reader.lastResult());
  B again(nullptr);
  ASSERT_EQ(0, again.getOneRow());
  EXPECT_EQ(updated, columns(B::def(), again.getDataPtr()));
  EXPECT_EQ(0, again.rowDelete());
}

class BindingsTest : public evd::test::DbTest {};

TEST_P(BindingsTest, EveryTableWritesAndReadsEveryColumn) {
#define EVD_ROUND_TRIP(N) roundTrip<N>();
  DB_ALL_TABLES(EVD_ROUND_TRIP)
#undef EVD_ROUND_TRIP
}

TEST_P(BindingsTest, SerialColumnsCountUpAndNeverReuseIds) {
  NTDetectedAlerts a(nullptr);
  ASSERT_EQ(0, a.rowInsert(true));
  a.setWhere("eventId = %d", a.getDataPtr()->eventId);
  ASSERT_EQ(0, a.rowDelete());
  NTDetectedAlerts b(nullptr);
  ASSERT_EQ(0, b.rowInsert(true));
  EXPECT_GT(b.getDataPtr()->eventId, a.getDataPtr()->eventId);
}

EVD_INSTANTIATE_BACKENDS(BindingsTest);

// A copy sharing its text with the original would free it twice.
TEST(RowStructTest, CopiesOwnTheirTexts) {
  NTnotificationProp_t a;
  Db::assignText(a.attrName, "name");
  NTnotificationProp_t b = a;
  Db::assignText(a.attrName, "other");
  EXPECT_STREQ("name", b.attrName);
}

}  // namespace

// Every table binding writes and reads back every column on both backends,
// and the typed rows describe their tables.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "Db/AllBindings.h"
#include "support/db_fixture.h"

namespace {

using evd::test::DbTest;

// Fills every column of a row with a value derived from its position, so a
// column bound to the wrong place shows up as a mismatch.
void fill(const Db::TableDef& def, void* row, int seed) {
  for (int i = 0; i < def.columnCount; ++i) {
    const Db::ColumnDef& c = def.columns[i];
    void* f = c.field(row);
    const int v = seed * 100 + i + 1;
    switch (c.type) {
      case Db::ColType::INT32: *static_cast<int*>(f) = v; break;
      case Db::ColType::INT64: *static_cast<long long*>(f) = (1LL << 40) + v; break;
      case Db::ColType::DATETIME: {
        auto* d = static_cast<DB_DATETIME*>(f);
        d->year = static_cast<int16_t>(2000 + i); d->month = 1 + i % 12; d->day = 1 + i % 28;
        d->hour = i % 24; d->minute = 7; d->second = 9; d->fraction = static_cast<uint32_t>(i);
        break;
      }
      case Db::ColType::CHARS:
      case Db::ColType::WCHARS: {
        std::string s = std::string(c.name) + "='" + std::to_string(v) + "'";
        dbCopyText(static_cast<char*>(f), static_cast<size_t>(c.size), s.c_str(), s.size());
        break;
      }
      case Db::ColType::TEXT: Db::assignText(*static_cast<char**>(f), ("t\"" + std::to_string(v)).c_str()); break;
    }
  }
}

std::string describe(const Db::TableDef& def, void* row, bool skipSerial) {
  std::string out;
  for (int i = 0; i < def.columnCount; ++i) {
    const Db::ColumnDef& c = def.columns[i];
    if (skipSerial && def.serialColumn[0] && std::strcmp(def.serialColumn, c.name) == 0) continue;
    void* f = c.field(row);
    out += std::string(c.name) + "=";
    switch (c.type) {
      case Db::ColType::INT32: out += std::to_string(*static_cast<int*>(f)); break;
      case Db::ColType::INT64: out += std::to_string(*static_cast<long long*>(f)); break;
      case Db::ColType::DATETIME: out += static_cast<DB_DATETIME*>(f)->toString(true); break;
      case Db::ColType::CHARS:
      case Db::ColType::WCHARS: out += static_cast<char*>(f); break;
      case Db::ColType::TEXT: {
        const char* s = *static_cast<char**>(f);
        out += s ? s : "<null>";
        break;
      }
    }
    out += ";";
  }
  return out;
}

template <class B>
void roundTrip() {
  SCOPED_TRACE(B::def().name);
  B writer(nullptr);
  fill(B::def(), writer.getDataPtr(), 1);
  ASSERT_EQ(0, writer.rowInsert(true)) << writer.getErrorStr(writer.lastResult());
  B reader(nullptr);
  ASSERT_EQ(0, reader.getOneRow()) << reader.getErrorStr(reader.lastResult());
  EXPECT_EQ(describe(B::def(), writer.getDataPtr(), true), describe(B::def(), reader.getDataPtr(), true));

  // Update everything through the row read, then delete it.
  fill(B::def(), reader.getDataPtr(), 2);
  ASSERT_EQ(0, reader.rowUpdate(nullptr)) << reader.getErrorStr(reader.lastResult());
  B again(nullptr);
  ASSERT_EQ(0, again.getOneRow());
  EXPECT_EQ(describe(B::def(), reader.getDataPtr(), true), describe(B::def(), again.getDataPtr(), true));
  EXPECT_EQ(0, again.rowDelete());
  EXPECT_EQ(DB_NO_DATA, B(nullptr).getOneRow());
}

class BindingsTest : public DbTest {};

TEST_P(BindingsTest, EveryTableWritesAndReadsEveryColumn) {
#define EVD_ROUND_TRIP(N) roundTrip<N>();
  DB_ALL_TABLES(EVD_ROUND_TRIP)
#undef EVD_ROUND_TRIP
}

TEST_P(BindingsTest, SerialColumnsCountUpAndNeverReuseIds) {
  NTDetectedAlerts a(nullptr);
  ASSERT_EQ(0, a.rowInsert(true));
  const int first = a.getDataPtr()->eventId;
  a.setWhere("eventId = %d", first);
  ASSERT_EQ(0, a.rowDelete());
  NTDetectedAlerts b(nullptr);
  ASSERT_EQ(0, b.rowInsert(true));
  // An event id names one occurrence for good, even after a delete.
  EXPECT_GT(b.getDataPtr()->eventId, first);
}

EVD_INSTANTIATE_BACKENDS(BindingsTest);

TEST(TypedRowTest, DescribesItsTable) {
  NTDetectedAlerts_t2 row;
  EXPECT_STREQ("i|i|i|i|i|i|t|t|i|s|t|", row.getStructDef());
  EXPECT_STREQ("NTDetectedAlerts", row.getTableName());
  EXPECT_EQ(1, row.getHeaderType());
  EXPECT_EQ(0, row.getSerialColNum());
  EXPECT_EQ("eventId = ?", row.getPrimaryWhere());
  ASSERT_EQ(1u, row.getPrimaryData().size());
  EXPECT_EQ(row.column("eventId"), row.getPrimaryData()[0]);
  EXPECT_EQ(nullptr, row.getColumnName_t2(11));
  // A keyless table has neither a key clause nor a serial.
  NTDparams_t2 params;
  EXPECT_EQ(-1, params.getSerialColNum());
  EXPECT_EQ("", params.getPrimaryWhere());
}

TEST(TypedRowTest, CopiesToAndFromRowStructures) {
  NTDetectedAlerts_t src;
  src.eventId = 7;
  src.processStat = 0x40;
  src.occurTime.year = 2030;
  src.occurTime.month = 6;
  Db::assignText(src.entityId, "Client|107");
  NTDetectedAlerts_t2 typed;
  typed.fromRow(&src);
  EXPECT_FALSE(typed.column("entityId")->isNull());
  EXPECT_STREQ("Client|107", typed.column("entityId")->getStr());
  EXPECT_STREQ("64", typed.column("processStat")->getStr());
  EXPECT_STREQ("2030-06-00 00:00:00.000", typed.column("occurTime")->getStr());
  NTDetectedAlerts_t back;
  typed.toRow(&back);
  EXPECT_EQ(7, back.eventId);
  EXPECT_STREQ("Client|107", back.entityId);
  EXPECT_TRUE(back.occurTime == src.occurTime);

  typed.column("entityId")->setInternalNull(true);
  EXPECT_STREQ("", typed.column("entityId")->getStr());
  typed.toRow(&back);
  EXPECT_EQ(nullptr, back.entityId);
}

TEST(TypedRowTest, ClassStateIsSetOnceAcrossThreads) {
  std::vector<std::thread> threads;
  std::vector<std::string> sigs(8);
  for (int i = 0; i < 8; ++i)
    threads.emplace_back([&sigs, i] { sigs[i] = NTDdpDr_t2().getStructDef(); });
  for (auto& t : threads) t.join();
  EXPECT_FALSE(sigs[0].empty());
  for (auto& s : sigs) EXPECT_EQ(sigs[0], s);
}

TEST(RowStructTest, CopiesOwnTheirTexts) {
  NTnotificationProp_t a;
  Db::assignText(a.attrName, "name");
  NTnotificationProp_t b = a;
  Db::assignText(a.attrName, "other");
  EXPECT_STREQ("name", b.attrName);
  NTnotificationProp_t& alias = b;
  b = alias;
  EXPECT_STREQ("name", b.attrName);
}

}  // namespace

#include <gtest/gtest.h>

#include "Db/AllBindings.h"
#include "support/db_fixture.h"

namespace {

class RoundTripTest : public evd::test::DbTest {};

TEST_P(RoundTripTest, InsertReadsSerialBackAndRowReadsBack) {
  NTDetectedAlerts t(nullptr);
  NTDetectedAlerts_t* r = t.getDataPtr();
  r->criteria = 5;
  r->alertType = 3;
  r->processStat = 0;
  Db::assignText(r->entityId, "Client|107");
  r->occurTime.year = 2024; r->occurTime.month = 2; r->occurTime.day = 29;
  r->occurTime.hour = 23; r->occurTime.minute = 59; r->occurTime.second = 58; r->occurTime.fraction = 123;
  ASSERT_EQ(0, t.rowInsert(true)) << t.getErrorStr(t.lastResult());
  const int first = r->eventId;
  EXPECT_GT(first, 0);
  ASSERT_EQ(0, t.rowInsert(true));
  EXPECT_EQ(first + 1, r->eventId);

  NTDetectedAlerts rd(nullptr);
  rd.setWhere("eventId = %d", first);
  ASSERT_EQ(0, rd.getOneRow());
  NTDetectedAlerts_t* g = rd.getDataPtr();
  EXPECT_EQ(5, g->criteria);
  EXPECT_STREQ("Client|107", g->entityId);
  EXPECT_TRUE(g->occurTime == r->occurTime);
  EXPECT_TRUE(g->processTime.isZero());
}

EVD_INSTANTIATE_BACKENDS(RoundTripTest);

}  // namespace

// Figures of an event wider than their 32-bit column: stored as the nearest value the column holds, with
// one line naming the field, never cut to their low half.
#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "jobs/job_harness.h"

namespace {

using evd::test::JobTest;

class SaturationTest : public JobTest {};

TEST_P(SaturationTest, WideFiguresAreSaturatedAndNamed) {
  const struct {
    int type, criteria;
    std::string fields;  // the event's own
    const char* table;
    DetailColumns stored;
    std::vector<std::string> named;  // fields the log names
  } cases[] = {
      // The MediaAgent line of the event documentation as it once read: 10 GiB and 20 GiB in bytes.
      {13, 18, R"(,"mediaAgentId":7,"clientId":7,"freeSpace":10737418240,"threshold":21474836480)",
       "NTDclntAgentMAConfig", {{"freeSpace", INT_MAX}, {"threshold", INT_MAX}}, {"freeSpace", "threshold"}},
      {10, 77, R"(,"clientId":12,"mediaAgentId":7,"freeSpace":-10737418240,"threshold":1024)",
       "NTDclntAgentMAConfig", {{"freeSpace", INT_MIN}, {"threshold", 1024}}, {"freeSpace"}},
      // The edges themselves fit.
      {10, 77, R"(,"clientId":12,"freeSpace":2147483647,"threshold":-2147483648)", "NTDclntAgentMAConfig",
       {{"freeSpace", INT_MAX}, {"threshold", INT_MIN}}, {}},
      {17, 3, R"(,"alertStatus":2002,"libraryId":3,"mediaSpaceLeft":4294967296)", "NTDlibraryMang",
       {{"mediaSpaceLeft", INT_MAX}}, {"mediaSpaceLeft"}},
      {3, 3, R"(,"clientId":12,"protectedCount":6000000000,"failedCount":17)", "NTDdpDr",
       {{"protectedCount", INT_MAX}, {"failedCount", 17}}, {"protectedCount"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.type) + c.fields);
    exec("DELETE FROM NTnotificationRule");
    exec("DELETE FROM NTAlertType");
    seedRule(c.type, 2);
    const size_t before = log().lines("does not fit its column").size();
    const int id = record(jobAlert(c.type, c.criteria, c.fields));
    expectColumns(c.table, c.stored, id);
    const std::vector<std::string> all = log().lines("does not fit its column");
    ASSERT_EQ(before + c.named.size(), all.size());
    for (size_t i = 0; i < c.named.size(); ++i)
      EXPECT_NE(std::string::npos, all[before + i].find("[" + c.named[i] + "]")) << all[before + i];
  }
}

EVD_INSTANTIATE_BACKENDS(SaturationTest);

}  // namespace

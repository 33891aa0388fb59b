// Times of the audit trail: the forms of ISO 8601 the audit command takes, their zones, and the
// texts it refuses.
#include "server/service/AuditTime.h"

#include <gtest/gtest.h>

namespace server {
namespace {

TEST(AuditTime, FormatsUtcWithMilliseconds) {
  using namespace std::chrono;
  EXPECT_EQ(AuditTime::Format(system_clock::time_point(sys_days(year(2024) / 2 / 29) + hours(23) + minutes(5) +
                                                       seconds(9) + milliseconds(7))),
            "2024-02-29T23:05:09.007Z");
  EXPECT_EQ(AuditTime::Now().size(), 24u);
}

TEST(AuditTime, ParsesDatesTimesFractionsAndZonesIntoUtc) {
  EXPECT_EQ(AuditTime::Parse("2024-05-01"), "2024-05-01T00:00:00.000Z");
  EXPECT_EQ(AuditTime::Parse("2024-05-01T14:30"), "2024-05-01T14:30:00.000Z");
  EXPECT_EQ(AuditTime::Parse("2024-05-01 14:30:15"), "2024-05-01T14:30:15.000Z");
  EXPECT_EQ(AuditTime::Parse("2024-05-01T14:30:15.5"), "2024-05-01T14:30:15.500Z");
  EXPECT_EQ(AuditTime::Parse("2024-05-01T14:30:15,123456789Z"), "2024-05-01T14:30:15.123Z");
  EXPECT_EQ(AuditTime::Parse("2024-05-01T22:30:00-03:00"), "2024-05-02T01:30:00.000Z");
  EXPECT_EQ(AuditTime::Parse("2024-03-01T01:00+0200"), "2024-02-29T23:00:00.000Z");
  EXPECT_EQ(AuditTime::Parse("2024-01-01T00:00+05"), "2023-12-31T19:00:00.000Z");
  // The listing's own times read back unchanged, so one can be pasted into --since.
  EXPECT_EQ(AuditTime::Parse("2031-12-31T23:59:59.999Z"), "2031-12-31T23:59:59.999Z");
  // Far beyond the year 2262, where a clock counting nanoseconds overflows.
  EXPECT_EQ(AuditTime::Parse("2999-12-31T23:59:59-03:00"), "3000-01-01T02:59:59.000Z");
  // Past the years of four digits the text would no longer sort as its time: it is clamped.
  EXPECT_EQ(AuditTime::Parse("9999-12-31T23:59:59-03:00"), "9999-12-31T23:59:59.999Z");
  EXPECT_EQ(AuditTime::Parse("0000-01-01T00:00+01:00"), "0000-01-01T00:00:00.000Z");
}

TEST(AuditTime, RefusesWhatIsNotATime) {
  for (const char* text : {"", "yesterday", "2024-5-1", "2024-02-30", "2023-02-29", "2024-13-01", "2024-05-01T24:00",
                           "2024-05-01T12:60", "2024-05-01T12", "2024-05-01T12:00:61", "2024-05-01T12:00:00.",
                           "2024-05-01T12:00Zjunk", "2024-05-01T12:00+5", "2024-05-01T12:00+25:00", "2024-05-01x",
                           // one-digit fields, a signed year, spaces around, stray digits after a zone
                           "2024-05-01T7:05", "2024-05-01T07:5", "+2024-05-01", " 2024-05-01", "2024-05-01 ",
                           "2024-05-01T14:30:15.5+0300 1", "2024-05-01T14:30:15.123456789+456789"}) {
    EXPECT_THROW(AuditTime::Parse(text), std::invalid_argument) << text;
  }
  try {
    AuditTime::Parse("2024-02-30");
    FAIL();
  } catch (const std::invalid_argument& e) {
    EXPECT_STREQ(e.what(), "not an ISO 8601 time: \"2024-02-30\" (no such date)");
  }
}

}  // namespace
}  // namespace server

#include <tallyfox/IsoTime.h>

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>

using namespace tallyfox;
using Clock = std::chrono::system_clock;

namespace {

Clock::time_point utc(std::int64_t seconds) {
  return Clock::time_point(std::chrono::seconds(seconds));
}

}  // namespace

TEST(IsoTime, ReadsTheFormsPeopleWriteAndRefusesTheRest) {
  // 2025-06-18T12:00:05Z is 1750248005 seconds since 1970.
  EXPECT_EQ(IsoTime::parse("2025-06-18T12:00:05Z"), utc(1750248005));
  EXPECT_EQ(IsoTime::parse("2025-06-18t12:00:05z"), utc(1750248005));
  EXPECT_EQ(IsoTime::parse("2025-06-18T14:00:05+02:00"), utc(1750248005));
  EXPECT_EQ(IsoTime::parse("2025-06-18T06:30:05-0530"), utc(1750248005));
  EXPECT_EQ(IsoTime::parse("2025-06-18 13:00:05+01"), utc(1750248005));
  EXPECT_EQ(IsoTime::parse("2025-06-18T12:00Z"), utc(1750248000));
  EXPECT_EQ(IsoTime::parse("2025-06-18T12:00:05.25Z"), utc(1750248005) + std::chrono::milliseconds(250));
  EXPECT_EQ(IsoTime::parse("2024-02-29T00:00:00Z"), utc(1709164800));
  EXPECT_EQ(IsoTime::parse("1969-12-31T23:59:59Z"), utc(-1));
  // Without a zone, local time: the same moment the local calendar names.
  EXPECT_EQ(IsoTime::parse("2025-03-05T12:00"), testsupport::localDay(2025, 3, 5, 12));
  EXPECT_EQ(IsoTime::parse("2025-03-05"), testsupport::localDay(2025, 3, 5, 0));

  for (const char* refused : {"",
                              "2025",
                              "2025-6-18",
                              "2025-06-18T",
                              "2025-06-18T12",
                              "2025-06-18T12:00:05+",
                              "2025-06-18T12:00:05+2",
                              "2025-06-18T12:00:05 Z",
                              "2025-06-18T12:00:05Zjunk",
                              "2025-02-29",
                              "2025-13-01",
                              "2025-00-10",
                              "2025-06-31",
                              "2025-06-18T24:00",
                              "2025-06-18T23:60",
                              "2025-06-18T23:59:60Z",
                              "2025-06-18T12:00:05+15:00",
                              "2025-06-18T12:00:05.Z",
                              "9999-12-31T00:00:00Z",
                              "1500-01-01T00:00:00Z",
                              " 2025-06-18"})
    EXPECT_EQ(IsoTime::parse(refused), std::nullopt) << refused;

  EXPECT_EQ(IsoTime::formatUtc(utc(1750248005) + std::chrono::milliseconds(999)), "2025-06-18T12:00:05Z");
  EXPECT_EQ(IsoTime::formatUtc(utc(-1)), "1969-12-31T23:59:59Z");
}

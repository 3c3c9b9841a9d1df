#include "core/clock.h"

#include <gtest/gtest.h>

namespace velmor::core {
namespace {

using namespace std::chrono;

TEST(Clock, WritesFewestFractionDigitsWithUtcOffset) {
  TimePoint base = sys_days{year{2026} / 12 / 11} + hours{14} + minutes{5} + seconds{9};
  struct Case {
    nanoseconds extra;
    const char* text;
  } cases[] = {
      {nanoseconds{0}, "2026-12-11T14:05:09+00:00"},
      {milliseconds{120}, "2026-12-11T14:05:09.120+00:00"},
      {microseconds{120001}, "2026-12-11T14:05:09.120001+00:00"},
      {nanoseconds{1}, "2026-12-11T14:05:09.000000001+00:00"},
  };
  for (const auto& c : cases) EXPECT_EQ(rfc3339(base + c.extra), c.text);
}

TEST(Clock, ParsesWhatItWritesAndOtherOffsets) {
  auto now = time_point_cast<nanoseconds>(system_clock::now());
  EXPECT_EQ(parse_rfc3339(rfc3339(now)), now);
  auto z = parse_rfc3339("2026-01-02T03:04:05Z");
  auto plus = parse_rfc3339("2026-01-02T05:04:05+02:00");
  ASSERT_TRUE(z && plus);
  EXPECT_EQ(*z, *plus);
  for (const char* bad : {"", "2026-01-02", "2026-13-02T03:04:05Z", "2026-01-02T03:04:05",
                          "2026-01-02T03:04:05Zjunk"})
    EXPECT_FALSE(parse_rfc3339(bad)) << bad;
}

}  // namespace
}  // namespace velmor::core

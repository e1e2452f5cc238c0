#include <gtest/gtest.h>

#include <cmath>

#include "plugin/boundary.h"
#include "platform/fpu.h"
#include "scoped.h"

namespace {
struct CallerSetting {
  uint16_t x87;
  uint32_t mxcsr;
};

// Settings a host might have: truncation, 24- or 53-bit precision, unusual SSE rounding, and
// flush-to-zero. All exceptions stay masked so that the test itself cannot trap.
const CallerSetting kCallerSettings[] = {
    {0x0C7F, 0x7F80},  // chop, 24-bit; SSE toward zero
    {0x027F, 0x9F80},  // nearest, 53-bit (as MSVC programs run); SSE flush-to-zero
    {0x047F, 0x3F80},  // down, 24-bit; SSE down
    {0x0B7F, 0x5F80},  // up, 64-bit; SSE up
};

TEST(FpuBoundary, CallerSettingSurvivesAndPluginRoundsToNearestEven) {
  for (const CallerSetting& setting : kCallerSettings) {
    ScopedFpu restore;
    SetX87Control(setting.x87);
    SetMxcsr(setting.mxcsr);
    uint16_t insideX87 = 0;
    uint32_t insideMxcsr = 0;
    const long rounded = CallAtBoundary(0L, [&] {
      insideX87 = CurrentX87Control();
      insideMxcsr = CurrentMxcsr();
      volatile long double half = 100.5L, odd = 101.5L, third = 1.0L / 3.0L;
      // 64-bit precision: 1/3 keeps more bits than a double holds.
      const bool extended = static_cast<long double>(static_cast<double>(third)) != third;
      return std::lrint(half) * 1000 + std::lrint(odd) + (extended ? 0 : 1000000);
    });
    const uint16_t afterX87 = CurrentX87Control();
    const uint32_t afterMxcsr = CurrentMxcsr();

    SCOPED_TRACE(setting.x87);
    EXPECT_EQ(insideX87 & 0x1F3F, 0x033F);
    EXPECT_EQ(insideMxcsr, 0x1F80u);
    EXPECT_EQ(rounded, 100 * 1000 + 102);
    EXPECT_EQ(afterX87 & 0x1F3F, setting.x87 & 0x1F3F);
    EXPECT_EQ(afterMxcsr, setting.mxcsr);
  }
}

TEST(FpuBoundary, ExceptionEscapingTheBodyStillRestores) {
  ScopedFpu restore;
  SetX87Control(0x0C7F);
  const int result = CallAtBoundary(7, []() -> int { throw 1; });
  const uint16_t after = CurrentX87Control();
  EXPECT_EQ(result, 7);
  EXPECT_EQ(after & 0x1F3F, 0x0C3F);
}
}  // namespace

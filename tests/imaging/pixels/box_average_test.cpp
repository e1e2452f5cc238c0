// The box averaging on rows of known pixels. Platform-free: built natively under the sanitizers,
// which watch the row loop's reads and writes, and for Windows.
#include <gtest/gtest.h>

#include <vector>

#include "imaging/pixels/box_average.h"

namespace {
TEST(BoxAverage, FactorsAndReducedSides) {
  const struct {
    int32_t source, target, gap, factor, reduced;
  } cases[] = {{4000, 800, 1, 5, 800},   {1001, 500, 1, 2, 501}, {1000, 500, 1, 2, 500},
               {999, 500, 1, 1, 999},    {1000, 600, 1, 1, 1000}, {7, 3, 1, 2, 4},
               {5, 3, 1, 1, 5},          {10, 0, 1, 1, 10},      {10, -3, 1, 1, 10},
               {1, 1, 1, 1, 1},          {4000, 800, 2, 2, 2000}, {1000, 250, 2, 2, 500},
               {999, 250, 2, 1, 999},    {4000, 600, 2, 3, 1334}, {16384, 1, 2, 8192, 2}};
  for (const auto& c : cases) {
    EXPECT_EQ(BoxFactor(c.source, c.target, c.gap), c.factor) << c.source << " to " << c.target;
    EXPECT_EQ(ReducedSide(c.source, c.factor), c.reduced) << c.source << " to " << c.target;
  }
}

// Rows in, rows of boxes out: every pixel counts, partial boxes are averaged over what they
// have, halves round up, transparent pixels lend no colour.
TEST(BoxAverage, RowsOfEveryLayout) {
  const struct {
    const char* what;
    PixelLayout layout;
    int32_t width, factorX, factorY;
    std::vector<std::vector<uint8_t>> rows;
    std::vector<std::vector<uint8_t>> expected;
  } cases[] = {
      {"24-bit, a partial last column and a partial last row", PixelLayout::kBgr24, 3, 2, 2,
       {{0, 0, 0, 10, 20, 30, 7, 8, 9}, {2, 2, 2, 4, 4, 4, 1, 2, 3}, {100, 0, 0, 100, 0, 0, 50, 0, 0}},
       {{4, 7, 9, 4, 5, 6}, {100, 0, 0, 50, 0, 0}}},
      {"32-bit RGB: the fourth byte is not read", PixelLayout::kBgrx32, 2, 2, 1,
       {{10, 20, 30, 99, 11, 21, 31, 7}},
       {{11, 21, 31}}},
      {"32-bit RGB, one pixel per box", PixelLayout::kBgrx32, 2, 1, 1,
       {{10, 20, 30, 0, 11, 21, 31, 3}},
       {{10, 20, 30, 11, 21, 31}}},
      {"straight alpha over a transparent green ground", PixelLayout::kBgra32, 2, 2, 1,
       {{0, 255, 0, 0, 100, 50, 200, 255}},
       {{50, 25, 100, 128}}},
      {"opaque stays exactly opaque", PixelLayout::kBgra32, 3, 3, 2,
       {{1, 2, 3, 255, 4, 5, 6, 255, 7, 8, 9, 255}, {1, 2, 3, 255, 4, 5, 6, 255, 7, 8, 9, 255}},
       {{4, 5, 6, 255}}},
      {"premultiplied is averaged as it is", PixelLayout::kPbgra32, 2, 2, 1,
       {{0, 0, 0, 0, 51, 51, 51, 51}},
       {{26, 26, 26, 26}}},
  };
  for (const auto& c : cases) {
    BoxAverager averager = StartBoxAverager(c.layout, c.width, static_cast<int32_t>(c.rows.size()),
                                            c.factorX, c.factorY, false);
    std::vector<std::vector<uint8_t>> out;
    for (size_t y = 0; y < c.rows.size(); ++y) {
      if (AddSourceRow(&averager, c.rows[y].data())) {
        out.emplace_back(c.expected[0].size());
        TakeReducedRow(&averager, out.back().data());
      }
    }
    EXPECT_EQ(out, c.expected) << c.what;
  }
}
}  // namespace

// The text and number conventions. Built twice: natively under the sanitizers and in the i686
// build under Wine; both must pass the same tables.
#include <gtest/gtest.h>

#include <string>

#include "text/text.h"

namespace {
TEST(TextFromCString, BytesBeforeTheFirstZero) {
  const struct {
    const char* pointer;
    std::string expected;
  } cases[] = {
      {nullptr, ""}, {"", ""}, {"a|b", "a|b"}, {"ab\0cd", "ab"}, {"\xE9\x80\xFF", "\xE9\x80\xFF"},
  };
  for (const auto& c : cases) EXPECT_EQ(TextFromCString(c.pointer), c.expected);
}
}  // namespace

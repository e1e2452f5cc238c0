#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "imaging/image_files.h"
#include "recording_stand_ins.h"

namespace {
TEST(NarrowFromWide, LowOrderBytesUpToTheFirstZeroLowByte) {
  const struct {
    const WCHAR* wide;
    std::string expected;
  } cases[] = {{nullptr, ""}, {L"", ""}, {L"image/png", "image/png"}, {L"\u00E9t\u00E9", "\xE9t\xE9"},
               {L"a\u0142b", "aBb"}, {L"ab\u0100cd", "ab"}};
  for (const auto& c : cases) EXPECT_EQ(NarrowFromWide(c.wide), c.expected);
}

TEST(FindEncoder, CaseBlindContainmentFirstMatchWins) {
  const struct {
    std::vector<std::wstring> listed;
    const char* wanted;
    int expected;  // index of the matching encoder, -1 for none
  } cases[] = {
      {{L"image/bmp", L"image/png"}, "image/png", 1},
      {{L"IMAGE/BMP"}, "image/bmp", 0},
      {{L"Image/Bmp"}, "IMAGE/bmp", 0},
      {{L"image/x-png", L"image/png"}, "image/png", 1},
      {{L"image/pngx", L"image/png"}, "image/png", 0},  // containment, not equality
      {{L"image/bmp", L"image/bmp"}, "image/bmp", 0},
      {{L"image/bmp", L"image/jpeg"}, "image/x-icon", -1},
      {{}, "image/png", -1},
  };
  for (const auto& c : cases) {
    RecordingGdiplus gdi;
    gdi.script.encoderMimeTypes = c.listed;
    CLSID found = {};
    ASSERT_EQ(FindEncoder(c.wanted, &found), c.expected >= 0) << c.wanted;
    if (c.expected >= 0) {
      const CLSID expected = StandInClsid(c.expected);
      EXPECT_EQ(std::memcmp(&found, &expected, sizeof found), 0) << c.wanted;
    }
  }
}

// The stand-in writes a whole list even when it answers failure: only the status may stop it.
TEST(FindEncoder, FailedListingFindsNothing) {
  for (const char* failing : {"GdipGetImageEncodersSize", "GdipGetImageEncoders"}) {
    RecordingGdiplus gdi;
    gdi.script.failing = {failing};
    CLSID found = {};
    EXPECT_FALSE(FindEncoder("image/png", &found)) << failing;
  }
}
}  // namespace

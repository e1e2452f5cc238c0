#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "imaging/image_files.h"
#include "recording_gdiplus.h"

namespace {
TEST(EncoderIdentifierText, RegistryFormAndBack) {
  // Bytes in memory order: the first three groups read little-endian.
  const unsigned char bytes[16] = {0x06, 0xF4, 0x7C, 0x55, 0x04, 0x1A, 0xD3, 0x11,
                                   0x9A, 0x73, 0x00, 0x00, 0xF8, 0x1E, 0xF3, 0x2E};
  CLSID clsid;
  std::memcpy(&clsid, bytes, 16);
  const std::string text = ClsidText(clsid);
  EXPECT_EQ(text, "{557CF406-1A04-11D3-9A73-0000F81EF32E}");
  EXPECT_EQ(text.size(), 38u);
  const CLSID back = ClsidFromText(text);
  EXPECT_EQ(std::memcmp(&back, bytes, 16), 0);
  const CLSID lower = ClsidFromText("{557cf406-1a04-11d3-9a73-0000f81ef32e}");
  EXPECT_EQ(std::memcmp(&lower, bytes, 16), 0);

  // The empty text, and anything not in the registry form, gives a fresh identifier each time.
  for (const char* unusable : {"", "{557CF406-1A04-11D3-9A73-0000F81EF32E", "nonsense"}) {
    const CLSID one = ClsidFromText(unusable), two = ClsidFromText(unusable);
    EXPECT_NE(std::memcmp(&one, &two, 16), 0) << unusable;
    EXPECT_NE(std::memcmp(&one, bytes, 16), 0) << unusable;
  }
}

TEST(NarrowFromWide, LowOrderBytesUpToTheFirstZeroLowByte) {
  const struct {
    const WCHAR* wide;
    std::string expected;
  } cases[] = {{nullptr, ""}, {L"", ""}, {L"image/png", "image/png"}, {L"\u00E9t\u00E9", "\xE9t\xE9"},
               {L"a\u0142b", "aBb"}, {L"ab\u0100cd", "ab"}};
  for (const auto& c : cases) EXPECT_EQ(NarrowFromWide(c.wide), c.expected);
}

TEST(FindEncoderClsid, CaseBlindContainmentFirstMatchWins) {
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
    EXPECT_EQ(FindEncoderClsid(c.wanted), c.expected < 0 ? "" : StandInClsidText(c.expected))
        << c.wanted;
  }
}

TEST(FindEncoderClsid, FailedListingGivesTheEmptyText) {
  for (const char* failing : {"GdipGetImageEncodersSize", "GdipGetImageEncoders"}) {
    RecordingGdiplus gdi;
    gdi.script.failing = {failing};
    EXPECT_EQ(FindEncoderClsid("image/png"), "") << failing;
  }
}
}  // namespace

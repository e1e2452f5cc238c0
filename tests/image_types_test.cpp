// The choice of format by a target's extension. Platform-free: built natively and for Windows.
#include <gtest/gtest.h>

#include "imaging/image_types.h"

namespace {
TEST(WritableMimeType, LastFullStopOfTheWholeNameUpperCasedUntrimmed) {
  const struct {
    const char* name;
    const char* expected;
  } cases[] = {
      {"photo.JPG", "image/jpeg"},  {"photo.jpg", "image/jpeg"},    {"photo.Jpeg", "image/jpeg"},
      {"scan.tif", "image/tiff"},   {"scan.TIFF", "image/tiff"},    {"a.bmp", "image/bmp"},
      {"a.gif", "image/gif"},       {"a.ico", "image/x-icon"},      {"a.emf", "image/x-emf"},
      {"a.wmf", "image/x-wmf"},     {"C:\\x.y\\a.png", "image/png"}, {"png", "image/png"},
      {"picture.png.bak", ""},      {"pictures.old\\thumb", ""},    {"photo.", ""},
      {"photo.png ", ""},           {"photo. png", ""},             {"photo.jpe", ""},
      {"", ""},                     {"photo.pn\xC7", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(WritableMimeType(c.name), c.expected) << c.name;
}

TEST(ResizeRejectedByNames, BlankNamesAndUnwritableExtensions) {
  const struct {
    const char* source;
    const char* target;
    bool refused;
  } cases[] = {{"a.bmp", "b.png", false}, {" ", "b.png", true},     {"a.bmp", "  ", true},
               {"", "", true},             {"\t", "b.png", false},   {"a.bmp", "b.txt", true},
               {" a.bmp ", " b.png", false}, {"a.bmp", "b.png ", true}};
  for (const auto& c : cases) {
    EXPECT_EQ(ResizeRejectedByNames(c.source, c.target), c.refused) << c.source << "|" << c.target;
  }
}
}  // namespace

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
TEST(NamesDevice, ReservedNamesWithAnyExtension) {
  const struct {
    const wchar_t* name;
    bool device;
  } cases[] = {
      {L"CON.png", true},       {L"c:\\out\\nul.bmp", true}, {L"Aux", true},
      {L"prn.tif", true},       {L"COM1.jpg", true},        {L"lpt9.gif", true},
      {L"nul .png", true},      {L"CON..png", true},        {L"nul. .bmp", true},
      {L"con  ", true},         {L"COM\u00B9.png", true},   {L"lpt\u00B3.bmp", true},
      {L"COM\u00B2", true},     {L"CONIN$.png", true},      {L"conout$..gif", true},
      {L"x/aux.jpg", true},     {L"d:con.png", true},
      // Not devices.
      {L"COM0.png", false},     {L"COM10.png", false},      {L"LPT\u00B4.png", false},
      {L"CONSOLE.png", false},  {L"icon.png", false},       {L" CON.png", false},
      {L"CON\\x.png", false},   {L"", false},               {L"CONIN.png", false},
  };
  for (const auto& c : cases) EXPECT_EQ(NamesDevice(c.name), c.device) << static_cast<int>(c.device);
}
}  // namespace

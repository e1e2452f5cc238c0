#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "import_patch.h"
#include "platform/fpu.h"
#include "platform/windows_text.h"

namespace {
TEST(ToWideText, AnsiCodePageToUtf16) {
  // The expectations follow the ANSI code page the program runs with (1252 under Wine here).
  const bool westernEuropean = GetACP() == 1252;
  const struct {
    std::string text;
    std::wstring expected;
  } cases[] = {
      {"", L""},
      {"photo.png", L"photo.png"},
      {"C:\\a b\\c.jpg", L"C:\\a b\\c.jpg"},
      {"caf\xE9.png", westernEuropean ? L"caf\u00E9.png" : std::wstring()},
      {"\x80", westernEuropean ? L"\u20AC" : std::wstring()},
  };
  for (const auto& c : cases) {
    if (!westernEuropean && c.expected.empty() && !c.text.empty()) continue;
    const std::wstring wide = ToWideText(c.text);
    EXPECT_EQ(wide, c.expected) << c.text;
    EXPECT_EQ(wide.c_str()[wide.size()], L'\0');
  }
}

struct MessageBoxCall {
  HWND owner;
  std::string text, caption;
  UINT type;
};
std::vector<MessageBoxCall> messageBoxCalls;

int WINAPI RecordingMessageBox(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
  messageBoxCalls.push_back({owner, text, caption, type});
  SetX87Control(0x0C7F);  // a message loop that leaves the control word changed
  return IDOK;
}

TEST(ShowMessage, ReachesMessageBoxAWithNoOwnerOkOnlyNoIcon) {
  // The seam as shipped, with this program's own import of MessageBoxA redirected: proves the
  // real wiring without opening a window.
  HMODULE self = GetModuleHandleW(nullptr);
  void* real = PatchImport(self, "MessageBoxA", reinterpret_cast<void*>(RecordingMessageBox));
  ASSERT_NE(real, nullptr);
  messageBoxCalls.clear();
  const uint16_t before = CurrentX87Control();
  ShowMessage("Error initializando GDI+", "");
  EXPECT_EQ(CurrentX87Control(), before);
  ShowMessage("text", "My caption");
  PatchImport(self, "MessageBoxA", real);

  ASSERT_EQ(messageBoxCalls.size(), 2u);
  EXPECT_EQ(messageBoxCalls[0].owner, nullptr);
  EXPECT_EQ(messageBoxCalls[0].text, "Error initializando GDI+");
  EXPECT_EQ(messageBoxCalls[0].caption, "Tessivar");
  EXPECT_EQ(messageBoxCalls[0].type, static_cast<UINT>(MB_OK));  // no icon, no other button
  EXPECT_EQ(messageBoxCalls[1].caption, "My caption");
}
}  // namespace

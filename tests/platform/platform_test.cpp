// The platform layer: the call tables, the floating-point rule of their rows, wide names and the
// message box.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "imaging/gdiplus/gdiplus_api.h"
#include "platform/call_table.h"
#include "platform/fpu.h"
#include "platform/windows_api.h"
#include "platform/windows_text.h"
#include "scoped.h"

namespace {
TEST(CallTables, EveryDefaultRowIsSetAndAStandInRowReplacesOnlyItself) {
  EXPECT_TRUE(EveryRowSet(DefaultWindows()));
  EXPECT_TRUE(EveryRowSet(DefaultGdiplus()));
  WindowsApi empty = {};
  EXPECT_FALSE(EveryRowSet(empty));

  WindowsApi one = {};
  one.DeleteFileW = [](LPCWSTR) -> BOOL { return FALSE; };
  UseWindows(&one);
  EXPECT_TRUE(EveryRowSet(windows));
  EXPECT_EQ(windows.DeleteFileW, one.DeleteFileW);
  EXPECT_EQ(windows.MoveFileExW, DefaultWindows().MoveFileExW);
  UseWindows(nullptr);
  EXPECT_EQ(windows.DeleteFileW, DefaultWindows().DeleteFileW);
}

// The resampler's SSE2 passes run where the processor says it has SSE2, and only there.
TEST(ProcessorHasSse2, AsksTheProcessorForSse2) {
  static BOOL sse2;
  WindowsApi processor = {};
  processor.IsProcessorFeaturePresent = [](DWORD feature) -> BOOL {
    return feature == PF_XMMI64_INSTRUCTIONS_AVAILABLE ? sse2 : !sse2;
  };
  UseWindows(&processor);
  for (const BOOL has : {TRUE, FALSE}) {
    sse2 = has;
    EXPECT_EQ(ProcessorHasSse2(), has != FALSE);
  }
  UseWindows(nullptr);
}

int WINAPI LeavesTheControlWordChanged(int value) {
  SetX87Control(0x0C7F);  // chop, 24-bit, as a careless library might leave it
  SetMxcsr(0x7F80);
  return value + 1;
}

TEST(CallTables, EveryRowPutsThePluginsFloatingPointSettingBack) {
  ScopedFpu restore;
  int (*row)(int) = ThenPluginFpu<LeavesTheControlWordChanged>;
  EXPECT_EQ(row(41), 42);
  EXPECT_EQ(CurrentX87Control() & 0x1F3F, 0x033F);
  EXPECT_EQ(CurrentMxcsr(), 0x1F80u);
}

TEST(ToWideText, AnsiTextToUtf16) {
  const struct {
    std::string text;
    std::wstring expected;
  } cases[] = {{"", L""}, {"photo.png", L"photo.png"}, {"C:\\a b\\c.jpg", L"C:\\a b\\c.jpg"}};
  for (const auto& c : cases) {
    const std::wstring wide = ToWideText(c.text);
    EXPECT_EQ(wide, c.expected) << c.text;
    EXPECT_EQ(wide.c_str()[wide.size()], L'\0');
  }
}

TEST(ToWideText, WesternEuropeanCodePage) {
  if (GetACP() != 1252) GTEST_SKIP() << "these rows are written for code page 1252";
  EXPECT_EQ(ToWideText("caf\xE9.png"), L"caf\u00E9.png");
  EXPECT_EQ(ToWideText("\x80"), L"\u20AC");
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
  // The default row as shipped, with this program's own import of MessageBoxA redirected: the
  // real wiring, without a window.
  ScopedFpu restore;
  ScopedImportPatch patch(GetModuleHandleW(nullptr), "MessageBoxA",
                          reinterpret_cast<void*>(RecordingMessageBox));
  ASSERT_NE(patch.previous, nullptr);
  messageBoxCalls.clear();
  ShowMessage("Error initializando GDI+", "");
  EXPECT_EQ(CurrentX87Control() & 0x1F3F, 0x033F);  // the plug-in's own setting again
  ShowMessage("text", "My caption");

  ASSERT_EQ(messageBoxCalls.size(), 2u);
  EXPECT_EQ(messageBoxCalls[0].owner, nullptr);
  EXPECT_EQ(messageBoxCalls[0].text, "Error initializando GDI+");
  EXPECT_EQ(messageBoxCalls[0].caption, "Tessivar");
  EXPECT_EQ(messageBoxCalls[0].type, static_cast<UINT>(MB_OK));  // no icon, no other button
  EXPECT_EQ(messageBoxCalls[1].caption, "My caption");
}
}  // namespace

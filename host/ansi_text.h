// Texts in the ANSI code page, as the real host hands them to a plug-in.
#pragma once

#include <windows.h>

#include <string>

// The code page the conversions use: the system's ANSI code page, or another one set by a test
// (Windows 10 and 11 can make UTF-8, 65001, the ANSI code page; Wine cannot). 0 puts the
// system's back.
void UseAnsiCodePage(UINT codePage);
UINT AnsiCodePage();

// The conversion function itself: WideCharToMultiByte, or a test's stand-in that holds the
// arguments to Windows' rules where Wine is lenient (Wine takes the best-fit flag and the
// used-default pointer for UTF-8; Windows refuses both). Null puts the real one back.
typedef int(WINAPI* WideToMultiByteProc)(UINT codePage, DWORD flags, LPCWCH wide, int length,
                                         LPSTR ansi, int size, LPCCH defaultChar,
                                         LPBOOL usedDefault);
void UseWideToMultiByte(WideToMultiByteProc convert);

// The text in the ANSI code page. False when the code page cannot represent a character, or the
// text is not valid UTF-16: the plug-in would get another name than the one written. Checked by
// converting back, so that no best-fit or default character slips through in any code page.
// In code page 1252: L"caf\u00E9" -> "caf\xE9"; L"\u0416" -> false. In 65001: L"\u0416" ->
// "\xD0\x96"; a lone surrogate -> false.
bool Utf16ToAnsi(const std::wstring& wide, std::string* ansi);

// True when the bytes are well-formed UTF-8: "caf\xC3\xA9" is, "caf\xE9" (the same word saved in
// code page 1252) is not.
bool IsUtf8(const std::string& text);
bool Utf8ToAnsi(const std::string& utf8, std::string* ansi);

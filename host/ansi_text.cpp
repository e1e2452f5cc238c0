#include "host/ansi_text.h"

namespace {
UINT chosenCodePage = 0;
WideToMultiByteProc convertWide = WideCharToMultiByte;
}  // namespace

void UseWideToMultiByte(WideToMultiByteProc convert) {
  convertWide = convert != nullptr ? convert : WideCharToMultiByte;
}

void UseAnsiCodePage(UINT codePage) { chosenCodePage = codePage; }

UINT AnsiCodePage() { return chosenCodePage != 0 ? chosenCodePage : GetACP(); }

bool Utf16ToAnsi(const std::wstring& wide, std::string* ansi) {
  ansi->clear();
  if (wide.empty()) return true;
  const UINT codePage = AnsiCodePage();
  const int length = static_cast<int>(wide.size());
  // UTF-8 refuses both the best-fit flag and the used-default pointer (ERROR_INVALID_PARAMETER)
  // and takes the strict flag instead; every other ANSI code page takes both.
  const bool utf8 = codePage == CP_UTF8;
  const DWORD flags = utf8 ? WC_ERR_INVALID_CHARS : WC_NO_BEST_FIT_CHARS;
  BOOL lossy = FALSE;
  BOOL* usedDefault = utf8 ? nullptr : &lossy;
  const int n =
      convertWide(codePage, flags, wide.data(), length, nullptr, 0, nullptr, usedDefault);
  if (n <= 0 || lossy) return false;
  ansi->resize(static_cast<size_t>(n));
  if (convertWide(codePage, flags, wide.data(), length, &(*ansi)[0], n, nullptr, usedDefault) !=
          n ||
      lossy) {
    return false;
  }
  // Back again: any replaced character shows as a difference.
  std::wstring back(wide.size() + 1, L'\0');
  const int m = MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, ansi->data(), n, &back[0],
                                    static_cast<int>(back.size()));
  return m == length && back.compare(0, wide.size(), wide) == 0;
}

bool Utf8ToAnsi(const std::string& utf8, std::string* ansi) {
  ansi->clear();
  if (utf8.empty()) return true;
  const int length = static_cast<int>(utf8.size());
  const int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), length, nullptr, 0);
  if (n <= 0) return false;
  std::wstring wide(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), length, &wide[0], n);
  return Utf16ToAnsi(wide, ansi);
}

bool IsUtf8(const std::string& text) {
  return text.empty() || MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(),
                                             static_cast<int>(text.size()), nullptr, 0) > 0;
}

#include "platform/windows_text.h"

#include "platform/windows_api.h"
#include "text/fixed_texts.h"

std::wstring ToWideText(const std::string& text) {
  if (text.empty()) return std::wstring();
  const int length = static_cast<int>(text.size());
  const int wide =
      windows.MultiByteToWideChar(CP_ACP, MB_PRECOMPOSED, text.data(), length, nullptr, 0);
  std::wstring result;
  if (wide > 0) {
    result.resize(static_cast<size_t>(wide));
    if (windows.MultiByteToWideChar(CP_ACP, MB_PRECOMPOSED, text.data(), length, &result[0],
                                    wide) != wide) {
      result.clear();
    }
  }
  return result;
}

void ShowMessage(const std::string& message, const std::string& caption) {
  windows.MessageBoxA(nullptr, message.c_str(), caption.empty() ? kMessageBoxCaption : caption.c_str(),
                      MB_OK);
}

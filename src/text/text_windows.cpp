#include "text/text_windows.h"

#include "plugin/fpu.h"

std::wstring ToWideText(const std::string& text) {
  if (text.empty()) return std::wstring();
  const int length = static_cast<int>(text.size());
  const int wide = MultiByteToWideChar(CP_ACP, MB_PRECOMPOSED, text.data(), length, nullptr, 0);
  std::wstring result;
  if (wide > 0) {
    result.resize(static_cast<size_t>(wide));
    MultiByteToWideChar(CP_ACP, MB_PRECOMPOSED, text.data(), length, &result[0], wide);
  }
  UsePluginFpu();
  return result;
}

void ShowMessage(const std::string& message, const std::string& caption) {
  FpuState before;
  SaveFpuState(&before);
  MessageBoxA(nullptr, message.c_str(), caption.empty() ? "Tessivar" : caption.c_str(), MB_OK);
  RestoreFpuState(&before);
}

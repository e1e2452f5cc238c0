#include "imaging/image_types.h"

#include <climits>

#include "text/text.h"

std::string WritableMimeType(const std::string& name) {
  static const struct {
    const char* key;
    const char* mimeType;
  } kImageTypes[] = {
      {"BMP", "image/bmp"},  {"EMF", "image/x-emf"},  {"GIF", "image/gif"},
      {"ICO", "image/x-icon"}, {"JPG", "image/jpeg"}, {"JPEG", "image/jpeg"},
      {"PNG", "image/png"},  {"TIF", "image/tiff"},   {"TIFF", "image/tiff"},
      {"WMF", "image/x-wmf"},  {"WEBP", "image/webp"},
  };
  // No "." gives position 0, and the whole name is the extension.
  const std::string extension = UpperCase(MidText(name, FindText(-1, name, ".") + 1));
  for (const auto& type : kImageTypes) {
    if (extension == type.key) return type.mimeType;
  }
  return std::string();
}

bool ResizeRejectedByNames(const std::string& source, const std::string& target) {
  return TrimSpaces(source).empty() || TrimSpaces(target).empty() ||
         WritableMimeType(target).empty();
}

bool NamesDevice(const std::wstring& target) {
  const size_t slash = target.find_last_of(L"\\/:");
  std::wstring stem = target.substr(slash == std::wstring::npos ? 0 : slash + 1);
  stem = stem.substr(0, stem.find(L'.'));
  while (!stem.empty() && stem.back() == L' ') stem.pop_back();  // "NUL .png" is NUL too
  for (wchar_t& c : stem) {
    if (c >= L'a' && c <= L'z') c = static_cast<wchar_t>(c - L'a' + L'A');
  }
  static const wchar_t* const kDevices[] = {L"CON", L"PRN", L"AUX", L"NUL", L"CONIN$", L"CONOUT$"};
  for (const wchar_t* device : kDevices) {
    if (stem == device) return true;
  }
  if (stem.size() != 4 || (stem.compare(0, 3, L"COM") != 0 && stem.compare(0, 3, L"LPT") != 0)) {
    return false;
  }
  const wchar_t digit = stem[3];
  return (digit >= L'1' && digit <= L'9') || digit == L'\u00B9' || digit == L'\u00B2' ||
         digit == L'\u00B3';
}

int32_t LargestSide(const std::string& mimeType) {
  return mimeType == "image/jpeg" ? 65500 : mimeType == "image/gif" ? 65535 : mimeType == "image/webp" ? 16383 : INT32_MAX;
}

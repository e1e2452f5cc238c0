#include "imaging/image_files.h"

#include <objbase.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "plugin/fpu.h"
#include "text/text.h"
#include "text/text_windows.h"

GpStatus StartGdiplusSession(ULONG_PTR* token) {
  const GdiplusStartupInput input = {1, nullptr, FALSE, FALSE};
  return gdiplus.GdiplusStartup(token, &input, nullptr);
}

void EndGdiplusSession(ULONG_PTR token) { gdiplus.GdiplusShutdown(token); }

GpStatus LoadImageFile(const std::string& name, GpImage** image) {
  return gdiplus.GdipLoadImageFromFile(ToWideText(name).c_str(), image);
}

GpStatus SaveImageFile(GpImage* image, const std::string& name, const CLSID* encoder,
                       const void* parameters) {
  return gdiplus.GdipSaveImageToFile(image, ToWideText(name).c_str(), encoder, parameters);
}

std::string NarrowFromWide(const WCHAR* text) {
  std::string narrow;
  if (text == nullptr) return narrow;
  for (; (*text & 0xFF) != 0; ++text) narrow += static_cast<char>(*text & 0xFF);
  return narrow;
}

std::string FindEncoderClsid(const std::string& mimeType) {
  const std::string wanted = UpperCase(mimeType);
  // Both start at 0, so that a failed size report leaves an empty list rather than garbage.
  UINT count = 0, size = 0;
  gdiplus.GdipGetImageEncodersSize(&count, &size);
  // The records and the texts they point to share this one buffer of exactly the reported size
  // (operator new aligns it for the records).
  std::vector<BYTE> buffer(size);
  auto* encoders = reinterpret_cast<ImageCodecInfo*>(buffer.data());
  if (gdiplus.GdipGetImageEncoders(count, size, encoders) != kGpOk) return std::string();
  // A count that does not fit the size would walk past the buffer.
  if (static_cast<size_t>(count) * sizeof(ImageCodecInfo) > size) return std::string();
  for (UINT i = 0; i < count; ++i) {
    const std::string listed = UpperCase(NarrowFromWide(encoders[i].MimeType));
    if (FindText(1, listed, wanted) >= 1) return ClsidText(encoders[i].Clsid);
  }
  return std::string();
}

std::string ClsidText(const CLSID& clsid) {
  char text[39];
  std::snprintf(text, sizeof text, "{%08lX-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                static_cast<unsigned long>(clsid.Data1), clsid.Data2, clsid.Data3, clsid.Data4[0],
                clsid.Data4[1], clsid.Data4[2], clsid.Data4[3], clsid.Data4[4], clsid.Data4[5],
                clsid.Data4[6], clsid.Data4[7]);
  return text;
}

CLSID ClsidFromText(const std::string& text) {
  CLSID clsid = {};
  unsigned long data1 = 0;
  unsigned int data2 = 0, data3 = 0, bytes[8] = {};
  int consumed = 0;
  const bool wellFormed =
      text.size() == 38 &&
      std::sscanf(text.c_str(), "{%8lx-%4x-%4x-%2x%2x-%2x%2x%2x%2x%2x%2x}%n", &data1, &data2,
                  &data3, &bytes[0], &bytes[1], &bytes[2], &bytes[3], &bytes[4], &bytes[5],
                  &bytes[6], &bytes[7], &consumed) == 11 &&
      consumed == 38;
  if (!wellFormed) {
    CoCreateGuid(&clsid);
    UsePluginFpu();
    return clsid;
  }
  clsid.Data1 = static_cast<DWORD>(data1);
  clsid.Data2 = static_cast<WORD>(data2);
  clsid.Data3 = static_cast<WORD>(data3);
  for (int i = 0; i < 8; ++i) clsid.Data4[i] = static_cast<BYTE>(bytes[i]);
  return clsid;
}

// Counts GDI+'s loads of a source (a file whose name holds `named`, "\source" unless told): a
// file the plug-in reads must never reach GDI+'s decoder, or a regression of the reader would hide
// behind GDI+'s picture. For the object's life; GDI+ works as ever meanwhile.
#pragma once

#include <string>

#include "imaging/gdiplus/gdiplus_api.h"

struct SourceLoadsCounted {
  static inline int loads = 0;
  static inline std::wstring named;
  explicit SourceLoadsCounted(const std::wstring& holding = L"\\source") {
    loads = 0;
    named = holding;
    GdiplusApi counting = {};
    counting.GdipLoadImageFromFile = [](const WCHAR* name, GpImage** image) {
      if (std::wstring(name).find(named) != std::wstring::npos) ++loads;
      return DefaultGdiplus().GdipLoadImageFromFile(name, image);
    };
    UseGdiplus(&counting);
  }
  ~SourceLoadsCounted() { UseGdiplus(nullptr); }
};

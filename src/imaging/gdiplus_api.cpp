#include "imaging/gdiplus_api.h"

#include "imaging/gdiplus_flat.h"

#include "plugin/fpu.h"

namespace {
// Calls the real function, then puts the plug-in's floating-point setting back: GDI+ may leave
// the control word changed.
template <auto Real, typename... Args>
GpStatus Bound(Args... args) {
  const GpStatus status = Real(args...);
  UsePluginFpu();
  return status;
}

void BoundShutdown(ULONG_PTR token) {
  ::GdiplusShutdown(token);
  UsePluginFpu();
}

const GdiplusApi kDefaults = {
    Bound<::GdiplusStartup>,
    BoundShutdown,
    Bound<::GdipLoadImageFromFile>,
    Bound<::GdipDisposeImage>,
    Bound<::GdipGetImageDimension>,
    Bound<::GdipGetImagePixelFormat>,
    Bound<::GdipGetImageType>,
    Bound<::GdipBitmapLockBits>,
    Bound<::GdipBitmapUnlockBits>,
    Bound<::GdipCreateBitmapFromScan0>,
    Bound<::GdipGetImageGraphicsContext>,
    Bound<::GdipDeleteGraphics>,
    Bound<::GdipSetInterpolationMode>,
    Bound<::GdipSetSmoothingMode>,
    Bound<::GdipCreateImageAttributes>,
    Bound<::GdipSetImageAttributesWrapMode>,
    Bound<::GdipDisposeImageAttributes>,
    Bound<::GdipDrawImageRectRectI>,
    Bound<::GdipDrawImageRectRect>,
    Bound<::GdipGetImageEncodersSize>,
    Bound<::GdipGetImageEncoders>,
    Bound<::GdipSaveImageToFile>,
};
}  // namespace

GdiplusApi gdiplus = kDefaults;

void UseGdiplus(const GdiplusApi* standIn) { gdiplus = standIn ? *standIn : kDefaults; }

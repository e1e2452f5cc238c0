#include "imaging/gdiplus/gdiplus_api.h"

#include "imaging/gdiplus/gdiplus_flat.h"

#include "platform/call_table.h"

namespace {
const GdiplusApi kDefaults = {
    ThenPluginFpu<::GdiplusStartup>,
    ThenPluginFpu<::GdiplusShutdown>,
    ThenPluginFpu<::GdipLoadImageFromFile>,
    ThenPluginFpu<::GdipDisposeImage>,
    ThenPluginFpu<::GdipGetImageDimension>,
    ThenPluginFpu<::GdipGetImagePixelFormat>,
    ThenPluginFpu<::GdipGetImageType>,
    ThenPluginFpu<::GdipBitmapLockBits>,
    ThenPluginFpu<::GdipBitmapUnlockBits>,
    ThenPluginFpu<::GdipCreateBitmapFromScan0>,
    ThenPluginFpu<::GdipGetImageGraphicsContext>,
    ThenPluginFpu<::GdipDeleteGraphics>,
    ThenPluginFpu<::GdipSetInterpolationMode>,
    ThenPluginFpu<::GdipSetSmoothingMode>,
    ThenPluginFpu<::GdipCreateImageAttributes>,
    ThenPluginFpu<::GdipSetImageAttributesWrapMode>,
    ThenPluginFpu<::GdipDisposeImageAttributes>,
    ThenPluginFpu<::GdipDrawImageRectRectI>,
    ThenPluginFpu<::GdipDrawImageRectI>,
    ThenPluginFpu<::GdipGetImageWidth>,
    ThenPluginFpu<::GdipGetImageHeight>,
};
}  // namespace

GdiplusApi gdiplus = kDefaults;

void UseGdiplus(const GdiplusApi* standIn) { gdiplus = WithRowsOf(kDefaults, standIn); }

const GdiplusApi& DefaultGdiplus() { return kDefaults; }

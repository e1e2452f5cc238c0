#include "imaging/gdiplus_api.h"

#include "plugin/fpu.h"

// The flat functions as gdiplus.dll exports them.
extern "C" {
GpStatus WINAPI GdiplusStartup(ULONG_PTR*, const GdiplusStartupInput*, void*);
void WINAPI GdiplusShutdown(ULONG_PTR);
GpStatus WINAPI GdipLoadImageFromFile(const WCHAR*, GpImage**);
GpStatus WINAPI GdipDisposeImage(GpImage*);
GpStatus WINAPI GdipGetImageDimension(GpImage*, float*, float*);
GpStatus WINAPI GdipGetImagePixelFormat(GpImage*, int32_t*);
GpStatus WINAPI GdipCreateBitmapFromScan0(INT, INT, INT, int32_t, BYTE*, GpImage**);
GpStatus WINAPI GdipGetImageGraphicsContext(GpImage*, GpGraphics**);
GpStatus WINAPI GdipDeleteGraphics(GpGraphics*);
GpStatus WINAPI GdipSetInterpolationMode(GpGraphics*, int);
GpStatus WINAPI GdipSetSmoothingMode(GpGraphics*, int);
GpStatus WINAPI GdipCreateImageAttributes(GpImageAttributes**);
GpStatus WINAPI GdipSetImageAttributesWrapMode(GpImageAttributes*, int, DWORD, BOOL);
GpStatus WINAPI GdipDisposeImageAttributes(GpImageAttributes*);
GpStatus WINAPI GdipDrawImageRectRectI(GpGraphics*, GpImage*, INT, INT, INT, INT, INT, INT, INT,
                                       INT, int, const GpImageAttributes*, void*, void*);
GpStatus WINAPI GdipGetImageEncodersSize(UINT*, UINT*);
GpStatus WINAPI GdipGetImageEncoders(UINT, UINT, ImageCodecInfo*);
GpStatus WINAPI GdipSaveImageToFile(GpImage*, const WCHAR*, const CLSID*, const void*);
}

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
    Bound<::GdipCreateBitmapFromScan0>,
    Bound<::GdipGetImageGraphicsContext>,
    Bound<::GdipDeleteGraphics>,
    Bound<::GdipSetInterpolationMode>,
    Bound<::GdipSetSmoothingMode>,
    Bound<::GdipCreateImageAttributes>,
    Bound<::GdipSetImageAttributesWrapMode>,
    Bound<::GdipDisposeImageAttributes>,
    Bound<::GdipDrawImageRectRectI>,
    Bound<::GdipGetImageEncodersSize>,
    Bound<::GdipGetImageEncoders>,
    Bound<::GdipSaveImageToFile>,
};
}  // namespace

GdiplusApi gdiplus = kDefaults;

void UseGdiplus(const GdiplusApi* standIn) { gdiplus = standIn ? *standIn : kDefaults; }

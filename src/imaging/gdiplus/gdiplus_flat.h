// The GDI+ flat functions as gdiplus.dll exports them. Only the facade (and the benchmark's
// floor, which measures GDI+ without the plug-in) call them by these names.
#pragma once

#include "imaging/gdiplus/gdiplus_api.h"

extern "C" {
GpStatus WINAPI GdiplusStartup(ULONG_PTR*, const GdiplusStartupInput*, void*);
void WINAPI GdiplusShutdown(ULONG_PTR);
GpStatus WINAPI GdipLoadImageFromFile(const WCHAR*, GpImage**);
GpStatus WINAPI GdipDisposeImage(GpImage*);
GpStatus WINAPI GdipGetImageDimension(GpImage*, float*, float*);
GpStatus WINAPI GdipGetImagePixelFormat(GpImage*, int32_t*);
GpStatus WINAPI GdipGetImageType(GpImage*, int*);
GpStatus WINAPI GdipBitmapLockBits(GpImage*, const GpRect*, UINT, int32_t, GpBitmapData*);
GpStatus WINAPI GdipBitmapUnlockBits(GpImage*, GpBitmapData*);
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
GpStatus WINAPI GdipDrawImageRectI(GpGraphics*, GpImage*, INT, INT, INT, INT);
GpStatus WINAPI GdipGetImageWidth(GpImage*, UINT*);
GpStatus WINAPI GdipGetImageHeight(GpImage*, UINT*);
}


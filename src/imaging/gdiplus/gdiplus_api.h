// The GDI+ facade: the one place that names the GDI+ flat functions the plug-in calls.
//
// `gdiplus` is a process-wide record with one row per function, in the shape of the Windows call
// table (platform/call_table.h). By default each row calls the function of gdiplus.dll and then
// puts the plug-in's floating-point setting back; a test puts stand-in rows in place with
// UseGdiplus and restores the defaults with UseGdiplus(nullptr).
#pragma once

#include <windows.h>

#include <cstdint>

typedef int32_t GpStatus;  // 0 is Ok; every other value is a failure
constexpr GpStatus kGpOk = 0;

struct GpImage;  // an image or a bitmap: 0 means none
struct GpGraphics;
struct GpImageAttributes;

// The start-up input record: version 1, no debug callback, GDI+'s background thread and
// external codecs both allowed.
struct GdiplusStartupInput {
  UINT32 GdiplusVersion;
  void* DebugEventCallback;
  BOOL SuppressBackgroundThread;
  BOOL SuppressExternalCodecs;
};

constexpr int32_t kPixelFormatIndexed = 0x00010000;   // the flag of the 1-, 4- and 8-bit palettes
constexpr int32_t kPixelFormatAlpha = 0x00040000;     // the flag of every format with alpha
constexpr int32_t kPixelFormat24bppRGB = 0x00021808;
constexpr int32_t kPixelFormat32bppRGB = 0x00022009;
constexpr int32_t kPixelFormat32bppARGB = 0x0026200A;
constexpr int32_t kPixelFormat32bppPARGB = 0x000E200B;
constexpr int32_t kPixelFormat16bppRGB555 = 0x00021005;
constexpr int32_t kPixelFormat16bppRGB565 = 0x00021006;
constexpr int32_t kPixelFormat8bppIndexed = 0x00030803;
constexpr int32_t kPixelFormat16bppGrayScale = 0x00101004;
constexpr UINT kPaletteFlagsHasAlpha = 1;
constexpr int kImageTypeBitmap = 1;  // the other kinds are metafiles (2) and unknown (0)
constexpr UINT kImageLockModeRead = 1;
constexpr UINT kImageLockModeWrite = 2;
constexpr int kInterpolationModeHighQuality = 2;
constexpr int kSmoothingModeHighQuality = 2;
constexpr int kUnitPixel = 2;
constexpr int kWrapModeTileFlipXY = 3;

// A rectangle of pixels, and what a lock of it hands out: row y of the rectangle starts at
// Scan0 + y * Stride.
struct GpRect {
  INT X, Y, Width, Height;
};
struct GpBitmapData {
  UINT Width;
  UINT Height;
  INT Stride;
  int32_t PixelFormat;
  void* Scan0;
  UINT_PTR Reserved;
};

struct GdiplusApi {
  GpStatus (*GdiplusStartup)(ULONG_PTR* token, const GdiplusStartupInput* input, void* output);
  void (*GdiplusShutdown)(ULONG_PTR token);
  GpStatus (*GdipLoadImageFromFile)(const WCHAR* name, GpImage** image);
  GpStatus (*GdipDisposeImage)(GpImage* image);
  GpStatus (*GdipGetImageDimension)(GpImage* image, float* width, float* height);
  GpStatus (*GdipGetImagePixelFormat)(GpImage* image, int32_t* format);
  GpStatus (*GdipGetImageType)(GpImage* image, int* type);
  GpStatus (*GdipBitmapLockBits)(GpImage* bitmap, const GpRect* rect, UINT flags, int32_t format,
                                 GpBitmapData* data);
  GpStatus (*GdipBitmapUnlockBits)(GpImage* bitmap, GpBitmapData* data);
  GpStatus (*GdipCreateBitmapFromScan0)(INT width, INT height, INT stride, int32_t format,
                                        BYTE* scan0, GpImage** bitmap);
  GpStatus (*GdipGetImageGraphicsContext)(GpImage* image, GpGraphics** graphics);
  GpStatus (*GdipDeleteGraphics)(GpGraphics* graphics);
  GpStatus (*GdipSetInterpolationMode)(GpGraphics* graphics, int mode);
  GpStatus (*GdipSetSmoothingMode)(GpGraphics* graphics, int mode);
  GpStatus (*GdipCreateImageAttributes)(GpImageAttributes** attributes);
  GpStatus (*GdipSetImageAttributesWrapMode)(GpImageAttributes* attributes, int wrap, DWORD argb,
                                             BOOL clamp);
  GpStatus (*GdipDisposeImageAttributes)(GpImageAttributes* attributes);
  GpStatus (*GdipDrawImageRectRectI)(GpGraphics* graphics, GpImage* image, INT dstX, INT dstY,
                                     INT dstWidth, INT dstHeight, INT srcX, INT srcY,
                                     INT srcWidth, INT srcHeight, int srcUnit,
                                     const GpImageAttributes* attributes, void* abortCallback,
                                     void* callbackData);
  GpStatus (*GdipDrawImageRectI)(GpGraphics* graphics, GpImage* image, INT x, INT y, INT width,
                                 INT height);
  GpStatus (*GdipGetImageWidth)(GpImage* image, UINT* width);
  GpStatus (*GdipGetImageHeight)(GpImage* image, UINT* height);
};

extern GdiplusApi gdiplus;

// Puts the stand-in's non-null rows in place of GDI+'s; null puts every default back.
void UseGdiplus(const GdiplusApi* standIn);

// The table as it ships: every row calls gdiplus.dll.
const GdiplusApi& DefaultGdiplus();

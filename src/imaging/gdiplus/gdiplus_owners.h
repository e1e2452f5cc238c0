// Scoped owners of what GDI+ hands out: each releases what it holds when it goes out of scope,
// on every path, a thrown exception included, and exactly once. Releases go through the GDI+
// table as it is at that moment, so a stand-in sees them.
#pragma once

#include "imaging/gdiplus/gdiplus_api.h"

template <typename Handle, GpStatus (*GdiplusApi::*Release)(Handle*)>
struct GdiplusOwner {
  Handle* handle = nullptr;

  GdiplusOwner() = default;
  GdiplusOwner(GdiplusOwner&& other) noexcept : handle(other.handle) { other.handle = nullptr; }
  GdiplusOwner& operator=(GdiplusOwner&& other) noexcept {
    if (this != &other) {
      Reset();
      handle = other.handle;
      other.handle = nullptr;
    }
    return *this;
  }
  GdiplusOwner(const GdiplusOwner&) = delete;
  GdiplusOwner& operator=(const GdiplusOwner&) = delete;
  ~GdiplusOwner() { Reset(); }

  void Reset() {
    if (handle != nullptr) (gdiplus.*Release)(handle);
    handle = nullptr;
  }
};

typedef GdiplusOwner<GpImage, &GdiplusApi::GdipDisposeImage> ImageOwner;
typedef GdiplusOwner<GpGraphics, &GdiplusApi::GdipDeleteGraphics> GraphicsOwner;
typedef GdiplusOwner<GpImageAttributes, &GdiplusApi::GdipDisposeImageAttributes> AttributesOwner;

// A GDI+ session: open from a successful start-up until the owner ends. A start-up that failed
// gave no token, and shutting down with it would end a session somebody else opened (GDI+
// counts start-ups, not tokens), so it is never shut down.
struct SessionOwner {
  ULONG_PTR token = 0;
  bool started = false;

  SessionOwner() = default;
  SessionOwner(const SessionOwner&) = delete;
  SessionOwner& operator=(const SessionOwner&) = delete;
  ~SessionOwner() { End(); }

  void End() {
    if (started) gdiplus.GdiplusShutdown(token);
    started = false;
  }
};

// Pixels of a bitmap locked for reading or writing, unlocked when the owner ends.
struct BitsLock {
  GpImage* bitmap = nullptr;  // null while nothing is locked
  GpBitmapData data = {};

  BitsLock() = default;
  BitsLock(const BitsLock&) = delete;
  BitsLock& operator=(const BitsLock&) = delete;
  ~BitsLock() { Unlock(); }

  void Unlock() {
    if (bitmap != nullptr) gdiplus.GdipBitmapUnlockBits(bitmap, &data);
    bitmap = nullptr;
  }
};

// True when a lock handed out at least width by height pixels of rowBytes each: reading or
// writing a lock that gave fewer would run past its end.
inline bool LockHolds(const GpBitmapData& data, int32_t width, int32_t height, int32_t rowBytes) {
  return data.Scan0 != nullptr && data.Width >= static_cast<UINT>(width) &&
         data.Height >= static_cast<UINT>(height) &&
         (data.Stride < 0 ? -int64_t{data.Stride} : int64_t{data.Stride}) >= rowBytes;
}

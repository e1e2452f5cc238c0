// Stand-ins for GDI+ and Windows. The GDI+ one logs every call with its arguments and answers as the test's script
// says. It also behaves like Windows where the platform's GDI+ does not (no drawing context on
// palette formats) and like the platform where it is harsh (a failed save truncates the file).
#pragma once

#include <windows.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "imaging/gdiplus/gdiplus_api.h"

struct GdiplusScript {
  GpStatus startup = kGpOk;
  bool sourceLoads = true;
  float width = 640, height = 480;
  int32_t pixelFormat = 0x00021808;  // 24-bit RGB
  int imageType = 1;                 // a bitmap; 2 is a metafile
  // The functions named here answer 2 (InvalidParameter) and hand out nothing.
  std::set<std::string> failing;
  // Calls are numbered from 1 in the order they reach the stand-in; call `failAt` fails like a
  // named one (GdiplusShutdown, which answers nothing, cannot), and with `failFromThen` every
  // later call too.
  size_t failAt = 0;
  bool failFromThen = false;
  // Call `throwAt` throws std::bad_alloc instead, as an allocation would, unless it releases
  // something (a release that throws would end the program in a destructor).
  size_t throwAt = 0;
  // The function named fails its first n calls, then works.
  std::map<std::string, int> failFirst;
  // What GetLastError answers after a failed Windows call.
  DWORD windowsError = ERROR_SHARING_VIOLATION;
  // Formats on which no bitmap can be made (Windows before 7: 32-bit CMYK, 0x200F).
  std::set<int32_t> noBitmapFormats;
  // Locks hand out one row fewer than asked for, as a faulty GDI+ might.
  bool shortLocks = false;
};

// Installs the stand-in for the life of the object, with a fresh script and an empty log, and
// puts gdiplus.dll back afterwards.
struct RecordingGdiplus {
  RecordingGdiplus();
  ~RecordingGdiplus();
  GdiplusScript& script;
  std::vector<std::string>& calls;
  // Sessions still open plus images, contexts, attributes and locks not yet released.
  int Unreleased() const;
};

// Windows calls through the same log, numbered with the GDI+ calls and failed by the same
// script; each row does the real thing unless it fails. Lives inside a RecordingGdiplus.
struct RecordingWindows {
  RecordingWindows();
  ~RecordingWindows();
};

// Temporary names in the log read "~qt#"; this is what they look like there.
std::string LoggedTemporaryName(const std::string& target);

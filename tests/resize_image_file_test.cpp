// ResizeImageFile against the recording stand-ins: call order, failure paths, releases, and
// that a failure never touches an existing target.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "image_codec.h"
#include "imaging/image_metrics.h"
#include "imaging/resize_image_file.h"
#include "text/number.h"
#include "plugin/host_interface.h"
#include "recording_stand_ins.h"
#include "scoped.h"
#include "scoped_host_entries.h"
#include "scratch_folder.h"

namespace {
const std::vector<uint8_t> kKeep = {'k', 'e', 'e', 'p', ' ', 'm', 'e'};
const std::vector<uint8_t> kStandInImage = {'S', 'T', 'A', 'N', 'D', '-', 'I', 'N', ' ',
                                            'I', 'M', 'A', 'G', 'E'};

// A resize through the exported action, with one call of GDI+ or Windows failed (a failure
// status, or an exception where memory would run out): call 1, 2, ... up to the last call of a
// clean run, for an existing target and a new one, reduced over boxes and drawn directly. Each
// run ends in exactly the outcome that the target shows, with every GDI+ object and session
// released, no temporary file, and an existing target either replaced whole or unchanged.
TEST(ResizeImageFile, EveryInjectedFailureEndsInOneTrueOutcome) {
  const struct {
    int width, height;
  } sizes[] = {{101, 96}, {400, 300}};
  int injected = 0, converted = 0;
  for (const auto& size : sizes) {
    for (const bool existing : {true, false}) {
      for (const bool throwing : {false, true}) {
        size_t total = 0;
        for (size_t n = 0; n == 0 || n <= total; ++n) {
          ScratchFolder folder;
          const std::string target = folder / "thumb.png";
          if (existing) {
            ASSERT_TRUE(WriteBytes(target, kKeep));
          }
          RecordingGdiplus gdi;
          RecordingWindows windowsCalls;
          ScopedHostEntries host;
          gdi.script.width = 707;
          gdi.script.height = 481;
          (throwing ? gdi.script.throwAt : gdi.script.failAt) = n;
          const std::string parameter = "a.bmp|" + target + "|" + std::to_string(size.width) +
                                        "|" + std::to_string(size.height);
          AE_RESIZE(parameter.c_str());
          const std::string trace = "call " + std::to_string(n) + (throwing ? " throws" : " fails") +
                                    (existing ? ", existing " : ", new ") + parameter;
          if (n == 0) {
            total = gdi.calls.size();  // the clean run
            ASSERT_GT(total, 20u);
          } else {
            ASSERT_LE(n, gdi.calls.size()) << trace;
            ++injected;
          }
          ASSERT_EQ(hostRecord.assignments.size(), 1u) << trace;
          EXPECT_EQ(hostRecord.assignments[0].name, "ae_ResizeImage") << trace;
          const std::string& outcome = hostRecord.assignments[0].value;
          const std::vector<uint8_t> now = ReadBytes(target);
          if (outcome == "The file was converted succesfully") {
            EXPECT_EQ(now, kStandInImage) << trace;
            converted += n != 0;
          } else {
            EXPECT_EQ(outcome, "Conversion Failed") << trace;
            EXPECT_EQ(now, existing ? kKeep : std::vector<uint8_t>()) << trace;
          }
          EXPECT_EQ(gdi.Unreleased(), 0) << trace;
          const std::vector<std::string> left = folder.Entries();
          EXPECT_TRUE(left.empty() || left == std::vector<std::string>{"thumb.png"})
              << trace << ": " << left.back();
          if (n == 0) {
            ASSERT_EQ(outcome, "The file was converted succesfully");
          }
        }
      }
    }
  }
  std::printf("fault sweep: %d injected failures, %d of them still converted\n", injected,
              converted);
}

TEST(ResizeImageFile, EarlyRefusalsOpenNoSession) {
  const struct {
    std::string source, target;
  } cases[] = {{"", "a.png"},      {"   ", "a.png"}, {"a.bmp", ""},          {"a.bmp", "  "},
               {"   ", "   "},     {"a.bmp", "a.txt"}, {"a.bmp", "a.png "}, {"a.bmp", "a.png.bak"},
               {"a.bmp", "pics.old\\thumb"}, {"a.bmp", "a."}};
  for (const auto& c : cases) {
    RecordingGdiplus gdi;
    EXPECT_EQ(ResizeImageFile(c.source, c.target, 10, 10), -1) << c.source << "|" << c.target;
    EXPECT_TRUE(gdi.calls.empty()) << c.source << "|" << c.target;
  }
}

TEST(ResizeImageFile, MissingSourceOpensAndClosesASessionAndWritesNothing) {
  ScratchFolder folder;
  RecordingGdiplus gdi;
  gdi.script.sourceLoads = false;
  EXPECT_EQ(ResizeImageFile("missing.bmp", folder / "out.png", 10, 10), -1);
  EXPECT_EQ(gdi.calls, (std::vector<std::string>{
                           "GdiplusStartup(version 1, callback 00000000, suppress 0 0, output 00000000)",
                           "GdipLoadImageFromFile(missing.bmp)", "GdiplusShutdown(77)"}));
  EXPECT_TRUE(folder.Entries().empty());
}

// A session whose start-up failed gave no token: shutting it down would end a session that the
// host opened for itself. Neither the resize nor the measuring does.
TEST(ResizeImageFile, FailedStartUpIsNeverShutDown) {
  ScratchFolder folder;
  for (const bool measuring : {false, true}) {
    RecordingGdiplus gdi;
    gdi.script.startup = 18;  // GdiplusNotInitialized
    if (measuring) {
      EXPECT_FALSE(MeasureImageFile("a.bmp").sessionStarted);
    } else {
      ResizeImageFile("a.bmp", folder / "out.png", 10, 10);
    }
    EXPECT_EQ(std::count(gdi.calls.begin(), gdi.calls.end(), "GdiplusShutdown(77)"), 0) << measuring;
    EXPECT_EQ(std::count(gdi.calls.begin(), gdi.calls.end(), "GdiplusShutdown(0)"), 0) << measuring;
    EXPECT_EQ(gdi.Unreleased(), 0);
  }
}

// A rename or delete refused for a moment, as when a virus scanner has just opened the new file,
// is tried again with a growing wait; a refusal that waiting does not mend, or that lasts, ends
// the resize with the target as it was and no temporary file.
TEST(ResizeImageFile, LockedRenamesAndDeletesAreRetried) {
  const struct {
    std::map<std::string, int> failFirst;
    DWORD error;
    int32_t expected;
    std::vector<std::string> sleeps;
  } cases[] = {
      {{{"MoveFileExW", 1}}, ERROR_SHARING_VIOLATION, 0, {"Sleep(25)"}},
      {{{"MoveFileExW", 3}}, ERROR_LOCK_VIOLATION, 0, {"Sleep(25)", "Sleep(50)", "Sleep(75)"}},
      {{{"MoveFileExW", 9}}, ERROR_ACCESS_DENIED, 0, {}},
      {{{"MoveFileExW", 10}}, ERROR_SHARING_VIOLATION, -1, {}},
      {{{"MoveFileExW", 1}}, ERROR_PATH_NOT_FOUND, -1, {}},  // waiting mends nothing
      {{{"MoveFileExW", 10}, {"DeleteFileW", 4}}, ERROR_SHARING_VIOLATION, -1, {}},
  };
  for (const auto& c : cases) {
    ScratchFolder folder;
    ASSERT_TRUE(WriteBytes(folder / "kept.png", kKeep));
    RecordingGdiplus gdi;
    RecordingWindows windowsCalls;
    gdi.script.failFirst = c.failFirst;
    gdi.script.windowsError = c.error;
    const int refusals = c.failFirst.at("MoveFileExW");
    const std::string trace =
        std::to_string(refusals) + " refused renames, error " + std::to_string(c.error);
    EXPECT_EQ(ResizeImageFile("a.bmp", folder / "kept.png", 16, 16), c.expected) << trace;
    EXPECT_EQ(ReadBytes(folder / "kept.png"), c.expected == 0 ? kStandInImage : kKeep) << trace;
    EXPECT_EQ(folder.Entries(), std::vector<std::string>{"kept.png"}) << trace;
    std::vector<std::string> sleeps;
    for (const std::string& call : gdi.calls) {
      if (call.rfind("Sleep(", 0) == 0) sleeps.push_back(call);
    }
    if (!c.sleeps.empty()) {
      EXPECT_EQ(sleeps, c.sleeps) << trace;
    }
    if (c.error != ERROR_PATH_NOT_FOUND) {
      // Every refusal but the tenth is followed by a wait; so is every refused delete.
      const int deletes = c.failFirst.count("DeleteFileW") ? c.failFirst.at("DeleteFileW") : 0;
      EXPECT_EQ(static_cast<int>(sleeps.size()), std::min(refusals, 9) + deletes) << trace;
    } else {
      EXPECT_TRUE(sleeps.empty()) << trace;
    }
  }
}

// Thrown or failed at any call (once, or every call from there on), the measuring releases
// everything and reports both sizes or neither.
TEST(ImageMetricsAction, EveryInjectedFailureReportsBothSizesOrNeither) {
  enum Mode { kFailOnce, kFailFromThen, kThrow };
  size_t total = 0;
  for (const Mode mode : {kFailOnce, kFailFromThen, kThrow}) {
    for (size_t n = 0; n == 0 || n <= total; ++n) {
      RecordingGdiplus gdi;
      RecordingWindows windowsCalls;
      ScopedHostEntries host;
      (mode == kThrow ? gdi.script.throwAt : gdi.script.failAt) = n;
      gdi.script.failFromThen = mode == kFailFromThen;
      AE_IMAGE_GET_METRICS("photo.bmp");
      if (n == 0) total = gdi.calls.size();
      const size_t set = hostRecord.assignments.size();
      EXPECT_TRUE(set == 0 || set == 2) << n << " mode " << mode;
      EXPECT_EQ(gdi.Unreleased(), 0) << n << " mode " << mode;
    }
  }
  EXPECT_GT(total, 3u);
}

TEST(ResizeImageFile, UnusableDimensionsReleaseTheSourceBeforeShutdown) {
  const float sizes[][2] = {{0, 480}, {640, 0}, {-1, 480}, {640, -0.5f}};
  for (const auto& size : sizes) {
    RecordingGdiplus gdi;
    gdi.script.width = size[0];
    gdi.script.height = size[1];
    EXPECT_EQ(ResizeImageFile("a.bmp", "b.png", 10, 10), -1);
    ASSERT_EQ(gdi.calls.size(), 5u);
    EXPECT_EQ(gdi.calls[3], "GdipDisposeImage(source)");
    EXPECT_EQ(gdi.calls[4], "GdiplusShutdown(77)");
  }
}

// The bitmap keeps the source's format unless Windows' GDI+ could not draw into it.
TEST(ResizeImageFile, PaletteAndUndrawableFormatsAreDrawnIn32BitArgb) {
  const struct {
    int32_t source;
    std::vector<std::string> bitmaps;  // the formats of the bitmaps asked for, in order
  } cases[] = {
      {0x30101, {"0x26200A"}},             // 1-bit palette: straight to ARGB
      {0x30803, {"0x26200A"}},             // 8-bit palette
      {0x101004, {"0x101004", "0x26200A"}},  // 16-bit grey: the context is refused
      {0x61007, {"0x61007", "0x26200A"}},    // ARGB 1555: likewise
      {0x200F, {"0x200F", "0x26200A"}},      // CMYK: no bitmap at all
      {0x26200A, {"0x26200A"}},            // alpha is kept
      {0x22009, {"0x22009"}},              // 32-bit RGB
  };
  for (const auto& c : cases) {
    ScratchFolder folder;
    RecordingGdiplus gdi;
    gdi.script.pixelFormat = c.source;
    gdi.script.noBitmapFormats = {0x200F};
    EXPECT_EQ(ResizeImageFile("a.bmp", folder / "b.png", 400, 300), 0) << std::hex << c.source;
    std::vector<std::string> asked;
    for (const std::string& call : gdi.calls) {
      if (call.rfind("GdipCreateBitmapFromScan0", 0) == 0) {
        asked.push_back(call.substr(call.find("0x"), call.find(", 0000") - call.find("0x")));
      }
    }
    EXPECT_EQ(asked, c.bitmaps) << std::hex << c.source;
    EXPECT_EQ(gdi.Unreleased(), 0);
  }
}

// Each failure along the way: the right answer, everything released, an existing target kept
// byte for byte and no temporary file left behind.
TEST(ResizeImageFile, EveryFailureReleasesEverythingAndKeepsTheTarget) {
  // 640 by 480 to 16 by 16 is averaged over boxes first; to 400 by 300 it is drawn directly.
  const struct {
    const char* failing;
    int32_t side, expected;
  } cases[] = {
      {"GdipLoadImageFromFile", 16, -1},       {"GdipGetImageDimension", 16, -1},
      {"GdipCreateBitmapFromScan0", 16, -1},   {"GdipGetImageGraphicsContext", 16, -1},
      {"GdipDrawImageRectRectI", 400, -1},     {"GdipDrawImageRectRect", 16, -1},
      {"GdipGetImageEncodersSize", 16, -1},    {"GdipGetImageEncoders", 16, -1},
      {"GdipSaveImageToFile", 16, -1},
      {"GdipCreateImageAttributes", 16, 0},  // drawn without them, edges and all
      {"GdipBitmapLockBits", 16, 0},         // drawn directly, as without boxes
      {"GdipGetImageType", 16, 0},
  };
  for (const auto& c : cases) {
    ScratchFolder folder;
    const std::string target = folder / "kept.png";
    ASSERT_TRUE(WriteBytes(target, kKeep));
    RecordingGdiplus gdi;
    gdi.script.failing = {c.failing};
    EXPECT_EQ(ResizeImageFile("a.bmp", target, c.side, c.side), c.expected) << c.failing;
    EXPECT_EQ(gdi.Unreleased(), 0) << c.failing;
    EXPECT_EQ(folder.Entries(), std::vector<std::string>{"kept.png"}) << c.failing;
    if (c.expected != 0) {
      EXPECT_EQ(ReadBytes(target), kKeep) << c.failing;
    }
  }
}

// Where the averaging cannot be had, the source is drawn directly, as without it: the call of
// each row is found in a clean run and failed alone in a second one.
TEST(ResizeImageFile, BoxAveragingFallsBackToTheSingleDraw) {
  const struct {
    const char* call;  // the beginning of the call that fails
    int32_t format;
    int imageType;
    float width, height;
  } cases[] = {
      // 707 is 7 times 101; 481 rows make 97 boxes of 5, the last one partial.
      {"GdipBitmapLockBits(source", 0x21808, 1, 707, 481},          // the source's first band
      {"GdipBitmapLockBits(source", 0x30803, 1, 707, 481},          // a palette, read converted
      {"GdipCreateBitmapFromScan0(101, 97", 0x21808, 1, 707, 481},  // the averaged bitmap
      {"GdipCreateBitmapFromScan0(101, 97", 0x26200A, 1, 707, 481},
      {"GdipBitmapLockBits(bitmap2", 0x26200A, 1, 707, 481},        // its pixels
      {"", 0x21808, 2, 707, 481},                                   // a metafile: nothing to average
      {"", 0x21808, 1, 2147483520.0f, 481},  // a damaged header's width: rows past any picture
  };
  for (const auto& c : cases) {
    const std::string size = std::to_string(RoundToInt32(c.width)) + " " +
                             std::to_string(RoundToInt32(c.height));
    size_t victim = 0;
    if (*c.call != '\0') {
      RecordingGdiplus clean;
      clean.script.width = c.width;
      clean.script.height = c.height;
      clean.script.pixelFormat = c.format;
      ASSERT_EQ(ResizeImageFile("a.bmp", "b.png", 101, 96), 0);
      for (size_t i = 0; i < clean.calls.size() && victim == 0; ++i) {
        if (clean.calls[i].rfind(c.call, 0) == 0) victim = i + 1;
      }
      ASSERT_NE(victim, 0u) << c.call;
      std::remove("b.png");
    }
    RecordingGdiplus gdi;
    gdi.script.width = c.width;
    gdi.script.height = c.height;
    gdi.script.pixelFormat = c.format;
    gdi.script.imageType = c.imageType;
    gdi.script.failAt = victim;
    EXPECT_EQ(ResizeImageFile("a.bmp", "b.png", 101, 96), 0) << c.call << size;
    EXPECT_EQ(gdi.Unreleased(), 0) << c.call;
    const std::string direct =
        "GdipDrawImageRectRectI(graphics1, source, 0 0 101 96, 0 0 " + size + ", 2, attributes1";
    EXPECT_EQ(std::count_if(gdi.calls.begin(), gdi.calls.end(),
                            [&](const std::string& call) { return call.rfind(direct, 0) == 0; }),
              1) << c.call << size;
    if (c.width > 1e9f) {  // not even tried: the row's length is no arithmetic to trust
      EXPECT_EQ(std::count_if(gdi.calls.begin(), gdi.calls.end(),
                              [](const std::string& call) { return call.rfind("GdipBitmapLock", 0) == 0; }),
                0);
    }
    std::remove("b.png");
  }
}

// The whole box grid: 707 by 481 to 101 by 96 averages 7 by 5 boxes into 101 by 97 pixels and
// draws the 101 by 96.2 of them that the source covers.
TEST(ResizeImageFile, AveragedBitmapCoversTheWholeSource) {
  RecordingGdiplus gdi;
  gdi.script.width = 707;
  gdi.script.height = 481;
  ASSERT_EQ(ResizeImageFile("a.bmp", "b.png", 101, 96), 0);
  std::remove("b.png");
  std::vector<std::string> boxes;
  for (const std::string& call : gdi.calls) {
    if (call.find("bitmap2") != std::string::npos && call.rfind("GdipDispose", 0) != 0) boxes.push_back(call);
  }
  EXPECT_EQ(boxes, (std::vector<std::string>{
                       "GdipBitmapLockBits(bitmap2:0x21808, 0 0 101 97, 2, 0x21808)",
                       "GdipBitmapUnlockBits(bitmap2:0x21808)",
                       "GdipDrawImageRectRect(graphics1, bitmap2:0x21808, 0 0 101 96, 0 0 101 "
                       "96.2, 2, attributes1, 00000000, 00000000)"}));
  EXPECT_EQ(gdi.Unreleased(), 0);
}

TEST(ResizeImageFile, TargetsWithoutAnEncoderFailAndKeepTheExistingFile) {
  const struct {
    const char* target;
    std::vector<std::wstring> encoders;
  } cases[] = {
      {"icon.ico", {L"image/bmp", L"image/png"}},
      {"drawing.emf", {L"image/bmp", L"image/png"}},
      {"drawing.wmf", {L"image/bmp", L"image/png"}},
      {"photo.png", {}},  // no encoders at all
  };
  for (const auto& c : cases) {
    ScratchFolder folder;
    ASSERT_TRUE(WriteBytes(folder / c.target, kKeep));
    RecordingGdiplus gdi;
    gdi.script.encoderMimeTypes = c.encoders;
    EXPECT_EQ(ResizeImageFile("a.bmp", folder / c.target, 16, 16), -1) << c.target;
    EXPECT_EQ(ReadBytes(folder / c.target), kKeep) << c.target;
    EXPECT_EQ(folder.Entries(), std::vector<std::string>{c.target});
    EXPECT_EQ(gdi.Unreleased(), 0);
  }
}

TEST(ResizeImageFile, NamesReachGdiplusWithTheirBlanks) {
  ScratchFolder folder;
  RecordingGdiplus gdi;
  const std::string target = folder / " out.png";
  EXPECT_EQ(ResizeImageFile("  photo.bmp ", target, 5, 5), 0);
  EXPECT_EQ(gdi.calls[1], "GdipLoadImageFromFile(  photo.bmp )");
  const std::string saved = "GdipSaveImageToFile(bitmap1:0x21808, " + LoggedTemporaryName(target);
  EXPECT_EQ(std::count_if(gdi.calls.begin(), gdi.calls.end(),
                          [&](const std::string& call) { return call.rfind(saved, 0) == 0; }),
            1);
  EXPECT_EQ(folder.Entries(), std::vector<std::string>{" out.png"});
}

TEST(ResizeImageFile, TargetThatIsTheSourceFailsAndKeepsIt) {
  ScratchFolder folder;
  ASSERT_TRUE(WriteBytes(folder / "photo.png", kKeep));
  ScopedCurrentFolder inFolder(folder.path);
  const struct {
    std::string source, target;
  } cases[] = {{folder / "photo.png", folder / "photo.png"},
               {folder / "photo.png", folder / "PHOTO.PNG"},
               {"photo.png", folder / "photo.png"},
               {folder / "photo.png", ".\\photo.png"}};
  for (const auto& c : cases) {
    RecordingGdiplus gdi;
    EXPECT_EQ(ResizeImageFile(c.source, c.target, 5, 5), -1) << c.source << " " << c.target;
    EXPECT_EQ(ReadBytes(folder / "photo.png"), kKeep);
    EXPECT_EQ(folder.Entries(), std::vector<std::string>{"photo.png"});
    EXPECT_EQ(gdi.Unreleased(), 0);
  }
}
}  // namespace

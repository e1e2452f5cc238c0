// ResizeImageFile against the recording stand-ins: call order, failure paths, releases, and
// that a failure never touches an existing target.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "image_codec.h"
#include "imaging/image_types.h"
#include "imaging/image_metrics.h"
#include "imaging/resize_image_file.h"
#include "imaging/target_writer.h"
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
// A target's bytes, or kNewTiff for a TIFF of 16 by 16 the plug-in wrote.
const std::vector<uint8_t> kNewTiff = {'T', 'I', 'F', 'F'};
std::vector<uint8_t> Written(const std::string& path) {
  const std::vector<uint8_t> bytes = ReadBytes(path);
  const ImageHeader header = ReadImageHeader(bytes);
  return header.format == "TIFF" && header.width == 16 && header.height == 16 ? kNewTiff : bytes;
}

// A resize through the exported action, with one call of GDI+ or Windows failed (a failure
// status, or an exception where memory would run out): call 1, 2, ... up to the last call of a
// clean run, for an existing target and a new one, reduced over boxes or not, from a source that
// GDI+ reads and from a JPEG, a BMP, a GIF and a TIFF that the plug-in reads, into files the plug-in
// writes (a JPEG streamed into a PNG or a TIFF, a BMP into a BMP, a GIF into a PNG, a TIFF into a
// JPEG, GDI+'s
// picture into a TIFF, a JPEG and a GIF; GDI+'s encoder where a build has no writer of its own).
// Each run ends in
// exactly the outcome that the target shows, with every GDI+ object and session released, no
// temporary file, and an existing target either replaced whole or unchanged.
TEST(ResizeImageFile, EveryInjectedFailureEndsInOneTrueOutcome) {
  ScratchFolder sources;
  const std::string jpeg = sources / "photo.jpg";
  ASSERT_TRUE(WriteBmp24(sources / "photo.bmp", 707, 481, [](int x, int y) {
    return Rgba{static_cast<uint8_t>(x), static_cast<uint8_t>(y), static_cast<uint8_t>(x ^ y), 255};
  }));
  ASSERT_EQ(ResizeImageFile(sources / "photo.bmp", jpeg, 707, 481), ResizeStep::kConverted);
  // Small BMP, GIF and TIFF sources, which the plug-in's own readers read.
  const std::string bmp = sources / "small.bmp", gif = sources / "small.gif", tiff = sources / "small.tif";
  ASSERT_TRUE(WriteBmp24(bmp, 40, 30, [](int x, int y) { return Rgba{static_cast<uint8_t>(x * 6), static_cast<uint8_t>(y * 8), 90, 255}; }));
  ASSERT_EQ(ResizeImageFile(bmp, gif, 40, 30), ResizeStep::kConverted);
  ASSERT_EQ(ResizeImageFile(bmp, tiff, 40, 30), ResizeStep::kConverted);
  const struct {
    std::string source;
    int width, height;
    const char* target;
  } sizes[] = {{"a.bmp", 101, 96, "thumb.tif"}, {"a.bmp", 400, 300, "thumb.tif"}, {jpeg, 101, 96, "thumb.tif"},
               {jpeg, 400, 300, "thumb.tif"}, {"a.bmp", 101, 96, "thumb.gif"}, {jpeg, 101, 96, "thumb.png"},
               {"a.bmp", 101, 96, "thumb.jpg"}, {bmp, 20, 15, "thumb.bmp"}, {gif, 20, 15, "thumb.png"},
               {tiff, 20, 15, "thumb.jpg"}, {jpeg, 101, 96, "thumb.webp"}};
  int injected = 0, converted = 0;
  for (const auto& size : sizes) {
    for (const bool existing : {true, false}) {
      for (const bool throwing : {false, true}) {
        size_t total = 0;
        for (size_t n = 0; n == 0 || n <= total; ++n) {
          ScratchFolder folder;
          const std::string target = folder / size.target;
          if (existing) {
            ASSERT_TRUE(WriteBytes(target, kKeep));
          }
          RecordingGdiplus gdi;
          RecordingWindows windowsCalls;
          ScopedHostEntries host;
          gdi.script.width = 707;
          gdi.script.height = 481;
          // GDI+ cannot read the JPEG: only the plug-in's own reader can convert it.
          gdi.script.sourceLoads = size.source != jpeg && size.source != bmp && size.source != gif && size.source != tiff;
          (throwing ? gdi.script.throwAt : gdi.script.failAt) = n;
          const std::string parameter = size.source + "|" + target + "|" +
                                        std::to_string(size.width) + "|" + std::to_string(size.height);
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
          const std::string type = WritableMimeType(size.target);
          const std::string format = type == "image/png"    ? "PNG"
                                     : type == "image/webp" ? "WEBP"
                                     : type == "image/gif"  ? "GIF"
                                     : type == "image/bmp"  ? "BMP"
                                     : type == "image/tiff" ? "TIFF"
                                                            : "JPEG";
          if (outcome == "The file was converted succesfully") {
            EXPECT_TRUE(ReadImageHeader(now).format == format && ReadImageHeader(now).width == size.width) << trace;
            converted += n != 0;
          } else {
            EXPECT_EQ(outcome, "Conversion Failed") << trace;
            EXPECT_EQ(now, existing ? kKeep : std::vector<uint8_t>()) << trace;
          }
          EXPECT_EQ(gdi.Unreleased(), 0) << trace;
          const std::vector<std::string> left = folder.Entries();
          EXPECT_TRUE(left.empty() || left == std::vector<std::string>{size.target})
              << trace << ": " << left.back();
          if (n == 0) {
            ASSERT_EQ(outcome, "The file was converted succesfully") << trace;
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
    EXPECT_EQ(ResizeImageFile(c.source, c.target, 10, 10), ResizeStep::kNamesRejected) << c.source << "|" << c.target;
    EXPECT_TRUE(gdi.calls.empty()) << c.source << "|" << c.target;
  }
}

// A source that does not load, or loads without a usable size, ends the resize at that step
// with the session closed, the image released and nothing written.
TEST(ResizeImageFile, UnusableSourcesEndAtTheirStepAndWriteNothing) {
  const struct {
    bool loads;
    float width, height;
    ResizeStep step;
  } cases[] = {{false, 640, 480, ResizeStep::kSourceNotLoaded},
               {true, 0, 480, ResizeStep::kSourceWithoutSize},
               {true, 640, 0, ResizeStep::kSourceWithoutSize},
               {true, -1, 480, ResizeStep::kSourceWithoutSize},
               {true, 640, -0.5f, ResizeStep::kSourceWithoutSize}};
  for (const auto& c : cases) {
    ScratchFolder folder;
    RecordingGdiplus gdi;
    gdi.script.sourceLoads = c.loads;
    gdi.script.width = c.width;
    gdi.script.height = c.height;
    EXPECT_EQ(ResizeImageFile("a.bmp", folder / "out.tif", 10, 10), c.step) << c.width;
    EXPECT_EQ(gdi.Unreleased(), 0) << c.width;
    EXPECT_TRUE(folder.Entries().empty()) << c.width;
  }
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
      ResizeImageFile("a.bmp", folder / "out.tif", 10, 10);
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
    ResizeStep expected;
    std::vector<std::string> sleeps;
  } cases[] = {
      {{{"MoveFileExW", 1}}, ERROR_SHARING_VIOLATION, ResizeStep::kConverted, {"Sleep(25)"}},
      {{{"MoveFileExW", 3}}, ERROR_LOCK_VIOLATION, ResizeStep::kConverted, {"Sleep(25)", "Sleep(50)", "Sleep(75)"}},
      {{{"MoveFileExW", 9}}, ERROR_ACCESS_DENIED, ResizeStep::kConverted, {}},
      {{{"MoveFileExW", 10}}, ERROR_SHARING_VIOLATION, ResizeStep::kNotReplaced, {}},
      {{{"MoveFileExW", 1}}, ERROR_PATH_NOT_FOUND, ResizeStep::kNotReplaced, {}},  // waiting mends nothing
      // A delete by name only where the handle's own is refused.
      {{{"MoveFileExW", 10}, {"SetFileInformationByHandle", 1}, {"DeleteFileW", 4}}, ERROR_SHARING_VIOLATION,
       ResizeStep::kNotReplaced, {}},
  };
  for (const auto& c : cases) {
    ScratchFolder folder;
    ASSERT_TRUE(WriteBytes(folder / "kept.tif", kKeep));
    RecordingGdiplus gdi;
    RecordingWindows windowsCalls;
    gdi.script.failFirst = c.failFirst;
    gdi.script.windowsError = c.error;
    const int refusals = c.failFirst.at("MoveFileExW");
    const std::string trace =
        std::to_string(refusals) + " refused renames, error " + std::to_string(c.error);
    EXPECT_EQ(ResizeImageFile("a.bmp", folder / "kept.tif", 16, 16), c.expected) << trace;
    EXPECT_EQ(Written(folder / "kept.tif"), c.expected == ResizeStep::kConverted ? kNewTiff : kKeep) << trace;
    EXPECT_EQ(folder.Entries(), std::vector<std::string>{"kept.tif"}) << trace;
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

// The temporary file is made exclusively under a name no file had: a taken name is skipped, never
// written over or deleted, and when 100 are taken the resize fails with nothing touched.
TEST(ResizeImageFile, TakenTemporaryNamesAreNeverUsed) {
  for (const int taken : {1, 99, 100}) {
    ScratchFolder folder;
    ASSERT_TRUE(WriteBytes(folder / "kept.tif", kKeep));
    RecordingGdiplus gdi;
    RecordingWindows windowsCalls;
    // Every temporary name taken, and the two opens before them: the source's, and the target's
    // to compare it with the source.
    gdi.script.failFirst["CreateFileW"] = taken + 2;
    gdi.script.windowsError = ERROR_FILE_EXISTS;
    const ResizeStep step = ResizeImageFile(folder / "a.bmp", folder / "kept.tif", 16, 16);
    EXPECT_EQ(step, taken < 100 ? ResizeStep::kConverted : ResizeStep::kNoTemporaryFile) << taken;
    EXPECT_EQ(Written(folder / "kept.tif"), taken < 100 ? kNewTiff : kKeep) << taken;
    EXPECT_EQ(folder.Entries(), std::vector<std::string>{"kept.tif"}) << taken;
    EXPECT_EQ(gdi.Unreleased(), 0);
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

// Each failure along the way: the right answer, everything released, an existing target kept
// byte for byte and no temporary file left behind.
TEST(ResizeImageFile, EveryFailureReleasesEverythingAndKeepsTheTarget) {
  const ResizeStep kConverted = ResizeStep::kConverted;
  const struct {
    const char* failing;
    ResizeStep expected;
  } cases[] = {
      {"GdipLoadImageFromFile", ResizeStep::kSourceNotLoaded},
      {"GdipGetImageDimension", ResizeStep::kSourceWithoutSize},
      {"GdipGetImageHeight", ResizeStep::kSourceWithoutSize},
      {"GdipCreateBitmapFromScan0", kConverted},  // the rows go straight: no bitmap is made
      {"GdipGetImageGraphicsContext", kConverted},  // resampled: no draw
      // Drawn by GDI+ instead; the plug-in's writer reads the picture through locks.
      {"GdipBitmapLockBits", ResizeStep::kNotSaved},
      {"GdipGetImageType", kConverted},
  };
  for (const auto& c : cases) {
    for (const int32_t side : {16, 800}) {  // from 640 by 480
      const std::string trace = std::string(c.failing) + " " + std::to_string(side);
      ScratchFolder folder;
      const std::string target = folder / "kept.tif";
      ASSERT_TRUE(WriteBytes(target, kKeep));
      RecordingGdiplus gdi;
      gdi.script.failing = {c.failing};
      const ResizeStep expected = c.expected;
      EXPECT_EQ(ResizeImageFile("a.bmp", target, side, side), expected) << trace;
      EXPECT_EQ(gdi.Unreleased(), 0) << trace;
      EXPECT_EQ(folder.Entries(), std::vector<std::string>{"kept.tif"}) << trace;
      if (expected != ResizeStep::kConverted) {
        EXPECT_EQ(ReadBytes(target), kKeep) << trace;
      }
    }
  }
}

// Every size change is resampled by the plug-in; where its memory or a lock cannot be had, GDI+
// draws the whole source instead, and everything taken on the way is released. The call that
// fails is found in a clean run and failed alone in a second one.
TEST(ResizeImageFile, TheResamplerFallsBackToGdiplusDraw) {
  const std::string resampled = "", direct = "GdipDrawImageRectRectI(graphics1, source, 0 0 101 96, 0 0 ",
                    whole = "GdipDrawImageRectI(graphics1, source, 0 0 101 96)";
  const struct {
    const char* call;  // the beginning of the call that fails
    int32_t format;
    int imageType;
    float width, height;
    bool shortLocks;
    ResizeStep step;
    const std::string& drawn;  // the beginning of the draw that made the picture
  } cases[] = {
      {"", 0x21808, 1, 707, 481, false, ResizeStep::kConverted, resampled},
      {"", 0x21808, 1, 50, 40, false, ResizeStep::kConverted, resampled},  // an enlargement
      {"GdipBitmapLockBits(source", 0x21808, 1, 707, 481, false, ResizeStep::kConverted, direct},
      {"GdipBitmapLockBits(source", 0x30803, 1, 707, 481, false, ResizeStep::kConverted, direct},  // read converted
      {"GdipDrawImageRectRectI", 0x21808, 1, 707, 481, true, ResizeStep::kNotDrawn, direct},
      {"", 0x21808, 1, 707, 481, true, ResizeStep::kConverted, direct},  // no lock gives what it says
      // A metafile is rendered whole by GDI+, whatever units its dimensions are in: Windows
      // answers 0.01 mm (a 50 by 18 pixel picture is 750 by 216), Wine pixels.
      {"", 0x21808, 2, 750, 216, false, ResizeStep::kConverted, whole},
      {"", 0x21808, 1, 2147483520.0f, 481, false, ResizeStep::kConverted, direct},  // a damaged header's width
  };
  // The plug-in's own writer reads the finished picture through locks, which short locks refuse.
  const bool ownWriter = WritesOwnFormat("image/tiff");
  for (const auto& c : cases) {
    const std::string trace = std::string(c.call) + " " + std::to_string(c.format) + " " +
                              std::to_string(RoundToInt32(c.width)) + (c.shortLocks ? " short" : "");
    const ResizeStep unread = c.shortLocks && ownWriter ? ResizeStep::kNotSaved : ResizeStep::kConverted;
    size_t victim = 0;
    if (*c.call != '\0') {
      RecordingGdiplus clean;
      clean.script.width = c.width;
      clean.script.height = c.height;
      clean.script.pixelFormat = c.format;
      clean.script.shortLocks = c.shortLocks;
      ASSERT_EQ(ResizeImageFile("a.bmp", "b.tif", 101, 96), unread);
      for (size_t i = 0; i < clean.calls.size() && victim == 0; ++i) {
        if (clean.calls[i].rfind(c.call, 0) == 0) victim = i + 1;
      }
      ASSERT_NE(victim, 0u) << trace;
      std::remove("b.tif");
    }
    RecordingGdiplus gdi;
    gdi.script.width = c.width;
    gdi.script.height = c.height;
    gdi.script.pixelFormat = c.format;
    gdi.script.imageType = c.imageType;
    gdi.script.shortLocks = c.shortLocks;
    gdi.script.failAt = victim;
    EXPECT_EQ(ResizeImageFile("a.bmp", "b.tif", 101, 96), c.step == ResizeStep::kConverted ? unread : c.step) << trace;
    EXPECT_EQ(gdi.Unreleased(), 0) << trace;
    std::vector<std::string> draws;
    for (const std::string& call : gdi.calls) {
      if (call.rfind("GdipDrawImage", 0) == 0) draws.push_back(call);
    }
    if (c.drawn.empty()) {
      EXPECT_TRUE(draws.empty()) << trace << ": " << draws.front();
    } else {
      ASSERT_EQ(draws.size(), 1u) << trace;
      EXPECT_EQ(draws[0].rfind(c.drawn, 0), 0u) << trace << ": " << draws[0];
    }
    if (c.width > 1e9f) {  // not even tried: the row's length is no arithmetic to trust
      EXPECT_EQ(std::count_if(gdi.calls.begin(), gdi.calls.end(),
                              [](const std::string& call) { return call.rfind("GdipBitmapLockBits(source", 0) == 0; }),
                0);
    }
    std::remove("b.tif");
  }
}

// ICO, EMF and WMF are names the plug-in takes and writes no file of: they fail at once, GDI+ not
// asked.
TEST(ResizeImageFile, TargetsWithoutAWriterFailAndKeepTheExistingFile) {
  for (const char* target : {"icon.ico", "drawing.emf", "drawing.wmf"}) {
    const struct {
      const char* target;
    } c = {target};
    ScratchFolder folder;
    ASSERT_TRUE(WriteBytes(folder / c.target, kKeep));
    RecordingGdiplus gdi;
    EXPECT_EQ(ResizeImageFile("a.bmp", folder / c.target, 16, 16), ResizeStep::kNoEncoder) << c.target;
    EXPECT_TRUE(gdi.calls.empty()) << c.target;
    EXPECT_EQ(ReadBytes(folder / c.target), kKeep) << c.target;
    EXPECT_EQ(folder.Entries(), std::vector<std::string>{c.target});
    EXPECT_EQ(gdi.Unreleased(), 0);
  }
}

TEST(ResizeImageFile, NamesReachGdiplusWithTheirBlanks) {
  ScratchFolder folder;
  RecordingGdiplus gdi;
  const std::string target = folder / " out.tif";
  EXPECT_EQ(ResizeImageFile("  photo.bmp ", target, 5, 5), ResizeStep::kConverted);
  EXPECT_EQ(gdi.calls[1], "GdipLoadImageFromFile(  photo.bmp )");
  EXPECT_EQ(folder.Entries(), std::vector<std::string>{" out.tif"});
}

TEST(ResizeImageFile, TargetThatIsTheSourceFailsAndKeepsIt) {
  ScratchFolder folder;
  ASSERT_TRUE(WriteBytes(folder / "photo.tif", kKeep));
  ScopedCurrentFolder inFolder(folder.path);
  const struct {
    std::string source, target;
  } cases[] = {{folder / "photo.tif", folder / "photo.tif"},
               {folder / "photo.tif", folder / "PHOTO.TIF"},
               {"photo.tif", folder / "photo.tif"},
               {folder / "photo.tif", ".\\photo.tif"}};
  for (const auto& c : cases) {
    RecordingGdiplus gdi;
    EXPECT_EQ(ResizeImageFile(c.source, c.target, 5, 5), ResizeStep::kTargetRefused) << c.source << " " << c.target;
    EXPECT_EQ(ReadBytes(folder / "photo.tif"), kKeep);
    EXPECT_EQ(folder.Entries(), std::vector<std::string>{"photo.tif"});
    EXPECT_EQ(gdi.Unreleased(), 0);
  }
}
}  // namespace

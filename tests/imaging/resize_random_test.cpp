// The resize action's whole parameter path down to the scaling worker, with the recording GDI+
// stand-in, over many generated parameter texts (fixed seed) and failures injected at random:
// the natively fuzzed parse, checked here where the Windows half runs too.
#include <gtest/gtest.h>

#include <random>
#include <set>
#include <string>
#include <vector>

#include "host/plugin_host.h"
#include "imaging/image_types.h"
#include "imaging/target_writer.h"
#include "plugin/host_entries.h"
#include "plugin/host_interface.h"
#include "image_codec.h"
#include "recording_stand_ins.h"
#include "scoped.h"
#include "scoped_host_entries.h"
#include "scratch_folder.h"

namespace {

TEST(ResizeRandom, EveryParameterEndsInOneOutcomeWithEverythingReleased) {
  // Relative names land in the scratch folder, never in the folder the tests were started from.
  ScratchFolder folder;
  ScopedCurrentFolder inFolder(folder.path);
  const std::vector<std::string> names = {
      "", " ", "a.bmp", " a.bmp", "x.png", "x.PNG ", "noext", "png", "dir.d\\file", "y.jpeg",
      "z.ico", "w.tiff", "|", "a.bmp|b", std::string(300, 'l') + ".png", "\xE9.gif", "CON.png"};
  const std::vector<std::string> sizes = {"", "0", "-5", "32", "  24", "24px", "&H20", "1e1",
                                          "100.5", "3e9", "abc", ".", "&HFFFF", "7"};
  // Some cost nothing but a detour: no context or draw where the plug-in resamples and the
  // canvas keeps its format, no edge wrap, GDI+'s draw instead of the resampler.
  const std::vector<std::set<std::string>> failures = {
      {}, {}, {}, {"GdipLoadImageFromFile"}, {"GdipCreateBitmapFromScan0"},
      {"GdipGetImageGraphicsContext"}, {"GdipDrawImageRectRectI", "GdipDrawImageRectI"},
      {"GdipCreateImageAttributes"},
      {"GdipBitmapLockBits"}};
  std::mt19937 random(7);
  ScopedHostEntries host;
  int converted = 0;
  for (int i = 0; i < 5000; ++i) {
    RecordingGdiplus gdi;
    const std::set<std::string>& failing = failures[random() % failures.size()];
    gdi.script.failing = failing;
    const std::string source = names[random() % names.size()];
    std::string target = names[random() % names.size()];
    if (random() % 2 && !target.empty()) target = folder / target;
    std::string parameter = source + "|" + target;
    for (int field = random() % 4; field > 0; --field) parameter += "|" + sizes[random() % sizes.size()];

    hostRecord = HostRecord();
    const std::vector<uint8_t> before = ReadBytes(target);
    // A file written by an earlier round is a real one, which the plug-in reads itself.
    const std::string sourceFormat = ReadImageHeader(ReadBytes(source)).format;
    const bool readByPlugin = !sourceFormat.empty();
    AE_RESIZE(parameter.c_str());
    ASSERT_EQ(hostRecord.assignments.size(), 1u) << parameter;
    const std::string& outcome = hostRecord.assignments[0].value;
    // The outcome is what the target shows: the new picture, or exactly what was there.
    // Every written target is the plug-in's own file of its format.
    const std::string type = WritableMimeType(target);
    if (outcome == "The file was converted succesfully") {
      const std::vector<uint8_t> written = ReadBytes(target);
      const std::string format = type == "image/png" ? "PNG" : type == "image/gif" ? "GIF" : type == "image/bmp" ? "BMP" : type == "image/tiff" ? "TIFF" : "JPEG";
      ASSERT_EQ(ReadImageHeader(written).format, format) << parameter;
    } else {
      ASSERT_EQ(outcome, "Conversion Failed");
      ASSERT_EQ(ReadBytes(target), before) << parameter;
    }
    ASSERT_EQ(gdi.Unreleased(), 0) << parameter << " failing " << failing.size();
    const size_t bar = parameter.find('|');
    const std::string field1 = parameter.substr(0, bar);
    const std::string rest = parameter.substr(bar + 1);
    const std::string field2 = rest.substr(0, rest.find('|'));
    if (ResizeRejectedByNames(field1, field2)) {
      ASSERT_TRUE(gdi.calls.empty()) << parameter;
    }
    if (outcome[0] == 'T' && readByPlugin) {
      ++converted;
      ASSERT_TRUE(gdi.calls.empty()) << parameter;  // from file to file without GDI+
    } else if (outcome[0] == 'T') {
      ++converted;
      // No picture is had without GDI+'s load; the rest have detours. The plug-in's writers take
      // GDI+'s rows straight, with no bitmap of GDI+'s making.
      ASSERT_EQ(failing.count("GdipLoadImageFromFile"), 0u) << parameter;
    }
  }
  for (const std::string& name : folder.Entries()) EXPECT_EQ(name.find(".tmp"), std::string::npos) << name;
  EXPECT_GT(converted, 20);  // the walk reaches the successful path as well
}
}  // namespace

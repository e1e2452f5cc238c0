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
#include "plugin/host_entries.h"
#include "plugin/host_interface.h"
#include "recording_stand_ins.h"
#include "scratch_folder.h"

namespace {
TEST(ResizeRandom, EveryParameterEndsInOneOutcomeWithEverythingReleased) {
  // Relative names land in the scratch folder, never in the folder the tests were started from.
  ScratchFolder folder;
  char current[MAX_PATH];
  GetCurrentDirectoryA(MAX_PATH, current);
  SetCurrentDirectoryA(folder.path.c_str());
  const std::vector<std::string> names = {
      "", " ", "a.bmp", " a.bmp", "x.png", "x.PNG ", "noext", "png", "dir.d\\file", "y.jpeg",
      "z.ico", "w.tiff", "|", "a.bmp|b", std::string(300, 'l') + ".png", "\xE9.gif", "CON.png"};
  const std::vector<std::string> sizes = {"", "0", "-5", "32", "  24", "24px", "&H20", "1e1",
                                          "100.5", "3e9", "abc", ".", "&HFFFF", "7"};
  // The last two cost nothing but a detour: no edge wrap, or no averaging before the draw.
  const std::vector<std::set<std::string>> failures = {
      {}, {}, {}, {"GdipLoadImageFromFile"}, {"GdipCreateBitmapFromScan0"},
      {"GdipGetImageGraphicsContext"}, {"GdipDrawImageRectRectI", "GdipDrawImageRectRect"},
      {"GdipSaveImageToFile"}, {"GdipGetImageEncoders"}, {"GdipCreateImageAttributes"},
      {"GdipBitmapLockBits"}};
  std::mt19937 random(7);
  const SetVariableProc saved = hostEntries.setVariable;
  hostEntries.setVariable = HostSetVariable;
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

    hostLog = HostLog();
    AE_RESIZE(parameter.c_str());
    ASSERT_EQ(hostLog.assignments.size(), 1u) << parameter;
    const std::string& outcome = hostLog.assignments[0].value;
    ASSERT_TRUE(outcome == "The file was converted succesfully" || outcome == "Conversion Failed");
    ASSERT_EQ(gdi.Unreleased(), 0) << parameter << " failing " << failing.size();
    const size_t bar = parameter.find('|');
    const std::string field1 = parameter.substr(0, bar);
    const std::string rest = parameter.substr(bar + 1);
    const std::string field2 = rest.substr(0, rest.find('|'));
    if (ResizeRejectedByNames(field1, field2)) {
      ASSERT_TRUE(gdi.calls.empty()) << parameter;
    }
    if (outcome[0] == 'T') {
      ++converted;
      ASSERT_TRUE(failing.empty() || failing.count("GdipCreateImageAttributes") ||
                  failing.count("GdipBitmapLockBits"))
          << parameter;
    }
  }
  hostEntries.setVariable = saved;
  SetCurrentDirectoryA(current);
  for (const std::string& name : folder.Entries()) EXPECT_EQ(name.find(".tmp"), std::string::npos) << name;
  EXPECT_GT(converted, 20);  // the walk reaches the successful path as well
}
}  // namespace

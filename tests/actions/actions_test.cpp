// The two actions end to end: the host runs the built DLL through its exports, on real files.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "image_codec.h"
#include "import_patch.h"
#include "platform/fpu.h"
#include "plugin_dll.h"
#include "scoped.h"
#include "scratch_folder.h"

namespace {
const char kConverted[] = "The file was converted succesfully";
const char kFailed[] = "Conversion Failed";

// The plug-in's own calls of GdiplusStartup and MessageBoxA, watched through its import table:
// no test here opens a window, and a failed start-up can be staged.
typedef int32_t(WINAPI* StartupProc)(ULONG_PTR*, const void*, void*);
StartupProc realStartup = nullptr;
int startups = 0;
bool refuseStartup = false;
struct Box {
  HWND owner;
  std::string text, caption;
  UINT type;
};
std::vector<Box> boxes;

int32_t WINAPI WatchStartup(ULONG_PTR* token, const void* input, void* output) {
  ++startups;
  return refuseStartup ? 18 : realStartup(token, input, output);  // 18: GdiplusNotInitialized
}
int WINAPI RecordMessageBox(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
  boxes.push_back({owner, text ? text : "", caption ? caption : "", type});
  return IDOK;
}

class Actions : public ::testing::Test {
 protected:
  void SetUp() override {
    startups = 0;
    refuseStartup = false;
    boxes.clear();
    const HMODULE dll = LoadedQuintara().module;
    realStartup = reinterpret_cast<StartupProc>(
        PatchImport(dll, "GdiplusStartup", reinterpret_cast<void*>(WatchStartup)));
    ASSERT_NE(realStartup, nullptr);
    ASSERT_NE(PatchImport(dll, "MessageBoxA", reinterpret_cast<void*>(RecordMessageBox)), nullptr);
    hostRecord = HostRecord();
    RegisterPlugin(Plugin());
    ASSERT_TRUE(WriteBmp24(folder / "photo.bmp", 640, 480, [](int x, int y) {
      return Rgba{static_cast<uint8_t>(x), static_cast<uint8_t>(y), 90, 255};
    }));
  }
  void TearDown() override {
    PatchImport(LoadedQuintara().module, "GdiplusStartup", reinterpret_cast<void*>(realStartup));
  }

  // Runs an action through nbExecAction; `parameter` may be null. Answers what it set.
  std::vector<VariableRecord> Exec(int32_t number, const char* parameter) {
    const size_t first = hostRecord.assignments.size();
    EXPECT_EQ(Plugin().execAction(number, &parameter), 1);
    return std::vector<VariableRecord>(hostRecord.assignments.begin() + first, hostRecord.assignments.end());
  }

  ScratchFolder folder;
};

TEST_F(Actions, ResizeParameterTexts) {
  const std::string photo = folder / "photo.bmp";
  const std::string out = folder / "out.png";
  const struct {
    std::string parameter;
    const char* outcome;
    int width, height;  // of the file written; 0 when none may be written
  } cases[] = {
      {"", kFailed, 0, 0},
      {photo + "|" + out + "|200", kFailed, 0, 0},  // three fields: height 0
      {photo + "|" + out + "|abc|def", kFailed, 0, 0},
      {photo + "|" + out + "|  200|100", kConverted, 200, 100},
      {photo + "|" + out + "|200px|100", kConverted, 200, 100},
      {photo + "|" + out + "|100.5|101.5", kConverted, 100, 102},
      {photo + "|" + out + "|&H28|&H1E", kConverted, 40, 30},
      {photo + "|" + out + "|-5|100", kFailed, 0, 0},
      {photo + "|" + out + "|100|-5", kFailed, 0, 0},
      {photo + "|" + out + "|3000000000|100", kFailed, 0, 0},
      {photo + "|" + out + "|1e20|100", kFailed, 0, 0},
      {photo + "|" + out + "|20|10|99|99", kConverted, 20, 10},  // a fifth field is ignored
      {folder / " photo.bmp|" + out + "|20|10", kFailed, 0, 0},  // the blank stays: no such file
      {photo + "|" + out + " |20|10", kFailed, 0, 0},             // extension "PNG "
      {photo + "|" + out + "|20", kFailed, 0, 0},
      {"|" + out + "|20|10", kFailed, 0, 0},
      {photo + "||20|10", kFailed, 0, 0},
      {photo + "|" + folder / "out.txt|20|10", kFailed, 0, 0},
  };
  for (const auto& c : cases) {
    DeleteFileA(out.c_str());
    const std::vector<VariableRecord> set = Exec(1, c.parameter.c_str());
    ASSERT_EQ(set.size(), 1u) << c.parameter;
    EXPECT_EQ(set[0].name, "ae_ResizeImage");
    EXPECT_EQ(set[0].value, c.outcome) << c.parameter;
    const ImageHeader h = ReadImageHeader(ReadBytes(out));
    EXPECT_EQ(h.width, c.width) << c.parameter;
    EXPECT_EQ(h.height, c.height) << c.parameter;
  }
}

// The host's own control word neither reaches the plug-in's arithmetic nor is changed by it.
// 101.499999999999999 (18 digits) lies below 101.5 in the plug-in's 64-bit precision, which
// rounds it to 101; in 53 bits (as MSVC programs run) it would be 101.5 and round to 102.
TEST_F(Actions, HostFloatingPointSettingChangesNoResult) {
  for (const uint16_t host : {uint16_t{0x027F}, uint16_t{0x0C7F}}) {  // 53-bit; chop and 24-bit
    ScopedFpu restore;
    SetX87Control(host);
    const std::vector<VariableRecord> resized =
        Exec(1, (folder / "photo.bmp|" + folder / "r.png|100.5|101.499999999999999").c_str());
    const uint16_t afterResize = CurrentX87Control();
    const std::vector<VariableRecord> measured = Exec(2, (folder / "r.png").c_str());
    const uint16_t afterMetrics = CurrentX87Control();
    SetX87Control(0x037F);
    EXPECT_EQ(resized.at(0).value, kConverted) << std::hex << host;
    EXPECT_EQ(measured.at(0).value, " 100") << std::hex << host;
    EXPECT_EQ(measured.at(1).value, " 101") << std::hex << host;
    EXPECT_EQ(afterResize & 0x1F3F, host & 0x1F3F);
    EXPECT_EQ(afterMetrics & 0x1F3F, host & 0x1F3F);
  }
}

TEST_F(Actions, ResizeWithNullParameterAndDirectExport) {
  std::vector<VariableRecord> set = Exec(1, nullptr);
  ASSERT_EQ(set.size(), 1u);
  EXPECT_EQ(set[0].value, kFailed);
  EXPECT_EQ(Plugin().execAction(1, nullptr), 1);  // a null reference too
  EXPECT_EQ(hostRecord.assignments.back().value, kFailed);

  const std::string parameter = folder / "photo.bmp|" + folder / "direct.jpg|64|48";
  EXPECT_EQ(Plugin().resize(parameter.c_str()), nullptr);
  EXPECT_EQ(hostRecord.assignments.back().value, kConverted);
  EXPECT_EQ(ReadImageHeader(ReadBytes(folder / "direct.jpg")).format, "JPEG");
  EXPECT_EQ(Plugin().resize(nullptr), nullptr);
  EXPECT_EQ(hostRecord.assignments.back().value, kFailed);
}

TEST_F(Actions, ResizeBlanksAroundNamesAreKept) {
  ASSERT_TRUE(WriteBmp24(folder / " lead.bmp", 30, 20, [](int, int) { return Rgba{1, 2, 3, 255}; }));
  const std::vector<VariableRecord> set = Exec(1, (folder / " lead.bmp|" + folder / " out.png|15|10").c_str());
  EXPECT_EQ(set.at(0).value, kConverted);
  EXPECT_EQ(ReadImageHeader(ReadBytes(folder / " out.png")).width, 15);
}

TEST_F(Actions, ResizeOntoItsOwnSourceFailsAndKeepsIt) {
  const std::vector<uint8_t> before = ReadBytes(folder / "photo.bmp");
  for (const std::string& target : {folder / "photo.bmp", folder / "PHOTO.bmp"}) {
    EXPECT_EQ(Exec(1, (folder / "photo.bmp|" + target + "|10|10").c_str()).at(0).value, kFailed);
  }
  EXPECT_EQ(ReadBytes(folder / "photo.bmp"), before);
}

TEST_F(Actions, TwoCallsInARowTheSecondOutcomeReplacesTheFirst) {
  Exec(1, (folder / "photo.bmp|" + folder / "a.bmp|10|10").c_str());
  EXPECT_EQ(VariableValue("ae_ResizeImage"), kConverted);
  Exec(1, (folder / "photo.bmp|" + folder / "a.bmp|0|10").c_str());
  EXPECT_EQ(VariableValue("ae_ResizeImage"), kFailed);
  EXPECT_EQ(ReadImageHeader(ReadBytes(folder / "a.bmp")).width, 10);  // the first result stays
  Exec(2, (folder / "photo.bmp").c_str());
  Exec(2, (folder / "a.bmp").c_str());
  EXPECT_EQ(VariableValue("AE_Image_Width"), " 10");
  // A session of its own for every call that needs GDI+: a BMP to a BMP needs none.
  EXPECT_EQ(startups, 3);
}

TEST_F(Actions, MetricsNames) {
  ASSERT_TRUE(WriteBmp24(folder / "x.bmp", 30, 20, [](int, int) { return Rgba{0, 0, 0, 255}; }));
  ASSERT_TRUE(WriteBmp24(folder / " lead.bmp", 7, 5, [](int, int) { return Rgba{0, 0, 0, 255}; }));
  const struct {
    std::string name;
    const char* width;
    const char* height;
  } cases[] = {
      {folder / "photo.bmp", " 640", " 480"},
      {folder / "x.bmp", " 30", " 20"},
      {folder / " lead.bmp", " 7", " 5"},
      {folder / "missing.png", " 0", " 0"},
      {folder / "x.bmp|20", " 0", " 0"},  // not split at "|": no such file
      {folder / " x.bmp", " 0", " 0"},    // not trimmed
      {folder.path, " 0", " 0"},          // a folder
  };
  for (const auto& c : cases) {
    const std::vector<VariableRecord> set = Exec(2, c.name.c_str());
    ASSERT_EQ(set.size(), 2u) << c.name;
    EXPECT_EQ(set[0].name, "AE_Image_Width");
    EXPECT_EQ(set[0].value, c.width) << c.name;
    EXPECT_EQ(set[1].name, "AE_Image_Height");
    EXPECT_EQ(set[1].value, c.height) << c.name;
  }
  EXPECT_TRUE(boxes.empty());
  EXPECT_EQ(startups, 7);
}

TEST_F(Actions, MetricsOfABlankNameDoesNothing) {
  Exec(2, (folder / "photo.bmp").c_str());
  for (const char* blank : {static_cast<const char*>(nullptr), "", " ", "     "}) {
    EXPECT_TRUE(Exec(2, blank).empty());
    EXPECT_EQ(Plugin().imageGetMetrics(blank), nullptr);
  }
  EXPECT_EQ(startups, 1);
  EXPECT_EQ(VariableValue("AE_Image_Width"), " 640");
  // A TAB is not a blank: it is a name, which does not exist.
  EXPECT_EQ(Exec(2, "\t").size(), 2u);
}

TEST_F(Actions, FailedStartUpShowsOneMessageAndSetsNothing) {
  Exec(2, (folder / "photo.bmp").c_str());
  refuseStartup = true;
  EXPECT_TRUE(Exec(2, (folder / "photo.bmp").c_str()).empty());
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].owner, nullptr);
  EXPECT_EQ(boxes[0].text, "Error initializando GDI+");
  EXPECT_EQ(boxes[0].caption, "Tessivar");
  EXPECT_EQ(boxes[0].type, static_cast<UINT>(MB_OK));
  EXPECT_EQ(VariableValue("AE_Image_Width"), " 640");
  EXPECT_EQ(VariableValue("AE_Image_Height"), " 480");
  // The resize action shows nothing, whatever happens. (Its outcome differs: Windows' GDI+ does
  // nothing without a session, Wine's works all the same.)
  EXPECT_EQ(Exec(1, (folder / "photo.bmp|" + folder / "o.png|5|5").c_str()).size(), 1u);
  EXPECT_EQ(boxes.size(), 1u);
}
}  // namespace

// Files that claim more than their bytes hold, or are cut or damaged: each ends in its step, the
// plug-in's own reader the only decoder asked (GDI+, behind it, would guess at any cost), and
// nothing is left beside the target.
#include <gtest/gtest.h>

#include <algorithm>

#include "hostile_files.h"
#include "image_codec.h"
#include "platform/windows_api.h"
#include "recording_stand_ins.h"
#include "scratch_folder.h"

namespace {
TEST(HostileFiles, EachEndsInItsStepAndReachesNoOtherDecoder) {
  for (const HostileFile& f : HostileFiles()) {
    ScratchFolder folder;
    RecordingGdiplus gdi;
    const std::string source = std::string("source.") + f.extension;
    ASSERT_TRUE(WriteBytes(folder / source, f.bytes));
    EXPECT_EQ(ResizeImageFile(folder / source, folder / "thumb.png", 64, 48), f.step) << f.what;
    EXPECT_FALSE(std::any_of(gdi.calls.begin(), gdi.calls.end(),
                             [](const std::string& call) { return call.find("GdipLoadImage") == 0; }))
        << f.what;
    const std::vector<std::string> left = f.step == ResizeStep::kConverted
                                              ? std::vector<std::string>{source, "thumb.png"}
                                              : std::vector<std::string>{source};
    EXPECT_EQ(folder.Entries(), left) << f.what;
  }
}

// A source another program appends to while it is read gives a picture of neither state: the
// conversion fails and writes nothing, though every row the reader asked for was there.
TEST(HostileFiles, ASourceThatGrowsWhileItIsReadFails) {
  ScratchFolder folder;
  static std::string grown;
  grown = folder / "grows.bmp";
  // Larger than the window the plug-in reads a file through: the rows are read after its start.
  ASSERT_TRUE(WriteBmp24(grown, 200, 150, [](int x, int y) { return Rgba{uint8_t(x), uint8_t(y), 9, 255}; }));
  static int reads;
  reads = 0;
  WindowsApi growing = DefaultWindows();
  growing.ReadFile = [](HANDLE file, LPVOID buffer, DWORD bytes, LPDWORD read, LPOVERLAPPED overlapped) {
    if (++reads == 2) {
      const HANDLE other = CreateFileA(grown.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                       OPEN_EXISTING, 0, nullptr);
      DWORD done = 0;
      WriteFile(other, "appended", 8, &done, nullptr);
      CloseHandle(other);
    }
    return DefaultWindows().ReadFile(file, buffer, bytes, read, overlapped);
  };
  UseWindows(&growing);
  const ResizeStep step = ResizeImageFile(grown, folder / "thumb.png", 32, 24);
  UseWindows(nullptr);
  EXPECT_GE(reads, 2);
  EXPECT_EQ(step, ResizeStep::kSourceNotLoaded);
  EXPECT_EQ(folder.Entries(), std::vector<std::string>{"grows.bmp"});
}
}  // namespace

// Thousands of actions in one host process: memory and handles must not grow.
#include <gtest/gtest.h>

#include <windows.h>
#include <psapi.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "image_codec.h"
#include "plugin_dll.h"
#include "scratch_folder.h"

namespace {
struct Usage {
  SIZE_T privateBytes;
  DWORD handles;
};

// Wine 8 reports PrivateUsage and the handle count as 0; there the commit charge stands in for
// the private bytes, and the handles are counted by asking about every possible handle value.
Usage Measure() {
  PROCESS_MEMORY_COUNTERS_EX memory = {};
  memory.cb = sizeof memory;
  GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory),
                       sizeof memory);
  DWORD handles = 0;
  GetProcessHandleCount(GetCurrentProcess(), &handles);
  if (handles == 0) {
    DWORD flags;
    for (uintptr_t value = 4; value < 0x40000; value += 4) {
      handles += GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags) != FALSE;
    }
  }
  return {memory.PrivateUsage != 0 ? memory.PrivateUsage : memory.PagefileUsage, handles};
}

// QUINTARA_LONG_RUN sets the number of calls of each action (2,000 for the full run).
TEST(LongRun, MemoryAndHandlesStayFlat) {
  const char* setting = std::getenv("QUINTARA_LONG_RUN");
  const int calls = setting ? std::atoi(setting) : 400;
  ScratchFolder folder;
  ASSERT_TRUE(WriteBmp24(folder / "photo.bmp", 320, 240, [](int x, int y) {
    return Rgba{static_cast<uint8_t>(x), static_cast<uint8_t>(y), 3, 255};
  }));
  hostRecord = HostRecord();
  RegisterPlugin(Plugin());
  const std::string good = folder / "photo.bmp|" + folder / "out.png|64|48";
  const std::string bad = folder / "missing.bmp|" + folder / "out.png|64|48";
  const std::string goodName = folder / "photo.bmp", badName = folder / "missing.bmp";
  auto round = [&](int i) {
    const char* resize = (i % 2 ? bad : good).c_str();
    const char* metrics = (i % 2 ? badName : goodName).c_str();
    Plugin().execAction(1, &resize);
    Plugin().execAction(2, &metrics);
    hostRecord.assignments.clear();  // the host's own record must not count as growth
  };
  const int warmUp = 50;
  for (int i = 0; i < warmUp; ++i) round(i);
  const Usage before = Measure();
  for (int i = 0; i < calls; ++i) round(i);
  const Usage after = Measure();
  const long long growth = static_cast<long long>(after.privateBytes) - static_cast<long long>(before.privateBytes);
  std::printf("long run: %d resizes and %d metrics calls after a warm-up of %d each: private "
              "memory %lld KB -> %lld KB (%+lld KB), handles %lu -> %lu\n",
              calls, calls, warmUp, static_cast<long long>(before.privateBytes / 1024),
              static_cast<long long>(after.privateBytes / 1024), growth / 1024,
              static_cast<unsigned long>(before.handles), static_cast<unsigned long>(after.handles));
  EXPECT_LT(growth, 1024 * 1024);
  EXPECT_LE(after.handles, before.handles);
  EXPECT_EQ(VariableValue("ae_ResizeImage"), "Conversion Failed");
}
}  // namespace

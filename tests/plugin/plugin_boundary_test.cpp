// The plug-in as a host sees it: registration, initialisation, dispatch and the floating-point
// state, all through the DLL's exports.
#include <gtest/gtest.h>

#include <cstring>

#include <vector>

#include "guarded_buffer.h"
#include "import_patch.h"
#include "platform/fpu.h"
#include "plugin_dll.h"
#include "scoped.h"

namespace {
void Fresh() {
  hostRecord = HostRecord();
  RegisterPlugin(Plugin());
  hostRecord = HostRecord();
}

TEST(Registration, DeclaresBothActionsExactlyAndAgainWhenRepeated) {
  const ActionRecord expected[2] = {
      {1, "ae_resize", "Resize Images\r\nAE_Resize \"[source]|[target]|[width]|[height]\"",
       "ACTIONPARAM_ALPHA", 1, 1},
      {2, "AE_Image_Get_Metrics", "Get Image metrics\r\nAE_Image_Get_Metrics \"[ImageName]\"",
       "ACTIONPARAM_ALPHA", 1, 1},
  };
  hostRecord = HostRecord();
  for (int round = 1; round <= 2; ++round) {
    RegisterPlugin(Plugin());
    ASSERT_EQ(hostRecord.declarations.size(), 2u * round);
    for (int i = 0; i < 2; ++i) {
      const ActionRecord& got = hostRecord.declarations[2 * (round - 1) + i];
      EXPECT_EQ(got.number, expected[i].number);
      EXPECT_EQ(got.name, expected[i].name);
      EXPECT_EQ(got.help, expected[i].help);
      EXPECT_EQ(got.parameterKind, expected[i].parameterKind);
      EXPECT_EQ(got.flag, 1);
      EXPECT_EQ(got.flagAgain, 1);
    }
  }
  EXPECT_EQ(hostRecord.declarations[0].help.size(), 61u);
  EXPECT_EQ(hostRecord.declarations[1].help.size(), 53u);
  EXPECT_EQ(hostRecord.unexpectedCalls, 0);
}

void ExpectBlock(HostTextSlot slot, const char* text) {
  ASSERT_NE(slot, nullptr);
  EXPECT_EQ(GlobalSize(slot), std::strlen(text) + 1);
  EXPECT_STREQ(static_cast<const char*>(slot), text);
}

// The plug-in's own GlobalAlloc and GlobalFree calls, watched through its import table.
std::vector<void*> freedByPlugin;
std::vector<UINT> allocFlags;
bool refuseAlloc = false;
HGLOBAL WINAPI WatchGlobalFree(HGLOBAL block) {
  freedByPlugin.push_back(block);
  return GlobalFree(block);
}
HGLOBAL WINAPI WatchGlobalAlloc(UINT flags, SIZE_T bytes) {
  allocFlags.push_back(flags);
  return refuseAlloc ? nullptr : GlobalAlloc(flags, bytes);
}

struct WatchedMemory {
  WatchedMemory() {
    freedByPlugin.clear();
    allocFlags.clear();
    refuseAlloc = false;
    PatchImport(LoadedQuintara().module, "GlobalFree", reinterpret_cast<void*>(WatchGlobalFree));
    PatchImport(LoadedQuintara().module, "GlobalAlloc", reinterpret_cast<void*>(WatchGlobalAlloc));
  }
  ~WatchedMemory() {
    PatchImport(LoadedQuintara().module, "GlobalFree", reinterpret_cast<void*>(GlobalFree));
    PatchImport(LoadedQuintara().module, "GlobalAlloc", reinterpret_cast<void*>(GlobalAlloc));
  }
};

TEST(Initialisation, FillsTheThreeSlotsWithBlocksOf15_9_14Bytes) {
  WatchedMemory watch;
  HostTextSlot slots[3] = {nullptr, nullptr, nullptr};
  Plugin().initPlugIn(42, &slots[0], &slots[1], &slots[2]);
  ExpectBlock(slots[0], "Quintara 1.0.0");
  ExpectBlock(slots[1], "Halvaron");
  ExpectBlock(slots[2], "Resize Images");
  EXPECT_EQ(allocFlags, std::vector<UINT>(3, 0x40u));
  EXPECT_TRUE(freedByPlugin.empty());

  // A second call on the same slots releases the first blocks and hands over fresh ones.
  const std::vector<void*> first(slots, slots + 3);
  Plugin().initPlugIn(43, &slots[0], &slots[1], &slots[2]);
  EXPECT_EQ(freedByPlugin, first);
  ExpectBlock(slots[0], "Quintara 1.0.0");
  ExpectBlock(slots[2], "Resize Images");
  for (HostTextSlot slot : slots) GlobalFree(slot);
}

TEST(Initialisation, RefusedAllocationLeavesTheSlotAtZero) {
  WatchedMemory watch;
  HostTextSlot slots[3] = {nullptr, nullptr, nullptr};
  Plugin().initPlugIn(0, &slots[0], &slots[1], &slots[2]);
  refuseAlloc = true;
  Plugin().initPlugIn(0, &slots[0], &slots[1], &slots[2]);
  EXPECT_EQ(freedByPlugin.size(), 3u);
  for (HostTextSlot slot : slots) EXPECT_EQ(slot, nullptr);
}

TEST(Initialisation, NullSlotAddressLeavesTheOtherSlotsFilled) {
  for (int missing = 0; missing < 3; ++missing) {
    HostTextSlot slots[3] = {nullptr, nullptr, nullptr};
    HostTextSlot* addresses[3] = {&slots[0], &slots[1], &slots[2]};
    addresses[missing] = nullptr;
    Plugin().initPlugIn(0, addresses[0], addresses[1], addresses[2]);
    const char* texts[3] = {"Quintara 1.0.0", "Halvaron", "Resize Images"};
    for (int i = 0; i < 3; ++i) {
      if (i == missing) {
        EXPECT_EQ(slots[i], nullptr);
      } else {
        ExpectBlock(slots[i], texts[i]);
        GlobalFree(slots[i]);
      }
    }
  }
}

TEST(Dispatch, NumbersOtherThan1And2RunNothingAndReadNothing) {
  Fresh();
  // The parameter reference points at an unreadable page: reading it would crash.
  GuardedBuffer buffer = MakeGuardedBuffer(0);
  const char* const* unreadable = reinterpret_cast<const char* const*>(buffer.data);
  for (int32_t number : {3, 0, -1, INT32_MIN, INT32_MAX}) {
    EXPECT_EQ(Plugin().execAction(number, unreadable), 0) << number;
  }
  FreeGuardedBuffer(&buffer);
  EXPECT_TRUE(hostRecord.assignments.empty());
  EXPECT_TRUE(hostRecord.declarations.empty());
}

TEST(Dispatch, EditActionAnswers1OnlyForTheTwoActions) {
  const struct {
    int32_t number;
    int32_t expected;
  } cases[] = {{1, 1}, {2, 1}, {0, 0}, {3, 0}, {-1, 0}, {INT32_MIN, 0}};
  for (const auto& c : cases) {
    for (int32_t second : {0, 1, -1, 0x7FFFFFFF}) {
      EXPECT_EQ(Plugin().editAction(c.number, second), c.expected) << c.number << " " << second;
    }
  }
}

TEST(Dispatch, NotificationsAndRegistrationsChangeNothingTheHostSees) {
  Fresh();
  for (int32_t code : {0, 1, -1, 0x111}) {
    Plugin().message(code, 0);
    Plugin().message(code, -1);
  }
  Plugin().registerScriptProcessor(nullptr);
  Plugin().registerInterfaceAccess(nullptr);
  Plugin().registerScriptProcessor(reinterpret_cast<void*>(0x1234));
  EXPECT_TRUE(hostRecord.assignments.empty());
  EXPECT_TRUE(hostRecord.declarations.empty());
  EXPECT_EQ(hostRecord.unexpectedCalls, 0);
  // The plug-in still registers as before.
  RegisterPlugin(Plugin());
  EXPECT_EQ(hostRecord.declarations.size(), 2u);
}

// A host that hands over null procedures, or runs an action before registering, loses the
// results but not its process.
TEST(Registration, NullHostProceduresAreNotCalled) {
  Plugin().registerPlugIn(nullptr, nullptr, nullptr, nullptr);
  const char* parameter = "missing.bmp|out.png|10|10";
  EXPECT_EQ(Plugin().execAction(1, &parameter), 1);
  EXPECT_EQ(Plugin().execAction(2, &parameter), 1);
  hostRecord = HostRecord();
  RegisterPlugin(Plugin());
  EXPECT_EQ(hostRecord.declarations.size(), 2u);
}

// Every export, called with harmless arguments.
void CallEachExport(int which) {
  const PluginExports& p = Plugin();
  HostTextSlot slots[3] = {nullptr, nullptr, nullptr};
  const char* parameter = "no such file.bmp|out.png|10|10";
  switch (which) {
    case 0: p.imageGetMetrics(nullptr); break;
    case 1: p.resize(nullptr); break;
    case 2: p.editAction(1, 0); break;
    case 3: p.execAction(1, &parameter); break;
    case 4:
      p.initPlugIn(0, &slots[0], &slots[1], &slots[2]);
      for (HostTextSlot slot : slots) GlobalFree(slot);
      break;
    case 5: p.message(0, 0); break;
    case 6: p.registerInterfaceAccess(nullptr); break;
    case 7: RegisterPlugin(p); break;
    case 8: p.registerScriptProcessor(nullptr); break;
  }
}

TEST(FloatingPoint, TheHostsUnusualControlWordSurvivesEveryExport) {
  Fresh();
  ScopedFpu restore;
  const uint16_t hostX87 = 0x0C7F;   // truncating, 24-bit precision
  const uint32_t hostMxcsr = 0xFF80; // flush-to-zero, round toward zero
  for (int which = 0; which < 9; ++which) {
    SetX87Control(hostX87);
    SetMxcsr(hostMxcsr);
    CallEachExport(which);
    const uint16_t x87 = CurrentX87Control();
    const uint32_t mxcsr = CurrentMxcsr();
    SetX87Control(restore.x87);
    SetMxcsr(restore.mxcsr);
    EXPECT_EQ(x87 & 0x1F3F, hostX87 & 0x1F3F) << "export " << which;
    EXPECT_EQ(mxcsr, hostMxcsr) << "export " << which;
  }
}
}  // namespace

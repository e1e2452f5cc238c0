// Names and places that try to make the plug-in hang, write where it must not, or lose a file.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "image_codec.h"
#include "plugin_dll.h"
#include "scoped.h"
#include "scratch_folder.h"

namespace {
const char kFailed[] = "Conversion Failed";
const std::vector<uint8_t> kKeep = {'k', 'e', 'e', 'p'};

bool UnderWine() { return GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr; }

class HostileNames : public ::testing::Test {
 protected:
  void SetUp() override {
    hostRecord = HostRecord();
    RegisterPlugin(Plugin());
    ASSERT_TRUE(WriteBmp24(folder / "photo.bmp", 40, 30, [](int x, int) {
      return Rgba{static_cast<uint8_t>(x * 6), 0, 0, 255};
    }));
  }
  std::string Resize(const std::string& source, const std::string& target) {
    const std::string parameter = source + "|" + target + "|20|15";
    const char* text = parameter.c_str();
    hostRecord.variables.clear();  // an action that sets nothing must not pass on an old value
    Plugin().execAction(1, &text);
    return VariableValue("ae_ResizeImage");
  }
  ScratchFolder folder;
};

TEST_F(HostileNames, TargetsThatCannotBeWrittenFailAndKeepWhatWasThere) {
  CreateDirectoryA((folder / "a folder.png").c_str(), nullptr);
  ASSERT_TRUE(WriteBytes(folder / "read-only.png", kKeep));
  SetFileAttributesA((folder / "read-only.png").c_str(), FILE_ATTRIBUTE_READONLY);
  ASSERT_TRUE(WriteBytes(folder / "plain.txt", kKeep));
  std::vector<std::string> targets = {
      folder / "a folder.png",             // a folder
      folder / "read-only.png",            // kept as it was
      folder / "missing\\out.png",         // a folder that does not exist
      folder / "plain.txt\\out.png",       // a file where a folder should be
      folder / "??.png",                   // what a host's lossy conversion would leave
      folder / "a*b.png",
      folder / std::string(300, 'x') + ".png",  // longer than MAX_PATH
  };
  if (UnderWine()) targets.push_back("Z:\\proc\\out.png");  // root cannot write there either
  for (const std::string& target : targets) {
    EXPECT_EQ(Resize(folder / "photo.bmp", target), kFailed) << target;
  }
  EXPECT_EQ(ReadBytes(folder / "read-only.png"), kKeep);
  EXPECT_EQ(ReadBytes(folder / "plain.txt"), kKeep);
  EXPECT_EQ(folder.Entries(),
            (std::vector<std::string>{"a folder.png", "photo.bmp", "plain.txt", "read-only.png"}));
}

TEST_F(HostileNames, DeviceNamesFailAtOnceAsTargetsAndSources) {
  {
  ScopedCurrentFolder inFolder(folder.path);
  for (const char* target : {"CON.png", "NUL.bmp", "COM1.jpg", "lpt9.gif", "aux.tif", "prn.png",
                             "nul .png", "CON", "C:\\somewhere\\con.png", "COM\xB9.jpg", "lpt\xB3.png",
                             "CONIN$.png", "conout$ .bmp", "con..png", "NUL. .gif"}) {
    const DWORD started = GetTickCount();
    EXPECT_EQ(Resize("photo.bmp", target), kFailed) << target;
    EXPECT_LT(GetTickCount() - started, 5000u) << target;
  }
  // As sources, in both actions: a serial port opens at once and its first read never returns.
  const char kPipe[] = "\\\\.\\pipe\\quintara-hostile-names";
  const HANDLE pipe = CreateNamedPipeA(kPipe, PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE | PIPE_WAIT, 2, 4096,
                                       4096, 0, nullptr);
  for (const char* source : {"COM1", "AUX", "COM1.jpg", "com1 .jpg", "\\\\.\\COM1", "C:\\COM1.jpg", "CON",
                             "NUL", "PRN", "LPT1", kPipe, "\\\\.\\pipe\\none"}) {
    const DWORD started = GetTickCount();
    EXPECT_EQ(Resize(source, "out.png"), kFailed) << source;
    const char* text = source;
    Plugin().execAction(2, &text);
    EXPECT_EQ(VariableValue("AE_Image_Width"), " 0") << source;
    EXPECT_LT(GetTickCount() - started, 5000u) << source;
  }
  CloseHandle(pipe);
  }
  EXPECT_EQ(folder.Entries(), std::vector<std::string>{"photo.bmp"});
}

TEST_F(HostileNames, LongSourceNamesFail) {
  EXPECT_EQ(Resize(folder / std::string(300, 's') + ".bmp", folder / "out.png"), kFailed);
  EXPECT_EQ(Resize(std::string(70000, 'n') + ".bmp", folder / "out.png"), kFailed);
  const std::string name = folder / std::string(300, 'm') + ".bmp";
  const char* text = name.c_str();
  Plugin().execAction(2, &text);
  EXPECT_EQ(VariableValue("AE_Image_Width"), " 0");
}

// Bytes above 127 are characters of the ANSI code page and reach the file of that name.
TEST_F(HostileNames, AnsiNamesReachTheRightFiles) {
  if (GetACP() != 1252) GTEST_SKIP() << "the cases are written for code page 1252";
  const std::string source = folder / "caf\xE9 \xA9.bmp";    // "café ©.bmp"
  const std::string target = folder / "r\xE9sum\xE9.png";   // "résumé.png"
  ASSERT_TRUE(WriteBmp24(source, 12, 10, [](int, int) { return Rgba{9, 9, 9, 255}; }));
  EXPECT_EQ(Resize(source, target), "The file was converted succesfully");
  EXPECT_EQ(ReadImageHeader(ReadBytes(target)).width, 20);
  // The file system holds it under the name's characters, not under its bytes.
  WCHAR wideFolder[MAX_PATH];
  MultiByteToWideChar(CP_ACP, 0, folder.path.c_str(), -1, wideFolder, MAX_PATH);
  EXPECT_NE(GetFileAttributesW((std::wstring(wideFolder) + L"\\r\u00E9sum\u00E9.png").c_str()),
            INVALID_FILE_ATTRIBUTES);
  const char* text = source.c_str();
  Plugin().execAction(2, &text);
  EXPECT_EQ(VariableValue("AE_Image_Width"), " 12");
}
}  // namespace

// quintara-host.exe as a person at a shell uses it.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "host/ansi_text.h"
#include "host/quintara_outcome.h"
#include "hostile_files.h"
#include "image_codec.h"
#include "plugin_dll.h"
#include "scratch_folder.h"

namespace {
struct Outcome {
  std::string output;
  int status;
};

// Runs quintara-host.exe from the test program's folder with the given arguments; standard
// error joins the output unless it is dropped.
Outcome RunHost(const std::string& arguments, bool dropErrors = false) {
  std::wstring folder = ProgramFolder();
  // cmd /c drops the first and the last quote of the line: the outer pair is for it.
  const std::string command = "\"\"" + std::string(folder.begin(), folder.end()) +
                              "quintara-host.exe\" " + arguments +
                              (dropErrors ? " 2>NUL\"" : " 2>&1\"");
  Outcome outcome{std::string(), -1};
  FILE* pipe = _popen(command.c_str(), "r");
  if (pipe == nullptr) return outcome;
  char chunk[4096];
  for (size_t n; (n = std::fread(chunk, 1, sizeof chunk, pipe)) > 0;) outcome.output.append(chunk, n);
  outcome.status = _pclose(pipe);
  return outcome;
}

TEST(HostProgram, InfoShowsTitlePublisherHintAndBothActions) {
  const Outcome info = RunHost("info");
  EXPECT_EQ(info.status, 0);
  for (const char* expected :
       {"Quintara 1.0.0", "Halvaron", "Resize Images", "action 1: ae_resize",
        "AE_Resize \"[source]|[target]|[width]|[height]\"", "action 2: AE_Image_Get_Metrics",
        "AE_Image_Get_Metrics \"[ImageName]\""}) {
    EXPECT_NE(info.output.find(expected), std::string::npos) << expected << "\n" << info.output;
  }
}

TEST(HostProgram, FailuresExitNonZeroWithAReason) {
  const struct {
    const char* arguments;
    const char* reason;
  } cases[] = {
      {"--dll no-such.dll info", "cannot load the plug-in"},
      {"run no_such_action x", "declares no action no_such_action"},
      {"frobnicate", "unknown command"},
      {"--watchdog 3x info", "--watchdog takes a whole number of seconds"},
      {"resize a.bmp", "wrong number of arguments\nusage: quintara-host [--dll PATH] resize"},
      {"resize no-such.bmp out.png 10 10",
       "Conversion Failed: the source no-such.bmp does not exist"},
  };
  for (const auto& c : cases) {
    const Outcome outcome = RunHost(c.arguments);
    EXPECT_NE(outcome.status, 0) << c.arguments;
    EXPECT_NE(outcome.output.find(c.reason), std::string::npos) << outcome.output;
  }
  // A crash inside the plug-in ends the program with its documented status, not the exception
  // code (which a shell shows cut to its last byte).
  const std::wstring folder = ProgramFolder();
  const Outcome crashed =
      RunHost("--dll \"" + std::string(folder.begin(), folder.end()) + "crashing_plugin.dll\" info");
  EXPECT_EQ(crashed.status, 3) << crashed.output;
  EXPECT_NE(crashed.output.find("crash: exception 0xC0000005 in crashing_plugin.dll"), std::string::npos)
      << crashed.output;
}
// 200 action lines of every kind in one host process: one line out per action, with the batch
// file's own line number, and a summary that adds up.
// Each hostile file in a host process of its own: what its bytes justify, under 100 MB at the
// process's peak (the host's own count), whatever the file claims.
TEST(HostProgram, HostileFilesCostWhatTheirBytesJustify) {
  for (const HostileFile& f : HostileFiles()) {
    ScratchFolder folder;
    const std::string source = folder / (std::string("source.") + f.extension);
    ASSERT_TRUE(WriteBytes(source, f.bytes));
    ASSERT_TRUE(WriteBytes(folder / "one.txt", [&] {
      const std::string line = "ae_resize " + source + "|" + folder / "thumb.png" + "|64|48\n";
      return std::vector<uint8_t>(line.begin(), line.end());
    }()));
    const Outcome run = RunHost("--watchdog 60 batch \"" + folder / "one.txt" + "\"");
    const size_t peak = run.output.find("peak memory ");
    ASSERT_NE(peak, std::string::npos) << f.what << ": " << run.output;
    EXPECT_LT(std::atof(run.output.c_str() + peak + 12), 100.0) << f.what;
    EXPECT_EQ(run.output.find("succeeded 1") != std::string::npos, f.step == ResizeStep::kConverted) << f.what;
  }
}

TEST(HostProgram, BatchOfTwoHundredLines) {
  ScratchFolder folder;
  ASSERT_TRUE(WriteBmp24(folder / "photo.bmp", 64, 48, [](int x, int y) {
    return Rgba{static_cast<uint8_t>(x * 4), static_cast<uint8_t>(y * 5), 7, 255};
  }));
  const bool westernEuropean = GetACP() == 1252;
  if (westernEuropean) {
    ASSERT_TRUE(WriteBmp24(folder / "caf\xE9.bmp", 9, 7, [](int, int) { return Rgba{}; }));
  }

  struct Expected {
    int fileLine;
    std::string text;  // what the output line must contain
    bool ok;
  };
  std::vector<Expected> expected;
  std::string batch = "# two hundred actions\n\n";
  int fileLine = 2;
  for (int i = 0; static_cast<int>(expected.size()) < 200; ++i) {
    std::string line, text;
    bool ok = false;
    switch (i % 9) {
      case 0:
        line = "ae_resize " + folder / "photo.bmp|" + folder / ("out" + std::to_string(i) + ".png") + "|16|12";
        text = "ae_ResizeImage = \"The file was converted succesfully\" -- ok";
        ok = true;
        break;
      case 1:
        line = "ae_resize " + folder / "missing.bmp|" + folder / "x.png|16|12";
        text = "ae_ResizeImage = \"Conversion Failed\" -- failed: Conversion Failed";
        break;
      case 2:
        line = "AE_Image_Get_Metrics " + folder / "photo.bmp";
        text = "AE_Image_Width = \" 64\" AE_Image_Height = \" 48\" -- ok";
        ok = true;
        break;
      case 3:
        line = "2 " + folder / "missing.png";
        text = "AE_Image_Width = \" 0\" AE_Image_Height = \" 0\" -- failed: the image could not be read";
        break;
      case 4:
        line = "1 " + folder / "photo.bmp|" + folder / "y.png|-5|12";
        text = "-- failed: Conversion Failed";
        break;
      case 5:
        line = "no_such_action whatever";
        text = "-- failed: the plug-in declares no action no_such_action";
        break;
      case 6:
        if (!westernEuropean) continue;
        line = "AE_Image_Get_Metrics " + folder / "caf\xC3\xA9.bmp";  // UTF-8 in the file
        text = "AE_Image_Width = \" 9\" AE_Image_Height = \" 7\" -- ok";
        ok = true;
        break;
      case 7:
        line = "ae_resize " + folder / "photo.bmp|" + folder / "\xD0\x96.png|16|12";  // Cyrillic
        text = "-- failed: the parameter holds characters that the ANSI code page cannot represent";
        break;
      case 8:  // saved in the ANSI code page: an \xE9 alone is no UTF-8
        line = "AE_Image_Get_Metrics " + folder / "caf\xE9.bmp";
        text = "-- failed: the line is not UTF-8 text; save the batch file as UTF-8";
        break;
    }
    batch += line + "\r\n";
    ++fileLine;
    if (i % 16 == 0) {  // comments and blank lines in between
      batch += "  # a comment\n\n";
      fileLine += 2;
    }
    expected.push_back({fileLine - (i % 16 == 0 ? 2 : 0), text, ok});
  }
  WriteBytes(folder / "batch.txt", std::vector<uint8_t>(batch.begin(), batch.end()));

  const Outcome outcome = RunHost("batch \"" + folder / "batch.txt" + "\"", true);
  EXPECT_EQ(outcome.status, 1);
  std::vector<std::string> lines;
  for (size_t at = 0, end; (end = outcome.output.find('\n', at)) != std::string::npos; at = end + 1) {
    lines.push_back(outcome.output.substr(at, end - at));
  }
  ASSERT_EQ(lines.size(), 201u) << outcome.output.substr(0, 2000);
  int succeeded = 0;
  for (size_t i = 0; i < 200; ++i) {
    const std::string prefix = std::to_string(expected[i].fileLine) + ": ";
    EXPECT_EQ(lines[i].compare(0, prefix.size(), prefix), 0) << lines[i];
    EXPECT_NE(lines[i].find(expected[i].text), std::string::npos) << lines[i];
    succeeded += expected[i].ok;
  }
  const std::string summary = "ran 200, succeeded " + std::to_string(succeeded) + ", failed " +
                              std::to_string(200 - succeeded) + ", ";
  EXPECT_EQ(lines[200].compare(0, summary.size(), summary), 0) << lines[200];
  if (!westernEuropean) GTEST_SKIP() << "the rest ran; the caf\xE9 rows are written for code page 1252";
}

TEST(HostProgram, EveryCommandHasHelp) {
  for (const char* command : {"info", "run", "resize", "metrics", "batch", "demo"}) {
    const Outcome help = RunHost(std::string(command) + " --help");
    EXPECT_EQ(help.status, 0) << command;
    EXPECT_EQ(help.output.find(std::string("usage: quintara-host [--dll PATH] ") + command), 0u)
        << help.output;
    if (std::string(command) == "resize") {
      EXPECT_NE(help.output.find("bmp gif jpg jpeg png tif tiff"), std::string::npos);
      EXPECT_NE(help.output.find("ico emf wmf"), std::string::npos);
    }
  }
}

// The reason after "Conversion Failed" names what the host can see for itself, in the order the
// plug-in checks.
TEST(HostProgram, LikelyCauseOfAFailedResize) {
  ScratchFolder folder;
  ASSERT_TRUE(WriteBmp24(folder / "photo.bmp", 8, 8, [](int, int) { return Rgba{}; }));
  ASSERT_TRUE(WriteBytes(folder / "notes.bmp", {'n', 'o'}));
  ASSERT_TRUE(WriteBytes(folder / "locked.png", {'k'}));
  SetFileAttributesA((folder / "locked.png").c_str(), FILE_ATTRIBUTE_READONLY);
  CreateDirectoryA((folder / "dir.png").c_str(), nullptr);
  const std::string photo = folder / "photo.bmp";
  const struct {
    std::string parameter, cause;
  } cases[] = {
      {" |out.png|10|10", "no source is named"},
      {photo + "||10|10", "no target is named"},
      {photo + "|" + folder / "out.txt|10|10", "no format is written for the target's extension"},
      {photo + "|" + folder / "out.ico|10|10", "no format is written for the target's extension"},
      {photo + "|" + folder / "out.png|0|10", "the size \"0\" by \"10\" is not a positive whole"},
      {photo + "|" + folder / "out.png|10|abc", "is not a positive whole number of pixels"},
      {photo + "|" + folder / "out.png|32768|32768", "the size 32768 by 32768 is too large"},
      {folder / "none.bmp|" + folder / "out.png|10|10", "the source " + folder / "none.bmp does not exist"},
      {folder.path + "|" + folder / "out.png|10|10", "is a folder"},
      {photo + "|" + folder / "NUL .png|10|10", "names a device, not a file"},
      {photo + "|" + folder / "dir.png|10|10", "the target " + folder / "dir.png is a folder"},
      {photo + "|" + folder / "locked.png|10|10", "is read-only"},
      {photo + "|" + folder / "photo.bmp|10|10", "the target is the source itself"},
      {photo + "|" + folder / "no\\out.png|10|10", "the target's folder " + folder / "no does not exist"},
      {folder / "notes.bmp|" + folder / "out.png|10|10", "could not be read as an image"},
      {"COM1|" + folder / "out.png|10|10", "the source COM1 names a device"},
      {photo + "|" + folder / "held.png|10|10", "the target " + folder / "held.png is held open by another program"},
      {photo + "|Z:\\proc\\out.png|10|10", "no new file can be made in the target's folder Z:\\proc"},
  };
  // Held open as a program holds a file it reads, without delete sharing.
  ASSERT_TRUE(WriteBytes(folder / "held.png", {'h'}));
  const HANDLE held = CreateFileA((folder / "held.png").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, 0, nullptr);
  for (const auto& c : cases) {
    const bool underWine = GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr;
    if (c.parameter.find("Z:\\proc") != std::string::npos && !underWine) continue;  // root's /proc
    const std::string cause = LikelyResizeCause(c.parameter);
    EXPECT_NE(cause.find(c.cause), std::string::npos) << c.parameter << "\n" << cause;
  }
  CloseHandle(held);
  SetFileAttributesA((folder / "locked.png").c_str(), FILE_ATTRIBUTE_NORMAL);
}

// WideCharToMultiByte as Windows checks its arguments: UTF-8 takes no flag but the strict one and
// no used-default pointer.
int WINAPI WindowsWideCharToMultiByte(UINT codePage, DWORD flags, LPCWCH wide, int length,
                                      LPSTR ansi, int size, LPCCH defaultChar, LPBOOL usedDefault) {
  if (codePage == CP_UTF8 &&
      ((flags & ~DWORD{WC_ERR_INVALID_CHARS}) != 0 || defaultChar != nullptr || usedDefault != nullptr)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  return WideCharToMultiByte(codePage, flags, wide, length, ansi, size, defaultChar, usedDefault);
}

// Texts reach the plug-in in the ANSI code page, whichever it is; UTF-8 (65001), which Windows
// 10 and 11 can make the ANSI code page, takes other flags than every other one.
TEST(HostProgram, ArgumentsInEveryAnsiCodePage) {
  UseWideToMultiByte(WindowsWideCharToMultiByte);
  const struct {
    unsigned codePage;
    std::wstring text;
    bool representable;
    std::string ansi;
  } cases[] = {
      {1252, L"photo.png", true, "photo.png"},
      {1252, L"caf\u00E9.png", true, "caf\xE9.png"},
      {1252, L"\u0416.png", false, ""},
      {1252, L"\u2126.png", false, ""},  // the ohm sign, which a best fit would make an "O"
      {65001, L"photo.png", true, "photo.png"},
      {65001, L"caf\u00E9.png", true, "caf\xC3\xA9.png"},
      {65001, L"\u0416.png", true, "\xD0\x96.png"},
      {65001, std::wstring(L"a") + wchar_t(0xD800) + L".png", false, ""},  // a lone surrogate
      {1251, L"\u0416.png", true, "\xC6.png"},
      {932, L"\u65E5\u672C.png", true, "\x93\xFA\x96\x7B.png"},
      {932, L"caf\u00E9.png", false, ""},
  };
  for (const auto& c : cases) {
    UseAnsiCodePage(c.codePage);
    std::string ansi;
    EXPECT_EQ(Utf16ToAnsi(c.text, &ansi), c.representable) << c.codePage << " " << c.ansi;
    if (c.representable) {
      EXPECT_EQ(ansi, c.ansi) << c.codePage;
    }
  }
  UseAnsiCodePage(0);
  UseWideToMultiByte(nullptr);
}
}  // namespace

// The built DLL's export and import tables, read from the file itself.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "plugin_dll.h"

namespace {
struct PeFile {
  std::vector<char> bytes;
  const IMAGE_NT_HEADERS32* nt = nullptr;

  // The file offset of a relative virtual address, through the section table.
  const char* At(DWORD rva) const {
    const IMAGE_SECTION_HEADER* section = IMAGE_FIRST_SECTION(nt);
    for (WORD i = 0; i < nt->FileHeader.NumberOfSections; ++i, ++section) {
      if (rva >= section->VirtualAddress &&
          rva < section->VirtualAddress + section->Misc.VirtualSize) {
        return bytes.data() + section->PointerToRawData + (rva - section->VirtualAddress);
      }
    }
    return nullptr;
  }
};

PeFile ReadPe(const std::wstring& path) {
  PeFile pe;
  std::ifstream in(path.c_str(), std::ios::binary);
  pe.bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(pe.bytes.data());
  pe.nt = reinterpret_cast<const IMAGE_NT_HEADERS32*>(pe.bytes.data() + dos->e_lfanew);
  return pe;
}

TEST(ExportTable, ExactlyTheNineEntryPointsWithTheirOrdinals) {
  const PeFile pe = ReadPe(ProgramFolder() + L"Quintara.dll");
  ASSERT_EQ(pe.nt->FileHeader.Machine, IMAGE_FILE_MACHINE_I386);
  const IMAGE_DATA_DIRECTORY& dir = pe.nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
  const auto* exports = reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(pe.At(dir.VirtualAddress));
  ASSERT_NE(exports, nullptr);
  ASSERT_EQ(exports->NumberOfNames, 9u);
  // GNU ld starts the table at ordinal 1; lld starts it at 0 and leaves that slot empty. Either
  // way exactly nine slots hold an entry point.
  const auto* functions = reinterpret_cast<const DWORD*>(pe.At(exports->AddressOfFunctions));
  int entries = 0;
  for (DWORD i = 0; i < exports->NumberOfFunctions; ++i) entries += functions[i] != 0;
  EXPECT_EQ(entries, 9);

  const char* const expected[9] = {
      "AE_IMAGE_GET_METRICS",     "AE_RESIZE",        "_nbEditAction@8",
      "_nbExecAction@8",          "_nbInitPlugIn@16", "_nbMessage@8",
      "_nbRegisterInterfaceAccess@4", "_nbRegisterPlugIn@16", "_nbRegisterScriptProcessor@4"};
  const auto* names = reinterpret_cast<const DWORD*>(pe.At(exports->AddressOfNames));
  const auto* ordinals = reinterpret_cast<const WORD*>(pe.At(exports->AddressOfNameOrdinals));
  for (DWORD i = 0; i < exports->NumberOfNames; ++i) {
    const std::string name = pe.At(names[i]);
    const DWORD ordinal = exports->Base + ordinals[i];
    ASSERT_GE(ordinal, 1u);
    ASSERT_LE(ordinal, 9u);
    EXPECT_EQ(name, expected[ordinal - 1]) << "ordinal " << ordinal;
  }
}

TEST(ImportTable, OnlyWindowsSystemLibraries) {
  const char* const system[] = {"kernel32.dll", "user32.dll", "gdi32.dll",  "gdiplus.dll",
                                "ole32.dll",    "msvcrt.dll", "advapi32.dll"};
  const PeFile pe = ReadPe(ProgramFolder() + L"Quintara.dll");
  const IMAGE_DATA_DIRECTORY& dir = pe.nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  const auto* entry = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(pe.At(dir.VirtualAddress));
  ASSERT_NE(entry, nullptr);
  int libraries = 0;
  for (; entry->Name != 0; ++entry, ++libraries) {
    std::string name = pe.At(entry->Name);
    std::transform(name.begin(), name.end(), name.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    EXPECT_NE(std::find(std::begin(system), std::end(system), name), std::end(system))
        << "imports " << name;
  }
  EXPECT_GT(libraries, 0);
}

TEST(VersionResource, SaysQuintara100ByHalvaron) {
  const std::wstring path = ProgramFolder() + L"Quintara.dll";
  DWORD ignored = 0;
  std::vector<char> info(GetFileVersionInfoSizeW(path.c_str(), &ignored));
  ASSERT_FALSE(info.empty());
  ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, static_cast<DWORD>(info.size()), info.data()));
  const struct {
    const wchar_t* key;
    const wchar_t* value;
  } cases[] = {{L"ProductName", L"Quintara"},
               {L"ProductVersion", L"1.0.0"},
               {L"FileVersion", L"1.0.0"},
               {L"CompanyName", L"Halvaron"},
               {L"FileDescription", L"Resize Images"}};
  for (const auto& c : cases) {
    wchar_t* value = nullptr;
    UINT length = 0;
    const std::wstring key = std::wstring(L"\\StringFileInfo\\040904B0\\") + c.key;
    ASSERT_TRUE(VerQueryValueW(info.data(), key.c_str(), reinterpret_cast<void**>(&value), &length));
    EXPECT_EQ(std::wstring(value), c.value);
  }
}
}  // namespace

#include "host/quintara_outcome.h"

#include <windows.h>

#include "host/ansi_text.h"
#include "imaging/pixels/bitmap_size.h"
#include "imaging/image_types.h"
#include "text/fixed_texts.h"
#include "text/number.h"
#include "text/text.h"

const char kResizeUsage[] =
    " SOURCE TARGET WIDTH HEIGHT\n"
    "  Runs ae_resize on \"SOURCE|TARGET|WIDTH|HEIGHT\". The target's extension\n"
    "  chooses the format. Written: bmp gif jpg jpeg png tif tiff. Named but never\n"
    "  written, since GDI+ has no encoder for them: ico emf wmf. Any other extension\n"
    "  is refused. WIDTH and HEIGHT are whole numbers of pixels, above 0.\n";

namespace {
std::wstring Wide(const std::string& ansi) {
  std::wstring wide(ansi.size(), L'\0');
  const int n = MultiByteToWideChar(AnsiCodePage(), 0, ansi.data(), static_cast<int>(ansi.size()),
                                    &wide[0], static_cast<int>(wide.size()));
  wide.resize(n > 0 ? static_cast<size_t>(n) : 0);
  return wide;
}

DWORD Attributes(const std::string& name) { return GetFileAttributesW(Wide(name).c_str()); }

bool SameFile(const std::string& a, const std::string& b) {
  BY_HANDLE_FILE_INFORMATION info[2] = {};
  const std::string names[2] = {a, b};
  for (int i = 0; i < 2; ++i) {
    const HANDLE file = CreateFileW(Wide(names[i]).c_str(), 0,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    const BOOL read = GetFileInformationByHandle(file, &info[i]);
    CloseHandle(file);
    if (!read) return false;
  }
  return info[0].dwVolumeSerialNumber == info[1].dwVolumeSerialNumber &&
         info[0].nFileIndexHigh == info[1].nFileIndexHigh &&
         info[0].nFileIndexLow == info[1].nFileIndexLow;
}
// Whether a new file can be made in the folder: a probe, gone as it closes.
bool FolderTakesNewFiles(const std::string& folder) {
  const std::wstring probe = Wide(folder.empty() ? "" : folder + "\\") + L"~quintara-host-probe.tmp";
  const HANDLE file = CreateFileW(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  if (file == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_FILE_EXISTS;
  CloseHandle(file);
  return true;
}

// The plug-in makes its temporary files as "~qt<process>-<n>.tmp", trying this many names: the
// host is the process.
constexpr int kTemporaryNames = 100;
int TemporaryNamesTaken(const std::string& folder) {
  WIN32_FIND_DATAW found;
  const std::wstring pattern = Wide(folder.empty() ? "" : folder + "\\") + L"~qt" +
                               std::to_wstring(GetCurrentProcessId()) + L"-*.tmp";
  const HANDLE search = FindFirstFileW(pattern.c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return 0;
  int count = 0;
  do {
    ++count;
  } while (FindNextFileW(search, &found));
  FindClose(search);
  return count;
}

// Whether another program holds the file open without letting it be replaced.
bool HeldOpen(const std::string& name) {
  const HANDLE file = CreateFileW(Wide(name).c_str(), DELETE,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_SHARING_VIOLATION;
  CloseHandle(file);
  return false;
}
}  // namespace

std::string LikelyResizeCause(const std::string& parameter) {
  const std::string source = ExtractField(parameter, "|", 1);
  const std::string target = ExtractField(parameter, "|", 2);
  const std::string width = ExtractField(parameter, "|", 3);
  const std::string height = ExtractField(parameter, "|", 4);
  if (TrimSpaces(source).empty()) return "no source is named";
  if (TrimSpaces(target).empty()) return "no target is named";
  const std::string type = WritableMimeType(target);
  if (type.empty() || type == "image/x-icon" || type == "image/x-emf" || type == "image/x-wmf") {
    return "no format is written for the target's extension (written: bmp gif jpg jpeg png tif "
           "tiff)";
  }
  if (RoundToInt32(ParseNumber(width)) <= 0 || RoundToInt32(ParseNumber(height)) <= 0) {
    return "the size \"" + width + "\" by \"" + height + "\" is not a positive whole number of pixels";
  }
  if (NamesDevice(Wide(source))) return "the source " + source + " names a device, not a file";
  const DWORD sourceAttributes = Attributes(source);
  if (sourceAttributes == INVALID_FILE_ATTRIBUTES) return "the source " + source + " does not exist";
  if (sourceAttributes & FILE_ATTRIBUTE_DIRECTORY) return "the source " + source + " is a folder";
  const int32_t w = RoundToInt32(ParseNumber(width)), h = RoundToInt32(ParseNumber(height));
  if (!BitmapFits(w, h, 4)) {
    return "the size " + width + " by " + height + " is too large: its picture would pass 1 GiB";
  }
  if (w > LargestSide(type) || h > LargestSide(type)) {
    return "the size " + width + " by " + height + " is more than the target's format holds (at most " +
           std::to_string(LargestSide(type)) + " pixels a side)";
  }
  if (NamesDevice(Wide(target))) return "the target " + target + " names a device, not a file";
  const size_t slash = target.find_last_of("\\/");
  const std::string folder = slash == std::string::npos ? "" : target.substr(0, slash);
  const DWORD targetAttributes = Attributes(target);
  if (targetAttributes != INVALID_FILE_ATTRIBUTES) {
    if (targetAttributes & FILE_ATTRIBUTE_DIRECTORY) return "the target " + target + " is a folder";
    if (targetAttributes & FILE_ATTRIBUTE_READONLY) return "the target " + target + " is read-only";
    if (SameFile(source, target)) return "the target is the source itself";
    if (HeldOpen(target)) return "the target " + target + " is held open by another program";
  } else {
    const DWORD folderAttributes = folder.empty() ? FILE_ATTRIBUTE_DIRECTORY : Attributes(folder + "\\");
    if (folderAttributes == INVALID_FILE_ATTRIBUTES || !(folderAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
      return "the target's folder " + folder + " does not exist";
    }
  }
  // The new picture is written beside the target first.
  const std::string shown = folder.empty() ? "." : folder;
  if (!FolderTakesNewFiles(folder)) return "no new file can be made in the target's folder " + shown;
  const int taken = TemporaryNamesTaken(folder);
  if (taken >= kTemporaryNames) {
    return "the plug-in's temporary names are taken in the target's folder " + shown + " (" +
           std::to_string(taken) + " files ~qt" + std::to_string(GetCurrentProcessId()) + "-N.tmp)";
  }
  // A picture of 4 bytes a pixel, and a little more, fits whichever format it is written in.
  ULARGE_INTEGER available = {};
  if (GetDiskFreeSpaceExW(Wide(folder.empty() ? "." : folder + "\\").c_str(), &available, nullptr,
                          nullptr) &&
      available.QuadPart < uint64_t{static_cast<uint32_t>(w)} * static_cast<uint32_t>(h) * 4 + (1u << 20)) {
    return "the target's disk is full: " + std::to_string(available.QuadPart / 1024) + " KB free";
  }
  return "the source could not be read as an image, or the size asked for is too large";
}

std::string QuintaraFailureReason(const ActionRun& run, const std::string& parameter) {
  const std::string generic = GenericFailureReason(run);
  if (!generic.empty()) return generic;
  bool readable = false;
  for (size_t i = run.firstAssignment; i < hostRecord.assignments.size(); ++i) {
    const VariableRecord& set = hostRecord.assignments[i];
    if (set.name == kResizeOutcomeVariable && set.value == kConversionFailedText) {
      return set.value + ": " + LikelyResizeCause(parameter);
    }
    if (set.name == kResizeOutcomeVariable || set.value != " 0") readable = true;
  }
  return readable ? std::string() : "the image could not be read";
}

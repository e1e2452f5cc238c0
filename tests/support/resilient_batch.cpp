#include "resilient_batch.h"

#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "host/batch.h"
#include "plugin_dll.h"

namespace {
std::string AnsiToUtf8(const std::string& ansi) {
  if (ansi.empty()) return ansi;
  const int n = MultiByteToWideChar(CP_ACP, 0, ansi.data(), static_cast<int>(ansi.size()), nullptr, 0);
  std::wstring wide(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_ACP, 0, ansi.data(), static_cast<int>(ansi.size()), &wide[0], n);
  const int m = WideCharToMultiByte(CP_UTF8, 0, wide.data(), n, nullptr, 0, nullptr, nullptr);
  std::string utf8(static_cast<size_t>(m), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), n, &utf8[0], m, nullptr, nullptr);
  return utf8;
}

std::vector<std::string> ReadLines(const std::wstring& path) {
  std::vector<std::string> lines;
  std::ifstream in(path.c_str(), std::ios::binary);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

// The result lines ("N: ...") a child has written so far, by batch-file line number.
std::vector<std::string> ResultLines(const std::wstring& path) {
  std::vector<std::string> results;
  for (const std::string& line : ReadLines(path)) {
    const size_t colon = line.find(": ");
    if (colon == std::string::npos || colon == 0 ||
        line.find_first_not_of("0123456789") != colon) {
      continue;
    }
    // A line written only in part by a child that died meanwhile does not count.
    if (line.find(" -- ") == std::string::npos) continue;
    results.push_back(line);
  }
  return results;
}
}  // namespace

std::vector<LineResult> RunResilient(const std::vector<ActionLine>& lines, double hangSeconds,
                                     int* childrenStarted) {
  std::vector<LineResult> results(lines.size());
  const std::wstring folder = ProgramFolder();
  const std::wstring tag = std::to_wstring(GetCurrentProcessId());
  wchar_t tempFolder[MAX_PATH];
  GetTempPathW(MAX_PATH, tempFolder);
  const std::wstring batch = std::wstring(tempFolder) + L"quintara-batch-" + tag + L".txt";
  const std::wstring out = std::wstring(tempFolder) + L"quintara-batch-" + tag + L".out";
  const std::wstring err = std::wstring(tempFolder) + L"quintara-batch-" + tag + L".err";
  *childrenStarted = 0;

  for (size_t start = 0; start < lines.size();) {
    {
      std::ofstream file(batch.c_str(), std::ios::binary);
      for (size_t i = start; i < lines.size(); ++i) {
        file << lines[i].action << ' ' << AnsiToUtf8(lines[i].parameter) << '\n';
      }
    }
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    const HANDLE outFile = CreateFileW(out.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                                       CREATE_ALWAYS, 0, nullptr);
    const HANDLE errFile = CreateFileW(err.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                                       CREATE_ALWAYS, 0, nullptr);
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = outFile;
    startup.hStdError = errFile;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    // The child's own watchdog reports where a hang is; this side's limit is only the backstop.
    std::wstring command = L"\"" + folder + L"quintara-host.exe\" --watchdog " +
                           std::to_wstring(static_cast<int>(hangSeconds)) + L" batch \"" + batch + L"\"";
    PROCESS_INFORMATION child = {};
    const BOOL started = CreateProcessW(nullptr, &command[0], nullptr, nullptr, TRUE, 0, nullptr,
                                        nullptr, &startup, &child);
    CloseHandle(outFile);
    CloseHandle(errFile);
    if (!started) break;
    ++*childrenStarted;

    size_t done = 0;
    DWORD lastProgress = GetTickCount();
    bool hung = false;
    while (WaitForSingleObject(child.hProcess, 100) == WAIT_TIMEOUT) {
      const size_t now = ResultLines(out).size();
      if (now != done) {
        done = now;
        lastProgress = GetTickCount();
      } else if (GetTickCount() - lastProgress > hangSeconds * 3000) {
        TerminateProcess(child.hProcess, 3);
        WaitForSingleObject(child.hProcess, INFINITE);
        hung = true;
        break;
      }
    }
    CloseHandle(child.hThread);
    CloseHandle(child.hProcess);

    const std::vector<std::string> written = ResultLines(out);
    for (size_t i = 0; i < written.size() && start + i < lines.size(); ++i) {
      results[start + i].kind = LineResult::kDone;
      results[start + i].output = written[i];
    }
    const size_t next = start + written.size();
    if (next >= lines.size()) break;
    results[next].kind = LineResult::kCrashed;
    // The first report is the fault; anything after it happened on the way out.
    for (const std::string& line : ReadLines(err)) {
      for (const char* kind : {"crash:", "hang:"}) {
        if (results[next].crash.empty() && line.find(kind) != std::string::npos) {
          results[next].crash = line.substr(line.find(kind));
        }
      }
    }
    if (hung || results[next].crash.compare(0, 5, "hang:") == 0) results[next].kind = LineResult::kHung;
    if (results[next].crash.empty()) results[next].crash = "ended without a report";
    start = next + 1;
  }
  DeleteFileW(batch.c_str());
  DeleteFileW(out.c_str());
  DeleteFileW(err.c_str());
  return results;
}

std::string Culprit(const std::string& report) {
  static const char* const kHelpers[] = {"ntdll.dll", "kernel32.dll", "kernelbase.dll",
                                         "ucrtbase.dll", "msvcrt.dll", "win32u.dll"};
  // The module names, in the report's order: where it happened, then the callers.
  for (size_t at = 0; at < report.size();) {
    const size_t end = std::min(report.find_first_of(" ,", at), report.size());
    const std::string word = report.substr(at, end - at);
    at = end + 1;
    if (word.size() < 5) continue;
    const std::string suffix = word.substr(word.size() - 4);
    if (_stricmp(suffix.c_str(), ".dll") != 0 && _stricmp(suffix.c_str(), ".exe") != 0) continue;
    bool helper = false;
    for (const char* name : kHelpers) helper = helper || _stricmp(word.c_str(), name) == 0;
    if (!helper) return word;
  }
  return std::string();
}

bool OwnFault(const std::string& report) {
  const std::string culprit = Culprit(report);
  return culprit.empty() || _stricmp(culprit.c_str(), "Quintara.dll") == 0 ||
         _stricmp(culprit.c_str(), "quintara-host.exe") == 0;
}

std::string PrintedValue(const std::string& output, const std::string& variable) {
  const std::string key = " " + variable + " = \"";
  const size_t at = output.find(key);
  if (at == std::string::npos) return std::string();
  const size_t begin = at + key.size();
  return output.substr(begin, output.find('"', begin) - begin);
}

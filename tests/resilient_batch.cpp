#include "resilient_batch.h"

#include <windows.h>

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
    std::wstring command = L"\"" + folder + L"quintara-host.exe\" batch \"" + batch + L"\"";
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
      } else if (GetTickCount() - lastProgress > hangSeconds * 1000) {
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
    if (hung) {
      results[next].kind = LineResult::kHung;
    } else {
      results[next].kind = LineResult::kCrashed;
      for (const std::string& line : ReadLines(err)) {
        if (line.find("crash:") != std::string::npos) results[next].crash = line.substr(line.find("crash:"));
      }
      if (results[next].crash.empty()) results[next].crash = "ended without a report";
    }
    start = next + 1;
  }
  DeleteFileW(batch.c_str());
  DeleteFileW(out.c_str());
  DeleteFileW(err.c_str());
  return results;
}

std::string PrintedValue(const std::string& output, const std::string& variable) {
  const std::string key = " " + variable + " = \"";
  const size_t at = output.find(key);
  if (at == std::string::npos) return std::string();
  const size_t begin = at + key.size();
  return output.substr(begin, output.find('"', begin) - begin);
}

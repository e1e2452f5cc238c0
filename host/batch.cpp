#include "host/batch.h"

#include "host/ansi_text.h"

#include <windows.h>
#include <psapi.h>

#include <cstdint>
#include <fstream>
#include <vector>

BatchLine ParseBatchLine(std::string line) {
  if (!line.empty() && line.back() == '\r') line.pop_back();
  if (line.compare(0, 3, "\xEF\xBB\xBF") == 0) line.erase(0, 3);  // a UTF-8 byte order mark
  const size_t start = line.find_first_not_of(" \t");
  if (start == std::string::npos || line[start] == '#') return {false, "", ""};
  const size_t end = line.find_first_of(" \t", start);
  if (end == std::string::npos) return {true, line.substr(start), ""};
  return {true, line.substr(start, end - start), line.substr(end + 1)};
}

void PrintAssignments(FILE* out, const ActionRun& run) {
  for (size_t i = run.firstAssignment; i < hostRecord.assignments.size(); ++i) {
    const VariableRecord& set = hostRecord.assignments[i];
    std::fprintf(out, " %s = %s", set.name.c_str(),
                 set.valueWasNull ? "(null)" : VisibleText(set.value).c_str());
  }
}

namespace {
// The processor time of every thread of the process so far, the plug-in's workers included, in
// 100 ns units (which the system advances in ticks of about 10 ms under Wine: a line's figure is
// coarse, the mean of many is not). Whole numbers, so that a difference is never below 0.
uint64_t ProcessorTime() {
  FILETIME created, ended, kernel, user;
  if (!GetProcessTimes(GetCurrentProcess(), &created, &ended, &kernel, &user)) return 0;
  uint64_t total = 0;
  for (const FILETIME& t : {kernel, user}) total += (uint64_t{t.dwHighDateTime} << 32) | t.dwLowDateTime;
  return total;
}
}  // namespace

int RunBatchFile(const PluginExports& plugin, const std::string& path, const std::string& shownPath,
                 RunJudge judge, FILE* out, FILE* progress) {
  std::ifstream in(path.c_str(), std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "quintara-host: cannot read %s\n", shownPath.c_str());
    return 2;
  }
  std::vector<std::pair<int, BatchLine>> actions;
  std::string text;
  for (int number = 1; std::getline(in, text); ++number) {
    BatchLine line = ParseBatchLine(text);
    if (line.hasAction) actions.emplace_back(number, line);
  }

  const DWORD started = GetTickCount();
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  int succeeded = 0, failed = 0;
  for (size_t i = 0; i < actions.size(); ++i) {
    const int number = actions[i].first;
    const BatchLine& line = actions[i].second;
    std::fprintf(progress, "[%u/%u] %s ...", static_cast<unsigned>(i + 1),
                 static_cast<unsigned>(actions.size()), line.action.c_str());
    std::fflush(progress);
    std::string reason, parameter;
    double milliseconds = 0, processorMilliseconds = 0;
    const int32_t action = FindDeclaredAction(line.action);
    ActionRun run{0, hostRecord.assignments.size()};
    if (!IsUtf8(line.action + " " + line.parameter)) {
      reason = "the line is not UTF-8 text; save the batch file as UTF-8";
    } else if (action == 0) {
      reason = "the plug-in declares no action " + line.action;
    } else if (!Utf8ToAnsi(line.parameter, &parameter)) {
      reason = "the parameter holds characters that the ANSI code page cannot represent";
    } else {
      LARGE_INTEGER before, after;
      const uint64_t processorBefore = ProcessorTime();
      QueryPerformanceCounter(&before);
      run = RunAction(plugin, action, parameter);
      QueryPerformanceCounter(&after);
      milliseconds = 1000.0 * static_cast<double>(after.QuadPart - before.QuadPart) /
                     static_cast<double>(frequency.QuadPart);
      processorMilliseconds = static_cast<double>(ProcessorTime() - processorBefore) / 1e4;
      reason = judge(run, parameter);
    }
    std::fprintf(out, "%d: %s", number, line.action.c_str());
    PrintAssignments(out, run);
    if (reason.empty()) {
      std::fprintf(out, " -- ok [%.2f ms, processor %.0f ms]\n", milliseconds, processorMilliseconds);
      std::fprintf(progress, " ok\n");
      ++succeeded;
    } else {
      std::fprintf(out, " -- failed: %s [%.2f ms, processor %.0f ms]\n", reason.c_str(), milliseconds,
                   processorMilliseconds);
      std::fprintf(progress, " %s\n", reason.c_str());
      if (action == 0 || run.result == 0) {
        std::fprintf(stderr, "%s:%d: %s\n", shownPath.c_str(), number, reason.c_str());
      }
      ++failed;
    }
    std::fflush(out);
  }
  PROCESS_MEMORY_COUNTERS memory = {};
  memory.cb = sizeof memory;
  // The peak working set: Wine 8 keeps no peak of the commit charge.
  GetProcessMemoryInfo(GetCurrentProcess(), &memory, sizeof memory);
  const double processor = static_cast<double>(ProcessorTime()) / 1e7;
  std::fprintf(out, "ran %d, succeeded %d, failed %d, %.2f seconds, processor %.3f s, peak memory %.1f MB\n",
               succeeded + failed, succeeded, failed, (GetTickCount() - started) / 1000.0, processor,
               static_cast<double>(memory.PeakWorkingSetSize) / (1024 * 1024));
  return failed == 0 ? 0 : 1;
}

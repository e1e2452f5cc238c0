// Runs action lines through quintara-host.exe batch in child processes, surviving crashes and
// hangs: a child that dies or stops making progress is ended, its line is marked, and a new child
// resumes after it.
#pragma once

#include <string>
#include <vector>

struct ActionLine {
  std::string action, parameter;  // ANSI, as the plug-in will see them
};

struct LineResult {
  enum Kind { kNotRun, kDone, kCrashed, kHung } kind = kNotRun;
  std::string output;  // the host's line for it: "12: ae_resize ae_ResizeImage = \"...\" -- ok"
  std::string crash;   // for kCrashed and kHung: the host's report ("crash: ... in x.dll ...")
};

// The module a crash or hang report blames: the first one, from where it happened outward, that
// is not a system helper (ntdll, kernel32, the C runtimes) which merely ran on someone's behalf.
// "" for an empty report.
std::string Culprit(const std::string& report);

// True when the report blames the plug-in or the host, or there is no report to go by.
bool OwnFault(const std::string& report);

// hangSeconds: how long a line may run before it counts as hung.
std::vector<LineResult> RunResilient(const std::vector<ActionLine>& lines, double hangSeconds,
                                     int* childrenStarted);

// The value the host printed for a variable in a result line, without the quotes; "" if absent.
std::string PrintedValue(const std::string& output, const std::string& variable);

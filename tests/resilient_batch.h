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
  std::string crash;   // for kCrashed: the host's crash report ("... in windowscodecs.dll ...")
};

// hangSeconds: how long a line may run before it counts as hung.
std::vector<LineResult> RunResilient(const std::vector<ActionLine>& lines, double hangSeconds,
                                     int* childrenStarted);

// The value the host printed for a variable in a result line, without the quotes; "" if absent.
std::string PrintedValue(const std::string& output, const std::string& variable);

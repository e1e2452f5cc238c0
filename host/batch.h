// Batch runs: a file of action lines run in one host process, the way a host script calls the
// plug-in many times.
#pragma once

#include <cstdio>
#include <string>

#include "host/plugin_host.h"

// One line of a batch file: the action (name or number), then after one blank or TAB the
// parameter text, taken to the end of the line as it stands. Blank lines and lines starting
// with "#" hold no action.
struct BatchLine {
  bool hasAction;
  std::string action, parameter;  // UTF-8, as in the file
};
BatchLine ParseBatchLine(std::string line);

// Runs every action of the file, reporting one line per action on `out` (with the judge's
// reason for a failure), progress on `progress` and a summary at the end. Answers 0 when every
// action succeeded, 1 when any failed, 2 when the file cannot be read.
int RunBatchFile(const PluginExports& plugin, const std::string& path, const std::string& shownPath,
                 RunJudge judge, FILE* out, FILE* progress);

// Prints the line that `run` printed: every variable the action set, value in quotes.
void PrintAssignments(FILE* out, const ActionRun& run);

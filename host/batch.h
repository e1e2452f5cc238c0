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

// The text in the ANSI code page, as the real host hands texts to a plug-in. False when the code
// page cannot represent a character: the plug-in would get another name than the one written.
bool Utf16ToAnsi(const std::wstring& wide, std::string* ansi);
bool Utf8ToAnsi(const std::string& utf8, std::string* ansi);

// Runs every action of the file, reporting one line per action on `out`, progress on `progress`
// and a summary at the end. Answers 0 when every action succeeded, 1 when any failed, 2 when the
// file cannot be read.
int RunBatchFile(const PluginExports& plugin, const std::string& path, const std::string& shownPath,
                 FILE* out, FILE* progress);

// Prints the line that `run` printed: every variable the action set, value in quotes.
void PrintAssignments(FILE* out, const ActionRun& run);

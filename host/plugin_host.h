// A small host application for plug-ins of this interface. It drives a plug-in only through its
// exports: it loads the DLL, finds the nine entry points by their exported names, hands over its
// own procedures, records every action the plug-in declares and keeps script variables in a table.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "plugin/host_interface.h"

// The plug-in's entry points, however they were found.
struct PluginExports {
  ActionProc imageGetMetrics;
  ActionProc resize;
  int32_t(QUINTARA_CALL* editAction)(int32_t, int32_t);
  int32_t(QUINTARA_CALL* execAction)(int32_t, const char* const*);
  void(QUINTARA_CALL* initPlugIn)(int32_t, HostTextSlot*, HostTextSlot*, HostTextSlot*);
  void(QUINTARA_CALL* message)(int32_t, int32_t);
  void(QUINTARA_CALL* registerInterfaceAccess)(void*);
  void(QUINTARA_CALL* registerPlugIn)(RegisterActionProc, void*, void*, SetVariableProc);
  void(QUINTARA_CALL* registerScriptProcessor)(void*);
};

// One RegisterActionProc call as the host saw it.
struct ActionRecord {
  int32_t number;
  std::string name, help, parameterKind;
  int32_t flag, flagAgain;
};

// One SetVariableProc call: the texts as they arrived, with null addresses told apart.
struct VariableRecord {
  std::string name, value;
  bool nameWasNull, valueWasNull;
};

// The host's side of the conversation. One per process: the procedures the plug-in calls carry
// no context, so they write here.
struct HostRecord {
  std::vector<ActionRecord> declarations;     // every RegisterActionProc call, in order
  std::vector<VariableRecord> assignments;    // every SetVariableProc call, in order
  std::vector<std::pair<std::string, std::string>> variables;  // the script variables
  int unexpectedCalls;                        // calls of HostProc2 or HostProc3
};
extern HostRecord hostRecord;

// Loads the DLL and finds all nine entry points. On failure returns null and says why.
HMODULE LoadPlugin(const std::wstring& dllPath, PluginExports* exports, std::string* error);

// The host's four procedures, handed over by RegisterPlugin.
int32_t QUINTARA_CALL HostRegisterAction(int32_t number, const char* name, const char* help,
                                         const char* parameterKind, int32_t flag,
                                         int32_t flagAgain);
int32_t QUINTARA_CALL HostSetVariable(const char* name, const char* value);

// nbRegisterPlugIn with the host's procedures; the declarations arrive in hostRecord.
void RegisterPlugin(const PluginExports& plugin);

struct PluginTexts {
  std::string title, publisher, hint;
};
// nbInitPlugIn on three fresh slots; copies the texts and releases the blocks with GlobalFree.
PluginTexts InitPlugin(const PluginExports& plugin, int32_t initValue);

// The declared action whose name or number (as text) matches, case-blind; 0 when none does.
int32_t FindDeclaredAction(const std::string& nameOrNumber);

// Runs an action through nbExecAction and answers what nbExecAction answered. The variables the
// call set are the entries of hostRecord.assignments from firstAssignment on.
struct ActionRun {
  int32_t result;
  size_t firstAssignment;
};
ActionRun RunAction(const PluginExports& plugin, int32_t number, const std::string& parameter);

// The value of a script variable, or "" when it was never set.
std::string VariableValue(const std::string& name);

// A text with every byte visible: printable ASCII as it is, backslash and quote escaped, every
// other byte as \xNN, all in double quotes. " 640" stays " 640" with its blank inside the quotes.
std::string VisibleText(const std::string& text);

// What any plug-in's run shows of a failure by itself: "the plug-in did not run the action" when
// nbExecAction answered other than 1, "the action set no variable" when it set none, else "".
// What the variables mean is the plug-in's own (see quintara_outcome.h for this one's).
std::string GenericFailureReason(const ActionRun& run);

// Judges a run: "" for success, else a one-line reason. The parameter text is the run's own.
typedef std::string (*RunJudge)(const ActionRun& run, const std::string& parameter);

// The plug-in's two actions as the host sees them, numbered from 1, and how the host runs them.
#pragma once

#include <cstdint>
#include <string>

#include "actions/actions.h"
#include "plugin/host_interface.h"

typedef HostAssignments (*Action)(const std::string& parameter);

struct ActionDeclaration {
  int32_t number;
  const char* name;
  const char* hintLine;
  const char* displayText;
  const char* parameterList;
  Action run;
};

extern const ActionDeclaration kActionTable[2];
constexpr const char* kActionParameterKind = "ACTIONPARAM_ALPHA";
constexpr uint8_t kActionFlag = 1;

// The help text: hint line, CR LF, display text, and the parameter list in double quotes.
// Action 1 gives "Resize Images\r\nAE_Resize \"[source]|[target]|[width]|[height]\"" (61 bytes).
std::string ActionHelpText(const ActionDeclaration& action);

// The action with this number, or null for any number that names none.
Action FindAction(int32_t number);

// Runs the action on a copy of the parameter text and sets the host variables it answers. A copy
// that cannot be made (no memory) runs the action on the empty text, as a null text would.
void RunAction(Action action, const char* parameter);

// nbExecAction: runs the action of that number on the text *parameterRef points to and answers
// 1, whatever the action's outcome; answers 0 for any other number without reading anything.
// A null reference reads as the empty text.
int32_t ExecAction(int32_t number, const char* const* parameterRef);

// nbEditAction: 1 for the plug-in's action numbers, else 0.
int32_t EditAction(int32_t number);

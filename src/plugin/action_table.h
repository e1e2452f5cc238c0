// The plug-in's two actions, numbered from 1, as the host sees them.
#pragma once

#include <cstdint>
#include <string>

#include "plugin/host_interface.h"

struct ActionDeclaration {
  int32_t number;
  const char* name;
  const char* hintLine;
  const char* displayText;
  const char* parameterList;
  ActionProc proc;
};

extern const ActionDeclaration kActionTable[2];
constexpr const char* kActionParameterKind = "ACTIONPARAM_ALPHA";
constexpr uint8_t kActionFlag = 1;

// The help text: hint line, CR LF, display text, and the parameter list in double quotes.
// Action 1 gives "Resize Images\r\nAE_Resize \"[source]|[target]|[width]|[height]\"" (61 bytes).
std::string ActionHelpText(const ActionDeclaration& action);

// The action with this number, or null for any number that names none.
ActionProc FindActionProc(int32_t number);

// Runs the action on a copy of the parameter text (see PickUpParameter) and answers 1; an empty
// copy reaches the action as the null address. A null action answers 0 and reads nothing.
int32_t RunActionWithParameter(ActionProc action, const char* const* parameterRef);

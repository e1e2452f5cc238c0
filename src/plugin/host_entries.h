// What the host handed over, kept for the life of the process. All zero when the library loads;
// each field is overwritten whenever its call comes again and is never cleared.
#pragma once

#include "plugin/host_interface.h"

struct HostEntries {
  RegisterActionProc registerAction;  // used while nbRegisterPlugIn declares the actions
  void* hostProc2;                    // kept, never called
  void* hostProc3;                    // kept, never called
  SetVariableProc setVariable;        // used whenever an action reports a result
  void* scriptProcessor;              // kept, never called
  void* interfaceAccess;              // kept, never called
  int32_t initValue;                  // kept, never read
};

extern HostEntries hostEntries;

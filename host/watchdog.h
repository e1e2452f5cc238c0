// A watchdog for actions that never return: after the set time it reports where the stuck action
// is (the module its thread is executing in) and ends the process, so that a batch driver can
// tell a hang inside the platform's decoders from one in the plug-in.
#pragma once

#include <windows.h>

// Watches the calling thread from now on; 0 seconds watches nothing.
void StartWatchdog(DWORD seconds);

// RunAction brackets every action with these.
void ActionStarted();
void ActionEnded();

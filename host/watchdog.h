// A watchdog for actions that never return: after the set time it reports where the stuck action
// is (the module its thread is executing in) and ends the process, so that a batch driver can
// tell a hang inside the platform's decoders from one in the plug-in.
#pragma once

#include <windows.h>

// Watches the calling thread from now on, each action from its start and the rest of the run from
// the last action's end; 0 seconds watches nothing.
void StartWatchdog(DWORD seconds);

// RunAction brackets every action with these.
void ActionStarted();
void ActionEnded();

// Ends the program with `status`. Under a watchdog it ends at once, output flushed, without the
// libraries' exit code: GDI+ has been seen to fault or spin there after a hostile file.
[[noreturn]] void EndWatched(int status);

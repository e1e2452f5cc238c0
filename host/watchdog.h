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

// Appends text, or a 32-bit value in hexadecimal, to a report being built in a stack buffer; used
// where the heap may no longer be trusted.
void AppendText(char** at, const char* text);
void AppendHex(char** at, uintptr_t value);

// " in module.dll at offset 0x..." for a code address.
void AppendPlace(char** at, const void* address);

// ", called from a.dll, b.dll, ...": the modules of the first return addresses found on the stack
// from `stack` upward, in order, each run of one module named once, six at most. A scan rather than a walk of
// frames, since system libraries need not keep frame pointers.
void AppendCallers(char** at, const char* end, uintptr_t stack);

// Writes the report to standard error without the C runtime.
void WriteReport(const char* report, const char* end);

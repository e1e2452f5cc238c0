// Reports of a crash or a hang that name the module at fault, so that a fault inside the
// platform's decoders can be told from one in the plug-in. They are written without the C
// runtime and the heap, which may be what was damaged.
#pragma once

#include <windows.h>

#include <cstdint>

// The exit status of a host program ended by a crash or a hang: one documented number, where the
// exception code would reach a shell cut to its last byte (0xC0000005 shows as 5).
constexpr UINT kCrashExitStatus = 3;

// The unhandled-exception filter of the host program: reports the crash and ends the process
// with kCrashExitStatus.
LONG WINAPI ReportCrash(EXCEPTION_POINTERS* exception);

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

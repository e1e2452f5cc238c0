// The interface between a host application and the plug-in: the nine exported entry points and
// the host's procedures that the plug-in calls. Every argument is 32 bits wide and every call uses
// the standard calling convention (the called side removes the arguments).
#pragma once

#include <cstdint>

#define QUINTARA_CALL __stdcall

// The host's procedure that records an action: number, name, help text, parameter kind and a
// flag passed twice. The texts live only for the call; the host copies what it keeps.
typedef int32_t(QUINTARA_CALL* RegisterActionProc)(int32_t number, const char* name,
                                                   const char* help, const char* parameterKind,
                                                   int32_t flag, int32_t flagAgain);

// The host's procedure that sets a script variable. A null address is an empty text.
typedef int32_t(QUINTARA_CALL* SetVariableProc)(const char* name, const char* value);

// An action: takes the address of a zero-terminated parameter text (null reads as empty) and
// returns a text, which for both actions is always the null address.
typedef const char*(QUINTARA_CALL* ActionProc)(const char* parameter);

// A text slot is a pointer-sized variable of the host's that holds 0 or a GlobalAlloc block.
typedef void* HostTextSlot;

extern "C" {
// Ordinal 1 and 2: the actions, exported under their plain names.
const char* QUINTARA_CALL AE_IMAGE_GET_METRICS(const char* parameter);
const char* QUINTARA_CALL AE_RESIZE(const char* parameter);

// Answers 1 for the plug-in's action numbers (1 and 2), else 0. The second value is not read.
int32_t QUINTARA_CALL nbEditAction(int32_t number, int32_t unused);

// Runs action 1 or 2 on a copy of the text that *parameterRef points to, and answers 1; answers 0
// for any other number without reading anything. The action's outcome travels in host variables.
int32_t QUINTARA_CALL nbExecAction(int32_t number, const char* const* parameterRef);

// Keeps initValue and leaves the title, publisher and hint texts in the host's three slots.
void QUINTARA_CALL nbInitPlugIn(int32_t initValue, HostTextSlot* titleSlot,
                                HostTextSlot* publisherSlot, HostTextSlot* hintSlot);

// Accepts any notification and does nothing.
void QUINTARA_CALL nbMessage(int32_t code, int32_t value);

void QUINTARA_CALL nbRegisterInterfaceAccess(void* interfaceAccessProc);

// Keeps the host's four procedures and declares both actions through the first.
void QUINTARA_CALL nbRegisterPlugIn(RegisterActionProc registerAction, void* hostProc2,
                                    void* hostProc3, SetVariableProc setVariable);

void QUINTARA_CALL nbRegisterScriptProcessor(void* scriptProcessorProc);
}

// The host and the plug-in meet: the plug-in keeps the host's procedures, declares its two
// actions and leaves its title, publisher and hint with the host.
#pragma once

#include <cstdint>
#include <string>

#include "plugin/host_interface.h"

// Calls the host's RegisterActionProc with temporary copies of the texts and the flag twice;
// nothing when the host handed over no procedure.
void DeclareAction(int32_t number, const std::string& name, const std::string& help,
                   const std::string& parameterKind, uint8_t flag);

// nbRegisterPlugIn: keeps the four procedures and declares action 1, then action 2.
void RegisterPlugIn(RegisterActionProc registerAction, void* hostProc2, void* hostProc3,
                    SetVariableProc setVariable);

// nbInitPlugIn: keeps initValue and leaves "Quintara 1.0.0", "Halvaron" and "Resize Images" in
// the three slots as GlobalAlloc blocks that the host then owns.
void InitPlugIn(int32_t initValue, HostTextSlot* titleSlot, HostTextSlot* publisherSlot,
                HostTextSlot* hintSlot);

// How texts cross the boundary to the host and back.
//
// Texts handed to the host for one call are fresh zero-terminated copies released when the call
// returns; an empty text goes over as the null address. Texts left with the host live in
// GlobalAlloc blocks that the host then owns.
#pragma once

#include <string>

#include "actions/actions.h"
#include "plugin/host_interface.h"

// Releases the block a slot holds (if any) and leaves 0 in it. A null slot address is the
// plug-in's private scratch slot: nothing happens.
void ReleaseHostText(HostTextSlot* slot);

// Replaces the slot's block with a new zero-filled block of text.size() + 1 bytes holding the
// text: "Halvaron" leaves a 9-byte block. An empty text leaves 0. When GlobalAlloc fails the slot
// stays 0 and nothing is reported. A null slot address takes the text nowhere.
void PutHostText(HostTextSlot* slot, const std::string& text);

// Sets a host variable through the host's SetVariableProc, name first; an empty text goes over
// as the null address. The host's answer is ignored.
void SetHostVariable(const std::string& name, const std::string& value);

// SetHostVariable for each assignment, in order. The assignments are the temporary copies the
// host reads from, so nothing is allocated between two host calls: the host gets every value or,
// when the host's procedure is missing, none.
void SetHostVariables(const HostAssignments& assignments);

// The address under which a text goes to the host or to an action: null for the empty text.
inline const char* HostTextAddress(const std::string& text) {
  return text.empty() ? nullptr : text.c_str();
}

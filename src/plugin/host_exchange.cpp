#include "plugin/host_exchange.h"

#include <cstring>

#include "platform/windows_api.h"
#include "plugin/host_entries.h"
#include "text/text.h"

void ReleaseHostText(HostTextSlot* slot) {
  if (slot == nullptr) return;
  if (*slot != nullptr) {
    windows.GlobalFree(*slot);
  }
  *slot = nullptr;
}

void PutHostText(HostTextSlot* slot, const std::string& text) {
  ReleaseHostText(slot);
  if (slot == nullptr || text.empty()) return;
  void* block = windows.GlobalAlloc(GMEM_ZEROINIT, text.size() + 1);  // GMEM_FIXED | GMEM_ZEROINIT = 0x40
  if (block == nullptr) return;
  // The terminating zero is the block's last byte, left there by the zero fill.
  std::memcpy(block, text.data(), text.size());
  *slot = block;
}

void SetHostVariable(const std::string& name, const std::string& value) {
  // Both are temporary copies that live until the host returns; the value is copied first.
  const std::string valueCopy = value;
  const std::string nameCopy = name;
  // A host that runs an action before registering, or registers null, gets no result rather
  // than a crash in its own process.
  if (hostEntries.setVariable == nullptr) return;
  hostEntries.setVariable(HostTextAddress(nameCopy), HostTextAddress(valueCopy));
}

void SetHostVariables(const HostAssignments& assignments) {
  if (hostEntries.setVariable == nullptr) return;
  for (const HostAssignment& assignment : assignments) {
    hostEntries.setVariable(HostTextAddress(assignment.name), HostTextAddress(assignment.value));
  }
}

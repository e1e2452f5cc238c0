// nbRegisterPlugIn and nbInitPlugIn: the host and the plug-in meet, the plug-in declares its two
// actions and leaves its title, publisher and hint with the host.
#include <string>

#include "plugin/action_table.h"
#include "plugin/boundary.h"
#include "plugin/host_entries.h"
#include "plugin/host_exchange.h"

HostEntries hostEntries = {};

namespace {
const char kTitleText[] = "Quintara 1.0.0";
const char kPublisherText[] = "Halvaron";
const char kHintText[] = "Resize Images";
}  // namespace

// Calls the host's RegisterActionProc with temporary copies of the texts and the flag twice.
void DeclareAction(int32_t number, const std::string& name, const std::string& help,
                   const std::string& parameterKind, uint8_t flag) {
  const std::string nameCopy = name, helpCopy = help, kindCopy = parameterKind;
  if (hostEntries.registerAction == nullptr) return;  // a null procedure: nothing to declare to
  hostEntries.registerAction(number, HostTextAddress(nameCopy), HostTextAddress(helpCopy),
                             HostTextAddress(kindCopy), flag, flag);
}

extern "C" void QUINTARA_CALL nbRegisterPlugIn(RegisterActionProc registerAction, void* hostProc2,
                                               void* hostProc3, SetVariableProc setVariable) {
  CallAtBoundary([&] {
    hostEntries.hostProc3 = hostProc3;
    hostEntries.setVariable = setVariable;
    hostEntries.registerAction = registerAction;
    hostEntries.hostProc2 = hostProc2;
    for (const ActionDeclaration& action : kActionTable) {
      DeclareAction(action.number, action.name, ActionHelpText(action), kActionParameterKind,
                    kActionFlag);
    }
  });
}

extern "C" void QUINTARA_CALL nbInitPlugIn(int32_t initValue, HostTextSlot* titleSlot,
                                           HostTextSlot* publisherSlot, HostTextSlot* hintSlot) {
  CallAtBoundary([&] {
    hostEntries.initValue = initValue;
    PutHostText(titleSlot, kTitleText);
    PutHostText(publisherSlot, kPublisherText);
    PutHostText(hintSlot, kHintText);
  });
}

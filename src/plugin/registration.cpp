#include "plugin/registration.h"

#include "plugin/dispatch.h"
#include "plugin/host_entries.h"
#include "plugin/host_exchange.h"
#include "text/fixed_texts.h"

HostEntries hostEntries = {};

void DeclareAction(int32_t number, const std::string& name, const std::string& help,
                   const std::string& parameterKind, uint8_t flag) {
  const std::string nameCopy = name, helpCopy = help, kindCopy = parameterKind;
  if (hostEntries.registerAction == nullptr) return;
  hostEntries.registerAction(number, HostTextAddress(nameCopy), HostTextAddress(helpCopy),
                             HostTextAddress(kindCopy), flag, flag);
}

void RegisterPlugIn(RegisterActionProc registerAction, void* hostProc2, void* hostProc3,
                    SetVariableProc setVariable) {
  hostEntries.hostProc3 = hostProc3;
  hostEntries.setVariable = setVariable;
  hostEntries.registerAction = registerAction;
  hostEntries.hostProc2 = hostProc2;
  for (const ActionDeclaration& action : kActionTable) {
    DeclareAction(action.number, action.name, ActionHelpText(action), kActionParameterKind,
                  kActionFlag);
  }
}

void InitPlugIn(int32_t initValue, HostTextSlot* titleSlot, HostTextSlot* publisherSlot,
                HostTextSlot* hintSlot) {
  hostEntries.initValue = initValue;
  PutHostText(titleSlot, kTitleText);
  PutHostText(publisherSlot, kPublisherText);
  PutHostText(hintSlot, kHintText);
}

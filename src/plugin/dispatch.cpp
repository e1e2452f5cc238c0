// The action table and the entry points through which the host runs, edits and notifies.
#include "plugin/action_table.h"
#include "plugin/boundary.h"
#include "plugin/host_entries.h"
#include "plugin/host_exchange.h"

const ActionDeclaration kActionTable[2] = {
    {1, "ae_resize", "Resize Images", "AE_Resize ", "[source]|[target]|[width]|[height]",
     AE_RESIZE},
    {2, "AE_Image_Get_Metrics", "Get Image metrics", "AE_Image_Get_Metrics ", "[ImageName]",
     AE_IMAGE_GET_METRICS},
};

std::string ActionHelpText(const ActionDeclaration& action) {
  return std::string(action.hintLine) + "\r\n" + action.displayText + '"' + action.parameterList +
         '"';
}

ActionProc FindActionProc(int32_t number) {
  for (const ActionDeclaration& action : kActionTable) {
    if (action.number == number) return action.proc;
  }
  return nullptr;
}

int32_t RunActionWithParameter(ActionProc action, const char* const* parameterRef) {
  if (action == nullptr) return 0;
  const std::string parameter = PickUpParameter(parameterRef);
  // The action's result text is always the null address; there is nothing to release.
  action(HostTextAddress(parameter));
  return 1;
}

extern "C" int32_t QUINTARA_CALL nbExecAction(int32_t number, const char* const* parameterRef) {
  return CallAtBoundary(int32_t{0}, [&] {
    return RunActionWithParameter(FindActionProc(number), parameterRef);
  });
}

extern "C" int32_t QUINTARA_CALL nbEditAction(int32_t number, int32_t) {
  return CallAtBoundary(int32_t{0},
                        [&]() -> int32_t { return FindActionProc(number) != nullptr ? 1 : 0; });
}

extern "C" void QUINTARA_CALL nbMessage(int32_t, int32_t) {
  CallAtBoundary([] {});
}

extern "C" void QUINTARA_CALL nbRegisterScriptProcessor(void* scriptProcessorProc) {
  CallAtBoundary([&] { hostEntries.scriptProcessor = scriptProcessorProc; });
}

extern "C" void QUINTARA_CALL nbRegisterInterfaceAccess(void* interfaceAccessProc) {
  CallAtBoundary([&] { hostEntries.interfaceAccess = interfaceAccessProc; });
}

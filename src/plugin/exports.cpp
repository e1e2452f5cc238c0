// The nine exported entry points. Each installs the boundary (the caller's floating-point state
// kept, the plug-in's installed, no exception out) and calls one plain function.
#include "plugin/boundary.h"
#include "plugin/dispatch.h"
#include "plugin/host_entries.h"
#include "plugin/host_interface.h"
#include "plugin/registration.h"

extern "C" {
const char* QUINTARA_CALL AE_IMAGE_GET_METRICS(const char* parameter) {
  CallAtBoundary([&] { RunAction(ImageMetricsAction, parameter); });
  return nullptr;
}

const char* QUINTARA_CALL AE_RESIZE(const char* parameter) {
  CallAtBoundary([&] { RunAction(ResizeAction, parameter); });
  return nullptr;
}

int32_t QUINTARA_CALL nbEditAction(int32_t number, int32_t) {
  return CallAtBoundary(int32_t{0}, [&] { return EditAction(number); });
}

int32_t QUINTARA_CALL nbExecAction(int32_t number, const char* const* parameterRef) {
  return CallAtBoundary(int32_t{0}, [&] { return ExecAction(number, parameterRef); });
}

void QUINTARA_CALL nbInitPlugIn(int32_t initValue, HostTextSlot* titleSlot,
                                HostTextSlot* publisherSlot, HostTextSlot* hintSlot) {
  CallAtBoundary([&] { InitPlugIn(initValue, titleSlot, publisherSlot, hintSlot); });
}

void QUINTARA_CALL nbMessage(int32_t, int32_t) {
  CallAtBoundary([] {});
}

void QUINTARA_CALL nbRegisterInterfaceAccess(void* interfaceAccessProc) {
  CallAtBoundary([&] { hostEntries.interfaceAccess = interfaceAccessProc; });
}

void QUINTARA_CALL nbRegisterPlugIn(RegisterActionProc registerAction, void* hostProc2,
                                    void* hostProc3, SetVariableProc setVariable) {
  CallAtBoundary([&] { RegisterPlugIn(registerAction, hostProc2, hostProc3, setVariable); });
}

void QUINTARA_CALL nbRegisterScriptProcessor(void* scriptProcessorProc) {
  CallAtBoundary([&] { hostEntries.scriptProcessor = scriptProcessorProc; });
}
}

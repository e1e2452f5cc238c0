// A plug-in of this interface that crashes as soon as the host registers it: the host program's
// crash report and exit status, seen from outside.
#include <windows.h>

#include <cstdint>

extern "C" {
int32_t __stdcall nbRegisterPlugIn(void*, void*, void*, void*) {
  volatile int32_t* nowhere = nullptr;
  return *nowhere;
}
int32_t __stdcall AE_IMAGE_GET_METRICS(const char*) { return 0; }
int32_t __stdcall AE_RESIZE(const char*) { return 0; }
int32_t __stdcall nbEditAction(int32_t, void*) { return 0; }
int32_t __stdcall nbExecAction(int32_t, void*) { return 0; }
int32_t __stdcall nbInitPlugIn(void*, void*, void*, void*) { return 0; }
int32_t __stdcall nbMessage(int32_t, int32_t) { return 0; }
int32_t __stdcall nbRegisterInterfaceAccess(void*) { return 0; }
int32_t __stdcall nbRegisterScriptProcessor(void*) { return 0; }
}

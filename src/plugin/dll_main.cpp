#include <windows.h>

// Success for every notification; the plug-in has nothing to set up or tear down.
BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }

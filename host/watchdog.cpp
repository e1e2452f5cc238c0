#include "host/watchdog.h"

#include "host/crash_report.h"

#include <cstdio>
#include <cstdlib>

namespace {
HANDLE watchedThread = nullptr;
DWORD limitMilliseconds = 0;
volatile LONG watchedFrom = 0;  // GetTickCount of the running action's start, or of the last one's end
volatile LONG inAction = 0;

DWORD WINAPI Watch(void*) {
  for (;;) {
    Sleep(250);
    if (GetTickCount() - static_cast<DWORD>(watchedFrom) < limitMilliseconds) continue;
    SuspendThread(watchedThread);
    CONTEXT context = {};
    context.ContextFlags = CONTEXT_CONTROL;
    GetThreadContext(watchedThread, &context);
    char report[2048];
    char* at = report;
    AppendText(&at, inAction != 0 ? "\nquintara-host: hang: an action ran longer than the watchdog allows,"
                                   : "\nquintara-host: hang: the program stayed longer than the watchdog allows after an action,");
#if defined(_M_IX86) || defined(__i386__)
    AppendPlace(&at, reinterpret_cast<const void*>(static_cast<uintptr_t>(context.Eip)));
    AppendCallers(&at, report + sizeof report - 2, context.Esp);
#endif
    AppendText(&at, "\n");
    WriteReport(report, at);
    TerminateProcess(GetCurrentProcess(), kCrashExitStatus);
  }
}
}  // namespace

void StartWatchdog(DWORD seconds) {
  if (seconds == 0) return;
  DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &watchedThread,
                  THREAD_SUSPEND_RESUME | THREAD_GET_CONTEXT, FALSE, 0);
  limitMilliseconds = seconds * 1000;
  watchedFrom = static_cast<LONG>(GetTickCount());
  CloseHandle(CreateThread(nullptr, 0, Watch, nullptr, 0, nullptr));
}

void ActionStarted() {
  InterlockedExchange(&watchedFrom, static_cast<LONG>(GetTickCount()));
  InterlockedExchange(&inAction, 1);
}

void ActionEnded() {
  InterlockedExchange(&inAction, 0);
  InterlockedExchange(&watchedFrom, static_cast<LONG>(GetTickCount()));
}

void EndWatched(int status) {
  std::fflush(nullptr);
  if (limitMilliseconds != 0) TerminateProcess(GetCurrentProcess(), static_cast<UINT>(status));
  std::exit(status);
}

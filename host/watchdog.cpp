#include "host/watchdog.h"

#include "host/crash_report.h"

namespace {
HANDLE watchedThread = nullptr;
DWORD limitMilliseconds = 0;
volatile LONG actionStartedAt = 0;  // GetTickCount of the running action's start, 0 between actions

DWORD WINAPI Watch(void*) {
  for (;;) {
    Sleep(250);
    const LONG started = actionStartedAt;
    if (started == 0 || GetTickCount() - static_cast<DWORD>(started) < limitMilliseconds) continue;
    SuspendThread(watchedThread);
    CONTEXT context = {};
    context.ContextFlags = CONTEXT_CONTROL;
    GetThreadContext(watchedThread, &context);
    char report[2048];
    char* at = report;
    AppendText(&at, "\nquintara-host: hang: an action ran longer than the watchdog allows,");
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
  CloseHandle(CreateThread(nullptr, 0, Watch, nullptr, 0, nullptr));
}

void ActionStarted() {
  // 0 means "no action", so a start that falls on tick 0 is moved by one millisecond.
  const DWORD now = GetTickCount();
  InterlockedExchange(&actionStartedAt, static_cast<LONG>(now == 0 ? 1 : now));
}

void ActionEnded() { InterlockedExchange(&actionStartedAt, 0); }

// Every exported entry point runs its body through CallAtBoundary: the caller's floating-point
// state is saved and put back on every path, and no exception ever reaches the caller (a failed
// allocation deep inside an action ends the call quietly with the fallback result).
#pragma once

#include "platform/fpu.h"

template <typename Result, typename Body>
Result CallAtBoundary(Result fallback, Body body) {
  FpuState caller;
  SaveFpuState(&caller);
  UsePluginFpu();
  Result result = fallback;
  try {
    result = body();
  } catch (...) {
  }
  RestoreFpuState(&caller);
  return result;
}

template <typename Body>
void CallAtBoundary(Body body) {
  CallAtBoundary(0, [&] {
    body();
    return 0;
  });
}

// The one place with compiler-specific code: the x87 and SSE control instructions.
#include "platform/fpu.h"

namespace {
constexpr uint16_t kPluginX87Control = 0x037F;
constexpr uint32_t kPluginMxcsr = 0x1F80;
}  // namespace

// ---- compiler-specific: begin ---------------------------------------------------------------
#if defined(_MSC_VER) && !defined(__clang__)
#if !defined(_M_IX86)
#error "Quintara is a 32-bit x86 plug-in"
#endif
static void StoreEnvironment(void* env) { __asm { mov eax, env
                                                   fnstenv [eax] } }
static void LoadEnvironment(const void* env) { __asm { mov eax, env
                                                        fldenv [eax] } }
static void StoreControl(uint16_t* cw) { __asm { mov eax, cw
                                                 fnstcw [eax] } }
static void LoadControl(const uint16_t* cw) { __asm { mov eax, cw
                                                      fldcw [eax] } }
static void ClearExceptions() { __asm fnclex }
#include <xmmintrin.h>
static uint32_t StoreMxcsr() { return _mm_getcsr(); }
static void LoadMxcsr(uint32_t mxcsr) { _mm_setcsr(mxcsr); }
#else
static void StoreEnvironment(void* env) { __asm__ __volatile__("fnstenv %0" : "=m"(*(uint8_t(*)[28])env)); }
static void LoadEnvironment(const void* env) {
  __asm__ __volatile__("fldenv %0" : : "m"(*(const uint8_t(*)[28])env));
}
static void StoreControl(uint16_t* cw) { __asm__ __volatile__("fnstcw %0" : "=m"(*cw)); }
static void LoadControl(const uint16_t* cw) { __asm__ __volatile__("fldcw %0" : : "m"(*cw)); }
static void ClearExceptions() { __asm__ __volatile__("fnclex"); }
// The plug-in is compiled for plain i686, so the SSE register is reached by instruction rather
// than through the intrinsics, which would demand -msse.
static uint32_t StoreMxcsr() {
  uint32_t mxcsr;
  __asm__ __volatile__("stmxcsr %0" : "=m"(mxcsr));
  return mxcsr;
}
static void LoadMxcsr(uint32_t mxcsr) { __asm__ __volatile__("ldmxcsr %0" : : "m"(mxcsr)); }
#endif
// ---- compiler-specific: end -----------------------------------------------------------------

void SaveFpuState(FpuState* state) {
  StoreEnvironment(state->x87Environment);
  // FNSTENV masks every x87 exception as a side effect; the caller's control word is in the saved
  // environment, and the plug-in installs its own next anyway.
  state->mxcsr = StoreMxcsr();
}

void RestoreFpuState(const FpuState* state) {
  LoadMxcsr(state->mxcsr);
  LoadEnvironment(state->x87Environment);
}

void UsePluginFpu() {
  // Flags raised by the plug-in's own arithmetic are cleared so that they cannot surface later
  // as a trap under a caller's unmasked control word.
  ClearExceptions();
  LoadControl(&kPluginX87Control);
  LoadMxcsr(kPluginMxcsr);
}

uint16_t CurrentX87Control() {
  uint16_t cw;
  StoreControl(&cw);
  return cw;
}
uint32_t CurrentMxcsr() { return StoreMxcsr(); }
void SetX87Control(uint16_t control) { LoadControl(&control); }
void SetMxcsr(uint32_t mxcsr) { LoadMxcsr(mxcsr); }

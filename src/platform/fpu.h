// Floating-point state at the plug-in's boundary.
//
// The x86 calling convention asks a called library to leave its caller's floating-point control
// as it found it. The plug-in computes with its own setting (round to nearest even, 64-bit
// precision, every exception masked), so each exported entry point saves the caller's state on
// entry, installs the plug-in's, and puts the caller's back on return. Windows and GDI+ may change
// the control word behind the plug-in's back, so the plug-in's setting is installed again after
// each call into them.
#pragma once

#include <cstdint>

struct FpuState {
  uint8_t x87Environment[28];  // as FNSTENV stores it in 32-bit protected mode
  uint32_t mxcsr;
};

// Stores the whole x87 environment (control, status and tag words) and the SSE control and status
// register.
void SaveFpuState(FpuState* state);

// Puts back exactly what SaveFpuState stored, pending exception flags included.
void RestoreFpuState(const FpuState* state);

// Installs the plug-in's own setting: x87 control word 0x037F (round to nearest, 64-bit
// precision, all six exceptions masked) and MXCSR 0x1F80 (the same for SSE, no flush-to-zero).
void UsePluginFpu();

// Reads the current x87 control word and MXCSR; for tests and the host's checks.
uint16_t CurrentX87Control();
uint32_t CurrentMxcsr();
void SetX87Control(uint16_t control);
void SetMxcsr(uint32_t mxcsr);

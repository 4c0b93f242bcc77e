// Compact unwind information (`__unwind_info`: header, first-level index, compressed
// second-level pages) for images that carry it, applied to a register state. Modes:
// frame-based (a frame-pointer step), DWARF (the FDE at the encoded `.eh_frame` offset) and
// frameless (the link register).
//
// Every read of the section goes through CRSafeCopyMemory and must lie inside the image
// (load address to load address + size).
//
// Contract: async-signal-safe, no allocation, no lock.
#pragma once

#include <cstdint>

#include "crash-reporting/core/registers.h"

struct CRCompactUnwindState {
  uintptr_t unwindInfo = 0;
  uintptr_t ehFrame = 0;
  uintptr_t loadAddress = 0;
  uintptr_t imageEnd = 0;
  uint32_t header[7] = {};
  uint32_t firstLevelEntry[3] = {};
  uint32_t nextFunctionOffset = 0;
};

struct CRCompactUnwindResult {
  uint32_t encoding = 0;
  uintptr_t functionStart = 0;
  uintptr_t functionEnd = 0;
};

enum : uint32_t {
  kCRCompactModeMask = 0x0F000000,
  kCRCompactModeFrameless = 0x02000000,
  kCRCompactModeDwarf = 0x03000000,
  kCRCompactModeFrame = 0x04000000,
};

bool CRCompactUnwindInit(CRCompactUnwindState* state, uintptr_t unwindInfo, uintptr_t ehFrame, uintptr_t loadAddress,
                         uintptr_t imageSize);
bool CRCompactUnwindLookupAndCompute(CRCompactUnwindState* state, CRThreadContext* registers);
bool CRCompactUnwindLookup(CRCompactUnwindState* state, uintptr_t pc, CRCompactUnwindResult* result);
bool CRCompactUnwindComputeRegisters(CRCompactUnwindState* state, const CRCompactUnwindResult* result,
                                     CRThreadContext* registers);
bool CRCompactUnwindDwarfFrame(CRCompactUnwindState* state, uintptr_t fdeOffset, CRThreadContext* registers);

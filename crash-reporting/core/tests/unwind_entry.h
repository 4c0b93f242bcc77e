// One run of the unwinders over bytes from outside, for the bounds tests and the fuzzer.
//
// Layout: byte 0 picks the entry point, bytes 1-2 are `offset` and bytes 3-4 `pc offset`
// (little-endian), and the rest is the section:
//   0: the FDE at `offset` in an `.eh_frame` section and its CIE, then the instruction table
//      for pc = the FDE's start + `pc offset`;
//   1: the DWARF expression (its ULEB128 length first) at `offset`, inside the section;
//   2: an `__unwind_info` table at the section's start, the image being the section, with
//      `.eh_frame` at `offset` and pc = section + `pc offset`.
// The section is copied into a heap block of its own, so that AddressSanitizer sees any read
// outside it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "crash-reporting/core/compact_unwind.h"
#include "crash-reporting/core/dwarf_unwind.h"
#include "crash-reporting/core/registers.h"

namespace crash_test {

enum class UnwindEntry : uint8_t { kFrameDescription = 0, kExpression = 1, kCompactUnwind = 2 };

// True when the entry point produced a caller's registers (or an expression's value).
inline bool runUnwindEntry(const uint8_t* data, size_t size) {
  if (size < 5) return false;
  const uint8_t entry = data[0];
  const size_t offset = data[1] | (size_t{data[2]} << 8);
  const uint64_t pcOffset = data[3] | (uint64_t{data[4]} << 8);
  const size_t sectionSize = size - 5;
  if (sectionSize == 0 || offset >= sectionSize) return false;
  auto* section = static_cast<uint8_t*>(std::malloc(sectionSize));
  std::memcpy(section, data + 5, sectionSize);
  const auto start = reinterpret_cast<uintptr_t>(section);
  const uintptr_t end = start + sectionSize;

  // A small stack the rules may read, and registers that point into it.
  static uint64_t stack[64];
  CRThreadContext registers;
  for (uint64_t number = 0; number < kCRDwarfRegisterCount; ++number) {
    CRDwarfUnwindSetRegisterValue(&registers, number, reinterpret_cast<uintptr_t>(&stack[8 + number]));
  }
  CRRegistersSetSP(&registers, reinterpret_cast<uintptr_t>(&stack[16]));
  CRRegistersSetFP(&registers, reinterpret_cast<uintptr_t>(&stack[32]));

  bool produced = false;
  switch (static_cast<UnwindEntry>(entry)) {
    case UnwindEntry::kFrameDescription: {
      CRDwarfCIEPair pair;
      if (CRDwarfParseFDERecord(&pair.fde, true, &pair.cie, start + offset, start, end)) {
        CRRegistersSetPC(&registers, pair.fde.pcStart + pcOffset);
        produced = CRDwarfUnwindComputeRegisters(&pair, &registers);
      }
      break;
    }
    case UnwindEntry::kExpression: {
      uint64_t value = 0;
      produced = CRDwarfEvalulateExpression(start + offset, &registers, CRRegistersSP(&registers), &value, end);
      break;
    }
    case UnwindEntry::kCompactUnwind: {
      CRCompactUnwindState state;
      if (CRCompactUnwindInit(&state, start, start + offset, start, sectionSize)) {
        CRRegistersSetPC(&registers, start + pcOffset);
        produced = CRCompactUnwindLookupAndCompute(&state, &registers);
      }
      break;
    }
  }
  std::free(section);
  return produced;
}

}  // namespace crash_test

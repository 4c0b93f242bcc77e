// The DWARF unwinder on bytes from outside: an `.eh_frame` FDE with its CIE and instruction
// table, or a DWARF expression (entry points 0 and 1 of crash-reporting/core/tests/unwind_entry.h).
#include <cstddef>
#include <cstdint>

#include "crash-reporting/core/tests/unwind_entry.h"
#include "fuzz_seeds.h"

// Unwind tables have no encoder here: the seeds are small checked-in files.
std::vector<FuzzSeed> fuzzSeeds() { return {}; }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 0 && data[0] <= static_cast<uint8_t>(crash_test::UnwindEntry::kExpression)) {
    crash_test::runUnwindEntry(data, size);
  }
  return 0;
}

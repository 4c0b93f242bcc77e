// Compact unwind information on bytes from outside, its DWARF mode included (entry point 2 of
// crash-reporting/core/tests/unwind_entry.h).
#include <cstddef>
#include <cstdint>

#include "crash-reporting/core/tests/unwind_entry.h"
#include "fuzz_seeds.h"

// Unwind tables have no encoder here: the seeds are small checked-in files.
std::vector<FuzzSeed> fuzzSeeds() { return {}; }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 0 && data[0] == static_cast<uint8_t>(crash_test::UnwindEntry::kCompactUnwind)) {
    crash_test::runUnwindEntry(data, size);
  }
  return 0;
}

// The ELF file reader: machine and build-id of a file on disk, from any bytes.
#include <cstddef>
#include <cstdint>

#include "fuzz_seeds.h"
#include "platform/images/elf_image.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  (void)platform::images::looksLikeElf(data, size);
  if (auto facts = platform::images::readElfFile(data, size)) {
    (void)platform::images::elfArchitectureName(facts->machine);
  }
  return 0;
}

// The seeds are small shared objects linked for the corpus (no encoder writes ELF here).
std::vector<FuzzSeed> fuzzSeeds() { return {}; }

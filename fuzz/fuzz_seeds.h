// The seed inputs a fuzz target makes with the project's own encoders. Every target defines
// fuzzSeeds(); `fuzz_<name>_replay --write-seeds <folder>` writes them there as
// seed-<label>, which is how corpus/<name>/seed-* were made.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct FuzzSeed {
  std::string label;
  std::vector<uint8_t> bytes;
};

std::vector<FuzzSeed> fuzzSeeds();

inline std::vector<uint8_t> fuzzBytes(const std::string& text) { return {text.begin(), text.end()}; }

// Replays a fuzz target's inputs through its entry point, once each, without libFuzzer: the
// corpus as a plain test. Arguments are files and folders (every file in a folder, in name
// order). Fails when no input was found, so a corpus that went missing is noticed.
//
// `--write-seeds <folder>` writes the target's seeds (fuzz_seeds.h) there instead.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "fuzz_seeds.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

std::vector<uint8_t> readAll(const std::filesystem::path& path) {
  std::ifstream stream(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>()};
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::string(argv[1]) == "--write-seeds") {
    for (const FuzzSeed& seed : fuzzSeeds()) {
      std::ofstream(std::filesystem::path(argv[2]) / ("seed-" + seed.label), std::ios::binary)
          .write(reinterpret_cast<const char*>(seed.bytes.data()), static_cast<std::streamsize>(seed.bytes.size()));
    }
    return 0;
  }
  std::vector<std::filesystem::path> inputs;
  for (int i = 1; i < argc; ++i) {
    const std::filesystem::path argument(argv[i]);
    if (std::filesystem::is_directory(argument)) {
      for (const auto& entry : std::filesystem::directory_iterator(argument)) {
        if (entry.is_regular_file()) inputs.push_back(entry.path());
      }
    } else {
      inputs.push_back(argument);
    }
  }
  std::sort(inputs.begin(), inputs.end());
  for (const auto& input : inputs) {
    std::printf("%s\n", input.filename().c_str());
    std::fflush(stdout);
    // A block of exactly the input's size, so that AddressSanitizer sees a read past it.
    const std::vector<uint8_t> bytes = readAll(input);
    std::vector<uint8_t> exact(bytes.begin(), bytes.end());
    LLVMFuzzerTestOneInput(exact.data(), exact.size());
  }
  std::printf("%zu inputs replayed\n", inputs.size());
  return inputs.empty() ? 1 : 0;
}

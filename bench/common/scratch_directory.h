// A benchmark's scratch folder: memory-backed when the machine has /dev/shm, so both sides of a
// ratio measure the work around their writes rather than the disk's flush latency. Named after
// the benchmark and this process, and emptied before use.
#pragma once

#include <unistd.h>

#include <filesystem>
#include <string>

namespace brivel::bench {

inline std::filesystem::path freshScratchDirectory(const std::string& name) {
  const std::filesystem::path base = std::filesystem::is_directory("/dev/shm") ? std::filesystem::path("/dev/shm")
                                                                               : std::filesystem::temp_directory_path();
  std::filesystem::path path = base / ("bench-" + name + "-" + std::to_string(::getpid()));
  std::filesystem::remove_all(path);
  return path;
}

}  // namespace brivel::bench

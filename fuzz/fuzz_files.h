// Inputs that stand for several files, for the targets whose reader takes a folder or a pair
// of files. An input is split at every kFuzzPartSeparator into parts (none at all: one part);
// a target says what each part is, by position or by its first byte. Each target keeps its
// files in a folder of its own per process, emptied for each input.
#pragma once

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

inline constexpr std::string_view kFuzzPartSeparator = "\n%%\n";

inline std::vector<std::string> fuzzParts(const uint8_t* data, size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  std::vector<std::string> parts;
  size_t start = 0;
  while (true) {
    const size_t end = input.find(kFuzzPartSeparator, start);
    parts.emplace_back(input.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start));
    if (end == std::string_view::npos) return parts;
    start = end + kFuzzPartSeparator.size();
  }
}

inline std::vector<uint8_t> fuzzJoinParts(const std::vector<std::string>& parts) {
  std::string joined;
  for (size_t index = 0; index < parts.size(); ++index) {
    if (index != 0) joined += kFuzzPartSeparator;
    joined += parts[index];
  }
  return {joined.begin(), joined.end()};
}

// /tmp/brivel-fuzz-<name>-<pid>, made on first use (one name per program: the first call fixes it).
inline const std::filesystem::path& fuzzFolder(const char* name) {
  static const std::filesystem::path path = [name] {
    std::filesystem::path made = "/tmp/brivel-fuzz-" + std::string(name) + "-" + std::to_string(::getpid());
    std::filesystem::create_directories(made);
    return made;
  }();
  return path;
}

// Removes everything in `folder`, keeping the folder.
inline void fuzzEmptyFolder(const std::filesystem::path& folder) {
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
    std::filesystem::remove_all(entry.path(), error);
  }
}

inline void fuzzWriteFile(const std::filesystem::path& path, std::string_view bytes) {
  std::error_code error;
  std::filesystem::create_directories(path.parent_path(), error);
  std::ofstream(path, std::ios::binary | std::ios::trunc).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

inline std::string fuzzReadFile(const std::filesystem::path& path) {
  std::ifstream stream(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>()};
}

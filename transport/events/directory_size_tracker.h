// ETDirectorySizeTracker: the total size of the regular, non-hidden files below a directory,
// computed by a walk on first use and after a reset, and otherwise moved by the size of each
// file the owner says it added or removed. Used only from the owning storage's queue.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

class ETDirectorySizeTracker {
 public:
  explicit ETDirectorySizeTracker(std::string directoryPath) : directoryPath_(std::move(directoryPath)) {}

  // The cached total, walking the tree first when there is none.
  uint64_t directoryContentSize();
  // The walk: regular files in the whole tree, hidden entries (and what is below them)
  // skipped, going on past entries that cannot be read.
  uint64_t calculateDirectoryContentSize() const;
  // Paths outside the directory are ignored, and so is every notice while there is no cached
  // total (the next read walks the tree as it then is). A removal never takes the total below 0.
  void fileWasAddedAtPath(const std::string& path, uint64_t size);
  void fileWasRemovedAtPath(const std::string& path, uint64_t size);
  void resetCachedSize() { cachedSizeBytes_.reset(); }
  static uint64_t fileSizeAtURL(const std::filesystem::path& path);

  const std::string& directoryPath() const { return directoryPath_; }
  const std::optional<uint64_t>& cachedSizeBytes() const { return cachedSizeBytes_; }
  void setCachedSizeBytes(std::optional<uint64_t> size) { cachedSizeBytes_ = size; }

 private:
  bool contains(const std::string& path) const { return path.rfind(directoryPath_, 0) == 0; }

  std::string directoryPath_;
  std::optional<uint64_t> cachedSizeBytes_;
};

#include "transport/events/directory_size_tracker.h"

#include <sys/stat.h>

namespace fs = std::filesystem;

uint64_t ETDirectorySizeTracker::directoryContentSize() {
  if (!cachedSizeBytes_) cachedSizeBytes_ = calculateDirectoryContentSize();
  return *cachedSizeBytes_;
}

uint64_t ETDirectorySizeTracker::calculateDirectoryContentSize() const {
  uint64_t total = 0;
  std::error_code error;
  fs::recursive_directory_iterator it(directoryPath_, fs::directory_options::skip_permission_denied, error);
  for (; !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
    const std::string name = it->path().filename().string();
    if (!name.empty() && name[0] == '.') {
      if (it->is_directory(error)) it.disable_recursion_pending();
      error.clear();
      continue;
    }
    std::error_code statError;
    if (it->is_regular_file(statError)) {
      const auto size = it->file_size(statError);
      if (!statError) total += size;
    }
  }
  return total;
}

// Without a cached total there is nothing to move: the walk of the next read sees the file
// as it is now (walking here, after the write, would count it twice).
void ETDirectorySizeTracker::fileWasAddedAtPath(const std::string& path, uint64_t size) {
  if (!contains(path) || !cachedSizeBytes_) return;
  cachedSizeBytes_ = *cachedSizeBytes_ + size;
}

void ETDirectorySizeTracker::fileWasRemovedAtPath(const std::string& path, uint64_t size) {
  if (!contains(path) || !cachedSizeBytes_) return;
  cachedSizeBytes_ = size > *cachedSizeBytes_ ? 0 : *cachedSizeBytes_ - size;
}

uint64_t ETDirectorySizeTracker::fileSizeAtURL(const fs::path& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) return 0;
  return static_cast<uint64_t>(info.st_size);
}

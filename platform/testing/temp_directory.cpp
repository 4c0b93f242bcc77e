#include "platform/testing/temp_directory.h"

#include <stdlib.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace platform::testing {

TempDirectory::TempDirectory(const std::string& prefix) {
  std::string pattern = (std::filesystem::temp_directory_path() / (prefix + "-XXXXXX")).string();
  if (::mkdtemp(pattern.data()) == nullptr) {
    throw std::runtime_error("cannot make a temporary directory " + pattern + ": " + std::strerror(errno));
  }
  path_ = pattern;
}

TempDirectory::~TempDirectory() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

}  // namespace platform::testing

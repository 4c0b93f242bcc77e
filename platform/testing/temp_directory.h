// TempDirectory: a directory of a test's own, removed with everything in it afterwards.
//
// Each one is new (mkdtemp under the system's temporary directory), so tests run side by side,
// repeated or after a crashed run never meet another's files.
//
//   TempDirectory dir("store");
//   auto container = open(dir.path() / "Books.store");
//
// Not thread-safe; the removal at destruction ignores errors.
#pragma once

#include <filesystem>
#include <string>

namespace platform::testing {

class TempDirectory {
 public:
  // `prefix` starts the directory's name, to tell whose it is when one is left behind.
  explicit TempDirectory(const std::string& prefix = "brivel");
  ~TempDirectory();
  TempDirectory(const TempDirectory&) = delete;
  TempDirectory& operator=(const TempDirectory&) = delete;

  const std::filesystem::path& path() const { return path_; }
  // The path of `name` inside the directory, as a string.
  std::string file(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

}  // namespace platform::testing

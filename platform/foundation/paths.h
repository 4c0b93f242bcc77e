// FileLocations: where the program reads and writes files, and AtomicFile writing.
//
// Everything the program writes lives under one data directory (default
// $XDG_DATA_HOME/brivel, else ~/.local/share/brivel; the app's --data-dir or a test points it
// elsewhere with setDataDirectory). Read-only resources sit in the resource directory, by
// default the folder of the running program. The setters are meant for start-up and tests;
// the getters are safe from any thread.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/expected.h"

namespace platform {

class FileLocations {
 public:
  static void setDataDirectory(std::filesystem::path directory);
  static std::filesystem::path dataDirectory();
  // <data dir>/Preferences: one property-list file per defaults suite.
  static std::filesystem::path preferencesDirectory();
  // <data dir>/Application Support and <data dir>/Caches, for the SDK's files.
  static std::filesystem::path applicationSupportDirectory();
  static std::filesystem::path cachesDirectory();

  static void setResourceDirectory(std::filesystem::path directory);
  static std::filesystem::path resourceDirectory();
};

// Step at which a file write can be told to fail, for testing failure paths for real.
enum class FileWriteFault { None, CreateTemporary, Write, Sync, Rename };

// Writes `bytes` to `path` so that the file holds either its old contents or the new ones,
// never a mix: a temporary file beside it is written, flushed to disk and renamed over it.
// Missing parent directories are created. On failure the old file is untouched, no
// temporary file is left behind, and the Error (POSIX domain, errno code) says why.
Status writeFileAtomically(const std::filesystem::path& path, const uint8_t* bytes, size_t size);
inline Status writeFileAtomically(
    const std::filesystem::path& path, const std::vector<uint8_t>& bytes) {
  return writeFileAtomically(path, bytes.data(), bytes.size());
}

// The name of one file made from an identifier that comes from elsewhere (an app ID, a
// stored key). The identifier stays as it is, except that "/", NUL and "%" are written
// %2F, %00 and %25, and a whole name of "." or ".." is written with %2E for each dot: so
// the name always stays inside the folder it is joined to, and distinct identifiers give
// distinct names. Callers add a prefix or refuse an empty identifier (it names the folder).
//   fileNameForID("1:123:ios:ab") == "1:123:ios:ab"; fileNameForID("../x") == "..%2Fx"
std::string fileNameForID(std::string_view id);

// Reads a whole file; std::nullopt when it is missing or unreadable.
std::optional<std::vector<uint8_t>> readFileContents(const std::filesystem::path& path);

// Makes the next atomic writes fail at `step` (FileWriteFault::None turns it off), so that
// every caller's failure path can be tested for real. Process wide; a fresh process has none.
void setFileWriteFault(FileWriteFault step);

}  // namespace platform

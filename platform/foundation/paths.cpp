#include "platform/foundation/paths.h"

#include "platform/foundation/file_names.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <mutex>

#include "platform/process_state/process_state.h"

namespace platform {

namespace fs = std::filesystem;

namespace {

std::mutex gLocationsMutex;
std::optional<fs::path> gDataDirectory;
std::optional<fs::path> gResourceDirectory;
std::atomic<FileWriteFault> gWriteFault{FileWriteFault::None};

fs::path defaultDataDirectory() {
  const char* xdg = std::getenv("XDG_DATA_HOME");
  if (xdg != nullptr && xdg[0] == '/') return fs::path(xdg) / "brivel";
  const char* home = std::getenv("HOME");
  if (home == nullptr || home[0] != '/') {
    const passwd* entry = getpwuid(getuid());
    home = entry != nullptr ? entry->pw_dir : nullptr;
  }
  if (home == nullptr || home[0] != '/') return fs::temp_directory_path() / "brivel";
  return fs::path(home) / ".local" / "share" / "brivel";
}

fs::path defaultResourceDirectory() {
  std::error_code error;
  fs::path program = fs::read_symlink("/proc/self/exe", error);
  if (error) return fs::current_path(error);
  return program.parent_path();
}

bool injectedFault(FileWriteFault step, int& savedErrno) {
  if (gWriteFault.load() != step) return false;
  savedErrno = EIO;
  return true;
}

}  // namespace

void FileLocations::setDataDirectory(fs::path directory) {
  addProcessStateReset(+[] {
    std::lock_guard lock(gLocationsMutex);
    gDataDirectory.reset();
  });
  std::lock_guard lock(gLocationsMutex);
  if (directory.empty()) {
    gDataDirectory.reset();
  } else {
    gDataDirectory = fs::absolute(directory);
  }
}

fs::path FileLocations::dataDirectory() {
  std::lock_guard lock(gLocationsMutex);
  if (!gDataDirectory) gDataDirectory = defaultDataDirectory();
  return *gDataDirectory;
}

fs::path FileLocations::preferencesDirectory() { return dataDirectory() / "Preferences"; }
fs::path FileLocations::applicationSupportDirectory() {
  return dataDirectory() / "Application Support";
}
fs::path FileLocations::cachesDirectory() { return dataDirectory() / "Caches"; }

void FileLocations::setResourceDirectory(fs::path directory) {
  addProcessStateReset(+[] {
    std::lock_guard lock(gLocationsMutex);
    gResourceDirectory.reset();
  });
  std::lock_guard lock(gLocationsMutex);
  if (directory.empty()) {
    gResourceDirectory.reset();
  } else {
    gResourceDirectory = fs::absolute(directory);
  }
}

fs::path FileLocations::resourceDirectory() {
  std::lock_guard lock(gLocationsMutex);
  if (!gResourceDirectory) gResourceDirectory = defaultResourceDirectory();
  return *gResourceDirectory;
}

void setFileWriteFault(FileWriteFault step) {
  addProcessStateReset(+[] { gWriteFault.store(FileWriteFault::None); });
  gWriteFault.store(step);
}

Status writeFileAtomically(const fs::path& path, const uint8_t* bytes, size_t size) {
  const fs::path directory = path.has_parent_path() ? path.parent_path() : fs::path(".");
  std::error_code dirError;
  fs::create_directories(directory, dirError);
  if (dirError) return Error::posix(dirError.value(), directory.string());

  int savedErrno = 0;
  std::string pattern = (directory / ("." + path.filename().string() + ".tmp-XXXXXX")).string();
  int fd = injectedFault(FileWriteFault::CreateTemporary, savedErrno) ? -1
                                                                       : mkstemp(pattern.data());
  if (fd < 0) {
    if (savedErrno == 0) savedErrno = errno;
    return Error::posix(savedErrno, path.string());
  }
  const std::string temporary = pattern;
  auto fail = [&](int code) {
    if (fd >= 0) close(fd);
    unlink(temporary.c_str());
    return Error::posix(code, path.string());
  };

  size_t written = 0;
  while (written < size) {
    if (injectedFault(FileWriteFault::Write, savedErrno)) {
      // Leave a partial temporary behind the failure, as a real short write would.
      [[maybe_unused]] ssize_t partial = ::write(fd, bytes, size / 2);
      return fail(savedErrno);
    }
    ssize_t n = ::write(fd, bytes + written, size - written);
    if (n < 0) {
      if (errno == EINTR) continue;
      return fail(errno);
    }
    written += static_cast<size_t>(n);
  }
  if (injectedFault(FileWriteFault::Sync, savedErrno)) return fail(savedErrno);
  if (fsync(fd) != 0) return fail(errno);
  if (close(fd) != 0) {
    fd = -1;
    return fail(errno);
  }
  fd = -1;
  if (injectedFault(FileWriteFault::Rename, savedErrno)) return fail(savedErrno);
  if (std::rename(temporary.c_str(), path.c_str()) != 0) return fail(errno);

  // Make the rename itself durable; a failure here leaves a complete file either way.
  int dirFd = open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dirFd >= 0) {
    fsync(dirFd);
    close(dirFd);
  }
  return {};
}

std::string fileNamePartForID(std::string_view id, std::string_view separators) {
  if (id == "." || id == "..") return id.size() == 1 ? "%2E" : "%2E%2E";
  static const char* kHex = "0123456789ABCDEF";
  std::string name;
  name.reserve(id.size());
  for (char c : id) {
    if (c == '/' || c == '\0' || c == '%' || separators.find(c) != std::string_view::npos) {
      const auto byte = static_cast<unsigned char>(c);
      name += '%';
      name += kHex[byte >> 4];
      name += kHex[byte & 0xF];
    } else {
      name += c;
    }
  }
  return name;
}

std::optional<std::string> idFromFileNamePart(std::string_view name, std::string_view separators) {
  auto hexDigit = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  };
  std::string id;
  id.reserve(name.size());
  for (size_t i = 0; i < name.size(); ++i) {
    if (name[i] != '%') {
      id += name[i];
      continue;
    }
    if (i + 2 >= name.size()) return std::nullopt;
    const int high = hexDigit(name[i + 1]);
    const int low = hexDigit(name[i + 2]);
    if (high < 0 || low < 0) return std::nullopt;
    id += static_cast<char>(high * 16 + low);
    i += 2;
  }
  if (fileNamePartForID(id, separators) != name) return std::nullopt;
  return id;
}

std::string fileNameForID(std::string_view id) { return fileNamePartForID(id, {}); }

std::optional<std::vector<uint8_t>> readFileContents(const fs::path& path) {
  // Plain reads: a folder or an unreadable file in the file's place is "no contents", never an
  // exception from a stream.
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  struct stat info {};
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    close(fd);
    return std::nullopt;
  }
  std::vector<uint8_t> bytes;
  bytes.reserve(static_cast<size_t>(info.st_size));
  uint8_t buffer[65536];
  while (true) {
    ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      close(fd);
      return std::nullopt;
    }
    if (n == 0) break;
    bytes.insert(bytes.end(), buffer, buffer + n);
  }
  close(fd);
  return bytes;
}

}  // namespace platform

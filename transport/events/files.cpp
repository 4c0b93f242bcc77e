#include "transport/events/files.h"

#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <mutex>

#include "platform/foundation/paths.h"
#include "platform/process_state/process_state.h"
#include "transport/events/console.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kTemporaryMarker = ".tmp-";

bool makeParentDirectory(const fs::path& path, std::optional<platform::Error>* error) {
  std::error_code failure;
  fs::create_directories(path.parent_path(), failure);
  if (!failure) return true;
  if (error) *error = platform::Error::posix(failure.value(), path.parent_path().string());
  ET_LOG_DEBUG("Attempt to create directory failed: path:%s error:%s", path.c_str(), failure.message().c_str());
  return false;
}

// A name no other writer uses: this process's id and a counter (O_EXCL catches a name a
// process of the same id left behind).
std::atomic<pid_t> gProcessID{0};

pid_t processID() {
  static const bool watching = [] {
    // A forked child takes its own id, so that its temporaries never meet its parent's.
    pthread_atfork(nullptr, nullptr, [] { gProcessID.store(::getpid()); });
    gProcessID.store(::getpid());
    return true;
  }();
  (void)watching;
  return gProcessID.load();
}

std::string temporaryPath(const fs::path& path) {
  static std::atomic<uint64_t> counter{0};
  return (path.parent_path() / ("." + path.filename().string() + kTemporaryMarker + std::to_string(processID()) + "-" +
                                std::to_string(counter.fetch_add(1))))
      .string();
}

// Temporary file, write, close, rename; no flush (see the header). A missing parent
// directory is made when the first open says so, so the common case costs no extra call.
std::optional<platform::Error> writeThroughTemporary(const fs::path& path, const ETBytes& data,
                                                     std::optional<platform::Error>* directoryError) {
  std::string temporary;
  int fd = -1;
  bool madeParent = false;
  for (int attempt = 0; attempt < 8 && fd < 0; ++attempt) {
    temporary = temporaryPath(path);
    fd = ::open(temporary.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0644);
    if (fd >= 0) break;
    if (errno == ENOENT && !madeParent) {
      madeParent = true;
      if (!makeParentDirectory(path, directoryError)) return *directoryError;
      continue;
    }
    if (errno != EEXIST && errno != EINTR) return platform::Error::posix(errno, path.string());
  }
  if (fd < 0) return platform::Error::posix(EEXIST, path.string());
  size_t written = 0;
  while (written < data.size()) {
    const ssize_t n = ::write(fd, data.data() + written, data.size() - written);
    if (n < 0) {
      if (errno == EINTR) continue;
      const int code = errno;
      ::close(fd);
      ::unlink(temporary.c_str());
      return platform::Error::posix(code, path.string());
    }
    written += static_cast<size_t>(n);
  }
  if (::close(fd) != 0 || std::rename(temporary.c_str(), path.c_str()) != 0) {
    const int code = errno;
    ::unlink(temporary.c_str());
    return platform::Error::posix(code, path.string());
  }
  return std::nullopt;
}

}  // namespace

fs::path ETEventsRootURL() {
  // Found once per process, under the data directory of that process.
  static auto* cached = new platform::ProcessValue<fs::path>();
  const fs::path root = cached->getOrMake([] {
    fs::path path = platform::FileLocations::cachesDirectory() / "zideza-sdks-events";
    ET_LOG_DEBUG("ET's state will be saved to: %s", path.c_str());
    return path;
  });
  std::error_code failure;
  fs::create_directories(root, failure);
  ET_ASSERT(!failure, "There was an error creating ET's path");
  return root;
}

std::optional<ETBytes> ETArchiveObject(const platform::ArchiveValue& object, const fs::path& path,
                                       std::optional<platform::Error>* error) {
  platform::Error archiveError;
  std::optional<ETBytes> data = platform::KeyedArchiver::archivedData(object, &archiveError);
  if (!data) {
    if (error) *error = archiveError;
    ET_LOG_DEBUG("Encoding an object failed: %s", archiveError.localizedDescription().c_str());
    return std::nullopt;
  }
  if (!path.empty()) {
    std::optional<platform::Error> directoryError;
    if (auto writeError = writeThroughTemporary(path, *data, &directoryError)) {
      if (directoryError) {  // as when the directory is made first
        if (error) *error = directoryError;
        return std::nullopt;
      }
      if (error) *error = writeError;
      ET_LOG_DEBUG("Attempt to write archive failed: path:%s error:%s", path.c_str(),
                   writeError->localizedDescription().c_str());
    } else {
      ET_LOG_DEBUG("Writing archive succeeded: %s", path.c_str());
    }
  }
  return data;
}

std::optional<ETBytes> ETReadFile(const fs::path& path, std::optional<platform::Error>* error) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  auto fail = [&](int code) -> std::optional<ETBytes> {
    if (error) *error = platform::Error::posix(code, path.string());
    return std::nullopt;
  };
  if (fd < 0) return fail(errno);
  struct stat info {};
  if (::fstat(fd, &info) != 0) {
    const int code = errno;
    ::close(fd);
    return fail(code);
  }
  // Files whose size fstat knows are read to that size; others (such as /proc files) to
  // their end.
  const bool sized = info.st_size > 0;
  ETBytes bytes(static_cast<size_t>(sized ? info.st_size : 0));
  size_t filled = 0;
  for (;;) {
    if (filled == bytes.size()) {
      if (sized) break;
      bytes.resize(bytes.size() + 4096);
    }
    const ssize_t n = ::read(fd, bytes.data() + filled, bytes.size() - filled);
    if (n < 0) {
      if (errno == EINTR) continue;
      const int code = errno;
      ::close(fd);
      return fail(code);
    }
    if (n == 0) break;
    filled += static_cast<size_t>(n);
  }
  ::close(fd);
  bytes.resize(filled);
  return bytes;
}

std::optional<platform::ArchiveValue> ETUnarchiveFileOfClasses(const std::set<std::string>& classes,
                                                               const fs::path& path,
                                                               std::optional<platform::Error>* error) {
  std::optional<ETBytes> data = ETReadFile(path, error);
  if (!data) return std::nullopt;
  return ETUnarchiveDataOfClasses(classes, *data, error);
}

std::optional<platform::ArchiveValue> ETUnarchiveDataOfClasses(const std::set<std::string>& classes,
                                                               const ETBytes& data,
                                                               std::optional<platform::Error>* error) {
  platform::Error readError;
  auto value = platform::KeyedUnarchiver::unarchivedObjectOfClasses(classes, data, &readError);
  if (!value && error) *error = readError;
  return value;
}

bool ETWriteFileAtomically(const ETBytes& data, const fs::path& path, std::optional<platform::Error>* error) {
  if (path.empty()) return false;
  std::optional<platform::Error> directoryError;
  if (auto writeError = writeThroughTemporary(path, data, &directoryError)) {
    if (directoryError) {
      if (error) *error = directoryError;
      return false;
    }
    if (error) *error = writeError;
    ET_LOG_DEBUG("Attempt to write archive failed: path:%s error:%s", path.c_str(),
                 writeError->localizedDescription().c_str());
    return false;
  }
  ET_LOG_DEBUG("Writing archive succeeded: %s", path.c_str());
  return true;
}

bool ETOverwriteFileInPlace(const ETBytes& data, const fs::path& path) {
  if (data.empty() || data.size() > kETInPlaceWriteLimit) return false;
  const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return false;
  struct stat info {};
  bool written = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) &&
                 static_cast<uint64_t>(info.st_size) == data.size();
  if (written) {
    ssize_t n;
    do {
      n = ::pwrite(fd, data.data(), data.size(), 0);
    } while (n < 0 && errno == EINTR);
    written = n == static_cast<ssize_t>(data.size());
  }
  if (::close(fd) != 0) written = false;
  return written;
}

bool ETIsTemporaryFileName(const std::string& name) {
  return !name.empty() && name[0] == '.' && name.find(kTemporaryMarker) != std::string::npos;
}

std::string ETHardwareModel() {
  static const std::string model = [] {
    utsname names{};
    if (uname(&names) == 0 && names.machine[0] != '\0') return std::string(names.machine);
    return std::string("Unknown");
  }();
  return model;
}

bool ETFlagsSayReachable(uint32_t flags) { return (flags & 6u) == 2u; }
bool ETFlagsSayCellular(uint32_t flags) { return (flags & 0x40000u) != 0; }

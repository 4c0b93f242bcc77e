#include "platform/foundation/data_folder_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <chrono>
#include <thread>

#include "platform/foundation/data_notices.h"
#include "platform/foundation/error.h"
#include "platform/foundation/paths.h"

namespace platform {

namespace {

Error lockError(DataFolderLockError code, std::string description) {
  return Error::described(kDataFolderLockErrorDomain, static_cast<long>(code), std::move(description));
}

// "pid N\naddress URL\n", as writeHolder leaves it; lines it does not know are passed over.
DataFolderHolder parseHolder(const std::string& text) {
  DataFolderHolder holder;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    const std::string_view line(text.data() + start, end - start);
    if (line.starts_with("pid ")) {
      pid_t pid = 0;
      const auto [stop, failure] = std::from_chars(line.data() + 4, line.data() + line.size(), pid);
      if (failure == std::errc() && stop == line.data() + line.size() && pid > 0) holder.processID = pid;
    } else if (line.starts_with("address ")) {
      holder.address = std::string(line.substr(8));
    }
    start = end + 1;
  }
  return holder;
}

}  // namespace

Expected<std::unique_ptr<DataFolderLock>> DataFolderLock::acquire(const std::filesystem::path& folder,
                                                                 const std::string& program) {
  const std::filesystem::path path = folder / kDataFolderLockFileName;
  // Opening never truncates: a second start changes nothing of the holder's file.
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) {
    return lockError(DataFolderLockError::Unavailable,
                     "The data folder cannot be locked for this program: " + describeFileProblem(errno, path) + ".");
  }
  while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    if (errno == EINTR) continue;
    const int code = errno;
    ::close(fd);
    if (code != EWOULDBLOCK) {
      return lockError(DataFolderLockError::Unavailable, "The data folder cannot be locked for this program: " +
                                                             describeFileProblem(code, path) + ".");
    }
    // The holder writes its process ID right after it takes the lock: a start that comes in
    // between waits a moment for it.
    DataFolderHolder holder = holderOf(folder);
    for (int attempt = 0; attempt < 20 && !holder.processID; ++attempt) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
      holder = holderOf(folder);
    }
    std::string message = program + " is already running with this data folder (process " +
                          (holder.processID ? std::to_string(*holder.processID) : std::string("unknown")) + ").";
    if (!holder.address.empty()) message += " Its page: " + holder.address;
    return lockError(DataFolderLockError::HeldElsewhere, std::move(message));
  }
  std::unique_ptr<DataFolderLock> lock(new DataFolderLock(fd));
  lock->writeHolder({});
  return lock;
}

DataFolderHolder DataFolderLock::holderOf(const std::filesystem::path& folder) {
  auto bytes = readFileContents(folder / kDataFolderLockFileName);
  if (!bytes) return {};
  return parseHolder(std::string(bytes->begin(), bytes->end()));
}

DataFolderLock::~DataFolderLock() { ::close(fd_); }

void DataFolderLock::setAddress(const std::string& address) { writeHolder(address); }

void DataFolderLock::writeHolder(const std::string& address) {
  // Written in place: replacing the file would leave the lock on a file no one opens.
  std::string text = "pid " + std::to_string(::getpid()) + "\n";
  if (!address.empty()) text += "address " + address + "\n";
  if (::ftruncate(fd_, 0) != 0) return;
  size_t written = 0;
  while (written < text.size()) {
    const ssize_t n = ::pwrite(fd_, text.data() + written, text.size() - written, static_cast<off_t>(written));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    written += static_cast<size_t>(n);
  }
}

}  // namespace platform

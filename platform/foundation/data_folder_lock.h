// DataFolderLock: one program per data folder.
//
// Two programs writing one data folder would number new rows twice over and hand out one
// batch ID to both, so a program takes this lock at start, before it reads anything there,
// and holds it until it exits. The lock is an exclusive flock on "<folder>/brivel.lock"; the
// file also says who holds it (its process ID and, once the page is served, the page's
// address), so that a second start can tell the user where the first one is. The kernel lets
// the lock go when the holder exits, however it ends; a file left behind holds nothing.
//
//   auto lock = DataFolderLock::acquire(folder);
//   if (!lock.ok()) { report lock.error() (a held lock says "process N"); exit }
//   ...
//   lock->setAddress(url);
//
// Threads: acquire and setAddress from one thread.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "platform/foundation/expected.h"

namespace platform {

inline constexpr const char* kDataFolderLockFileName = "brivel.lock";

// Errors of DataFolderLock::acquire, in kDataFolderLockErrorDomain.
inline constexpr const char* kDataFolderLockErrorDomain = "platform.data-folder-lock";
enum class DataFolderLockError : long {
  HeldElsewhere = 1,  // another process holds the lock
  Unavailable = 2,    // the lock file cannot be made or locked (a read-only folder, ...)
};

// Who holds a folder's lock, as its lock file says.
struct DataFolderHolder {
  std::optional<pid_t> processID;
  std::string address;  // empty until the holder serves its page
};

class DataFolderLock {
 public:
  // Takes the folder's lock without waiting. A lock held by another process fails with
  // HeldElsewhere, whose description is `program` + " is already running with this data
  // folder (process N)." and, when the holder has written it, " Its page: <address>".
  static Expected<std::unique_ptr<DataFolderLock>> acquire(const std::filesystem::path& folder,
                                                          const std::string& program = "Brivel");
  // What the folder's lock file says (for the message above).
  static DataFolderHolder holderOf(const std::filesystem::path& folder);

  ~DataFolderLock();
  DataFolderLock(const DataFolderLock&) = delete;
  DataFolderLock& operator=(const DataFolderLock&) = delete;

  // Records the page's address in the lock file, for a second start to print.
  void setAddress(const std::string& address);

 private:
  explicit DataFolderLock(int fd) : fd_(fd) {}
  void writeHolder(const std::string& address);

  int fd_;
};

}  // namespace platform

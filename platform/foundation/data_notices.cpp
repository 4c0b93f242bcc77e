#include "platform/foundation/data_notices.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <system_error>

#include "platform/process_state/process_state.h"

namespace platform {

namespace fs = std::filesystem;

DataNotices& DataNotices::shared() {
  static auto* notices = [] {
    addProcessStateReset(+[] { DataNotices::shared().reset(); });
    return new DataNotices();
  }();
  return *notices;
}

void DataNotices::set(std::string key, std::string text, bool dismissable) {
  std::fprintf(stderr, "brivel: %s\n", text.c_str());
  std::lock_guard lock(mutex_);
  ++generation_;
  for (DataNotice& notice : notices_) {
    if (notice.key == key) {
      notice.text = std::move(text);
      notice.dismissable = dismissable;
      return;
    }
  }
  notices_.push_back({std::move(key), std::move(text), dismissable});
}

void DataNotices::clear(std::string_view key) {
  std::lock_guard lock(mutex_);
  std::erase_if(notices_, [&](const DataNotice& notice) {
    if (notice.key != key) return false;
    ++generation_;
    return true;
  });
}

bool DataNotices::has(std::string_view key) const {
  std::lock_guard lock(mutex_);
  for (const DataNotice& notice : notices_) {
    if (notice.key == key) return true;
  }
  return false;
}

std::vector<DataNotice> DataNotices::all() const {
  std::lock_guard lock(mutex_);
  return notices_;
}

std::uint64_t DataNotices::generation() const {
  std::lock_guard lock(mutex_);
  return generation_;
}

void DataNotices::reset() {
  std::lock_guard lock(mutex_);
  notices_.clear();
  ++generation_;
}

fs::path moveDamagedFileAside(const fs::path& file, std::string_view what, std::string_view suffix) {
  std::error_code error;
  fs::path aside = fs::path(file.string() + std::string(suffix));
  for (int n = 2; fs::symlink_status(aside, error).type() != fs::file_type::not_found && n < 1000; ++n) {
    aside = fs::path(file.string() + std::string(suffix) + "-" + std::to_string(n));
  }
  fs::rename(file, aside, error);
  std::string text;
  if (error) {
    text = "Brivel could not read " + std::string(what) + " (" + file.string() + ") and could not move it aside (" +
           error.message() + "); it is left as it is and Brivel goes on without it.";
    aside.clear();
  } else {
    text = "Brivel could not read " + std::string(what) + ", so it started without it. The damaged file was set aside as " +
           aside.string() + ".";
  }
  DataNotices::shared().set("aside:" + file.string(), std::move(text), true);
  return aside;
}

std::size_t sweepStaleTemporaryFiles(const fs::path& directory) {
  std::size_t removed = 0;
  std::error_code error;
  fs::recursive_directory_iterator it(directory, fs::directory_options::skip_permission_denied, error);
  for (; !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
    const std::string name = it->path().filename().string();
    if (name.size() < 6 || name.front() != '.') continue;
    const auto at = name.rfind(".tmp");
    const bool temporary = at != std::string::npos && at > 1 &&
                           (at + 4 == name.size() || (name.compare(at, 5, ".tmp-") == 0 && name.size() == at + 11));
    std::error_code ignored;
    if (temporary && it->is_regular_file(ignored) && fs::remove(it->path(), ignored)) ++removed;
  }
  return removed;
}

std::string describeFileProblem(int errorNumber, const fs::path& path) {
  switch (errorNumber) {
    case ENOSPC:
    case EDQUOT:
      return "the disk is full";
    case EROFS:
      return "the disk holding " + path.string() + " is read-only";
    case EACCES:
    case EPERM:
      return "the data folder is read-only (Brivel may not write to " + path.string() + ")";
    case ENOTDIR: {
      std::error_code error;
      for (fs::path at = path; !at.empty() && at != at.root_path(); at = at.parent_path()) {
        if (fs::is_regular_file(at, error)) return at.string() + " is a file, not a folder";
      }
      return "a part of " + path.string() + " is a file, not a folder";
    }
    case EISDIR:
      return path.string() + " is a folder, not a file";
    case EIO:
      return "the disk reported an error reading or writing " + path.string();
    default:
      return std::strerror(errorNumber) + std::string(" (") + path.string() + ")";
  }
}

}  // namespace platform

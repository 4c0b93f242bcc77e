// DataNotices: what the user must be told about their data, kept until it no longer holds.
//
// A damaged file that was moved aside, a save that keeps failing: each is one notice under a
// key of its own (setting a key again replaces its text). Every notice is also written to
// standard error when it is set. The page shows the current notices; one the user may dismiss
// (`dismissable`) goes when they do, the others when the code that set them clears them.
//
//   DataNotices::shared().set("store.save", "Your changes could not be saved: ...", false);
//   DataNotices::shared().clear("store.save");
//
// Threads: safe from any thread.
#pragma once

#include <cstdint>
#include <filesystem>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

struct DataNotice {
  std::string key;
  std::string text;
  bool dismissable = true;
};

class DataNotices {
 public:
  static DataNotices& shared();

  void set(std::string key, std::string text, bool dismissable = true);
  void clear(std::string_view key);
  bool has(std::string_view key) const;
  std::vector<DataNotice> all() const;
  // Goes up with every change, so a screen knows when to draw the notices again.
  std::uint64_t generation() const;
  // Forgets every notice. For tests.
  void reset();

 private:
  mutable std::mutex mutex_;
  std::vector<DataNotice> notices_;
  std::uint64_t generation_ = 0;
};

// Moves a damaged file aside to "<file><suffix>" (a numbered name when that is taken) and tells
// the user what was set aside and where. `what` names the file for a person ("the
// preferences"). Answers where the file went, or an empty path when it could not be moved.
std::filesystem::path moveDamagedFileAside(const std::filesystem::path& file, std::string_view what,
                                           std::string_view suffix = ".unreadable");

// Removes the temporary files that an interrupted atomic write leaves beside its target
// (".<name>.tmp-XXXXXX" and ".<name>.tmp"), in `directory` and the folders below it. Answers
// how many were removed. Call at start, before anything writes.
std::size_t sweepStaleTemporaryFiles(const std::filesystem::path& directory);

// How a failed file operation reads to a person: "the disk is full", "the data folder is
// read-only", "… is a file, not a folder". `errorNumber` is the errno of the failure.
std::string describeFileProblem(int errorNumber, const std::filesystem::path& path);

}  // namespace platform

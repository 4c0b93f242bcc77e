#include "platform/data/recovery_journal.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/data/internal/sqlite_store.h"
#include "platform/foundation/data_notices.h"
#include "platform/foundation/paths.h"

namespace platform {

namespace fs = std::filesystem;

namespace {

constexpr const char* kChangesName = "changes.store";
constexpr const char* kOriginName = "origin";
constexpr const char* kNoticeKey = "store.recovery";

// "store <path>\ndigest <hex>\n".
struct Origin {
  std::string store;
  std::string digest;
};

std::optional<Origin> readOrigin(const fs::path& file) {
  auto bytes = readFileContents(file);
  if (!bytes) return std::nullopt;
  const std::string text(bytes->begin(), bytes->end());
  Origin origin;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(start, end - start);
    if (line.rfind("store ", 0) == 0) origin.store = line.substr(6);
    if (line.rfind("digest ", 0) == 0) origin.digest = line.substr(7);
    start = end + 1;
  }
  if (origin.store.empty() || origin.digest.empty()) return std::nullopt;
  return origin;
}

std::string describe(const Error& error) {
  std::string text = error.localizedDescription();
  return text.empty() || text.back() == '.' ? text : text + ".";
}

}  // namespace

fs::path recoveryJournalRoot() {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  std::error_code error;
  const fs::path base = runtime != nullptr && runtime[0] == '/' && fs::is_directory(runtime, error)
                            ? fs::path(runtime)
                            : fs::temp_directory_path(error);
  return base / "brivel-recovery";
}

fs::path recoveryJournalFolder(const fs::path& root, const fs::path& store) {
  // One folder per store: a digest of its absolute path names it.
  const std::string path = fs::absolute(store).lexically_normal().string();
  uint64_t hash = 1469598103934665603ull;
  for (unsigned char c : path) hash = (hash ^ c) * 1099511628211ull;
  char name[40];
  std::snprintf(name, sizeof name, "store-%016llx", static_cast<unsigned long long>(hash));
  return root / name;
}

Expected<fs::path> writeRecoveryJournal(ModelContainer& container, const fs::path& root) {
  const fs::path folder = recoveryJournalFolder(root, container.url());
  std::error_code error;
  fs::create_directories(folder, error);
  if (error) return Error::posix(error.value(), folder.string());
  ::chmod(root.c_str(), 0700);
  ::chmod(folder.c_str(), 0700);
  // Made under a name of its own and renamed last, so a journal that is there is whole.
  const fs::path partial = folder / (std::string(kChangesName) + ".partial");
  auto digest = container.writeCopyWithUnsavedChanges(partial);
  if (!digest.ok()) {
    fs::remove(partial, error);
    return digest.error();
  }
  const std::string origin = "store " + fs::absolute(container.url()).lexically_normal().string() + "\ndigest " +
                             *digest + "\n";
  if (Status written = writeFileAtomically(folder / kOriginName, std::vector<uint8_t>(origin.begin(), origin.end()));
      !written.ok()) {
    return written.error();
  }
  fs::rename(partial, folder / kChangesName, error);
  if (error) return Error::posix(error.value(), (folder / kChangesName).string());
  return folder;
}

void replayRecoveryJournal(const fs::path& store, const fs::path& root) {
  const fs::path folder = recoveryJournalFolder(root, store);
  const fs::path changes = folder / kChangesName;
  std::error_code error;
  if (!fs::exists(changes, error)) return;
  auto origin = readOrigin(folder / kOriginName);
  if (!origin || origin->store != fs::absolute(store).lexically_normal().string()) return;

  const std::optional<std::string> current = data_internal::SqliteStore::savedContentDigestOf(store);
  if (current && *current != origin->digest) {
    // Changed since the journal was made: putting it back would undo what was saved later.
    fs::path aside = folder.string() + ".not-applied";
    for (int n = 2; fs::exists(aside, error) && n < 1000; ++n) aside = folder.string() + ".not-applied-" + std::to_string(n);
    fs::rename(folder, aside, error);
    DataNotices::shared().set(
        kNoticeKey,
        "Brivel found changes that could not be saved when it last stopped, but the store has changed since, so "
        "they were not put back. They are kept in " +
            (error ? folder : aside).string() + ".",
        true);
    return;
  }
  Status replaced = current ? data_internal::SqliteStore::replaceContent(store, changes)
                            : Status(Error::described(kModelStoreErrorDomain,
                                                      static_cast<long>(ModelStoreError::OpenFailed),
                                                      "The store at " + store.string() + " cannot be read."));
  if (!replaced.ok()) {
    DataNotices::shared().set(kNoticeKey,
                              "Brivel could not yet put back the changes that could not be saved when it last "
                              "stopped: " +
                                  describe(replaced.error()) + " They are kept in " + folder.string() +
                                  ", and Brivel tries again when it next starts.",
                              false);
    return;
  }
  fs::remove_all(folder, error);
  DataNotices::shared().set(kNoticeKey,
                            "Brivel put back the changes that could not be saved when it last stopped (they were "
                            "kept in " +
                                folder.string() + ").",
                            true);
}

}  // namespace platform

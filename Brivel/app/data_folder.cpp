#include "data_folder.h"

#include <iostream>

#include "platform/data/recovery_journal.h"

namespace brivel::app {

bool lockDataFolder(const std::filesystem::path& folder, const char* program,
                    std::unique_ptr<platform::DataFolderLock>& lock) {
  auto taken = platform::DataFolderLock::acquire(folder, "Brivel");
  if (taken.ok()) {
    lock = std::move(*taken);
    return true;
  }
  std::cerr << program << ": " << taken.error().localizedDescription() << "\n";
  return taken.error().code != static_cast<long>(platform::DataFolderLockError::HeldElsewhere);
}

std::filesystem::path storeFile(const std::filesystem::path& folder) { return folder / "Brivel.store"; }

void keepUnsavedChanges(platform::ModelContainer& container, const std::string& reason) {
  const std::filesystem::path root = platform::recoveryJournalRoot();
  auto kept = platform::writeRecoveryJournal(container, root);
  if (kept.ok()) {
    std::cerr << "brivel: your latest changes could not be saved in the data folder: " << reason
              << " They were kept in " << kept->string()
              << " instead, and Brivel puts them back when it next starts with this data folder.\n";
    return;
  }
  std::cerr << "brivel: your latest changes could not be saved and are lost: " << reason << " Keeping them in "
            << root.string() << " failed too: " << kept.error().localizedDescription() << "\n";
}

}  // namespace brivel::app

// The brivel program's hold on its data folder: the lock that keeps a second program off it,
// and the changes a stop could not save, kept elsewhere until the next start.
#pragma once

#include <filesystem>
#include <memory>

#include "platform/data/model_container.h"
#include "platform/foundation/data_folder_lock.h"

namespace brivel::app {

// Takes the data folder's lock before anything in it is read. False, after saying on standard
// error which process holds the folder (and its page's address when it is known), when another
// program runs on it; the caller then exits with status 1. A folder that cannot be locked at
// all (read-only, say) is said on standard error and used without the lock: the store then
// tells the user what it can and cannot do there.
bool lockDataFolder(const std::filesystem::path& folder, const char* program,
                    std::unique_ptr<platform::DataFolderLock>& lock);

// The store file in the data folder.
std::filesystem::path storeFile(const std::filesystem::path& folder);

// At a stop whose save failed for good (`reason` says why): keeps the unsaved changes in the
// recovery journal (platform/data/recovery_journal.h) and says on standard error where they
// went and that the next start on this data folder puts them back; or, when that fails too,
// says plainly that they are lost and why.
void keepUnsavedChanges(platform::ModelContainer& container, const std::string& reason);

}  // namespace brivel::app

// The recovery journal: changes a stop could not save, kept on another disk until the next
// start puts them back.
//
// When the disk of the data folder is full or read-only at a stop, the unsaved changes would
// be lost. writeRecoveryJournal keeps them instead in a folder of the recovery root
// ($XDG_RUNTIME_DIR, else the temporary folder), as a copy of the store with the changes
// saved into it and the digest of the store it was made over. At the next start on that data
// folder, before the store is opened, replayRecoveryJournal puts the copy's content into the
// store and tells the user on the page; a store that has changed since is left alone (the
// journal is then kept aside and the user told where), and a replay that fails (the disk is
// still full) is told and tried again at the next start.
//
//   at a stop:  auto kept = writeRecoveryJournal(*container, recoveryJournalRoot());
//   at start:   replayRecoveryJournal(dataDirectory / "Brivel.store", recoveryJournalRoot());
//
// Threads: the main thread, with the container's main context.
#pragma once

#include <filesystem>

#include "platform/data/model_container.h"
#include "platform/foundation/expected.h"

namespace platform {

// "<$XDG_RUNTIME_DIR or the temporary folder>/brivel-recovery".
std::filesystem::path recoveryJournalRoot();

// The journal's folder below `root` for the store file `store`.
std::filesystem::path recoveryJournalFolder(const std::filesystem::path& root, const std::filesystem::path& store);

// Keeps the container's unsaved changes in its journal folder below `root`; answers the folder.
Expected<std::filesystem::path> writeRecoveryJournal(ModelContainer& container, const std::filesystem::path& root);

// Puts back a journal kept for `store` below `root`, telling the user what happened (a data
// notice, also written to standard error). Nothing happens when there is none.
void replayRecoveryJournal(const std::filesystem::path& store, const std::filesystem::path& root);

}  // namespace platform

// ModelContainer: one store file opened for a Schema, with its main context.
//
// Opening loads the whole object graph into the main context. The store is an SQLite file
// in WAL mode; it carries the schema version it was made with, and a file of any other
// version (or a file that is not such a store) is refused with an error, never changed.
// The main context saves on its own at the end of each main-loop turn with changes and when
// the container goes away.
//
//   auto opened = ModelContainer::open(schema, ModelConfiguration{.url = dir / "My.store"});
//   if (!opened.ok()) { report(opened.error()); }
//   ModelContext& context = (*opened)->mainContext();
//
// Threads: open and use a container on the main thread.
#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "platform/data/model_context.h"
#include "platform/data/schema.h"
#include "platform/foundation/expected.h"

namespace platform {

// Errors of the store, in kModelStoreErrorDomain.
inline constexpr const char* kModelStoreErrorDomain = "platform.data.store";
enum class ModelStoreError : long {
  OpenFailed = 1,              // the file cannot be opened or created
  NotAStore = 2,               // the file is not a store of this kind
  UnknownSchemaVersion = 3,    // the store was made with another schema version
  IncompatibleSchema = 4,      // the store's tables do not fit the schema
  SaveFailed = 5,              // writing failed; nothing of the save was kept
  InjectedFault = 6,           // a test made the save fail
  DamagedJournal = 7,          // the journal of an unclean stop is damaged or missing; not opened
};

struct ModelConfiguration {
  // Where the store file lives. Empty: "<data directory>/<name or 'default'>.store".
  std::optional<std::filesystem::path> url;
  std::string name;
  bool isStoredInMemoryOnly = false;
  bool allowsSave = true;
  // Whether the main context saves on its own (turn ends and shutdown).
  bool autosaveEnabled = true;
};

class ModelContainer {
 public:
  // The opened container, or why it could not be opened.
  static Expected<std::shared_ptr<ModelContainer>> open(const Schema& schema, const ModelConfiguration& configuration);
  // Why the latest open() in this process failed (nothing once one succeeds), for the screen
  // that tells the user the store could not be opened.
  static std::optional<Error> lastOpenFailure();

  ~ModelContainer();
  ModelContainer(const ModelContainer&) = delete;
  ModelContainer& operator=(const ModelContainer&) = delete;

  ModelContext& mainContext() { return *mainContext_; }
  const Schema& schema() const { return schema_; }
  const ModelConfiguration& configuration() const { return configuration_; }
  // Copies everything saved into the store file itself and empties its journal (saves do this
  // shortly after on their own; call it before the program ends). Main thread.
  void checkpoint();
  // For a stop whose save failed: writes the store as saved plus every change of the main
  // context not saved yet as a new store file at `file` (elsewhere, say another disk), leaving
  // the store itself as it is. Answers the digest of the store's saved content the copy was
  // made over (recovery_journal.h). Main thread.
  Expected<std::string> writeCopyWithUnsavedChanges(const std::filesystem::path& file);
  // The store file (empty for an in-memory store).
  const std::filesystem::path& url() const { return url_; }

 private:
  ModelContainer(Schema schema, ModelConfiguration configuration, std::filesystem::path url);

  Schema schema_;
  ModelConfiguration configuration_;
  std::filesystem::path url_;
  std::unique_ptr<ModelContext> mainContext_;
};

}  // namespace platform

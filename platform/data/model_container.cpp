#include "platform/data/model_container.h"

#include <mutex>

#include "platform/data/internal/sqlite_store.h"
#include "platform/foundation/paths.h"

namespace platform {

namespace {
std::mutex gOpenFailureMutex;
std::optional<Error> gOpenFailure;

void noteOpenOutcome(const std::optional<Error>& failure) {
  std::lock_guard lock(gOpenFailureMutex);
  gOpenFailure = failure;
}
}  // namespace

std::optional<Error> ModelContainer::lastOpenFailure() {
  std::lock_guard lock(gOpenFailureMutex);
  return gOpenFailure;
}

ModelContainer::ModelContainer(Schema schema, ModelConfiguration configuration,
                               std::filesystem::path url)
    : schema_(std::move(schema)), configuration_(std::move(configuration)), url_(std::move(url)) {}

ModelContainer::~ModelContainer() {
  // The main context saves what is pending as it goes (when automatic saving is on).
  mainContext_.reset();
}

void ModelContainer::checkpoint() {
  if (mainContext_ && mainContext_->store_) mainContext_->store_->checkpoint();
}

Expected<std::string> ModelContainer::writeCopyWithUnsavedChanges(const std::filesystem::path& file) {
  if (!mainContext_ || !mainContext_->store_ || url_.empty()) {
    return Error::described(kModelStoreErrorDomain, static_cast<long>(ModelStoreError::SaveFailed),
                            "This store keeps nothing on disk.");
  }
  data_internal::SqliteStore& store = *mainContext_->store_;
  std::string digest = store.savedContentDigest();
  if (Status copied = store.copySavedTo(file); !copied.ok()) return copied.error();
  auto copy = data_internal::SqliteStore::open(file, schema_);
  if (!copy.ok()) return copy.error();
  if (Status written = (*copy)->write(mainContext_->pendingRows(), nullptr); !written.ok()) return written.error();
  (*copy)->checkpoint();
  return digest;
}

Expected<std::shared_ptr<ModelContainer>> ModelContainer::open(const Schema& schema,
                                                               const ModelConfiguration& configuration) {
  std::filesystem::path url;
  if (!configuration.isStoredInMemoryOnly) {
    url = configuration.url ? *configuration.url
                            : FileLocations::dataDirectory() /
                                  ((configuration.name.empty() ? std::string("default")
                                                               : configuration.name) +
                                   ".store");
  }
  auto opened = data_internal::SqliteStore::open(url, schema);
  if (!opened.ok()) {
    noteOpenOutcome(opened.error());
    return opened.error();
  }
  std::shared_ptr<ModelContainer> container(new ModelContainer(schema, configuration, url));
  container->mainContext_.reset(new ModelContext(*opened));
  if (Status loaded = (*opened)->load(*container->mainContext_); !loaded.ok()) {
    noteOpenOutcome(loaded.error());
    return loaded.error();
  }
  noteOpenOutcome(std::nullopt);
  if (!configuration.allowsSave) {
    container->mainContext_->readOnly_ = true;
  }
  if (configuration.autosaveEnabled && configuration.allowsSave) {
    container->mainContext_->setAutosaveEnabled(true);
  }
  return container;
}

}  // namespace platform

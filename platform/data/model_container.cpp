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

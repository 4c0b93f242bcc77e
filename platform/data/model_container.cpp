#include "platform/data/model_container.h"

#include "platform/data/internal/sqlite_store.h"
#include "platform/foundation/paths.h"

namespace platform {

ModelContainer::ModelContainer(Schema schema, ModelConfiguration configuration,
                               std::filesystem::path url)
    : schema_(std::move(schema)), configuration_(std::move(configuration)), url_(std::move(url)) {}

ModelContainer::~ModelContainer() {
  // The main context saves what is pending as it goes (when automatic saving is on).
  mainContext_.reset();
}

ModelContainer::OpenResult ModelContainer::open(const Schema& schema,
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
  if (!opened.store) {
    return {nullptr, std::move(opened.error)};
  }
  std::shared_ptr<ModelContainer> container(new ModelContainer(schema, configuration, url));
  container->mainContext_.reset(new ModelContext(opened.store));
  if (auto error = opened.store->load(*container->mainContext_)) {
    return {nullptr, std::move(error)};
  }
  if (!configuration.allowsSave) {
    container->mainContext_->readOnly_ = true;
  }
  if (configuration.autosaveEnabled && configuration.allowsSave) {
    container->mainContext_->setAutosaveEnabled(true);
  }
  return {std::move(container), std::nullopt};
}

}  // namespace platform

#include "Brivel/model/brivel_model_container.h"

#include <cstdio>
#include <cstdlib>
#include <mutex>

#include "Brivel/model/bill_entity.h"
#include "Brivel/model/category_entity.h"
#include "Brivel/model/profile_entity.h"
#include "platform/foundation/paths.h"

namespace brivel {

namespace {

// Never destroyed: the process-wide container outlives every static that its last save
// might otherwise race with. The pending changes are saved by an exit handler instead.
std::shared_ptr<platform::ModelContainer>* sharedSlot = nullptr;

void saveSharedContainerAtExit() {
  if (sharedSlot == nullptr || !*sharedSlot) {
    return;
  }
  platform::ModelContext& context = (*sharedSlot)->mainContext();
  if (context.hasChanges()) {
    if (platform::Status saved = context.save(); !saved.ok()) {
      std::fprintf(stderr, "Error saving: %s\n", saved.error().localizedDescription().c_str());
    }
  }
}

}  // namespace

const platform::Schema& BrivelModelContainer::schema() {
  static const platform::Schema schema(
      {&ProfileEntity::entityDescription(), &BillEntity::entityDescription(),
       &CategoryEntity::entityDescription()},
      platform::SchemaVersion{1, 0, 0});
  return schema;
}

std::shared_ptr<platform::ModelContainer> BrivelModelContainer::makeContainer(
    const std::optional<std::filesystem::path>& url) {
  try {
    platform::ModelConfiguration configuration;
    configuration.url = url ? *url : platform::FileLocations::dataDirectory() / "Brivel.store";
    configuration.isStoredInMemoryOnly = false;
    configuration.allowsSave = true;
    auto opened = platform::ModelContainer::open(schema(), configuration);
    if (!opened.ok()) {
      std::fprintf(stderr, "error: %s\n", opened.error().localizedDescription().c_str());
      return nullptr;
    }
    return *opened;
  } catch (const std::exception& exception) {
    std::fprintf(stderr, "error: %s\n", exception.what());
    return nullptr;
  }
}

std::shared_ptr<platform::ModelContainer> BrivelModelContainer::sharedContainer() {
  static std::once_flag once;
  std::call_once(once, [] {
    sharedSlot = new std::shared_ptr<platform::ModelContainer>(makeContainer());
    if (*sharedSlot) {
      std::atexit(saveSharedContainerAtExit);
    }
  });
  return *sharedSlot;
}

}  // namespace brivel

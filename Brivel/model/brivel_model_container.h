// BrivelModelContainer: builds the app's one store container, once per process.
//
// The store holds ProfileEntity, BillEntity and CategoryEntity (and BankAccountEntity and
// NoteEntity, reached through their relationships) under schema version 1.0.0, in the file
// "<data directory>/Brivel.store". Its main context saves on its own at the end of each
// main-loop turn with changes and when the process exits.
//
// `sharedContainer()` builds the container on its first call (safe if two threads race to
// it) and answers the same result ever after: a container that failed to build stays absent
// and is not retried.
#pragma once

#include <filesystem>
#include <memory>
#include <optional>

#include "platform/data/model_container.h"
#include "platform/data/schema.h"

namespace brivel {

class BrivelModelContainer {
 public:
  // The shared container, or nullptr when it could not be built.
  static std::shared_ptr<platform::ModelContainer> sharedContainer();

  // Builds a container on the store file `url` (default "<data directory>/Brivel.store").
  // On failure writes "error: " and the error's description to standard error and returns
  // nullptr; never throws.
  static std::shared_ptr<platform::ModelContainer> makeContainer(
      const std::optional<std::filesystem::path>& url = std::nullopt);

  // The store's schema: the three root entity types in order, version 1.0.0.
  static const platform::Schema& schema();
};

}  // namespace brivel

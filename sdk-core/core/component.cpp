#include "sdk-core/core/component.h"

#include <algorithm>

#include "platform/process_state/process_state.h"
#include "sdk-core/core/app.h"
#include "sdk-core/core/library.h"
#include "sdk-core/utilities/logger.h"
#include "sdk-core/core/options.h"

namespace {

constexpr const char* kService = "[TelemetryCore]";

// The app of another product that embeds the SDK, which must not get the app-check component.
constexpr const char* kHostProductAppName = "HostProductTELApp";
constexpr const char* kHostProductPushSenderID = "417092865301";
constexpr const char* kAppCheckComponentClassName = "TELAppCheckComponent";

TELComponentContainer::Registrants& registrantSet();

// Forgets every registrant, as a fresh process has none.
void forgetRegistrants() { registrantSet().clear(); }

TELComponentContainer::Registrants& registrantSet() {
  static auto* set = [] {
    platform::addProcessStateReset(&forgetRegistrants);
    return new TELComponentContainer::Registrants();
  }();
  return *set;
}

}  // namespace

// ---- Class registry -----------------------------------------------------------------------

namespace {
struct ClassTable {
  std::mutex mutex;
  std::map<std::string, std::shared_ptr<TELLibrary>> classes;
};
ClassTable& classTable();

// Forgets every class, as a fresh process knows none before its registrations run.
void forgetClasses() {
  auto& table = classTable();
  std::lock_guard lock(table.mutex);
  table.classes.clear();
}

ClassTable& classTable() {
  static auto* table = [] {
    platform::addProcessStateReset(&forgetClasses);
    return new ClassTable();
  }();
  return *table;
}
}  // namespace

void TELClassRegistry::registerClass(const std::string& name, std::shared_ptr<TELLibrary> library) {
  auto& table = classTable();
  std::lock_guard lock(table.mutex);
  table.classes[name] = std::move(library);
}

bool TELClassRegistry::classExists(const std::string& name) {
  auto& table = classTable();
  std::lock_guard lock(table.mutex);
  return table.classes.count(name) != 0;
}

std::shared_ptr<TELLibrary> TELClassRegistry::libraryNamed(const std::string& name) {
  auto& table = classTable();
  std::lock_guard lock(table.mutex);
  auto it = table.classes.find(name);
  return it == table.classes.end() ? nullptr : it->second;
}

// ---- Container ----------------------------------------------------------------------------

void TELComponentContainer::registerAsComponentRegistrant(const std::shared_ptr<TELLibrary>& library) {
  registerAsComponentRegistrant(library, registrantSet());
}

void TELComponentContainer::registerAsComponentRegistrant(const std::shared_ptr<TELLibrary>& library,
                                                          Registrants& set) {
  if (std::find(set.begin(), set.end(), library) == set.end()) set.push_back(library);
}

TELComponentContainer::Registrants TELComponentContainer::registrants() { return registrantSet(); }

TELComponentContainer::TELComponentContainer(const std::shared_ptr<TELApp>& app)
    : TELComponentContainer(app, [&app] {
        Registrants set = registrantSet();
        if (app && app->name() == kHostProductAppName) {
          auto options = app->options();
          auto appCheck = TELClassRegistry::libraryNamed(kAppCheckComponentClassName);
          if (options && options->PushSenderID() == kHostProductPushSenderID && appCheck) {
            set.erase(std::remove(set.begin(), set.end(), appCheck), set.end());
          }
        }
        return set;
      }()) {}

TELComponentContainer::TELComponentContainer(const std::shared_ptr<TELApp>& app, const Registrants& registrants)
    : app_(app) {
  collectComponents(registrants, app && app->isDefaultApp());
}

void TELComponentContainer::collectComponents(const Registrants& registrants, bool isDefaultApp) {
  eagerProtocolsToInstantiate_.emplace();
  for (const auto& library : registrants) {
    if (!library) continue;
    for (auto& component : library->componentsToRegister()) {
      const std::string& key = component.protocol.name;
      if (components_.count(key) != 0) {
        TELLoggerLogError(kService, "I-COR000029",
                          "Attempted to register protocol %s, but it already has an implementation.", key.c_str());
        continue;
      }
      components_[key] = component.creationBlock;
      if (component.instantiationTiming == TELInstantiationTiming::alwaysEager ||
          (component.instantiationTiming == TELInstantiationTiming::eagerInDefaultApp && isDefaultApp)) {
        eagerProtocolsToInstantiate_->push_back(component.protocol);
      }
    }
  }
}

std::shared_ptr<TELComponentInstance> TELComponentContainer::instanceForProtocol(const TELProtocol& protocol) {
  std::lock_guard lock(mutex_);
  const std::string& key = protocol.name;
  if (auto cached = cachedInstances_.find(key); cached != cachedInstances_.end()) return cached->second;
  auto found = components_.find(key);
  if (found == components_.end() || !found->second) return nullptr;
  // A copy: the block may remove components while it runs.
  const TELComponentCreationBlock block = found->second;
  bool isCacheable = false;
  std::shared_ptr<TELComponentInstance> instance = block(*this, &isCacheable);
  if (!instance) return nullptr;
  if (protocol.conforms && !protocol.conforms(*instance)) {
    TELLoggerLogError(kService, "I-COR000030",
                      "An instance conforming to %s was requested, but the instance provided does not conform to "
                      "the protocol",
                      key.c_str());
  }
  if (isCacheable) cachedInstances_[key] = instance;
  return instance;
}

void TELComponentContainer::instantiateEagerComponents() {
  std::lock_guard lock(mutex_);
  if (!eagerProtocolsToInstantiate_) return;
  const std::vector<TELProtocol> eager = *eagerProtocolsToInstantiate_;
  for (const auto& protocol : eager) (void)instanceForProtocol(protocol);
  eagerProtocolsToInstantiate_.reset();
}

void TELComponentContainer::removeAllCachedInstances() {
  std::lock_guard lock(mutex_);
  auto owner = app_.lock();
  if (owner) {
    for (const auto& [name, instance] : cachedInstances_) {
      if (auto* maintainer = dynamic_cast<TELComponentLifecycleMaintainer*>(instance.get())) {
        maintainer->appWillBeDeleted(*owner);
      }
    }
  }
  cachedInstances_.clear();
}

void TELComponentContainer::removeAllComponents() {
  std::lock_guard lock(mutex_);
  components_.clear();
}

bool TELComponentContainer::hasComponent(const std::string& protocolName) const {
  std::lock_guard lock(mutex_);
  return components_.count(protocolName) != 0;
}

std::optional<std::vector<std::string>> TELComponentContainer::eagerProtocolNames() const {
  std::lock_guard lock(mutex_);
  if (!eagerProtocolsToInstantiate_) return std::nullopt;
  std::vector<std::string> names;
  for (const auto& protocol : *eagerProtocolsToInstantiate_) names.push_back(protocol.name);
  return names;
}

// The component registry of an SDK app.
//
// A library describes what it provides with `TELComponent`s: the protocol (interface) it
// implements, when to create it, what it depends on (declarative only) and a creation block.
// Each configured `TELApp` owns one `TELComponentContainer`, built from the libraries
// registered at that moment; the container creates instances on request, keeps those whose
// block marks them cacheable, and creates the eager ones right after the app is configured.
//
// Protocols are named interfaces: `TELProtocol::of<Interface>("Name")` makes one whose
// conformance check is "the instance derives from Interface". Instances derive from
// `TELComponentInstance`. Typed lookups go through `TELComponentType<Interface>`:
//
//   auto installations = TELComponentType<TELInstallationsProvider>::instanceForProtocol(
//       kInstallationsProtocol, app->container());
//
// Threads: each container has its own recursive lock around lookup, eager instantiation and
// removal, so a creation block may look up other protocols of the same container on the same
// thread. The registrant set is written only by the start-up registrations, before any app
// is configured.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

class TELApp;
class TELLibrary;
class TELComponentContainer;

// Base of every component instance.
class TELComponentInstance {
 public:
  virtual ~TELComponentInstance() = default;
};

// An instance that wants to hear that its app is being deleted.
class TELComponentLifecycleMaintainer {
 public:
  virtual ~TELComponentLifecycleMaintainer() = default;
  virtual void appWillBeDeleted(TELApp& app) = 0;
};

struct TELProtocol {
  std::string name;
  // Whether an instance provides the interface.
  std::function<bool(const TELComponentInstance&)> conforms;

  template <class Interface>
  static TELProtocol of(std::string name) {
    return {std::move(name),
            [](const TELComponentInstance& instance) { return dynamic_cast<const Interface*>(&instance) != nullptr; }};
  }
};

enum class TELInstantiationTiming : int64_t {
  lazy = 0,
  alwaysEager = 1,
  eagerInDefaultApp = 2,
};

struct TELDependency {
  bool isRequired = true;
  TELProtocol protocol;

  static TELDependency dependencyWithProtocol(TELProtocol protocol) { return {true, std::move(protocol)}; }
  static TELDependency dependencyWithProtocol(TELProtocol protocol, bool isRequired) {
    return {isRequired, std::move(protocol)};
  }
};

// Called with the container and a cacheable flag that starts false; answers the instance or
// nullptr.
using TELComponentCreationBlock =
    std::function<std::shared_ptr<TELComponentInstance>(TELComponentContainer& container, bool* isCacheable)>;

struct TELComponent {
  TELProtocol protocol;
  TELInstantiationTiming instantiationTiming = TELInstantiationTiming::lazy;
  std::vector<TELDependency> dependencies;
  TELComponentCreationBlock creationBlock;

  // Lazy, without dependencies.
  static TELComponent componentWithProtocol(TELProtocol protocol, TELComponentCreationBlock creationBlock) {
    return {std::move(protocol), TELInstantiationTiming::lazy, {}, std::move(creationBlock)};
  }
  static TELComponent componentWithProtocol(TELProtocol protocol, TELInstantiationTiming timing,
                                            std::vector<TELDependency> dependencies,
                                            TELComponentCreationBlock creationBlock) {
    return {std::move(protocol), timing, std::move(dependencies), std::move(creationBlock)};
  }
};

class TELComponentContainer {
 public:
  using Registrants = std::vector<std::shared_ptr<TELLibrary>>;

  // Adds a library to the process-wide registrant set (once; the set keeps the order of first
  // registration).
  static void registerAsComponentRegistrant(const std::shared_ptr<TELLibrary>& library);
  static void registerAsComponentRegistrant(const std::shared_ptr<TELLibrary>& library, Registrants& set);
  static Registrants registrants();

  // The container of `app`, from the registrant set (see the .cpp for the one exception).
  explicit TELComponentContainer(const std::shared_ptr<TELApp>& app);
  // The container of `app` from the given libraries, walked in order.
  TELComponentContainer(const std::shared_ptr<TELApp>& app, const Registrants& registrants);

  // The protocol's instance: the cached one, else a new one from its block (cached when the
  // block says so); nullptr without a block or when the block answers nothing.
  std::shared_ptr<TELComponentInstance> instanceForProtocol(const TELProtocol& protocol);
  std::shared_ptr<TELComponentInstance> __instanceForProtocol(const TELProtocol& protocol) {
    return instanceForProtocol(protocol);
  }

  // Creates the eager components once, in registration order.
  void instantiateEagerComponents();
  // Tells lifecycle maintainers their app goes away, then forgets every cached instance.
  void removeAllCachedInstances();
  // Forgets every creation block (cached instances stay until removeAllCachedInstances).
  void removeAllComponents();

  // The owning app; nullptr once it is gone.
  std::shared_ptr<TELApp> app() const { return app_.lock(); }

  // Introspection for tests and diagnostics.
  bool hasComponent(const std::string& protocolName) const;
  std::optional<std::vector<std::string>> eagerProtocolNames() const;

 private:
  void collectComponents(const Registrants& registrants, bool isDefaultApp);

  std::weak_ptr<TELApp> app_;
  mutable std::recursive_mutex mutex_;
  std::map<std::string, TELComponentCreationBlock> components_;
  std::map<std::string, std::shared_ptr<TELComponentInstance>> cachedInstances_;
  std::optional<std::vector<TELProtocol>> eagerProtocolsToInstantiate_;
};

template <class Interface>
struct TELComponentType {
  // The container's instance of the protocol as an Interface; nullptr for a null container,
  // a missing instance or one of another type.
  static std::shared_ptr<Interface> instanceForProtocol(const TELProtocol& protocol, TELComponentContainer* container) {
    if (!container) return nullptr;
    return std::dynamic_pointer_cast<Interface>(container->instanceForProtocol(protocol));
  }
};

#include "sdk-core/core/component.h"

#include <gtest/gtest.h>

#include "sdk-core/core/library.h"
#include "sdk-core/core/tests/sdk_test_support.h"

namespace {

struct Greeter : TELComponentInstance {
  virtual ~Greeter() = default;
  virtual std::string greeting() const = 0;
};
struct Counter : TELComponentInstance {};

struct FixedGreeter : Greeter {
  explicit FixedGreeter(std::string text) : text(std::move(text)) {}
  std::string greeting() const override { return text; }
  std::string text;
};

struct Watcher : Counter, TELComponentLifecycleMaintainer {
  void appWillBeDeleted(TELApp& app) override { deletedApps.push_back(app.name()); }
  std::vector<std::string> deletedApps;
};

const TELProtocol kGreeter = TELProtocol::of<Greeter>("Greeter");
const TELProtocol kCounter = TELProtocol::of<Counter>("Counter");

// A library whose components the test chooses.
class FakeLibrary : public TELLibrary {
 public:
  FakeLibrary(std::string name, std::vector<TELComponent> components)
      : name_(std::move(name)), components_(std::move(components)) {}
  std::string className() const override { return name_; }
  std::vector<TELComponent> componentsToRegister() const override { return components_; }

 private:
  std::string name_;
  std::vector<TELComponent> components_;
};

TELComponent greeterSaying(std::string text, bool cacheable, int* created = nullptr,
                           TELInstantiationTiming timing = TELInstantiationTiming::lazy) {
  return TELComponent::componentWithProtocol(kGreeter, timing, {},
                                             [text, cacheable, created](TELComponentContainer&, bool* isCacheable) {
                                               if (created) ++*created;
                                               *isCacheable = cacheable;
                                               return std::make_shared<FixedGreeter>(text);
                                             });
}

using ComponentContainerTest = SdkCoreTest;

TEST_F(ComponentContainerTest, FirstRegistrantOfAProtocolWins) {
  auto first = std::make_shared<FakeLibrary>("First", std::vector{greeterSaying("first", true)});
  auto second = std::make_shared<FakeLibrary>("Second", std::vector{greeterSaying("second", true)});
  TELComponentContainer container(nullptr, {first, second});
  auto greeter = TELComponentType<Greeter>::instanceForProtocol(kGreeter, &container);
  ASSERT_TRUE(greeter);
  EXPECT_EQ(greeter->greeting(), "first");
  auto lines = linesWith("I-COR000029");
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find("Attempted to register protocol Greeter, but it already has an implementation."),
            std::string::npos);

  // The process-wide set keeps one entry per library, in the order of first registration.
  TELComponentContainer::registerAsComponentRegistrant(second);
  TELComponentContainer::registerAsComponentRegistrant(first);
  TELComponentContainer::registerAsComponentRegistrant(second);
  EXPECT_EQ(TELComponentContainer::registrants(), (TELComponentContainer::Registrants{second, first}));
}

TEST_F(ComponentContainerTest, LookupCreatesOnDemandAndCachesOnlyWhenAsked) {
  int greeters = 0;
  int counters = 0;
  auto library = std::make_shared<FakeLibrary>(
      "Lib", std::vector{greeterSaying("hi", false, &greeters),
                         TELComponent::componentWithProtocol(kCounter, [&counters](TELComponentContainer&, bool* c) {
                           ++counters;
                           *c = true;
                           return std::make_shared<Watcher>();
                         })});
  TELComponentContainer container(nullptr, {library});
  EXPECT_EQ(greeters, 0);  // nothing is made while the container is built

  auto a = container.instanceForProtocol(kGreeter);
  auto b = container.instanceForProtocol(kGreeter);
  EXPECT_NE(a, b);
  EXPECT_EQ(greeters, 2);
  EXPECT_EQ(container.instanceForProtocol(kCounter), container.instanceForProtocol(kCounter));
  EXPECT_EQ(counters, 1);

  EXPECT_EQ(container.instanceForProtocol(TELProtocol::of<Greeter>("Unknown")), nullptr);
  EXPECT_EQ(TELComponentType<Greeter>::instanceForProtocol(kGreeter, nullptr), nullptr);
  // A typed lookup of the wrong interface answers nothing rather than a bad cast.
  EXPECT_EQ(TELComponentType<Greeter>::instanceForProtocol(kCounter, &container), nullptr);
}

TEST_F(ComponentContainerTest, NonConformingAndMissingInstancesAreToleratedAndLogged) {
  auto library = std::make_shared<FakeLibrary>(
      "Lib", std::vector{TELComponent::componentWithProtocol(
                             kGreeter, [](TELComponentContainer&, bool*) { return std::make_shared<Watcher>(); }),
                         TELComponent::componentWithProtocol(
                             kCounter, [](TELComponentContainer&, bool* c) {
                               *c = true;
                               return std::shared_ptr<TELComponentInstance>();
                             })});
  TELComponentContainer container(nullptr, {library});
  EXPECT_NE(container.instanceForProtocol(kGreeter), nullptr);
  auto lines = linesWith("I-COR000030");
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find("An instance conforming to Greeter was requested"), std::string::npos);
  EXPECT_EQ(container.instanceForProtocol(kCounter), nullptr);
}

TEST_F(ComponentContainerTest, EagerComponentsAreMadeOnceAndMayLookUpTheirDependencies) {
  int greeters = 0;
  int counters = 0;
  std::string seenGreeting;
  auto library = std::make_shared<FakeLibrary>(
      "Lib",
      std::vector{TELComponent::componentWithProtocol(
                      kCounter, TELInstantiationTiming::alwaysEager, {TELDependency::dependencyWithProtocol(kGreeter)},
                      [&](TELComponentContainer& container, bool* cacheable) {
                        ++counters;
                        *cacheable = true;
                        // Re-entrant lookup on the same thread, inside the container's lock.
                        auto greeter = TELComponentType<Greeter>::instanceForProtocol(kGreeter, &container);
                        seenGreeting = greeter ? greeter->greeting() : "<none>";
                        return std::make_shared<Watcher>();
                      }),
                  greeterSaying("dependency", true, &greeters, TELInstantiationTiming::eagerInDefaultApp)});
  // Not the default app: the timing-2 component stays lazy.
  TELComponentContainer container(nullptr, {library});
  EXPECT_EQ(container.eagerProtocolNames(), (std::vector<std::string>{"Counter"}));
  container.instantiateEagerComponents();
  EXPECT_EQ(container.eagerProtocolNames(), std::nullopt);
  EXPECT_EQ(counters, 1);
  EXPECT_EQ(seenGreeting, "dependency");
  EXPECT_EQ(greeters, 1);
  container.instantiateEagerComponents();
  (void)container.instanceForProtocol(kCounter);
  EXPECT_EQ(counters, 1);
}

TEST_F(ComponentContainerTest, RemovalForgetsBlocksFirstAndCachedInstancesLast) {
  TELApp::configureWithName("remover", validOptions());
  auto app = TELApp::appNamed("remover");
  ASSERT_TRUE(app);
  auto library = std::make_shared<FakeLibrary>(
      "Lib", std::vector{TELComponent::componentWithProtocol(kCounter, [](TELComponentContainer&, bool* c) {
        *c = true;
        return std::make_shared<Watcher>();
      })});
  TELComponentContainer container(app, {library});
  EXPECT_EQ(container.app(), app);
  auto watcher = std::dynamic_pointer_cast<Watcher>(container.instanceForProtocol(kCounter));
  ASSERT_TRUE(watcher);

  container.removeAllComponents();
  EXPECT_EQ(container.instanceForProtocol(kCounter), watcher);
  EXPECT_TRUE(watcher->deletedApps.empty());
  container.removeAllCachedInstances();
  EXPECT_EQ(watcher->deletedApps, std::vector<std::string>{"remover"});
  EXPECT_EQ(container.instanceForProtocol(kCounter), nullptr);
}

}  // namespace

// TELLibrary: what an SDK library offers the app object, and the registry of library classes
// by name that stands in for looking a class up by its name at run time.
//
// A library is one object (held by std::shared_ptr) that answers the components it provides
// and, optionally, wants each newly configured app. Libraries register with
// `TELApp::registerInternalLibrary` from the SDK's start-up registration function, before the
// first configuration; a library that the app finds by class name instead (the session
// producer, "TELSessions") is entered in `TELClassRegistry` there.
//
// Threads: registration happens at start-up on one thread; lookups may come from any thread
// (the class registry has its own lock).
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "sdk-core/core/component.h"

class TELApp;

class TELLibrary {
 public:
  virtual ~TELLibrary() = default;
  // The library's class name, as messages and the class registry name it.
  virtual std::string className() const = 0;
  virtual std::vector<TELComponent> componentsToRegister() const = 0;
  // Whether configureWithApp is implemented; when true it is called with each new app after
  // the ready notification.
  virtual bool respondsToConfigureWithApp() const { return false; }
  virtual void configureWithApp(const std::shared_ptr<TELApp>& app) {}
};

class TELClassRegistry {
 public:
  // Makes a class findable by name. `library` is its library face, or nullptr for a class that
  // exists but provides no components.
  static void registerClass(const std::string& name, std::shared_ptr<TELLibrary> library = nullptr);
  static bool classExists(const std::string& name);
  // The library face of the class of that name; nullptr when absent or not a library.
  static std::shared_ptr<TELLibrary> libraryNamed(const std::string& name);
};

// The view environment: values and shared objects handed down the tree.
//
// A value is stored under a key type with a default:
//   struct ModelContextKey { using Value = std::shared_ptr<ModelContext>; static Value defaultValue() { return {}; } };
//   view.environment<ModelContextKey>(context);      // above
//   ctx.environment<ModelContextKey>();              // below
// Objects are stored by their type: view.environmentObject(manager) above,
// ctx.environmentObject<ProfileManager>() below; reading a missing object stops the
// program, as a missing environment object is a programming error.
//
// Threads: main thread only.
#pragma once

#include <any>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <typeindex>
#include <typeinfo>
#include <utility>

#include "platform/ui/node.h"

namespace platform::ui {

enum class ScenePhase { active, inactive, background };

// Closes the innermost presentation of the screen that read it: pops the pushed page it is
// on, or closes the sheet it is in. Calling it where nothing is presented does nothing.
class DismissAction {
 public:
  DismissAction() = default;
  explicit DismissAction(std::function<void()> action) : action_(std::move(action)) {}
  void operator()() const {
    if (action_) action_();
  }
  explicit operator bool() const { return static_cast<bool>(action_); }

 private:
  std::function<void()> action_;
};

// Ends the search of the nearest searchable content: the field loses its presentation and
// its text is cleared.
using DismissSearchAction = DismissAction;

struct DismissKey {
  using Value = DismissAction;
  static Value defaultValue() { return {}; }
};
struct DismissSearchKey {
  using Value = DismissSearchAction;
  static Value defaultValue() { return {}; }
};
struct ScenePhaseKey {
  using Value = ScenePhase;
  static Value defaultValue() { return ScenePhase::active; }
};
// The accent colour controls take; a screen sets it with .accentColor(...).
struct AccentColorKey {
  using Value = Color;
  static Value defaultValue() { return Color{Color::Kind::system, "accent"}; }
};

// Stops the program with a message on standard error (a programming error).
[[noreturn]] void fatalError(const std::string& message);
// A readable name of a type, for messages.
std::string typeName(const std::type_info& type);

// An immutable map; "with" answers a changed copy.
class Environment {
 public:
  template <class Key>
  typename Key::Value get() const {
    auto it = values_.find(std::type_index(typeid(Key)));
    if (it == values_.end()) return Key::defaultValue();
    return std::any_cast<typename Key::Value>(it->second);
  }
  template <class Key>
  Environment with(typename Key::Value value) const {
    Environment copy = *this;
    copy.values_[std::type_index(typeid(Key))] = std::move(value);
    return copy;
  }

  template <class T>
  std::shared_ptr<T> object() const {
    auto found = objectIfPresent<T>();
    if (!found) {
      fatalError("No observable object of type " + typeName(typeid(T)) +
                 " found in the environment. A parent view must supply it.");
    }
    return found;
  }
  template <class T>
  std::shared_ptr<T> objectIfPresent() const {
    auto it = objects_.find(std::type_index(typeid(T)));
    if (it == objects_.end()) return nullptr;
    return std::static_pointer_cast<T>(it->second);
  }
  template <class T>
  Environment withObject(std::shared_ptr<T> object) const {
    Environment copy = *this;
    copy.objects_[std::type_index(typeid(T))] = std::move(object);
    return copy;
  }

 private:
  std::map<std::type_index, std::any> values_;
  std::map<std::type_index, std::shared_ptr<void>> objects_;
};

}  // namespace platform::ui

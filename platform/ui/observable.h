// Observable objects as views see them: the types of platform/observation under the view
// layer's names, and bind(), a two-way binding to a published field.
//
// Threads: main thread only.
#pragma once

#include <memory>
#include <utility>

#include "platform/observation/observable.h"
#include "platform/ui/state.h"

namespace platform::ui {

using platform::addAnyChangeObserver;
using platform::anyChangeCount;
using platform::ChangeSignal;
using platform::notifyAnyChange;
using platform::notifyCacheDropped;
using platform::ObservableObject;
using platform::Published;
using platform::removeAnyChangeObserver;
namespace detail {
using platform::detail::currentObjectReads;
using platform::detail::ObjectReads;
}  // namespace detail

// A two-way binding to a published field of a shared object:
//   Toggle(bind(settings, &UserDefaultsManager::popViewAfterSaveAndUpdate), ...)
template <class O, class T>
Binding<T> bind(std::shared_ptr<O> object, Published<T> O::*field) {
  return Binding<T>([object, field] { return ((*object).*field).get(); },
                    [object, field](T value) { ((*object).*field).set(std::move(value)); });
}

}  // namespace platform::ui

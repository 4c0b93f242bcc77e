// Expected<T> and Status: what a call that can fail hands back.
//
// A call that can fail answers an Expected<T>: the value it made, or the Error that stopped
// it. Status (Expected<void>) is the answer of such a call that has no value. Both are
// [[nodiscard]]; the caller asks ok() and then reads value() or error(). Neither converts to
// bool, so a result cannot be read the wrong way round ("true on failure"). A caller that
// really has nothing to do with a failure says so with a cast to void.
//
//   platform::Expected<std::shared_ptr<ModelContainer>> opened = ModelContainer::open(schema, configuration);
//   if (!opened.ok()) return report(opened.error());
//   ModelContext& context = (*opened)->mainContext();
//
//   platform::Status saved = context.save();
//   if (!saved.ok()) std::cerr << saved.error().localizedDescription() << "\n";
//
// Reading the error of a success or the value of a failure is a programming error: it ends
// the process. Plain values, safe to copy between threads.
#pragma once

#include <optional>
#include <type_traits>
#include <utility>
#include <variant>

#include "platform/foundation/error.h"

namespace platform {

namespace expected_internal {
// Writes `what` to standard error and aborts.
[[noreturn]] void misuse(const char* what);
}  // namespace expected_internal

template <class T>
class [[nodiscard]] Expected {
  static_assert(!std::is_same_v<std::remove_cv_t<T>, Error>, "an Expected of an Error cannot tell success apart");

 public:
  Expected(T value) : state_(std::in_place_index<0>, std::move(value)) {}
  Expected(Error error) : state_(std::in_place_index<1>, std::move(error)) {}

  bool ok() const { return state_.index() == 0; }

  const Error& error() const {
    if (ok()) expected_internal::misuse("error() of a successful result");
    return std::get<1>(state_);
  }
  // The error of a failure, nothing for a success: for completion blocks that take an
  // optional error.
  std::optional<Error> failure() const { return ok() ? std::nullopt : std::optional<Error>(std::get<1>(state_)); }

  T& value() & { return checkedValue(); }
  const T& value() const& { return const_cast<Expected*>(this)->checkedValue(); }
  T&& value() && { return std::move(checkedValue()); }
  T& operator*() & { return checkedValue(); }
  const T& operator*() const& { return value(); }
  T* operator->() { return &checkedValue(); }
  const T* operator->() const { return &value(); }

 private:
  T& checkedValue() {
    if (!ok()) expected_internal::misuse("value() of a failed result");
    return std::get<0>(state_);
  }

  std::variant<T, Error> state_;
};

template <>
class [[nodiscard]] Expected<void> {
 public:
  // Success.
  Expected() = default;
  Expected(Error error) : error_(std::move(error)) {}

  bool ok() const { return !error_.has_value(); }

  const Error& error() const {
    if (ok()) expected_internal::misuse("error() of a successful status");
    return *error_;
  }
  // The error of a failure, nothing for a success: for completion blocks that take an
  // optional error.
  const std::optional<Error>& failure() const { return error_; }

 private:
  std::optional<Error> error_;
};

using Status = Expected<void>;

}  // namespace platform

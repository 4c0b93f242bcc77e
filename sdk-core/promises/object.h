// PRMObject: the dynamically typed value that the promise object layer carries.
//
// It stands for "an object or nil" as promises see it: nil (default), the null object
// (PRMNull, used for nil inside arrays), an error object (a platform::Error: fulfilling a
// promise with one rejects it), a promise (a std::shared_ptr<PRMPromise>: a chain follows
// it), an array (std::vector<PRMObject>, what all/any produce), or any other copyable C++
// value. The value is boxed once and shared, so copies are cheap and keep the identity of
// the box (sameObject()).
//
// Values are read back by their exact type with get<T>(); numbers (bool, integers,
// double) also read as one another through number<T>(), as boxed numbers do.
//
//   PRMObject text = std::string("hello");
//   if (const auto* s = text.get<std::string>()) use(*s);
//   PRMObject failure = platform::Error("ruv.example", 3);   // failure.isError()
//
// Immutable once made; safe to share between threads when the held type is.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <typeinfo>
#include <vector>

#include "platform/foundation/error.h"

class PRMPromise;

// The null object: a placeholder for nil where nil cannot stand (array entries).
struct PRMNull {
  friend bool operator==(PRMNull, PRMNull) { return true; }
};

class PRMObject {
 public:
  PRMObject() = default;
  PRMObject(std::nullptr_t) {}
  // Text is always held as a std::string (never as a view of someone else's buffer).
  PRMObject(const char* text) : PRMObject(std::string(text)) {}
  PRMObject(std::string_view text) : PRMObject(std::string(text)) {}
  template <class T, class D = std::decay_t<T>,
            class = std::enable_if_t<!std::is_same_v<D, PRMObject> && !std::is_same_v<D, std::nullptr_t> &&
                                     !std::is_same_v<D, std::string_view> && !std::is_same_v<D, const char*> &&
                                     !std::is_same_v<D, char*> && !std::is_array_v<std::remove_reference_t<T>>>>
  PRMObject(T&& value) : holder_(std::make_shared<Box<D>>(std::forward<T>(value))) {}

  // The null object.
  static PRMObject null() { return PRMObject(PRMNull{}); }

  bool isNil() const { return holder_ == nullptr; }
  explicit operator bool() const { return holder_ != nullptr; }
  bool isNull() const { return is<PRMNull>(); }
  bool isError() const { return is<platform::Error>(); }
  bool isPromise() const { return is<std::shared_ptr<PRMPromise>>(); }
  bool isArray() const { return is<std::vector<PRMObject>>(); }

  // The error object, or nullptr.
  const platform::Error* error() const { return get<platform::Error>(); }
  // The promise, or nullptr.
  std::shared_ptr<PRMPromise> promise() const;
  // The array, or nullptr.
  const std::vector<PRMObject>* array() const { return get<std::vector<PRMObject>>(); }

  template <class T>
  bool is() const {
    return holder_ != nullptr && holder_->type() == typeid(T);
  }
  // The held value when it is exactly a T, else nullptr.
  template <class T>
  const T* get() const {
    return is<T>() ? &static_cast<const Box<T>*>(holder_.get())->value : nullptr;
  }
  // A held bool, integer or floating-point value converted to the arithmetic type T.
  template <class T>
  std::optional<T> number() const;

  // The type of the held value (typeid(void) for nil).
  const std::type_info& type() const { return holder_ ? holder_->type() : typeid(void); }
  // Whether both refer to the same box (both nil counts as the same).
  bool sameObject(const PRMObject& other) const { return holder_ == other.holder_; }
  // A readable rendering: "(null)" for nil, "<null>" for the null object, the text of
  // strings and numbers, "Error Domain=... Code=..." for errors, "(a, b)" for arrays,
  // "<Type 0x...>" for anything else.
  std::string description() const;

 private:
  struct Holder {
    virtual ~Holder() = default;
    virtual const std::type_info& type() const = 0;
  };
  template <class T>
  struct Box final : Holder {
    template <class U>
    explicit Box(U&& v) : value(std::forward<U>(v)) {}
    const std::type_info& type() const override { return typeid(T); }
    T value;
  };

  std::shared_ptr<const Holder> holder_;
};

template <class T>
std::optional<T> PRMObject::number() const {
  static_assert(std::is_arithmetic_v<T>);
  if (const auto* v = get<T>()) return *v;
  if (const auto* v = get<bool>()) return static_cast<T>(*v);
  if (const auto* v = get<int>()) return static_cast<T>(*v);
  if (const auto* v = get<long>()) return static_cast<T>(*v);
  if (const auto* v = get<long long>()) return static_cast<T>(*v);
  if (const auto* v = get<unsigned>()) return static_cast<T>(*v);
  if (const auto* v = get<unsigned long>()) return static_cast<T>(*v);
  if (const auto* v = get<unsigned long long>()) return static_cast<T>(*v);
  if (const auto* v = get<double>()) return static_cast<T>(*v);
  if (const auto* v = get<float>()) return static_cast<T>(*v);
  return std::nullopt;
}

// PRMObject: the dynamically typed value that the promise object layer carries.
//
// It stands for "an object or nil" as promises see it: nil (default), the null object
// (PRMNull, used for nil inside arrays), an error object (a platform::Error: fulfilling a
// promise with one rejects it), a promise (a std::shared_ptr<PRMPromise>: a chain follows
// it), an array (std::vector<PRMObject>, what all/any produce), or any other copyable C++
// value. Numbers (bool, int and long types, float, double) and the null object are held inline;
// anything else is boxed once and shared, so copies are cheap and keep the identity of the
// box (sameObject()). Inline values are the same object when they are equal bit for bit.
// Type checks compare one address per type (never type names).
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
#include <cstring>
#include <memory>
#include <new>
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
  PRMObject(T&& value) : key_(&kKey<D>) {
    if constexpr (kInline<D>) {
      const D held = value;
      std::memcpy(inline_, &held, sizeof held);
    } else {
      holder_ = std::make_shared<Box<D>>(std::forward<T>(value));
    }
  }

  // The null object.
  static PRMObject null() { return PRMObject(PRMNull{}); }

  bool isNil() const { return key_ == nullptr; }
  explicit operator bool() const { return key_ != nullptr; }
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
    return key_ == &kKey<T>;
  }
  // The held value when it is exactly a T, else nullptr. An inline value lives in this
  // object: the pointer is good while this object is.
  template <class T>
  const T* get() const {
    if (!is<T>()) return nullptr;
    if constexpr (kInline<T>) {
      return std::launder(reinterpret_cast<const T*>(inline_));
    } else {
      return &static_cast<const Box<T>*>(holder_.get())->value;
    }
  }
  // A held bool, integer or floating-point value converted to the arithmetic type T.
  template <class T>
  std::optional<T> number() const;

  // The type of the held value (typeid(void) for nil).
  const std::type_info& type() const { return key_ ? key_->info : typeid(void); }
  // Whether both refer to the same box, or hold the same inline value of one type (both
  // nil counts as the same).
  bool sameObject(const PRMObject& other) const {
    if (key_ != other.key_) return false;
    if (holder_ || other.holder_) return holder_ == other.holder_;
    return std::memcmp(inline_, other.inline_, sizeof inline_) == 0;
  }
  // A readable rendering: "(null)" for nil, "<null>" for the null object, the text of
  // strings and numbers, "Error Domain=... Code=..." for errors, "(a, b)" for arrays,
  // "<Type 0x...>" for anything else.
  std::string description() const;

 private:
  // One per held type; its address is the type's identity.
  struct TypeKey {
    const std::type_info& info;
  };
  template <class T>
  static constexpr TypeKey kKey{typeid(T)};
  // Types held in the object itself rather than in a box: the numbers number() reads and
  // the null object.
  template <class T, class... Ts>
  static constexpr bool kOneOf = (std::is_same_v<T, Ts> || ...);
  template <class T>
  static constexpr bool kInline = kOneOf<T, PRMNull, bool, int, long, long long, unsigned, unsigned long,
                                         unsigned long long, double, float>;

  struct Holder {
    virtual ~Holder() = default;
  };
  template <class T>
  struct Box final : Holder {
    template <class U>
    explicit Box(U&& v) : value(std::forward<U>(v)) {}
    T value;
  };

  const TypeKey* key_ = nullptr;   // nil when null
  alignas(8) unsigned char inline_[8] = {};
  std::shared_ptr<const Holder> holder_;   // boxed values only
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

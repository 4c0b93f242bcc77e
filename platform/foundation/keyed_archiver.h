// Keyed archives: object graphs stored as binary property lists in the platform's keyed
// archive layout ("$archiver" "NSKeyedArchiver", "$version" 100000, "$top" with the root
// reference, "$objects" with "$null" first, objects linked by UID references, classes
// named by "$classname"/"$classes").
//
// What an archive holds is an ArchiveValue: strings, numbers and data stored as they are;
// dates as "NS.time"; arrays as "NS.objects"; dictionaries as "NS.keys"/"NS.objects"; and
// objects of our own classes, which derive from KeyedCoding, name their archive class and
// write their fields through the archiver. To be read back, a class registers a factory
// under its class name (KeyedClassRegistry, called from the start-up registration, never
// from static initialisers); the factory reads its fields through the unarchiver.
//
// Reading is always secure: every object read names the classes it accepts, and an object
// of any other class fails the whole read with an error (as do dangling references,
// cycles and malformed layouts). Collections check their elements against the same
// classes. No input makes the reader crash.
//
// Archivers and unarchivers are single-use and belong to one thread; the registry is
// thread-safe.
//
// Example:
//   class Token : public platform::KeyedCoding {
//    public:
//     static constexpr const char* kArchiveClassName = "Token";
//     std::string archiveClassName() const override { return kArchiveClassName; }
//     void encodeWithCoder(platform::KeyedArchiver& coder) const override {
//       coder.encodeObject(text, "token");
//       coder.encodeInt64(1, "storageVersion");
//     }
//     static std::shared_ptr<Token> initWithCoder(platform::KeyedUnarchiver& coder) {
//       auto token = std::make_shared<Token>();
//       token->text = coder.decodeString("token");
//       return token;
//     }
//     std::optional<std::string> text;
//   };
//   platform::KeyedClassRegistry::registerClass<Token>();
//   auto bytes = platform::KeyedArchiver::archivedData(std::make_shared<Token>(...));
//   auto back = platform::KeyedUnarchiver::unarchivedObjectOfClass<Token>(*bytes);
#pragma once

#include <concepts>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "platform/foundation/date.h"
#include "platform/foundation/error.h"
#include "platform/foundation/plist.h"

namespace platform {

class KeyedArchiver;
class KeyedUnarchiver;

// Class names of the values the archive stores itself; name them in allowed-class sets.
inline constexpr const char* kArchiveStringClass = "NSString";
inline constexpr const char* kArchiveNumberClass = "NSNumber";
inline constexpr const char* kArchiveDataClass = "NSData";
inline constexpr const char* kArchiveDateClass = "NSDate";
inline constexpr const char* kArchiveArrayClass = "NSArray";
inline constexpr const char* kArchiveDictionaryClass = "NSDictionary";
// Accepts every class.
inline constexpr const char* kArchiveObjectClass = "NSObject";

// Errors of reading and writing archives.
inline constexpr const char* kCocoaErrorDomain = "NSCocoaErrorDomain";
inline constexpr long kCoderReadCorruptError = 4864;
inline constexpr long kCoderInvalidValueError = 4866;

// An object that writes itself into a keyed archive.
class KeyedCoding {
 public:
  virtual ~KeyedCoding() = default;
  // The class name stored in the archive; the registry reads it back under this name.
  virtual std::string archiveClassName() const = 0;
  // Writes the fields with the archiver's encode calls. May throw platform::Exception,
  // which fails the archiving with an error.
  virtual void encodeWithCoder(KeyedArchiver& coder) const = 0;
};

// One value of an archived object graph.
class ArchiveValue {
 public:
  using Data = std::vector<uint8_t>;
  using Array = std::vector<ArchiveValue>;
  // Dictionary keys are strings or integers.
  using Key = std::variant<int64_t, std::string>;
  using Dictionary = std::map<Key, ArchiveValue>;
  using Object = std::shared_ptr<KeyedCoding>;

  enum class Kind { Null, Boolean, Integer, Real, String, Data, Date, Array, Dictionary, Object };

  ArchiveValue() = default;
  ArchiveValue(std::nullptr_t) {}
  ArchiveValue(std::nullopt_t) {}
  ArchiveValue(std::string value) : storage_(std::move(value)) {}
  ArchiveValue(std::string_view value) : storage_(std::string(value)) {}
  ArchiveValue(const char* value) : storage_(std::string(value)) {}
  ArchiveValue(Data value) : storage_(std::move(value)) {}
  ArchiveValue(Date value) : storage_(value) {}
  ArchiveValue(Array value) : storage_(std::move(value)) {}
  ArchiveValue(Dictionary value) : storage_(std::move(value)) {}
  template <class T>
  requires std::derived_from<T, KeyedCoding> ArchiveValue(std::shared_ptr<T> object) {
    if (object) storage_ = Object(std::move(object));
  }
  // An absent optional is the null value.
  template <class T>
  ArchiveValue(const std::optional<T>& value) {
    if (value) *this = ArchiveValue(*value);
  }

  // Numbers are made by name, so a bool never passes for an integer or the reverse.
  static ArchiveValue boolean(bool value) { return ArchiveValue(Storage(value)); }
  static ArchiveValue integer(int64_t value) { return ArchiveValue(Storage(value)); }
  static ArchiveValue real(double value) { return ArchiveValue(Storage(value)); }

  Kind kind() const { return static_cast<Kind>(storage_.index()); }
  bool isNull() const { return kind() == Kind::Null; }

  const bool* asBool() const { return std::get_if<bool>(&storage_); }
  const int64_t* asInteger() const { return std::get_if<int64_t>(&storage_); }
  const double* asReal() const { return std::get_if<double>(&storage_); }
  const std::string* asString() const { return std::get_if<std::string>(&storage_); }
  const Data* asData() const { return std::get_if<Data>(&storage_); }
  const Date* asDate() const { return std::get_if<Date>(&storage_); }
  const Array* asArray() const { return std::get_if<Array>(&storage_); }
  const Dictionary* asDictionary() const { return std::get_if<Dictionary>(&storage_); }
  const Object* asObject() const { return std::get_if<Object>(&storage_); }
  // The object as T, or nullptr when this is no object of that type.
  template <class T>
  std::shared_ptr<T> object() const {
    const Object* held = asObject();
    return held ? std::dynamic_pointer_cast<T>(*held) : nullptr;
  }

  // Dictionary member lookup; nullptr when this is not a dictionary or the key is missing.
  const ArchiveValue* find(std::string_view key) const;
  const ArchiveValue* find(int64_t key) const;

  // The class this value is archived as: one of the kArchive...Class names, the object's
  // own class name, or "" for null.
  std::string archiveClassName() const;

  // Objects compare by identity, everything else by value.
  friend bool operator==(const ArchiveValue&, const ArchiveValue&) = default;

 private:
  using Storage = std::variant<std::monostate, bool, int64_t, double, std::string, Data, Date,
                               Array, Dictionary, Object>;
  explicit ArchiveValue(Storage storage) : storage_(std::move(storage)) {}
  Storage storage_;
};

// Factories of the classes an archive may be read into, by archive class name.
class KeyedClassRegistry {
 public:
  // Builds an object from the unarchiver positioned on its fields; nullptr when the
  // fields do not make a valid object (the read then gives null for it, without error).
  using Factory = std::function<std::shared_ptr<KeyedCoding>(KeyedUnarchiver&)>;

  // Registers (or replaces) the factory of a class name.
  static void registerClass(std::string className, Factory factory);
  // Registers T under T::kArchiveClassName with T::initWithCoder as its factory.
  template <class T>
  static void registerClass() {
    registerClass(T::kArchiveClassName, [](KeyedUnarchiver& coder) -> std::shared_ptr<KeyedCoding> {
      return T::initWithCoder(coder);
    });
  }
  static bool isRegistered(std::string_view className);
  static Factory factory(std::string_view className);
};

// Writes one archive. Encode calls write into the object whose encodeWithCoder is running,
// or, outside any, into the archive's top level (where "root" is the root object).
class KeyedArchiver {
 public:
  KeyedArchiver();
  ~KeyedArchiver();
  KeyedArchiver(const KeyedArchiver&) = delete;
  KeyedArchiver& operator=(const KeyedArchiver&) = delete;

  void encodeObject(const ArchiveValue& value, std::string_view key);
  void encodeInt64(int64_t value, std::string_view key);
  void encodeInt32(int32_t value, std::string_view key) { encodeInt64(value, key); }
  void encodeBool(bool value, std::string_view key);
  void encodeDouble(double value, std::string_view key);

  // The finished archive (binary property list); the archiver takes no more calls.
  // std::nullopt with `error` set when encoding failed.
  std::optional<std::vector<uint8_t>> finishEncoding(Error* error = nullptr);

  // Archives `root` under "root". An exception thrown by an object's encodeWithCoder is
  // caught and reported as an error (domain kCocoaErrorDomain, code kCoderInvalidValueError,
  // the exception's name and reason in the description).
  static std::optional<std::vector<uint8_t>> archivedData(const ArchiveValue& root,
                                                          Error* error = nullptr);

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// Reads one archive. Decode calls read from the object whose factory is running, or,
// outside any, from the archive's top level.
class KeyedUnarchiver {
 public:
  // Opens an archive; nullptr (and `error` set) when the bytes are no keyed archive.
  static std::unique_ptr<KeyedUnarchiver> forReadingFromData(const std::vector<uint8_t>& data,
                                                             Error* error = nullptr);
  ~KeyedUnarchiver();
  KeyedUnarchiver(const KeyedUnarchiver&) = delete;
  KeyedUnarchiver& operator=(const KeyedUnarchiver&) = delete;

  // Reads objects archived under `archivedClassName` with the factory of `className`, and
  // counts them as `className` for the allowed-class check.
  void setClass(std::string className, std::string forClassName);

  bool containsValue(std::string_view key) const;

  // The object under `key` when its class is one of `classes` (null is std::nullopt). An
  // object of another class records the error and gives std::nullopt.
  std::optional<ArchiveValue> decodeObjectOfClasses(const std::set<std::string>& classes,
                                                    std::string_view key);
  std::optional<std::string> decodeString(std::string_view key);
  std::optional<std::vector<uint8_t>> decodeData(std::string_view key);
  std::optional<Date> decodeDate(std::string_view key);
  template <class T>
  std::shared_ptr<T> decodeObjectOfClass(std::string_view key) {
    auto value = decodeObjectOfClasses({T::kArchiveClassName}, key);
    return value ? value->template object<T>() : nullptr;
  }

  // Scalars: 0 / false when the key is missing. A value of another kind (or an integer
  // that does not fit 32 bits) records the error and gives 0 / false.
  int64_t decodeInt64(std::string_view key);
  int32_t decodeInt32(std::string_view key);
  bool decodeBool(std::string_view key);
  double decodeDouble(std::string_view key);

  // The first failure of this read, if any; once one is recorded every object decode
  // gives std::nullopt.
  const std::optional<Error>& error() const;
  // Lets a factory reject what it read (the first error is kept).
  void failWithError(Error error);

  // Opens `data` and reads its root object, accepted when of one of `classes`.
  // std::nullopt for a null root (without error) and for every failure (with error).
  static std::optional<ArchiveValue> unarchivedObjectOfClasses(const std::set<std::string>& classes,
                                                               const std::vector<uint8_t>& data,
                                                               Error* error = nullptr);
  template <class T>
  static std::shared_ptr<T> unarchivedObjectOfClass(const std::vector<uint8_t>& data,
                                                    Error* error = nullptr) {
    auto value = unarchivedObjectOfClasses({T::kArchiveClassName}, data, error);
    return value ? value->template object<T>() : nullptr;
  }

 private:
  KeyedUnarchiver();
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace platform

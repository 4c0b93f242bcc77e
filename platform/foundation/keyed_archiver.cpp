#include "platform/foundation/keyed_archiver.h"

#include <cmath>
#include <limits>
#include <mutex>

namespace platform {
namespace {

constexpr const char* kArchiverName = "NSKeyedArchiver";
constexpr int64_t kArchiveVersion = 100000;
constexpr const char* kRootKey = "root";
// Nesting deeper than this is refused rather than risking the stack.
constexpr size_t kMaximumDepth = 256;

// Keys beginning with "$" are the archive's own; a caller's such key gets one more "$".
std::string escapeKey(std::string_view key) {
  std::string escaped;
  if (!key.empty() && key.front() == '$') escaped.push_back('$');
  escaped.append(key);
  return escaped;
}

Error corruptError(const std::string& detail) {
  return Error(kCocoaErrorDomain, kCoderReadCorruptError,
               {{kErrorLocalizedDescriptionKey,
                 PlistValue("The data couldn't be read because it isn't in the correct format.")},
                {kErrorLocalizedFailureReasonKey, PlistValue(detail)}});
}

// Our own names for the mutable variants written by other archivers.
std::string familyOf(const std::string& className) {
  if (className == "NSMutableString") return kArchiveStringClass;
  if (className == "NSMutableData") return kArchiveDataClass;
  if (className == "NSMutableArray") return kArchiveArrayClass;
  if (className == "NSMutableDictionary") return kArchiveDictionaryClass;
  return className;
}

bool isBuiltinClass(const std::string& family) {
  return family == kArchiveStringClass || family == kArchiveDataClass ||
         family == kArchiveArrayClass || family == kArchiveDictionaryClass ||
         family == kArchiveDateClass || family == kArchiveNumberClass || family == "NSNull";
}

struct Registry {
  std::mutex mutex;
  std::map<std::string, KeyedClassRegistry::Factory, std::less<>> factories;
};

Registry& registry() {
  static Registry* instance = new Registry();
  return *instance;
}

}  // namespace

// ---- ArchiveValue ---------------------------------------------------------------------

const ArchiveValue* ArchiveValue::find(std::string_view key) const {
  const Dictionary* dictionary = asDictionary();
  if (!dictionary) return nullptr;
  auto it = dictionary->find(Key(std::string(key)));
  return it == dictionary->end() ? nullptr : &it->second;
}

const ArchiveValue* ArchiveValue::find(int64_t key) const {
  const Dictionary* dictionary = asDictionary();
  if (!dictionary) return nullptr;
  auto it = dictionary->find(Key(key));
  return it == dictionary->end() ? nullptr : &it->second;
}

std::string ArchiveValue::archiveClassName() const {
  switch (kind()) {
    case Kind::Null:
      return "";
    case Kind::Boolean:
    case Kind::Integer:
    case Kind::Real:
      return kArchiveNumberClass;
    case Kind::String:
      return kArchiveStringClass;
    case Kind::Data:
      return kArchiveDataClass;
    case Kind::Date:
      return kArchiveDateClass;
    case Kind::Array:
      return kArchiveArrayClass;
    case Kind::Dictionary:
      return kArchiveDictionaryClass;
    case Kind::Object:
      return (*asObject())->archiveClassName();
  }
  return "";
}

// ---- KeyedClassRegistry ---------------------------------------------------------------

void KeyedClassRegistry::registerClass(std::string className, Factory factory) {
  auto& r = registry();
  std::lock_guard lock(r.mutex);
  r.factories[std::move(className)] = std::move(factory);
}

bool KeyedClassRegistry::isRegistered(std::string_view className) {
  auto& r = registry();
  std::lock_guard lock(r.mutex);
  return r.factories.find(className) != r.factories.end();
}

KeyedClassRegistry::Factory KeyedClassRegistry::factory(std::string_view className) {
  auto& r = registry();
  std::lock_guard lock(r.mutex);
  auto it = r.factories.find(className);
  return it == r.factories.end() ? nullptr : it->second;
}

// ---- KeyedArchiver --------------------------------------------------------------------

struct KeyedArchiver::State {
  PlistValue::Array objects{PlistValue("$null")};
  PlistValue::Dictionary top;
  std::map<std::string, uint64_t> classReferences;
  std::map<const KeyedCoding*, uint64_t> objectReferences;
  // Index in `objects` of each object being encoded; empty at the top level.
  std::vector<size_t> containers;
  bool finished = false;

  PlistValue::Dictionary& current() {
    if (containers.empty()) return top;
    return *objects[containers.back()].asDictionary();
  }

  uint64_t append(PlistValue value) {
    objects.push_back(std::move(value));
    return objects.size() - 1;
  }

  uint64_t classReference(const std::string& className) {
    auto it = classReferences.find(className);
    if (it != classReferences.end()) return it->second;
    PlistValue::Array chain{PlistValue(className)};
    if (className != kArchiveObjectClass) chain.emplace_back(kArchiveObjectClass);
    uint64_t reference = append(PlistValue::Dictionary{{"$classname", PlistValue(className)},
                                                       {"$classes", PlistValue(chain)}});
    classReferences.emplace(className, reference);
    return reference;
  }

  uint64_t encode(const ArchiveValue& value, KeyedArchiver& archiver) {
    switch (value.kind()) {
      case ArchiveValue::Kind::Null:
        return 0;
      case ArchiveValue::Kind::Boolean:
        return append(PlistValue(*value.asBool()));
      case ArchiveValue::Kind::Integer:
        return append(PlistValue(*value.asInteger()));
      case ArchiveValue::Kind::Real:
        return append(PlistValue(*value.asReal()));
      case ArchiveValue::Kind::String:
        return append(PlistValue(*value.asString()));
      case ArchiveValue::Kind::Data:
        return append(PlistValue(*value.asData()));
      case ArchiveValue::Kind::Date: {
        uint64_t reference = append(PlistValue::Dictionary{
            {"NS.time", PlistValue(value.asDate()->timeIntervalSinceReferenceDate)}});
        uint64_t classRef = classReference(kArchiveDateClass);
        (*objects[reference].asDictionary())["$class"] = PlistUid{classRef};
        return reference;
      }
      case ArchiveValue::Kind::Array: {
        uint64_t reference = append(PlistValue::Dictionary{});
        PlistValue::Array members;
        for (const auto& member : *value.asArray()) {
          members.emplace_back(PlistUid{encode(member, archiver)});
        }
        uint64_t classRef = classReference(kArchiveArrayClass);
        auto& dictionary = *objects[reference].asDictionary();
        dictionary["NS.objects"] = std::move(members);
        dictionary["$class"] = PlistUid{classRef};
        return reference;
      }
      case ArchiveValue::Kind::Dictionary: {
        uint64_t reference = append(PlistValue::Dictionary{});
        PlistValue::Array keys;
        PlistValue::Array members;
        for (const auto& [key, member] : *value.asDictionary()) {
          ArchiveValue keyValue = std::holds_alternative<int64_t>(key)
                                      ? ArchiveValue::integer(std::get<int64_t>(key))
                                      : ArchiveValue(std::get<std::string>(key));
          keys.emplace_back(PlistUid{encode(keyValue, archiver)});
          members.emplace_back(PlistUid{encode(member, archiver)});
        }
        uint64_t classRef = classReference(kArchiveDictionaryClass);
        auto& dictionary = *objects[reference].asDictionary();
        dictionary["NS.keys"] = std::move(keys);
        dictionary["NS.objects"] = std::move(members);
        dictionary["$class"] = PlistUid{classRef};
        return reference;
      }
      case ArchiveValue::Kind::Object: {
        const KeyedCoding* object = value.asObject()->get();
        auto known = objectReferences.find(object);
        if (known != objectReferences.end()) return known->second;
        uint64_t reference = append(PlistValue::Dictionary{});
        objectReferences.emplace(object, reference);
        containers.push_back(reference);
        try {
          object->encodeWithCoder(archiver);
        } catch (...) {
          containers.pop_back();
          throw;
        }
        containers.pop_back();
        uint64_t classRef = classReference(object->archiveClassName());
        (*objects[reference].asDictionary())["$class"] = PlistUid{classRef};
        return reference;
      }
    }
    return 0;
  }
};

KeyedArchiver::KeyedArchiver() : state_(std::make_unique<State>()) {}
KeyedArchiver::~KeyedArchiver() = default;

void KeyedArchiver::encodeObject(const ArchiveValue& value, std::string_view key) {
  uint64_t reference = state_->encode(value, *this);
  state_->current()[escapeKey(key)] = PlistUid{reference};
}

void KeyedArchiver::encodeInt64(int64_t value, std::string_view key) {
  state_->current()[escapeKey(key)] = PlistValue(value);
}

void KeyedArchiver::encodeBool(bool value, std::string_view key) {
  state_->current()[escapeKey(key)] = PlistValue(value);
}

void KeyedArchiver::encodeDouble(double value, std::string_view key) {
  state_->current()[escapeKey(key)] = PlistValue(value);
}

std::optional<std::vector<uint8_t>> KeyedArchiver::finishEncoding(Error* error) {
  if (state_->finished) {
    if (error)
      *error =
          Error(kCocoaErrorDomain, kCoderInvalidValueError,
                {{kErrorLocalizedDescriptionKey, PlistValue("The archive was already finished.")}});
    return std::nullopt;
  }
  state_->finished = true;
  PlistValue archive(PlistValue::Dictionary{
      {"$archiver", PlistValue(kArchiverName)},
      {"$version", PlistValue(kArchiveVersion)},
      {"$top", PlistValue(std::move(state_->top))},
      {"$objects", PlistValue(std::move(state_->objects))},
  });
  auto bytes = encodePlist(archive, PlistFormat::Binary);
  if (!bytes && error) {
    *error = Error(kCocoaErrorDomain, kCoderInvalidValueError,
                   {{kErrorLocalizedDescriptionKey,
                     PlistValue("The archive could not be written as a property list.")}});
  }
  return bytes;
}

std::optional<std::vector<uint8_t>> KeyedArchiver::archivedData(const ArchiveValue& root,
                                                                Error* error) {
  auto fail = [&](const std::string& description) -> std::optional<std::vector<uint8_t>> {
    if (error) {
      *error = Error(kCocoaErrorDomain, kCoderInvalidValueError,
                     {{kErrorLocalizedDescriptionKey, PlistValue(description)}});
    }
    return std::nullopt;
  };
  KeyedArchiver archiver;
  try {
    archiver.encodeObject(root, kRootKey);
  } catch (const Exception& exception) {
    return fail("Archiving failed with exception " + exception.name() + ": " + exception.reason());
  } catch (const std::exception& exception) {
    return fail(std::string("Archiving failed: ") + exception.what());
  }
  return archiver.finishEncoding(error);
}

// ---- KeyedUnarchiver ------------------------------------------------------------------

struct KeyedUnarchiver::State {
  KeyedUnarchiver* owner = nullptr;
  PlistValue archive;
  const PlistValue::Array* objects = nullptr;
  const PlistValue::Dictionary* top = nullptr;
  std::map<std::string, std::string> classMapping;  // archived name -> class name
  // Fields of each object whose factory is running; empty at the top level.
  std::vector<const PlistValue::Dictionary*> containers;
  // Objects already read, so a shared object is read once and stays shared.
  struct Decoded {
    std::string className;  // the class it was read as, for later allowed-class checks
    ArchiveValue value;
  };
  std::map<uint64_t, Decoded> decoded;
  std::set<uint64_t> inProgress;
  std::optional<Error> error;

  const PlistValue::Dictionary& current() const {
    return containers.empty() ? *top : *containers.back();
  }

  const PlistValue* field(std::string_view key) const {
    const auto& dictionary = current();
    auto it = dictionary.find(escapeKey(key));
    return it == dictionary.end() ? nullptr : &it->second;
  }

  void fail(const std::string& detail) {
    if (!error) error = corruptError(detail);
  }

  std::string mapped(const std::string& archivedName) const {
    auto it = classMapping.find(archivedName);
    return it == classMapping.end() ? archivedName : it->second;
  }

  static bool allows(const std::set<std::string>& classes, const std::string& family) {
    return classes.count(family) > 0 || classes.count(kArchiveObjectClass) > 0;
  }

  std::optional<ArchiveValue> refuse(const std::string& className,
                                     const std::set<std::string>& classes) {
    std::string allowed;
    for (const auto& name : classes) allowed += (allowed.empty() ? "" : ", ") + name;
    fail("value of unexpected class '" + className + "'; allowed classes are '" + allowed + "'");
    return std::nullopt;
  }

  // Reads the object a field refers to. std::nullopt for null and for failures (recorded).
  std::optional<ArchiveValue> decodeReference(const PlistValue& field,
                                              const std::set<std::string>& classes) {
    if (error) return std::nullopt;
    const PlistUid* uid = field.asUid();
    if (!uid) {
      fail("an object field holds no object reference");
      return std::nullopt;
    }
    return decodeObject(uid->value, classes);
  }

  std::optional<ArchiveValue> decodeObject(uint64_t reference,
                                           const std::set<std::string>& classes) {
    if (error) return std::nullopt;
    if (reference == 0) return std::nullopt;
    if (reference >= objects->size()) {
      fail("object reference out of range");
      return std::nullopt;
    }
    if (auto it = decoded.find(reference); it != decoded.end()) {
      if (it->second.value.isNull()) return std::nullopt;
      if (!allows(classes, it->second.className)) return refuse(it->second.className, classes);
      return it->second.value;
    }
    if (inProgress.count(reference) > 0 || inProgress.size() >= kMaximumDepth) {
      fail(inProgress.count(reference) > 0 ? "the object graph refers to itself"
                                           : "the object graph is nested too deeply");
      return std::nullopt;
    }
    inProgress.insert(reference);
    std::string className;
    std::optional<ArchiveValue> result = decodeFresh((*objects)[reference], classes, className);
    inProgress.erase(reference);
    if (error) return std::nullopt;
    decoded[reference] = Decoded{className, result ? *result : ArchiveValue()};
    return result;
  }

  std::optional<ArchiveValue> decodeFresh(const PlistValue& object,
                                          const std::set<std::string>& classes,
                                          std::string& className) {
    switch (object.kind()) {
      case PlistValue::Kind::String:
        if (*object.asString() == "$null") return std::nullopt;
        className = kArchiveStringClass;
        if (!allows(classes, kArchiveStringClass)) return refuse(kArchiveStringClass, classes);
        return ArchiveValue(*object.asString());
      case PlistValue::Kind::Boolean:
      case PlistValue::Kind::Integer:
      case PlistValue::Kind::UnsignedInteger:
      case PlistValue::Kind::Real:
        className = kArchiveNumberClass;
        if (!allows(classes, kArchiveNumberClass)) return refuse(kArchiveNumberClass, classes);
        return numberOf(object);
      case PlistValue::Kind::Data:
        className = kArchiveDataClass;
        if (!allows(classes, kArchiveDataClass)) return refuse(kArchiveDataClass, classes);
        return ArchiveValue(*object.asData());
      case PlistValue::Kind::Dictionary:
        return decodeClassed(*object.asDictionary(), classes, className);
      default:
        fail("unexpected value in the object table");
        return std::nullopt;
    }
  }

  std::optional<ArchiveValue> numberOf(const PlistValue& object) {
    if (const bool* value = object.asBool()) return ArchiveValue::boolean(*value);
    if (const int64_t* value = object.asInteger()) return ArchiveValue::integer(*value);
    if (const double* value = object.asReal()) return ArchiveValue::real(*value);
    fail("number out of range");  // an unsigned integer beyond the signed range
    return std::nullopt;
  }

  // The class chain of an object: its own class name first, then its superclasses.
  std::optional<std::vector<std::string>> classChain(const PlistValue::Dictionary& object) {
    auto classField = object.find("$class");
    const PlistUid* uid = classField == object.end() ? nullptr : classField->second.asUid();
    if (!uid || uid->value == 0 || uid->value >= objects->size()) return std::nullopt;
    const PlistValue& description = (*objects)[uid->value];
    const PlistValue* name = description.find("$classname");
    if (!name || !name->asString()) return std::nullopt;
    std::vector<std::string> chain{*name->asString()};
    if (const PlistValue* classes = description.find("$classes"); classes && classes->asArray()) {
      for (const auto& entry : *classes->asArray()) {
        if (entry.asString() && *entry.asString() != chain.front())
          chain.push_back(*entry.asString());
      }
    }
    return chain;
  }

  std::optional<ArchiveValue> decodeClassed(const PlistValue::Dictionary& object,
                                            const std::set<std::string>& classes,
                                            std::string& readAs) {
    auto chain = classChain(object);
    if (!chain) {
      fail("an object has no readable class");
      return std::nullopt;
    }
    // The class that reads the object is the first one of its chain that we know; the
    // allowed-class check judges that class, never what the archive claims beyond it.
    for (const auto& archivedName : *chain) {
      std::string className = mapped(archivedName);
      std::string family = familyOf(className);
      if (isBuiltinClass(family)) {
        readAs = family;
        if (!allows(classes, family)) return refuse(family, classes);
        return decodeBuiltin(family, object, classes);
      }
      if (auto factory = KeyedClassRegistry::factory(className)) {
        readAs = className;
        if (!allows(classes, className)) return refuse(className, classes);
        return decodeRegistered(factory, object);
      }
    }
    return refuse(chain->front(), classes);
  }

  std::optional<ArchiveValue> decodeRegistered(const KeyedClassRegistry::Factory& factory,
                                               const PlistValue::Dictionary& object);

  std::optional<ArchiveValue> decodeBuiltin(const std::string& family,
                                            const PlistValue::Dictionary& object,
                                            const std::set<std::string>& classes) {
    auto member = [&](const char* key) -> const PlistValue* {
      auto it = object.find(key);
      return it == object.end() ? nullptr : &it->second;
    };
    if (family == "NSNull") return std::nullopt;
    if (family == kArchiveDateClass) {
      const PlistValue* time = member("NS.time");
      auto seconds = time ? time->toDouble() : std::nullopt;
      if (!seconds || !std::isfinite(*seconds)) {
        fail("a date has no valid NS.time");
        return std::nullopt;
      }
      return ArchiveValue(Date{*seconds});
    }
    if (family == kArchiveStringClass) {
      const PlistValue* text = member("NS.string");
      if (text && text->asString()) return ArchiveValue(*text->asString());
      fail("a string has no NS.string");
      return std::nullopt;
    }
    if (family == kArchiveDataClass) {
      const PlistValue* bytes = member("NS.data");
      if (bytes && bytes->asData()) return ArchiveValue(*bytes->asData());
      fail("a data object has no NS.data");
      return std::nullopt;
    }
    if (family == kArchiveNumberClass) {
      fail("a number is stored as an object");
      return std::nullopt;
    }
    const PlistValue* values = member("NS.objects");
    if (!values || !values->asArray()) {
      fail("a collection has no NS.objects");
      return std::nullopt;
    }
    if (family == kArchiveArrayClass) {
      ArchiveValue::Array array;
      for (const auto& entry : *values->asArray()) {
        auto element = decodeReference(entry, classes);
        if (error) return std::nullopt;
        array.push_back(element ? std::move(*element) : ArchiveValue());
      }
      return ArchiveValue(std::move(array));
    }
    // Dictionary.
    const PlistValue* keys = member("NS.keys");
    if (!keys || !keys->asArray() || keys->asArray()->size() != values->asArray()->size()) {
      fail("a dictionary's NS.keys do not match its NS.objects");
      return std::nullopt;
    }
    ArchiveValue::Dictionary dictionary;
    for (size_t i = 0; i < keys->asArray()->size(); ++i) {
      auto key = decodeReference((*keys->asArray())[i], classes);
      if (error) return std::nullopt;
      std::optional<ArchiveValue::Key> dictionaryKey;
      if (key && key->asString()) dictionaryKey = *key->asString();
      if (key && key->asInteger()) dictionaryKey = *key->asInteger();
      if (!dictionaryKey) {
        fail("a dictionary key is neither a string nor an integer");
        return std::nullopt;
      }
      auto element = decodeReference((*values->asArray())[i], classes);
      if (error) return std::nullopt;
      dictionary[std::move(*dictionaryKey)] = element ? std::move(*element) : ArchiveValue();
    }
    return ArchiveValue(std::move(dictionary));
  }
};

KeyedUnarchiver::KeyedUnarchiver() : state_(std::make_unique<State>()) { state_->owner = this; }
KeyedUnarchiver::~KeyedUnarchiver() = default;

std::optional<ArchiveValue> KeyedUnarchiver::State::decodeRegistered(
    const KeyedClassRegistry::Factory& factory, const PlistValue::Dictionary& object) {
  containers.push_back(&object);
  std::shared_ptr<KeyedCoding> made;
  try {
    made = factory(*owner);
  } catch (...) {
    containers.pop_back();
    throw;
  }
  containers.pop_back();
  if (error || !made) return std::nullopt;
  return ArchiveValue(std::move(made));
}

std::unique_ptr<KeyedUnarchiver> KeyedUnarchiver::forReadingFromData(
    const std::vector<uint8_t>& data, Error* error) {
  std::unique_ptr<KeyedUnarchiver> unarchiver(new KeyedUnarchiver());
  State& state = *unarchiver->state_;
  auto refuse = [&](const std::string& detail) -> std::unique_ptr<KeyedUnarchiver> {
    if (error) *error = corruptError(detail);
    return nullptr;
  };
  auto archive = decodePlist(data);
  if (!archive) return refuse("the data is not a property list");
  state.archive = std::move(*archive);
  const PlistValue* archiver = state.archive.find("$archiver");
  const PlistValue* objects = state.archive.find("$objects");
  const PlistValue* top = state.archive.find("$top");
  if (!archiver || !archiver->asString() || *archiver->asString() != kArchiverName) {
    return refuse("the property list is not a keyed archive");
  }
  if (!objects || !objects->asArray() || objects->asArray()->empty() || !top ||
      !top->asDictionary()) {
    return refuse("the keyed archive has no object table or top level");
  }
  state.objects = objects->asArray();
  state.top = top->asDictionary();
  return unarchiver;
}

void KeyedUnarchiver::setClass(std::string className, std::string forClassName) {
  state_->classMapping[std::move(forClassName)] = std::move(className);
}

bool KeyedUnarchiver::containsValue(std::string_view key) const {
  return state_->field(key) != nullptr;
}

std::optional<ArchiveValue> KeyedUnarchiver::decodeObjectOfClasses(
    const std::set<std::string>& classes, std::string_view key) {
  if (state_->error) return std::nullopt;
  const PlistValue* field = state_->field(key);
  if (!field) return std::nullopt;
  return state_->decodeReference(*field, classes);
}

std::optional<std::string> KeyedUnarchiver::decodeString(std::string_view key) {
  auto value = decodeObjectOfClasses({kArchiveStringClass}, key);
  return value && value->asString() ? std::optional(*value->asString()) : std::nullopt;
}

std::optional<std::vector<uint8_t>> KeyedUnarchiver::decodeData(std::string_view key) {
  auto value = decodeObjectOfClasses({kArchiveDataClass}, key);
  return value && value->asData() ? std::optional(*value->asData()) : std::nullopt;
}

std::optional<Date> KeyedUnarchiver::decodeDate(std::string_view key) {
  auto value = decodeObjectOfClasses({kArchiveDateClass}, key);
  return value && value->asDate() ? std::optional(*value->asDate()) : std::nullopt;
}

int64_t KeyedUnarchiver::decodeInt64(std::string_view key) {
  const PlistValue* field = state_->field(key);
  if (!field) return 0;
  if (const bool* value = field->asBool()) return *value ? 1 : 0;
  if (auto value = field->toInt64()) return *value;
  if (const double* value = field->asReal()) {
    if (std::isfinite(*value) && *value >= -9.2233720368547758e18 &&
        *value < 9.2233720368547758e18) {
      return static_cast<int64_t>(*value);
    }
  }
  state_->fail("value for key '" + std::string(key) + "' is not a 64-bit integer");
  return 0;
}

int32_t KeyedUnarchiver::decodeInt32(std::string_view key) {
  int64_t value = decodeInt64(key);
  if (value < std::numeric_limits<int32_t>::min() || value > std::numeric_limits<int32_t>::max()) {
    state_->fail("value for key '" + std::string(key) + "' does not fit a 32-bit integer");
    return 0;
  }
  return static_cast<int32_t>(value);
}

bool KeyedUnarchiver::decodeBool(std::string_view key) {
  const PlistValue* field = state_->field(key);
  if (!field) return false;
  if (const bool* value = field->asBool()) return *value;
  if (auto value = field->toInt64()) return *value != 0;
  state_->fail("value for key '" + std::string(key) + "' is not a boolean");
  return false;
}

double KeyedUnarchiver::decodeDouble(std::string_view key) {
  const PlistValue* field = state_->field(key);
  if (!field) return 0;
  if (auto value = field->toDouble()) return *value;
  state_->fail("value for key '" + std::string(key) + "' is not a number");
  return 0;
}

const std::optional<Error>& KeyedUnarchiver::error() const { return state_->error; }

void KeyedUnarchiver::failWithError(Error error) {
  if (!state_->error) state_->error = std::move(error);
}

std::optional<ArchiveValue> KeyedUnarchiver::unarchivedObjectOfClasses(
    const std::set<std::string>& classes, const std::vector<uint8_t>& data, Error* error) {
  auto unarchiver = forReadingFromData(data, error);
  if (!unarchiver) return std::nullopt;
  std::optional<ArchiveValue> root;
  try {
    root = unarchiver->decodeObjectOfClasses(classes, kRootKey);
  } catch (const Exception& exception) {
    unarchiver->failWithError(corruptError("reading failed with exception " + exception.name() +
                                           ": " + exception.reason()));
  }
  if (unarchiver->error()) {
    if (error) *error = *unarchiver->error();
    return std::nullopt;
  }
  return root;
}

}  // namespace platform

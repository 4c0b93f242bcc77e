// Declared initial values shared by the entity descriptions.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/data/schema.h"
#include "platform/foundation/date.h"
#include "platform/foundation/uuid.h"

namespace brivel::model_internal {

inline platform::PropertyDefault newUUID() {
  return platform::PropertyDefault::generated(
      [] { return platform::AttributeValue(platform::UUID::random()); });
}

inline platform::PropertyDefault currentDate() {
  return platform::PropertyDefault::generated(
      [] { return platform::AttributeValue(platform::Date::now()); });
}

inline platform::PropertyDefault textDefault(const char* value) {
  return platform::PropertyDefault::value(platform::AttributeValue(std::string(value)));
}

inline platform::PropertyDefault code(std::int64_t value) {
  return platform::PropertyDefault::value(platform::AttributeValue(value));
}

// The properties every record has, and text fields, declared at their index.
inline platform::DeclaredProperty idProperty(std::size_t index) {
  return {index, platform::PropertyDescription::attribute("id", platform::AttributeType::Uuid,
                                                          false, newUUID())};
}

inline platform::DeclaredProperty timestampProperty(std::size_t index) {
  return {index, platform::PropertyDescription::attribute(
                     "timestamp", platform::AttributeType::Date, false, currentDate())};
}

inline platform::DeclaredProperty textProperty(std::size_t index, const char* name,
                                               const char* initial) {
  return {index, platform::PropertyDescription::attribute(name, platform::AttributeType::String,
                                                          false, textDefault(initial))};
}

}  // namespace brivel::model_internal

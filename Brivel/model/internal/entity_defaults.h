// Declared initial values shared by the entity descriptions.
#pragma once

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

}  // namespace brivel::model_internal

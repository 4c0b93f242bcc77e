#include "sdk-core/promises/object.h"

#include <cstdio>
#include <sstream>

#include "sdk-core/promises/internal/type_name.h"

std::shared_ptr<PRMPromise> PRMObject::promise() const {
  const auto* p = get<std::shared_ptr<PRMPromise>>();
  return p ? *p : nullptr;
}

namespace {

std::string plistDescription(const platform::PlistValue& value) {
  using Kind = platform::PlistValue::Kind;
  switch (value.kind()) {
    case Kind::String:
      return *value.asString();
    case Kind::Boolean:
      return *value.asBool() ? "1" : "0";
    case Kind::Integer:
      return std::to_string(*value.asInteger());
    case Kind::UnsignedInteger:
      return std::to_string(*value.asUnsignedInteger());
    case Kind::Real: {
      std::ostringstream out;
      out << *value.asReal();
      return out.str();
    }
    default:
      return "<value>";
  }
}

}  // namespace

std::string PRMObject::description() const {
  if (isNil()) return "(null)";
  if (isNull()) return "<null>";
  if (const auto* s = get<std::string>()) return *s;
  if (const auto* b = get<bool>()) return *b ? "1" : "0";
  if (is<double>() || is<float>()) {
    std::ostringstream out;
    out << *number<double>();
    return out.str();
  }
  if (auto n = number<long long>()) return std::to_string(*n);
  if (const auto* e = get<platform::Error>()) {
    std::string text = "Error Domain=" + e->domain + " Code=" + std::to_string(e->code) + " \"" +
                       e->localizedDescription() + "\" UserInfo={";
    bool first = true;
    for (const auto& [key, value] : e->userInfo) {
      text += (first ? "" : ", ") + key + "=" + plistDescription(value);
      first = false;
    }
    return text + "}";
  }
  if (const auto* a = array()) {
    std::string text = "(";
    for (std::size_t i = 0; i < a->size(); ++i) text += (i ? ", " : "") + (*a)[i].description();
    return text + ")";
  }
  char address[32];
  std::snprintf(address, sizeof address, "%p", static_cast<const void*>(holder_.get()));
  return "<" + prm_internal::unqualifiedTypeName(type()) + " " + address + ">";
}

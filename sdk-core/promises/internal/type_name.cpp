#include "sdk-core/promises/internal/type_name.h"

#include <cxxabi.h>

#include <cstdlib>
#include <memory>

namespace prm_internal {

std::string typeName(const std::type_info& type) {
  int status = 0;
  std::unique_ptr<char, void (*)(void*)> name(abi::__cxa_demangle(type.name(), nullptr, nullptr, &status), std::free);
  return status == 0 && name ? std::string(name.get()) : std::string(type.name());
}

std::string unqualifiedTypeName(const std::type_info& type) {
  const std::string full = typeName(type);
  // Drop the qualifiers of the outermost name only: "a::b::c<x::y>" -> "c<x::y>".
  const auto template_start = full.find('<');
  const auto head = full.substr(0, template_start);
  const auto last = head.rfind("::");
  return last == std::string::npos ? full : full.substr(last + 2);
}

}  // namespace prm_internal

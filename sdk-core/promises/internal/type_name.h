// Readable type names for descriptions.
#pragma once

#include <string>
#include <typeinfo>

namespace prm_internal {

// The demangled name of the type without its namespace qualifiers ("int", "basic_string<...>").
std::string unqualifiedTypeName(const std::type_info& type);
// The demangled name with its qualifiers.
std::string typeName(const std::type_info& type);

}  // namespace prm_internal

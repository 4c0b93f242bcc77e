#include "platform/foundation/arguments.h"

#include <algorithm>

#include "platform/foundation/error.h"

namespace platform {

namespace {

bool names(const std::vector<std::string_view>& options, std::string_view word) {
  return std::find(options.begin(), options.end(), word) != options.end();
}

}  // namespace

std::optional<std::string> Arguments::value(std::string_view option) const {
  auto found = values_.find(option);
  if (found == values_.end()) return std::nullopt;
  return found->second;
}

bool Arguments::has(std::string_view option) const { return switches_.find(option) != switches_.end(); }

Expected<Arguments> parseArguments(int argc, const char* const* argv, const ArgumentSpec& spec) {
  Arguments arguments;
  for (int i = 1; i < argc; ++i) {
    const std::string_view word = argv[i];
    if (names(spec.switches, word)) {
      arguments.switches_.emplace(word);
    } else if (names(spec.valued, word)) {
      if (i + 1 >= argc || *argv[i + 1] == '\0') {
        return Error::described(kPlatformErrorDomain, 1, std::string(word) + " needs a value");
      }
      arguments.values_.insert_or_assign(std::string(word), std::string(argv[++i]));
    } else if (!names(spec.passed, word)) {
      return Error::described(kPlatformErrorDomain, 1, "unknown argument '" + std::string(word) + "'");
    }
  }
  return arguments;
}

}  // namespace platform

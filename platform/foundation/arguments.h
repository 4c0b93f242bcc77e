// A program's command line, read against the options it takes: options with a value
// ("--port 8080"), switches ("--help") and words taken as they are (launch switches that
// another part of the program reads for itself).
//
//   const platform::ArgumentSpec spec{.valued = {"--data-dir", "--port"}, .switches = {"--help", "-h"}};
//   platform::Expected<platform::Arguments> arguments = platform::parseArguments(argc, argv, spec);
//   if (!arguments.ok()) { std::cerr << arguments.error().localizedDescription(); return 2; }
//   if (auto port = arguments->value("--port")) ...
//
// Threads: any.
#pragma once

#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/expected.h"

namespace platform {

struct ArgumentSpec {
  // Options followed by a value, which may not be empty.
  std::vector<std::string_view> valued;
  // Options that stand alone.
  std::vector<std::string_view> switches;
  // Words accepted and left alone.
  std::vector<std::string_view> passed;
};

class Arguments {
 public:
  // The value of a valued option (the last one given), if it was given.
  std::optional<std::string> value(std::string_view option) const;
  // Whether a switch was given.
  bool has(std::string_view option) const;

 private:
  friend Expected<Arguments> parseArguments(int, const char* const*, const ArgumentSpec&);
  std::map<std::string, std::string, std::less<>> values_;
  std::set<std::string, std::less<>> switches_;
};

// Reads argv[1..argc-1]. A word the `ArgumentSpec` does not name fails with "unknown argument 'WORD'",
// a valued option without a value, or with an empty one, with "OPTION needs a value"
// (kPlatformErrorDomain).
Expected<Arguments> parseArguments(int argc, const char* const* argv, const ArgumentSpec& spec);

}  // namespace platform

// StringTable: the English texts behind the app's localization keys.
//
// Views name their texts by key ("localizable_saved") with formatted arguments, or give a
// verbatim text. The table is read once from strings/en.json in the page's asset folder. A key
// the table lacks never reaches the screen as it is: a "localizable_" key shows as words made
// from its name ("localizable_noBillsFound" shows "No bills found"), any other key shows as
// written, as the platform does for a literal text. Read-only after loading; safe from any
// thread.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/foundation/expected.h"
#include "platform/ui/node.h"

namespace web {

class StringTable {
 public:
  using Texts = std::unordered_map<std::string, std::string>;

  StringTable() = default;
  explicit StringTable(Texts texts) : texts_(std::move(texts)) {}

  // Reads a JSON object of key to text into `into`. Fails (kWebErrorDomain) when the file is
  // missing or is not such an object.
  static platform::Status load(const std::filesystem::path& file, StringTable& into);

  // The text of a key, unformatted (see the rule for missing keys above).
  std::string lookup(std::string_view key) const;
  // The text a view shows: the verbatim string, or the key's text with its placeholders
  // ("%lld", "%@", "%d" ...) replaced by the arguments in order and "%%" by "%".
  std::string text(const platform::ui::TextContent& content) const;

  bool contains(std::string_view key) const { return texts_.count(std::string(key)) > 0; }
  size_t size() const { return texts_.size(); }

 private:
  std::unordered_map<std::string, std::string> texts_;
};

// Words made from a "localizable_" key's camel-case name: "localizable_noBillsFound" gives
// "No bills found", "localizable_quarter01" gives "Quarter 01".
std::string readableKey(std::string_view key);

// Fills "%lld", "%ld", "%d", "%i", "%u", "%llu", "%@", "%s" (and the positional "%1$@" forms)
// with the arguments; a placeholder without an argument is left out.
std::string formatWithArguments(std::string_view format, const std::vector<std::string>& args);

}  // namespace web

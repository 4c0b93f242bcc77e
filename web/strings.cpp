#include "web/strings.h"

#include <cctype>
#include <fstream>
#include <nlohmann/json.hpp>

#include "web/page.h"

namespace web {

platform::Status StringTable::load(const std::filesystem::path& file, StringTable& into) {
  auto failure = [](std::string description) { return platform::Error::described(kWebErrorDomain, 1, std::move(description)); };
  std::ifstream in(file);
  if (!in) return failure("cannot read " + file.string());
  nlohmann::json doc = nlohmann::json::parse(in, nullptr, false);
  if (doc.is_discarded() || !doc.is_object()) return failure(file.string() + " is not a JSON object");
  std::unordered_map<std::string, std::string> texts;
  for (const auto& [key, value] : doc.items()) {
    if (!value.is_string()) return failure(file.string() + ": the text of \"" + key + "\" is not a string");
    texts.emplace(key, value.get<std::string>());
  }
  into = StringTable(std::move(texts));
  return {};
}

std::string readableKey(std::string_view key) {
  constexpr std::string_view prefix = "localizable_";
  std::string_view name = key.substr(key.rfind(prefix, 0) == 0 ? prefix.size() : 0);
  std::string out;
  for (size_t i = 0; i < name.size(); ++i) {
    char c = name[i];
    bool upper = std::isupper(static_cast<unsigned char>(c));
    bool digit = std::isdigit(static_cast<unsigned char>(c));
    bool prevDigit = i > 0 && std::isdigit(static_cast<unsigned char>(name[i - 1]));
    if (c == '_') {
      if (!out.empty() && out.back() != ' ') out += ' ';
      continue;
    }
    if (i > 0 && !out.empty() && out.back() != ' ' && (upper || (digit && !prevDigit))) out += ' ';
    out += out.empty() ? static_cast<char>(std::toupper(static_cast<unsigned char>(c)))
                       : static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  return out;
}

std::string formatWithArguments(std::string_view format, const std::vector<std::string>& args) {
  std::string out;
  size_t next = 0;
  for (size_t i = 0; i < format.size(); ++i) {
    if (format[i] != '%' || i + 1 == format.size()) {
      out += format[i];
      continue;
    }
    if (format[i + 1] == '%') {
      out += '%';
      ++i;
      continue;
    }
    size_t j = i + 1;
    std::optional<size_t> position;
    size_t digits = j;
    while (digits < format.size() && std::isdigit(static_cast<unsigned char>(format[digits]))) ++digits;
    if (digits > j && digits < format.size() && format[digits] == '$') {
      position = std::stoul(std::string(format.substr(j, digits - j)));
      j = digits + 1;
    }
    while (j < format.size() && (format[j] == 'l' || format[j] == 'h' || format[j] == 'q' || format[j] == 'z')) ++j;
    if (j < format.size() && std::string_view("@dDiuUsxXfgeF").find(format[j]) != std::string_view::npos) {
      size_t index = position ? *position - 1 : next++;
      if (index < args.size()) out += args[index];
      i = j;
      continue;
    }
    out += format[i];  // not a placeholder we know: keep the text as written
  }
  return out;
}

std::string StringTable::lookup(std::string_view key) const {
  if (auto found = texts_.find(std::string(key)); found != texts_.end()) return found->second;
  if (key.rfind("localizable_", 0) == 0) return readableKey(key);
  return std::string(key);
}

std::string StringTable::text(const platform::ui::TextContent& content) const {
  if (content.verbatim) return content.key;
  return formatWithArguments(lookup(content.key), content.args);
}

}  // namespace web

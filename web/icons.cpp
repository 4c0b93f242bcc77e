#include "web/icons.h"

#include <cctype>

namespace web {

IconTable IconTable::load(const std::filesystem::path& assetDirectory) {
  IconTable table;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(assetDirectory / "icons", ec)) {
    if (entry.path().extension() == ".svg") table.names_.insert(entry.path().stem().string());
  }
  return table;
}

std::string IconTable::url(std::string_view name) const {
  std::string chosen = contains(name) ? std::string(name) : std::string("unknown.symbol");
  std::string out = "/assets/icons/";
  static const char* hex = "0123456789ABCDEF";
  for (unsigned char c : chosen) {
    if (std::isalnum(c) || c == '.' || c == '-' || c == '_') {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += hex[c >> 4];
      out += hex[c & 15];
    }
  }
  return out + ".svg";
}

}  // namespace web

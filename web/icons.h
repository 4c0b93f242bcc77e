// IconTable: the drawing behind each symbol and asset image name the screens use.
//
// The drawings are SVG files in the "icons" folder of the page's assets, one per name
// ("icons/tray.full.svg"), listed by web/tools/icon-sources.tsv. The table knows the names whose
// file is there; an unknown name draws the "unknown.symbol" drawing, never a broken image.
// Read-only after loading; safe from any thread.
#pragma once

#include <filesystem>
#include <set>
#include <string>
#include <string_view>

namespace web {

class IconTable {
 public:
  IconTable() = default;
  // Lists the drawings in `<assetDirectory>/icons`.
  static IconTable load(const std::filesystem::path& assetDirectory);

  bool contains(std::string_view name) const { return names_.count(std::string(name)) > 0; }
  // The URL path of the drawing for a name, "/assets/icons/<name>.svg", percent-encoded.
  std::string url(std::string_view name) const;
  size_t size() const { return names_.size(); }

 private:
  std::set<std::string> names_;
};

}  // namespace web

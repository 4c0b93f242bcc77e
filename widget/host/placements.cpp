#include "widget/host/placements.h"

#include <nlohmann/json.hpp>

#include "platform/foundation/paths.h"

namespace brivel::widgethost {

platform::ui::WidgetFamily slotFamily(std::size_t slot) {
  return slot == kInlineSlot ? platform::ui::WidgetFamily::accessoryInline
                             : platform::ui::WidgetFamily::accessoryCircular;
}

Placements PlacementFile::load(std::string* problem) const {
  Placements placements;
  auto bytes = platform::readFileContents(path_);
  if (!bytes) return placements;
  auto json = nlohmann::json::parse(bytes->begin(), bytes->end(), nullptr, /*allow_exceptions=*/false);
  if (!json.is_object()) {
    if (problem) *problem = path_.string() + " is not readable; the lock screen starts empty";
    return placements;
  }
  auto kindAt = [](const nlohmann::json& value) -> std::optional<std::string> {
    if (value.is_string() && !value.get_ref<const std::string&>().empty()) return value.get<std::string>();
    return std::nullopt;
  };
  if (auto it = json.find("inline"); it != json.end()) placements[kInlineSlot] = kindAt(*it);
  if (auto it = json.find("circular"); it != json.end() && it->is_array()) {
    for (std::size_t i = 0; i < kCircularSlots && i < it->size(); ++i) placements[1 + i] = kindAt((*it)[i]);
  }
  return placements;
}

platform::Status PlacementFile::save(const Placements& placements) const {
  auto kindJson = [](const std::optional<std::string>& kind) { return kind ? nlohmann::json(*kind) : nlohmann::json(); };
  nlohmann::json circular = nlohmann::json::array();
  for (std::size_t i = 0; i < kCircularSlots; ++i) circular.push_back(kindJson(placements[1 + i]));
  nlohmann::json json{{"inline", kindJson(placements[kInlineSlot])}, {"circular", std::move(circular)}};
  std::string text = json.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
  return platform::writeFileAtomically(path_, reinterpret_cast<const uint8_t*>(text.data()), text.size());
}

}  // namespace brivel::widgethost

// The lock screen's placements: which widget kind fills which slot, kept in one JSON file
// under the host's data directory so that they survive a restart.
//
//   {"inline": "WidgetAccessoryInlineBrivelTitle", "circular": ["WidgetAccessoryCircularBrivelIcon", null, null, null]}
//
// Threads: any, one caller at a time.
#pragma once

#include <array>
#include <filesystem>
#include <optional>
#include <string>

#include "platform/foundation/expected.h"
#include "platform/ui/widget_kit.h"

namespace brivel::widgethost {

// The lock screen's places: one inline slot above the clock, four circular ones below it.
inline constexpr std::size_t kCircularSlots = 4;
inline constexpr std::size_t kSlotCount = 1 + kCircularSlots;
inline constexpr std::size_t kInlineSlot = 0;

platform::ui::WidgetFamily slotFamily(std::size_t slot);

using Placements = std::array<std::optional<std::string>, kSlotCount>;

class PlacementFile {
 public:
  explicit PlacementFile(std::filesystem::path path) : path_(std::move(path)) {}

  // The saved placements; none when the file is missing. A damaged file gives none and
  // `problem` says so (the file is left as it is until the next save replaces it).
  Placements load(std::string* problem = nullptr) const;
  // Writes atomically; the Error says why it could not.
  platform::Status save(const Placements& placements) const;

  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

}  // namespace brivel::widgethost

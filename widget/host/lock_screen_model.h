// LockScreenModel: what the widget host's lock screen shows and how it asks widgets for it.
//
// Each slot holds at most one widget, of the slot's family. When a widget is placed, and for
// every placed widget at start, the model asks its provider for a timeline and shows the
// entry whose date has come (the latest such, else the first). It asks again only as the
// timeline's policy says: at its end, after a date, or, under `never`, not at all. Placements
// are written to the placement file at every change.
//
// Threads: main thread. A provider may complete on another thread; its answer is moved to
// the main queue.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/ui/observable.h"
#include "platform/ui/view.h"
#include "platform/ui/widget_kit.h"
#include "widget/host/placements.h"
#include "widget/host/widget_plugin.h"

namespace brivel::widgethost {

class LockScreenModel : public platform::ui::ObservableObject,
                        public std::enable_shared_from_this<LockScreenModel> {
 public:
  LockScreenModel(std::shared_ptr<const WidgetPlugin> plugin, PlacementFile file);

  // Shows the saved placements (dropping kinds the plug-in no longer offers) and asks each
  // placed widget for its timeline. Call once, on the main thread.
  void start();

  // The widgets that fit `slot`, in the bundle's order.
  std::vector<const platform::ui::WidgetConfiguration*> widgetsFor(std::size_t slot) const;
  // Places the widget of `kind` in `slot`; false when the slot does not take that widget.
  bool place(std::size_t slot, const std::string& kind);
  void remove(std::size_t slot);

  const std::optional<std::string>& placed(std::size_t slot) const { return slots_.at(slot).kind; }
  // The face the slot shows now; empty while its timeline has not come.
  platform::ui::View currentFace(std::size_t slot) const;
  // How many timelines the slot's widgets were asked for.
  std::uint64_t timelineRequests(std::size_t slot) const { return slots_.at(slot).requests; }

  // Opens the gallery of `slot` and asks its widgets for their snapshots.
  void openGallery(std::size_t slot);
  void closeGallery() { gallerySlot = std::nullopt; }
  // The gallery's picture of a widget: its snapshot, or its placeholder until that comes.
  platform::ui::View galleryFace(const platform::ui::WidgetConfiguration& widget, std::size_t slot) const;

  // The slot whose gallery is open, if any.
  platform::ui::Published<std::optional<std::size_t>> gallerySlot{*this, std::nullopt};
  // The last placement that could not be saved, shown on the lock screen.
  const std::optional<std::string>& saveProblem() const { return saveProblem_; }

 private:
  struct Slot {
    std::optional<std::string> kind;
    std::optional<platform::ui::WidgetConfiguration::FaceTimeline> timeline;
    std::uint64_t generation = 0;  // bumped on every change, so stale answers are dropped
    std::uint64_t requests = 0;
  };

  void requestTimeline(std::size_t slot);
  void scheduleReload(std::size_t slot);
  void persist();

  std::shared_ptr<const WidgetPlugin> plugin_;
  PlacementFile file_;
  std::array<Slot, kSlotCount> slots_;
  std::optional<std::string> saveProblem_;
  std::map<std::string, platform::ui::View> snapshots_;  // by kind
};

}  // namespace brivel::widgethost

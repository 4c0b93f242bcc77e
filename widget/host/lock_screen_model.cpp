#include "widget/host/lock_screen_model.h"

#include <algorithm>
#include <iostream>

#include "platform/dispatch/clock.h"
#include "platform/dispatch/queue.h"

namespace brivel::widgethost {

using platform::ui::WidgetConfiguration;

LockScreenModel::LockScreenModel(std::shared_ptr<const WidgetPlugin> plugin, PlacementFile file)
    : plugin_(std::move(plugin)), file_(std::move(file)) {}

void LockScreenModel::start() {
  std::string problem;
  Placements saved = file_.load(&problem);
  if (!problem.empty()) std::cerr << "brivel-widget-host: " << problem << "\n";
  for (std::size_t slot = 0; slot < kSlotCount; ++slot) {
    const auto& kind = saved[slot];
    const WidgetConfiguration* widget = kind ? plugin_->widget(*kind) : nullptr;
    if (widget && widget->supports(slotFamily(slot))) {
      slots_[slot].kind = kind;
      requestTimeline(slot);
    }
  }
}

std::vector<const WidgetConfiguration*> LockScreenModel::widgetsFor(std::size_t slot) const {
  std::vector<const WidgetConfiguration*> fitting;
  for (const auto& widget : plugin_->widgets()) {
    if (widget.supports(slotFamily(slot))) fitting.push_back(&widget);
  }
  return fitting;
}

bool LockScreenModel::place(std::size_t slot, const std::string& kind) {
  const WidgetConfiguration* widget = slot < kSlotCount ? plugin_->widget(kind) : nullptr;
  if (!widget || !widget->supports(slotFamily(slot))) return false;
  objectWillChange().send();
  Slot& s = slots_[slot];
  s.kind = kind;
  s.timeline.reset();
  ++s.generation;
  persist();
  requestTimeline(slot);
  return true;
}

void LockScreenModel::remove(std::size_t slot) {
  if (slot >= kSlotCount || !slots_[slot].kind) return;
  objectWillChange().send();
  Slot& s = slots_[slot];
  s.kind.reset();
  s.timeline.reset();
  ++s.generation;
  persist();
}

void LockScreenModel::openGallery(std::size_t slot) {
  if (slot >= kSlotCount) return;
  gallerySlot = slot;
  std::weak_ptr<LockScreenModel> weak = weak_from_this();
  for (const WidgetConfiguration* widget : widgetsFor(slot)) {
    widget->snapshot({slotFamily(slot), true}, [weak, kind = widget->kind](platform::ui::View face) {
      platform::DispatchQueue::main()->async([weak, kind, face = std::move(face)] {
        auto self = weak.lock();
        if (!self) return;
        self->objectWillChange().send();
        self->snapshots_[kind] = face;
      });
    });
  }
}

platform::ui::View LockScreenModel::galleryFace(const WidgetConfiguration& widget, std::size_t slot) const {
  if (auto it = snapshots_.find(widget.kind); it != snapshots_.end()) return it->second;
  return widget.placeholder({slotFamily(slot), true});
}

platform::ui::View LockScreenModel::currentFace(std::size_t slot) const {
  const Slot& s = slots_.at(slot);
  if (!s.timeline || s.timeline->faces.empty()) return {};
  const auto now = platform::Clock::wallNow();
  const WidgetConfiguration::Face* current = &s.timeline->faces.front();
  for (const auto& face : s.timeline->faces) {
    if (face.date <= now && face.date >= current->date) current = &face;
  }
  return current->view;
}

void LockScreenModel::requestTimeline(std::size_t slot) {
  Slot& s = slots_[slot];
  const WidgetConfiguration* widget = s.kind ? plugin_->widget(*s.kind) : nullptr;
  if (!widget) return;
  ++s.requests;
  std::weak_ptr<LockScreenModel> weak = weak_from_this();
  const std::uint64_t generation = s.generation;
  widget->timeline({slotFamily(slot), false}, [weak, slot, generation](WidgetConfiguration::FaceTimeline timeline) {
    platform::DispatchQueue::main()->async([weak, slot, generation, timeline = std::move(timeline)]() mutable {
      auto self = weak.lock();
      if (!self || self->slots_[slot].generation != generation) return;
      self->objectWillChange().send();
      self->slots_[slot].timeline = std::move(timeline);
      self->scheduleReload(slot);
    });
  });
}

void LockScreenModel::scheduleReload(std::size_t slot) {
  const Slot& s = slots_[slot];
  const auto& timeline = *s.timeline;
  std::optional<std::chrono::system_clock::time_point> when;
  switch (timeline.policy.kind) {
    case platform::ui::TimelineReloadPolicy::Kind::never: break;
    case platform::ui::TimelineReloadPolicy::Kind::after: when = timeline.policy.date; break;
    case platform::ui::TimelineReloadPolicy::Kind::atEnd:
      if (!timeline.faces.empty()) {
        when = std::max_element(timeline.faces.begin(), timeline.faces.end(), [](const auto& a, const auto& b) {
                 return a.date < b.date;
               })->date;
      }
      break;
  }
  if (!when) return;
  // Never sooner than a second from now, so a timeline dated in the past cannot spin.
  auto delay = std::max<platform::Duration>(*when - platform::Clock::wallNow(), std::chrono::seconds(1));
  std::weak_ptr<LockScreenModel> weak = weak_from_this();
  const std::uint64_t generation = s.generation;
  platform::DispatchQueue::main()->asyncAfter(delay, [weak, slot, generation] {
    auto self = weak.lock();
    if (self && self->slots_[slot].generation == generation) self->requestTimeline(slot);
  });
}

void LockScreenModel::persist() {
  Placements placements;
  for (std::size_t slot = 0; slot < kSlotCount; ++slot) placements[slot] = slots_[slot].kind;
  if (platform::Status saved = file_.save(placements); !saved.ok()) {
    saveProblem_ = "The lock screen could not be saved: " + saved.error().localizedDescription();
  } else {
    saveProblem_.reset();
  }
}

}  // namespace brivel::widgethost

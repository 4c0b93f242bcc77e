#include "widget/host/lock_screen.h"

#include <ctime>
#include <string>

#include "platform/dispatch/clock.h"

namespace brivel::widgethost {

using namespace platform::ui;

namespace {

std::string slotName(std::size_t slot) {
  return slot == kInlineSlot ? std::string("inline") : "circular-" + std::to_string(slot);
}

// One place on the lock screen: the placed widget's face, or an invitation to add one.
View slotView(const std::shared_ptr<LockScreenModel>& model, std::size_t slot) {
  const bool isInline = slot == kInlineSlot;
  View content;
  if (model->placed(slot)) {
    content = model->currentFace(slot);
  } else {
    content = isInline ? Label(verbatim("Add Widget"), "plus") : View(SystemImage("plus"));
  }
  Frame frame;
  if (isInline) {
    frame.minHeight = 28;
  } else {
    frame.width = 64;
    frame.height = 64;
  }
  View label = content.frame(frame);
  if (!isInline) label = label.background(Color::system("regularMaterial"), Shape::circle());
  const std::string name = model->placed(slot) ? *model->placed(slot) : "empty";
  // A placed widget is named by its display name, an empty place by what it offers.
  std::string spoken = "Add Widget";
  for (const auto* widget : model->widgetsFor(slot)) {
    if (model->placed(slot) == widget->kind) spoken = widget->displayName;
  }
  return Button(label, [model, slot] { model->openGallery(slot); })
      .buttonStyle(ButtonStyle::plain)
      .accessibilityLabel(verbatim(spoken))
      .accessibilityIdentifier("slot-" + slotName(slot) + "-" + name);
}

View gallery(const std::shared_ptr<LockScreenModel>& model, std::size_t slot) {
  auto widgets = model->widgetsFor(slot);
  View choices = ForEach(widgets, [](const WidgetConfiguration* w) { return w->kind; },
                         [model, slot](const WidgetConfiguration* w) {
                           View entry = VStack({model->galleryFace(*w, slot), Verbatim(w->displayName).font(Font::headline),
                                                Text(w->description).foregroundStyle(Color::system("secondary"))},
                                               8, Alignment::leading);
                           return Button(entry,
                                         [model, slot, kind = w->kind] {
                                           model->place(slot, kind);
                                           model->closeGallery();
                                         })
                               .accessibilityIdentifier("gallery-" + w->kind);
                         });
  const TextContent header = verbatim(slot == kInlineSlot ? "Above the clock" : "Below the clock");
  View list = List({Section({widgets.empty() ? Verbatim("No widget fits this place.") : choices}, Text(header)),
                    when(model->placed(slot).has_value(), [&] {
                      return Section({Button(verbatim("Remove Widget"),
                                             [model, slot] {
                                               model->remove(slot);
                                               model->closeGallery();
                                             },
                                             ButtonRole::destructive)});
                    })});
  return NavigationStack(list.navigationTitle(verbatim("Add Widget"))
                             .navigationBarTitleDisplayMode(TitleDisplayMode::inline_)
                             .toolbar({ToolbarItem(ToolbarPlacement::topBarTrailing,
                                                   Button(verbatim("Done"), [model] { model->closeGallery(); }))}));
}

}  // namespace

ClockText clockText(std::chrono::system_clock::time_point time) {
  const std::time_t t = std::chrono::system_clock::to_time_t(time);
  std::tm local{};
  localtime_r(&t, &local);
  char date[64];
  char clock[16];
  std::strftime(date, sizeof date, "%A, %e %B", &local);
  std::strftime(clock, sizeof clock, "%H:%M", &local);
  std::string dateText = date;
  if (auto pos = dateText.find("  "); pos != std::string::npos) dateText.erase(pos, 1);  // "%e" pads with a space
  return {dateText, clock};
}

View LockScreen::body(Context&) const {
  auto m = model;
  const ClockText clock = clockText(platform::Clock::wallNow());
  std::vector<View> circular;
  for (std::size_t slot = 1; slot < kSlotCount; ++slot) circular.push_back(slotView(m, slot));
  View screen = VStack(
      {Verbatim(clock.date).font(Font::headline), slotView(m, kInlineSlot),
       Verbatim(clock.time).font(Font::largeTitle).bold().accessibilityIdentifier("clock"), HStack(circular, 16),
       when(m->saveProblem().has_value(), [&] { return Verbatim(*m->saveProblem()).foregroundStyle(Color::system("red")); }),
       Spacer()},
      12);
  Binding<bool> galleryShown([m] { return m->gallerySlot.get().has_value(); },
                             [m](bool shown) {
                               if (!shown) m->closeGallery();
                             });
  Frame fill;
  fill.maxWidth = infinity;
  fill.maxHeight = infinity;
  fill.alignment = Alignment::top;
  return screen.padding(Edge::top, 48)
      .frame(fill)
      .sheet(galleryShown, [m] {
        const auto slot = m->gallerySlot.get();
        return slot ? gallery(m, *slot) : View();
      });
}

}  // namespace brivel::widgethost

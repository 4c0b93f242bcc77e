#include "Brivel/shell/settings_screen.h"

#include <memory>

#include "Brivel/model/user_defaults_manager.h"
#include "Brivel/shell/localized_keys.h"
#include "Brivel/shell/palette.h"
#include "Brivel/shell/review_handler.h"
#include "Brivel/shell/support_links.h"
#include "Brivel/shell/view_helpers.h"
#include "Brivel/shell/view_modifiers.h"
#include "platform/foundation/bundle.h"

namespace brivel {

using namespace platform::ui;

namespace {

View rowTitle(std::string_view key) {
  return LocalizedText(key) | SubtitleFontStyleModifier{Font::subheadline, Color::system("primary"), false, TextAlignment::leading};
}

View rowIcon(SFSymbols symbol, std::string_view colorName) {
  return SymbolImage(symbol) | ListRoundedIconStyleModifier{assetColor(colorName), true};
}

// A support row's title: the text, a spacer and a chevron in the accent colour.
View chevronTitle(std::string_view key, const Color& accent) {
  return HStack({rowTitle(key), Spacer(),
                 SymbolImage(SFSymbols::chevronForward)
                     .symbolRenderingMode(SymbolRenderingMode::monochrome)
                     .foregroundStyle(accent)
                     .font(Font::callout)});
}

// The close button of a sheet: turns the presenter's flag off.
View xmarkCloseButton(const Binding<bool>& isPresented) {
  return Button(SymbolImage(SFSymbols::xmark), [isPresented] { isPresented.set(!isPresented.get()); })
      .accessibilityIdentifier("close");
}

}  // namespace

std::string appVersionText() {
  auto bundle = platform::Bundle::main();
  if (bundle) {
    auto value = bundle->objectForInfoDictionaryKey("CFBundleShortVersionString");
    if (value && value->asString()) return *value->asString();
  }
  return "unknown version";
}

View SettingsScreen::body(Context& ctx) const {
  auto settings = ctx.environmentObject<UserDefaultsManager>();
  const Color accent = ctx.accentColor();

  Binding<bool> popView([settings] { return settings->popViewAfterSaveAndUpdate(); },
                        [settings](bool on) { settings->setPopViewAfterSaveAndUpdate(on); });

  View general = Section({Toggle(popView, Label(rowTitle(localizable_dismissAutomatically),
                                                rowIcon(SFSymbols::checkmark, "sonicBlue")))
                              .accessibilityIdentifier("dismissAutomatically")},
                         LocalizedText(localizable_general));
  View cloud = Section({Label(rowTitle(localizable_icloudDescription), rowIcon(SFSymbols::icloud, "sonicBlue"))},
                       Verbatim("iCloud"), LocalizedText(localizable_icloudDescriptionFooter));
  View rate = Button(Label(chevronTitle(localizable_rateInTheAppStore, accent), rowIcon(SFSymbols::heart, "sonicRed")),
                     [] { ReviewHandler::openWriteReviewLink(); })
                  .buttonStyle(ButtonStyle::plain);
  View feedback = Link(kSupportMailURL, Label(chevronTitle(localizable_feedback, accent),
                                              rowIcon(SFSymbols::questionmarkBubble, "sonicGreen")))
                      .buttonStyle(ButtonStyle::plain);
  View support = Section({rate, feedback}, LocalizedText(localizable_support));

  View version = Verbatim(appVersionText()) | NoteFontStyleModifier{Font::caption, assetColor("sonicBlue"), false, TextAlignment::leading};

  View list = List({general, cloud, support}) |
              NavigationBarTitleDisplayModifier{TitleDisplayMode::inline_, std::string(localizable_settings)};
  return NavigationStack(list.toolbar({ToolbarItem(ToolbarPlacement::topBarLeading, xmarkCloseButton(dismiss)),
                                       ToolbarItem(ToolbarPlacement::primaryAction, version)}));
}

}  // namespace brivel

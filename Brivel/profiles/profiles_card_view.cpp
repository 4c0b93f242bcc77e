#include "Brivel/profiles/profiles_card_view.h"

#include <string>

#include "Brivel/collections/coloured_circle_symbol_view.h"
#include "Brivel/profiles/profile_ordering.h"
#include "Brivel/profiles/profiles_item_screen.h"
#include "Brivel/shell/localized_keys.h"
#include "Brivel/shell/palette.h"
#include "Brivel/shell/tips.h"
#include "Brivel/shell/view_helpers.h"
#include "Brivel/shell/view_modifiers.h"
#include "platform/foundation/text.h"

namespace brivel {

using namespace platform::ui;

namespace {

View figureText(const std::string& text, const Color& color) {
  return Verbatim(text) | SubtitleFontStyleModifier{Font::subheadline, color, false, TextAlignment::leading};
}

View marker(const char* colorName, std::optional<SFSymbols> symbol = std::nullopt) {
  return View(ColouredCircleSymbolView{.color = assetColor(colorName), .symbol = symbol, .isProfileCard = true});
}

View figuresRow(const ProfileEntity& profile) {
  const double balance = spendablePerYear(profile);
  const bool positive = balance > 0;
  View balanceLine = HStack({marker(positive ? "sonicGreen" : "sonicRed"),
                             figureText(platform::formatCurrency(balance), Color::system(positive ? "green" : "red"))});
  View incomeLine = HStack({marker("sonicYellow", SFSymbols::arrowshapeDown),
                            figureText(platform::formatCurrency(profile.incomePerYear()), Color::system("primary"))});
  View paymentsLine =
      HStack({Text(localized("%lld", {std::to_string(profile.billsPerYear())})) |
                  SubtitleFontStyleModifier{Font::subheadline, Color::system("secondary"), false, TextAlignment::leading},
              marker("sonicBlue")});
  View costLine = HStack({figureText(platform::formatCurrency(profile.costPerYear()), Color::system("secondary")),
                          marker("sonicYellow", SFSymbols::arrowshapeUp)});
  return HStack({VStack({balanceLine, incomeLine}, 6.0, Alignment::leading), Spacer(),
                 VStack({paymentsLine, costLine}, 6.0, Alignment::trailing)});
}

}  // namespace

View profileHeaderLabel(const ProfileEntity& profile) {
  return Label(Verbatim(profile.name()) | TitleFontStyleModifier{Font::headline, Color::system("white"), true, TextAlignment::leading},
               SymbolImage(SFSymbols::personCropCircleFill)
                   .font(Font::title2)
                   .foregroundStyle(Color::system("white"))
                   .shadow(Color::system("black").withOpacity(0.33), 0.6, 0, 0));
}

View ProfilesCardView::body(Context& ctx) const {
  auto showDialog = ctx.state<bool>("showDeleteDialog", showDeleteDialog);
  auto dialogHaptic = ctx.state<bool>("deleteDialogHaptic", deleteDialogHaptic);
  auto tip = std::make_shared<ProfileActionsTip>();
  const auto card = profile;
  const bool archived = card->isArchived();

  auto retireTip = [tip] { tip->invalidate("actionPerformed"); };
  auto archive = [card, retireTip, action = archiveProfileAction] {
    retireTip();
    if (action) action(card);
  };
  auto askToDelete = [dialogHaptic, showDialog, retireTip] {
    retireTip();
    dialogHaptic.toggle();
    showDialog.toggle();
  };
  auto remove = [card, action = removeProfileAction] {
    if (action) action(card);
  };
  auto editLink = [card, retireTip](const char* id) {
    return NavigationLink(Label(keyText(localizable_edit), std::string(rawValue(SFSymbols::pencil))), [card, retireTip] {
             return View(ProfilessItemScreen{.viewInSheet = false, .profile = card}).onAppear(retireTip);
           })
        .tint(assetColor("sonicBlue"))
        .accessibilityIdentifier(id);
  };
  auto archiveLabel = [archived](const char* image, const char* slashedImage) {
    return Label(LocalizedText(archived ? localizable_unarchive : localizable_archive),
                 AssetImage(archived ? slashedImage : image));
  };

  std::vector<View> menu{
      when(!archived, [&] { return editLink("menu.edit"); }),
      Button(archiveLabel("archivebox", "archivebox.slash"), archive)
          .tint(assetColor("tailsOrange"))
          .accessibilityIdentifier("menu.archive"),
      Divider(),
      Button(Label(keyText(localizable_delete), std::string(rawValue(SFSymbols::trash))), askToDelete,
             ButtonRole::destructive)
          .accessibilityIdentifier("menu.delete")};
  std::vector<View> swipe{
      when(!archived, [&] { return editLink("swipe.edit"); }),
      Button(archiveLabel("archivebox.fill", "archivebox.fill.slash"), archive)
          .tint(assetColor("tailsOrange"))
          .accessibilityIdentifier("swipe.archive"),
      Button(Label(keyText(localizable_delete), std::string(rawValue(SFSymbols::trash))), askToDelete)
          .tint(assetColor("sonicRed"))
          .accessibilityIdentifier("swipe.delete")};

  const auto tapped = tappedAction;
  View header =
      Button(LabeledContent(profileHeaderLabel(*card),
                            SymbolImage(SFSymbols::chevronForward).font(Font::subheadline).foregroundStyle(Color::system("white"))),
             [tapped] {
               if (tapped) tapped();
             })
          .accessibilityIdentifier("profileCard")
          .listRowSeparator(Visibility::hidden)
          .listRowBackground(colorFromAssetName(card->color()))
          .sensoryFeedback(SensoryFeedback::warning, dialogHaptic.get())
          .contextMenu(menu)
          .swipeActions(Edge::trailing, true, swipe)
          .confirmationDialog(keyText(localizable_deleteProfile), showDialog.binding(), Visibility::visible,
                              {Button(keyText(localizable_cancel), [] {}, ButtonRole::cancel),
                               Button(keyText(localizable_delete), remove, ButtonRole::destructive)},
                              LocalizedText(localizable_deleteProfileMessage));
  return Group({header, figuresRow(*card)});
}

}  // namespace brivel

#include "Brivel/bills/bill_entity_view.h"

#include <optional>
#include <string>
#include <vector>

#include "Brivel/bills/bill_deletion.h"
#include "Brivel/bills/bill_entity_item_screen.h"
#include "Brivel/collections/coloured_circle_symbol_view.h"
#include "Brivel/model/bank_account_entity.h"
#include "Brivel/model/category_entity.h"
#include "Brivel/shell/localized_keys.h"
#include "Brivel/shell/model_environment.h"
#include "Brivel/shell/palette.h"
#include "Brivel/shell/view_helpers.h"
#include "Brivel/shell/view_modifiers.h"
#include "platform/foundation/text.h"
#include "platform/ui/services.h"

namespace brivel {

using namespace platform::ui;

View editText() { return LocalizedText(localizable_edit); }
View copyNoteText() { return LocalizedText(localizable_copyNote); }
View deleteText() { return LocalizedText(localizable_delete); }

namespace {

Color primary() { return Color::system("primary"); }

View dot(std::string_view colorName) {
  return View(ColouredCircleSymbolView{.color = assetColor(colorName), .symbol = std::nullopt, .isProfileCard = false});
}

// One line of the card: full width, starting at the leading edge.
View line(std::vector<View> children) {
  Frame frame;
  frame.maxWidth = infinity;
  frame.alignment = Alignment::leading;
  return HStack(std::move(children)).frame(frame);
}

View column(std::vector<View> children) { return VStack(std::move(children), 0.0, Alignment::leading); }

View nameText(const BillEntity& bill) {
  return (Verbatim(platform::trimmingWhitespaceAndNewlines(bill.name())) |
          SubtitleFontStyleModifier{Font::subheadline, primary(), true, TextAlignment::leading})
      .minimumScaleFactor(0.6)
      .lineLimit(1);
}

View costGroup(const BillEntity& bill, TextAlignment alignment) {
  View amount = (Verbatim(platform::formatCurrency(bill.cost())) |
                 SubtitleFontStyleModifier{Font::subheadline, primary(), false, alignment})
                    .minimumScaleFactor(0.6)
                    .lineLimit(1);
  return HStack({amount, dot("sonicYellow")});
}

View caption(const std::string& text, const std::string& colorName) {
  return Verbatim(text) | NoteFontStyleModifier{Font::caption, colorFromAssetName(colorName), false, TextAlignment::leading};
}

View noteLine(const std::optional<std::string>& note) {
  return when(note && !note->empty(), [&] {
    return line({dot("tailsOrange"), (Verbatim(*note) | SubtitleFontStyleModifier{Font::subheadline, primary(), false,
                                                                                  TextAlignment::leading})
                                         .multilineTextAlignment(TextAlignment::leading)});
  });
}

View fullLayout(const BillEntity& bill, CollectionFilterType filter) {
  auto account = bill.bankAccount();
  auto category = bill.category();
  const bool byCategory = filter == CollectionFilterType::category;
  View accountCaption = when(byCategory && account && !account->number().empty(),
                             [&] { return caption(account->number(), account->color()); });
  View categoryCaption = when(!byCategory && category && !category->name().empty(),
                              [&] { return caption(category->name(), category->color()); });
  const OccurringType occurring = bill.occurring();
  View occurrence = LocalizedText(bill.occurringLocalizedKey()) |
                    SubtitleFontStyleModifier{Font::subheadline, primary(), true, TextAlignment::leading};
  View quarter = when(occurring == OccurringType::quarterly, [&] {
    return LocalizedText(bill.quarterlyLocalizedKey()) | NoteFontStyleModifier{Font::caption, primary(), false, TextAlignment::leading};
  });
  View month = when(occurring == OccurringType::yearly, [&] {
    return LocalizedText(bill.yearlyLocalizedKey()) | NoteFontStyleModifier{Font::caption, primary(), false, TextAlignment::leading};
  });
  return Group({line({dot("sonicBlue"), column({nameText(bill), accountCaption, categoryCaption})}),
                line({dot("sonicRed"), column({occurrence, quarter, month}), Spacer(), costGroup(bill, TextAlignment::leading)}),
                noteLine(bill.note())});
}

View compactLayout(const BillEntity& bill, bool showOccurring) {
  auto category = bill.category();
  View categoryCaption =
      when(category && !category->name().empty(), [&] { return caption(category->name(), category->color()); });
  View period = when(showOccurring, [&] {
    const OccurringType occurring = bill.occurring();
    auto style = SubtitleFontStyleModifier{Font::subheadline, primary(), false, TextAlignment::leading};
    return line({dot("sonicRed"),
                 when(occurring == OccurringType::quarterly, [&] { return LocalizedText(bill.quarterlyLocalizedKey()) | style; }),
                 when(occurring == OccurringType::yearly, [&] { return LocalizedText(bill.yearlyLocalizedKey()) | style; })});
  });
  return Group({line({dot("sonicBlue"), column({nameText(bill), categoryCaption}), Spacer(), costGroup(bill, TextAlignment::trailing)}),
                period, noteLine(bill.note())});
}

}  // namespace

View BillEntityView::body(Context& ctx) const {
  auto copyNoteHaptic = ctx.state<bool>("copyNoteHaptic", false);
  auto editBill = ctx.state<bool>("editBill", false);
  auto showDeleteDialog = ctx.state<bool>("showDeleteDialog", false);
  auto deleteDialogHaptic = ctx.state<bool>("deleteDialogHaptic", false);
  auto container = modelContainer(ctx);

  auto shown = bill;
  const std::optional<std::string> note = bill->note();
  const bool hasNote = note && !note->empty();

  auto edit = [editBill] { editBill.toggle(); };
  auto copyNote = [note, copyNoteHaptic] {
    Pasteboard::general().setString(note.value_or(""));
    copyNoteHaptic.toggle();
  };
  auto requestDelete = [deleteDialogHaptic, showDeleteDialog] {
    deleteDialogHaptic.toggle();
    showDeleteDialog.toggle();
  };
  auto detail = [shown] { return View(BillEntityItemScreen{.bill = shown, .shownInSheet = false}); };
  auto editControl = [&](View label) {
    return isEditable ? Button(std::move(label), edit) : NavigationLink(std::move(label), detail);
  };

  std::vector<View> menu{editControl(Label(editText(), SystemImage("pencil"))).accessibilityIdentifier("editBill"),
                         when(hasNote, [&] {
                           return Button(Label(copyNoteText(), SystemImage("doc.on.doc")), copyNote)
                               .accessibilityIdentifier("copyNote");
                         }),
                         when(isDeleteable, [] { return Divider(); }),
                         when(isDeleteable, [&] {
                           return Button(Label(deleteText(), SystemImage("trash")), requestDelete, ButtonRole::destructive)
                               .accessibilityIdentifier("deleteBill");
                         })};
  std::vector<View> swipe{editControl(SystemImage("pencil")).tint(assetColor("sonicBlue")),
                          when(hasNote, [&] { return Button(SystemImage("doc.on.doc"), copyNote).tint(assetColor("tailsOrange")); }),
                          when(isDeleteable, [&] { return Button(SystemImage("trash"), requestDelete).tint(assetColor("sonicRed")); })};

  auto confirmDelete = [shown, container] { scheduleBillDeletion(shown, container); };
  View card = VStack({compactMode.isOn ? compactLayout(*bill, compactMode.showOccurring)
                                       : fullLayout(*bill, collectionFilterType)},
                     12.0, Alignment::center)
                  .padding()
                  .background(View(ShapeView(Shape::rectangle(), Color::system("regularMaterial"))))
                  .attr(Attr::backgroundIgnoresSafeArea, true);
  return (card | CorneredRadiusModifier{25})
      .sensoryFeedback(SensoryFeedback::success, copyNoteHaptic.get())
      .sensoryFeedback(SensoryFeedback::warning, deleteDialogHaptic.get())
      .contextMenu(std::move(menu))
      .swipeActions(Edge::trailing, true, std::move(swipe))
      .confirmationDialog(keyText(localizable_deleteBill), showDeleteDialog.binding(), Visibility::visible,
                          {Button(keyText(localizable_cancel), [] {}, ButtonRole::cancel),
                           Button(keyText(localizable_delete), confirmDelete, ButtonRole::destructive)
                               .accessibilityIdentifier("confirmDelete")},
                          LocalizedText(localizable_deleteBillMessage))
      .sheet(editBill.binding(), [shown] {
        return View(BillEntityItemScreen{.bill = shown,
                                         .shownInSheet = true}).presentationSizing(PresentationSizing::form);
      });
}

}  // namespace brivel

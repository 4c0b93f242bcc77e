#include "Brivel/bills/collection_list_screen.h"

#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "Brivel/bills/bill_entity_add_screen.h"
#include "Brivel/bills/bill_entity_item_screen.h"
#include "Brivel/bills/bill_entity_view.h"
#include "Brivel/bills/bill_list_model.h"
#include "Brivel/bills/bill_sections.h"
#include "Brivel/bills/bill_sort_menu.h"
#include "Brivel/bills/profile_sheets.h"
#include "Brivel/collections/toolbar_buttons.h"
#include "Brivel/model/profile_manager.h"
#include "Brivel/model/user_defaults_manager.h"
#include "Brivel/shell/entity_unavailable_view.h"
#include "Brivel/shell/localized_keys.h"
#include "Brivel/shell/palette.h"
#include "Brivel/shell/view_helpers.h"
#include "Brivel/shell/view_modifiers.h"
#include "platform/ui/memo.h"

namespace brivel {

using namespace platform::ui;

namespace {

Frame fullWidth(Alignment alignment) {
  Frame frame;
  frame.maxWidth = infinity;
  frame.alignment = alignment;
  return frame;
}

// The header of an account, category or uncategorized section: a white label on a capsule.
View sectionHeaderCapsule(TextContent title, std::string symbol, Color color) {
  View text = (Text(std::move(title)) | TitleFontStyleModifier{Font::headline, Color::system("white"), true, TextAlignment::leading})
                  .padding(Edge::trailing, 3);
  View icon = SystemImage(std::move(symbol))
                  .symbolVariant(SymbolVariant::circleFill)
                  .font(Font::title2)
                  .foregroundStyle(Color::system("white"))
                  .shadow(Color::system("black").withOpacity(0.33), 0.6);
  return (Label(text, icon).padding(Edge::vertical, 6) | HorizontalPaddingModifier{Edge::horizontal, 9, 1})
      .background(View(ShapeView(Shape::capsule(true), color.withGradient())))
      .frame(fullWidth(Alignment::leading));
}

TextContent uncategorizedTitle() { return keyText(localizable_uncategorized); }

// The row of one bill: its card, leading to the detail screen. Built again only when the
// bill, the list's filter or something the card read changed.
View billRow(const std::shared_ptr<BillEntity>& bill, CollectionFilterType filter) {
  return Memo(std::pair(bill, filter), [bill, filter] {
    return NavigationLink(View(BillEntityView{.bill = bill, .collectionFilterType = filter,
                                              .compactMode = {.isOn = false, .showOccurring = false},
                                              .isDeleteable = true, .isEditable = false}),
                          [bill] { return View(BillEntityItemScreen{.bill = bill, .shownInSheet = false}); })
        .buttonStyle(ButtonStyle::plain)
        .accessibilityIdentifier("billRow")
        .listRowSeparator(Visibility::hidden)
        .listRowInsets(4, 9, 4, 9);
  });
}

// The rows of a list of bills; a long list builds only the rows around what the page shows.
// A bill's row is the same row in search results and in any section, so typing in the search
// field or regrouping repeats it rather than building it again.
View billRows(const BillRowGroup& group, CollectionFilterType filter) {
  return LazyForEach(
      group.size(), [group](std::size_t i) { return group.key(i); },
      [group, filter](std::size_t i) { return billRow(group.bill(i), filter); }, RowIdentity::list);
}

View noResultsState() {
  return Section({View(EntityUnavailableView{keyText(localizable_noBillsFound),
                                             AssetImage("magnifyingglass.circle.fill.badge.questionmark"),
                                             keyText(localizable_changeYourSearchDescription), std::nullopt, {}})
                      .frame(fullWidth(Alignment::center))
                      .listRowSeparator(Visibility::hidden)});
}

View groupedContent(const std::shared_ptr<ProfileEntity>& profile, const std::string& searchText) {
  const auto model = BillListModel::shared().content(profile, searchText);
  const BillListContent& content = model->content;
  const CollectionFilterType filter = profile->collectionFilterType();
  switch (content.layout) {
    case BillListLayout::searchResults:
      return model->groups.front().empty() ? noResultsState() : billRows(model->groups.front(), filter);
    case BillListLayout::allBills:
      return billRows(model->groups.front(), filter);
    case BillListLayout::bankAccountSections:
    case BillListLayout::categorySections:
      break;
  }
  const bool byAccount = content.layout == BillListLayout::bankAccountSections;
  std::vector<std::string> ids;
  for (const auto& section : content.sections) {
    if (section.isUncategorized) {
      ids.push_back("uncategorized");
    } else {
      ids.push_back(byAccount ? section.bankAccount->id().uuidString() : section.category->id().uuidString());
    }
  }
  const auto keys = uniqueKeys(ids);
  std::vector<std::pair<std::string, std::size_t>> keyed;
  for (std::size_t i = 0; i < content.sections.size(); ++i) keyed.emplace_back(keys[i], i);
  const std::string symbol = byAccount ? "creditcard" : "personalhotspot";
  return ForEach(
      keyed, [](const auto& entry) { return entry.first; },
      [&](const auto& entry) {
        const BillSection& section = content.sections[entry.second];
        View header;
        if (section.isUncategorized) {
          header = sectionHeaderCapsule(uncategorizedTitle(), symbol, assetColor(byAccount ? "sonicGreen" : "sonicPurple"));
        } else if (byAccount) {
          header = sectionHeaderCapsule(verbatim(section.bankAccount->name()), symbol,
                                        colorFromAssetName(section.bankAccount->color()));
        } else {
          header = sectionHeaderCapsule(verbatim(section.category->name()), symbol,
                                        colorFromAssetName(section.category->color()));
        }
        return Section({billRows(model->groups[entry.second], filter)}, header);
      });
}

}  // namespace

View CollectionListScreen::body(Context& ctx) const {
  auto profileManager = ctx.environmentObject<ProfileManager>();
  ctx.environmentObject<UserDefaultsManager>();  // the presented screens need it
  const ProfileSheets sheets = ProfileSheets::state(ctx);
  auto showUsersListScreen = sheets.showUsersListScreen;
  auto showCreateBillScreen = ctx.state<bool>("showCreateBillScreen", false);
  auto showSearchable = ctx.state<bool>("showSearchable", false);
  auto searchableText = ctx.state<std::string>("searchableText", "");

  const auto selected = profileManager->selectedUser();
  const CollectionListState state = BillListModel::shared().listState(selected);

  // 1-7: the list, its style and the search field.
  View list = List({when(state == CollectionListState::filledProfile,
                         [&] { return groupedContent(selected, searchableText.get()); })})
                  .listStyle(ListStyle::plain)
                  .listSectionSpacing(0.0)
                  .scrollBounceBehavior(ScrollBounceBehavior::automatic)
                  .scrollIndicators(Visibility::hidden);
  list = list | SearchableTextFieldModifier{state != CollectionListState::emptyProfile, searchableText.binding(),
                                            showSearchable.binding(), SearchFieldPlacement::automatic, std::string(localizable_search)};

  // 8: the empty states over the list.
  View noProfile = when(state == CollectionListState::noProfile, [&] {
    return Section({View(EntityUnavailableView{keyText(localizable_noProfileSelected),
                                               SystemImage("person.crop.circle.badge.questionmark.fill"),
                                               keyText(localizable_noProfileSelectedDescription),
                                               keyText(localizable_selectProfile),
                                               [showUsersListScreen] { showUsersListScreen.toggle(); }})
                        .frame(fullWidth(Alignment::center))
                        .listRowBackground(Color::system("clear"))});
  });
  View noBills = when(state == CollectionListState::emptyProfile, [&] {
    return Section({View(EntityUnavailableView{keyText(localizable_noBillsAvailable),
                                               AssetImage("envelope.circle.fill.badge.questionmark"),
                                               keyText(localizable_noBillsAvailableDescription),
                                               keyText(localizable_add),
                                               [showCreateBillScreen] { showCreateBillScreen.toggle(); }})
                        .frame(fullWidth(Alignment::center))
                        .listRowBackground(Color::system("clear"))});
  });
  list = list.overlay(Group({noProfile, noBills}), Alignment::center);

  // 9: the title.
  list = list.navigationBarTitleDisplayMode(TitleDisplayMode::automatic)
             .navigationTitle(selected ? verbatim(selected->name()) : keyText(localizable_collection));

  // 11: the toolbar.
  std::vector<View> profileMenu = sheets.menuEntries(selected);

  std::vector<View> toolbar{ToolbarItemGroup(ToolbarPlacement::topBarLeading,
                                             {ControlGroup(SystemImage("person.crop.circle.fill"), std::move(profileMenu))
                                                  .controlGroupStyle(ControlGroupStyle::menu)
                                                  .accessibilityIdentifier("profileMenu")}),
                            when(selected != nullptr, [&] {
                              return ToolbarItem(ToolbarPlacement::primaryAction,
                                                 Menu(Label(keyText(localizable_sort), "arrow.up.arrow.down"),
                                                      billSortMenuItems(selected))
                                                     .accessibilityIdentifier("sortMenu"));
                            }),
                            when(selected != nullptr, [&] {
                              return ToolbarItem(ToolbarPlacement::primaryAction,
                                                 toolbarTipImageButton([showCreateBillScreen] { showCreateBillScreen.toggle(); },
                                                                       SystemImage("plus"), false, false, nullptr)
                                                     .accessibilityIdentifier("addBill"));
                            })};
  list = list.toolbar(std::move(toolbar));

  // 10: the sheets, each built from the selection at the moment it is shown.
  return sheets.present(NavigationStack(list), [profileManager] { return profileManager->selectedUser(); })
      .sheet(showCreateBillScreen.binding(), [profileManager, showCreateBillScreen] {
        auto profile = profileManager->selectedUser();
        if (!profile) return View();
        return View(BillEntityAddScreen{showCreateBillScreen.binding(), profile})
            .presentationSizing(PresentationSizing::form);
      });
}

}  // namespace brivel

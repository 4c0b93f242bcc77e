#include "Brivel/profiles/profiles_import_screen.h"

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "Brivel/collections/bill_entity_small_list_view.h"
#include "Brivel/collections/coloured_circle_symbol_view.h"
#include "Brivel/collections/toolbar_buttons.h"
#include "Brivel/model/bill_view_model.h"
#include "Brivel/model/profile_manager.h"
#include "Brivel/model/ring_view_model.h"
#include "Brivel/model/user_defaults_manager.h"
#include "Brivel/profiles/legacy_import.h"
#include "Brivel/profiles/internal/profile_name_field.h"
#include "Brivel/profiles/profile_actions.h"
#include "Brivel/profiles/profile_ordering.h"
#include "Brivel/shell/color_picker_view.h"
#include "Brivel/shell/entity_unavailable_view.h"
#include "Brivel/shell/localized_keys.h"
#include "Brivel/shell/model_environment.h"
#include "Brivel/shell/toast.h"
#include "Brivel/shell/view_helpers.h"
#include "Brivel/shell/view_modifiers.h"
#include "platform/dispatch/queue.h"

namespace brivel {

using namespace platform::ui;

namespace {

using VM = ProfilesImportScreenViewModel;

// The import's steps. Each delayed step is a main-queue block holding a shared reference to
// this object, which holds everything the steps touch.
class ImportRun : public std::enable_shared_from_this<ImportRun> {
 public:
  std::shared_ptr<VM> vm;
  std::shared_ptr<platform::ModelContainer> container;
  std::shared_ptr<BillViewModel> billVM;
  std::shared_ptr<RingViewModel> ringVM;
  std::shared_ptr<UserDefaultsManager> settings;
  std::shared_ptr<ProfileManager> profileManager;
  State<bool> nameIsFocused;
  DismissAction dismiss;
  std::function<void()> completion;

  void startImport() {
    nameIsFocused.set(false);
    withAnimation([&] { vm->importIsInProgress = !vm->importIsInProgress.get(); });
    runImportStep(makeNewProfile(vm->name.get(), assetNameFromColor(vm->selectedColor.get())));
  }

  void closeImport() const {
    const bool succeeded = !vm->importFailed.get() && vm->importedProfile.get() != nullptr;
    if (succeeded && vm->deleteBackup.get()) withAnimation([&] { deleteLegacyBackup(); });
    dismiss();
    if (succeeded && completion) completion();
  }

  void resetImportForm() const {
    vm->importIsInProgress = false;
    vm->name = std::string();
    vm->selectedColor = assetColor("appleRed");
  }

 private:
  void runImportStep(const std::shared_ptr<ProfileEntity>& profile) {
    importRings(profile, ringVM->ringCollection());
    withAnimation([&] { vm->progress = 33.0; });
    after([profile](ImportRun& run) { run.importBillsStep(profile); });
  }

  void importBillsStep(const std::shared_ptr<ProfileEntity>& profile) {
    importBills(profile, billVM->billsCollection());
    withAnimation([&] { vm->progress = 66.0; });
    importSalary(*profile, *settings);
    after([profile](ImportRun& run) { run.finishImport(profile); });
  }

  void finishImport(const std::shared_ptr<ProfileEntity>& profile) {
    if (!insertAndSaveProfile(container->mainContext(), profile).ok()) {
      vm->importFailed = true;
      return;
    }
    profileManager->select(profile);
    vm->importedProfile = profile;
    vm->importFinishedHaptic = !vm->importFinishedHaptic.get();
    showToast(bind(vm, &VM::savedToastMessage));
    withAnimation([&] { vm->progress = 100.0; });
  }

  void deleteLegacyBackup() const {
    billVM->setBillsCollection({});
    ringVM->setRingCollection({});
  }

  void after(std::function<void(ImportRun&)> step) {
    platform::DispatchQueue::main()->asyncAfter(platform::secondsToDuration(kImportStepDelaySeconds),
                                                [self = shared_from_this(), step] { step(*self); });
  }
};

View sectionHeader(std::string_view key, std::size_t count) {
  return HStack({LocalizedText(key), Spacer(), Text(localized("%lld", {std::to_string(count)}))});
}

View inputForm(const std::shared_ptr<VM>& vm, const State<bool>& nameIsFocused, const std::vector<Ring>& rings,
               const std::vector<Bill>& bills) {
  const Binding<std::string> name = bind(vm, &VM::name);
  View nameField = profiles_internal::profileNameField(name, nameIsFocused.binding());
  View nameSection = Section({LabeledContent(LocalizedText(localizable_name), nameField),
                              View(ColorPickerView{bind(vm, &VM::selectedColor)})});

  View ringRows = rings.empty()
                      ? LocalizedText(localizable_noCategoriesAvailable)
                      : ForEach(ringsSortedByName(rings), [](const Ring& ring) { return ring.id.uuidString(); },
                                [](const Ring& ring) {
                                  Frame full;
                                  full.maxWidth = infinity;
                                  full.alignment = Alignment::leading;
                                  return HStack({View(ColouredCircleSymbolView{.color = assetColor("sonicPurple"),
                                                                               .symbol = std::nullopt,
                                                                               .isProfileCard = false}),
                                                 Verbatim(ring.name) | SubtitleFontStyleModifier{Font::subheadline,
                                                                                                 Color::system("primary"),
                                                                                                 true, TextAlignment::leading}})
                                      .frame(full);
                                });
  View billRows = bills.empty()
                      ? LocalizedText(localizable_noBillsAvailable)
                      : ForEach(legacyBillsSortedByTitle(bills), [](const Bill& bill) { return bill.id.uuidString(); },
                                [](const Bill& bill) {
                                  return View(BillEntitySmallListView{bill.title, bill.amount, nullptr, nullptr});
                                });
  return Group({nameSection, Section({ringRows}, sectionHeader(localizable_categories, rings.size())),
                Section({billRows}, sectionHeader(localizable_bills, bills.size()))})
      .onAppear([nameIsFocused] { nameIsFocused.set(true); });
}

View progressView(const std::shared_ptr<VM>& vm) {
  const bool finished = vm->progress.get() == 100.0;
  const bool failed = vm->importFailed.get();
  const TextContent title = localized("%@", {vm->name.get()});
  View status;
  if (failed) {
    status = View(EntityUnavailableView{title, SymbolImage(SFSymbols::personCropCircleBadgeQuestionmarkFill),
                                        keyText(localizable_importFailed), std::nullopt, {}})
                 .foregroundStyle(Color::system("white"))
                 .listRowBackground(assetColor("sonicRed"));
  } else {
    status = View(EntityUnavailableView{title,
                                        SymbolImage(finished ? SFSymbols::personCropCircleFillBadgeCheckmark
                                                             : SFSymbols::personCropCircleBadgeClockFill),
                                        std::nullopt, std::nullopt, {}})
                 .foregroundStyle(Color::system("white"))
                 .listRowBackground(finished ? vm->selectedColor.get() : assetColor("sonicGray"));
  }
  const auto imported = vm->importedProfile.get();
  View result = Section({status,
                         when(!finished && !failed,
                              [&] { return ProgressView(vm->progress.get(), 100.0).tint(assetColor("sonicBlue")); }),
                         when(finished && imported != nullptr, [&] {
                           return ForEach(billsSortedByName(imported->bills()),
                                          [](const auto& bill) { return bill->id().uuidString(); },
                                          [](const std::shared_ptr<BillEntity>& bill) {
                                            return View(
                                                BillEntitySmallListView{bill->name(), bill->cost(), nullptr, bill->category()});
                                          });
                         })})
                    .sensoryFeedback(SensoryFeedback::success, vm->importFinishedHaptic.get(), savesSucceed());
  View deleteSwitch = when(finished && !failed, [&] {
    return Section({Toggle(bind(vm, &VM::deleteBackup), LocalizedText(localizable_deleteBackup))
                        .tint(assetColor("sonicGreen"))
                        .foregroundStyle(Color::system("primary"))
                        .accessibilityIdentifier("deleteBackup")});
  });
  return Group({deleteSwitch, result});
}

}  // namespace

View ProfilesImportScreen::body(Context& ctx) const {
  auto model = ctx.stateWith<std::shared_ptr<VM>>("vm", [this] { return vm ? vm : std::make_shared<VM>(); }).get();
  auto run = std::make_shared<ImportRun>();
  run->vm = model;
  run->container = modelContainer(ctx);
  run->billVM = ctx.environmentObject<BillViewModel>();
  run->ringVM = ctx.environmentObject<RingViewModel>();
  run->settings = ctx.environmentObject<UserDefaultsManager>();
  run->profileManager = ctx.environmentObject<ProfileManager>();
  run->nameIsFocused = ctx.focusState<bool>("nameIsFocused");
  run->dismiss = ctx.dismiss();
  run->completion = completion;

  const bool inProgress = model->importIsInProgress.get();
  View content = inProgress ? progressView(model)
                            : inputForm(model, run->nameIsFocused, run->ringVM->ringCollection(),
                                        run->billVM->billsCollection());

  View button =
      inProgress
          ? toolbarTextButton(localizable_close, [run] { run->closeImport(); }, std::nullopt,
                              model->progress.get() != 100.0 && !model->importFailed.get(), true)
          : toolbarTextButton(localizable_import, [run] { run->startImport(); }, std::nullopt, model->name.get().empty(),
                              true);

  View form = Form({content}).scrollDismissesKeyboard(ScrollDismissesKeyboard::interactively) |
              NavigationBarTitleDisplayModifier{TitleDisplayMode::inline_, std::string(localizable_backup)};
  return (form.navigationBarBackButtonHidden(inProgress)
              .toolbar({ToolbarItem(ToolbarPlacement::primaryAction, button.accessibilityIdentifier("importAction"))}) |
          ToastMessageModifier{model->savedToastMessage.get(), ToastMessageType::imported, SFSymbols::personCropCircleFill})
      .onDisappear([run] { run->resetImportForm(); })
      .interactiveDismissDisabled(true);
}

}  // namespace brivel

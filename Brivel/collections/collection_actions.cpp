#include "Brivel/collections/collection_actions.h"

#include <string>
#include <utility>

#include "Brivel/model/bill_entity.h"
#include "platform/data/save_reporter.h"
#include "platform/dispatch/queue.h"
#include "platform/ui/state.h"

namespace brivel {

namespace {

// Every entry of `list` whose id differs from `id`, in order; an absent list stays absent.
template <class T>
std::optional<std::vector<std::shared_ptr<T>>> withoutId(const std::optional<std::vector<std::shared_ptr<T>>>& list,
                                                        const platform::UUID& id) {
  if (!list) return std::nullopt;
  std::vector<std::shared_ptr<T>> kept;
  kept.reserve(list->size());
  for (const auto& item : *list) {
    if (!(item->id() == id)) kept.push_back(item);
  }
  return kept;
}

// Clears the link `read`/`write` of every bill of the profile whose linked record has the id
// text `idText`, then of every bill the record's own list still holds (bills outside the
// profile's list included).
template <class Record>
void unlinkBills(const Record& record, ProfileEntity& profile, std::shared_ptr<Record> (BillEntity::*read)() const,
                 void (BillEntity::*write)(const std::shared_ptr<Record>&)) {
  const std::string idText = record.id().uuidString();
  for (const auto& bill : profile.bills().value_or(BillList{})) {
    auto linked = ((*bill).*read)();
    if (linked && linked->id().uuidString() == idText) ((*bill).*write)(nullptr);
  }
  for (const auto& bill : record.bills().value_or(BillList{})) {
    auto linked = ((*bill).*read)();
    if (linked && linked->id().uuidString() == idText) ((*bill).*write)(nullptr);
  }
}

}  // namespace

void scheduleDeletion(std::shared_ptr<platform::ModelContainer> container, std::function<void()> walk,
                      std::function<void()> afterWalk) {
  platform::DispatchQueue::main()->async(
      [container = std::move(container), walk = std::move(walk), afterWalk = std::move(afterWalk)] {
        walk();
        if (afterWalk) afterWalk();
        (void)platform::saveReportingFailure(container->mainContext());
      });
}

void deleteBankAccount(const BankAccountEntity& account, ProfileEntity& profile) {
  unlinkBills(account, profile, &BillEntity::bankAccount, &BillEntity::setBankAccount);
  const platform::UUID id = account.id();
  platform::ui::withAnimation([&] { profile.setBankAccounts(withoutId(profile.bankAccounts(), id)); });
}

void deleteCategory(const CategoryEntity& category, ProfileEntity& profile) {
  unlinkBills(category, profile, &BillEntity::category, &BillEntity::setCategory);
  const platform::UUID id = category.id();
  platform::ui::withAnimation([&] { profile.setCategories(withoutId(profile.categories(), id)); });
}

void deleteNote(const NoteEntity& note, ProfileEntity& profile) {
  const platform::UUID id = note.id();
  platform::ui::withAnimation([&] { profile.setNotes(withoutId(profile.notes(), id)); });
}

bool confirmBankAccountDelete(const std::shared_ptr<BankAccountEntity>& account,
                              std::shared_ptr<platform::ModelContainer> container, std::function<void()> afterWalk) {
  auto profile = account->profile();
  if (!profile) return false;
  scheduleDeletion(std::move(container), [account, profile] { deleteBankAccount(*account, *profile); },
                   std::move(afterWalk));
  return true;
}

bool confirmCategoryDelete(const std::shared_ptr<CategoryEntity>& category,
                           std::shared_ptr<platform::ModelContainer> container, std::function<void()> afterWalk) {
  auto profile = category->profile();
  if (!profile) return false;
  scheduleDeletion(std::move(container), [category, profile] { deleteCategory(*category, *profile); },
                   std::move(afterWalk));
  return true;
}

bool confirmNoteDelete(const std::shared_ptr<NoteEntity>& note, std::shared_ptr<platform::ModelContainer> container,
                       std::function<void()> afterWalk) {
  auto profile = note->profile();
  if (!profile) return false;
  scheduleDeletion(std::move(container), [note, profile] { deleteNote(*note, *profile); }, std::move(afterWalk));
  return true;
}

}  // namespace brivel

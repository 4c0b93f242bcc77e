#include "Brivel/model/profile_entity.h"

#include <algorithm>

#include "Brivel/model/bank_account_entity.h"
#include "Brivel/model/bill_entity.h"
#include "Brivel/model/category_entity.h"
#include "Brivel/model/internal/entity_defaults.h"
#include "Brivel/model/note_entity.h"

namespace brivel {

using platform::AttributeType;
using platform::AttributeValue;
using platform::PropertyDefault;
using platform::PropertyDescription;

const platform::EntityDescription& ProfileEntity::entityDescription() {
  static const platform::EntityDescription description = [] {
    using namespace model_internal;
    platform::RelationshipOptions cascade{platform::DeleteRule::Cascade, 0, 0, std::nullopt};
    platform::EntityDescription d;
    d.name = "ProfileEntity";
    d.properties = platform::declareProperties(
        Field::count,
        {
            idProperty(Field::id),
            textProperty(Field::name, "name", ""),
            textProperty(Field::color, "color", "appleRed"),
            {Field::salaryType,
             PropertyDescription::attribute("salaryType", AttributeType::Integer, false,
                                            code(rawValue(SalaryType::fixed)))},
            {Field::salary, PropertyDescription::attribute(
                                "salary", AttributeType::DoubleArray, false,
                                PropertyDefault::value(AttributeValue(std::vector<double>{0.0})))},
            {Field::bills, PropertyDescription::toMany("bills", &BillEntity::entityDescription,
                                                       "profile", cascade)},
            {Field::billSortType,
             PropertyDescription::attribute("billSortType", AttributeType::Integer, false,
                                            code(rawValue(BillSortType::name)))},
            {Field::bankAccounts,
             PropertyDescription::toMany("bankAccounts", &BankAccountEntity::entityDescription,
                                         "profile", cascade)},
            {Field::bankAccountSortType,
             PropertyDescription::attribute("bankAccountSortType", AttributeType::Integer, false,
                                            code(rawValue(BankAccountSortType::name)))},
            {Field::categories,
             PropertyDescription::toMany("categories", &CategoryEntity::entityDescription,
                                         "profile", cascade)},
            {Field::categorySortType,
             PropertyDescription::attribute("categorySortType", AttributeType::Integer, false,
                                            code(rawValue(CategorySortType::name)))},
            {Field::notes, PropertyDescription::toMany("notes", &NoteEntity::entityDescription,
                                                       "profile", cascade)},
            {Field::noteSortType,
             PropertyDescription::attribute("noteSortType", AttributeType::Integer, false,
                                            code(rawValue(NoteSortType::timestampReversed)))},
            {Field::collectionFilterType,
             PropertyDescription::attribute("collectionFilterType", AttributeType::Integer, false,
                                            code(rawValue(CollectionFilterType::off)))},
            {Field::favoriteQuickAction,
             PropertyDescription::attribute("favoriteQuickAction", AttributeType::Integer, false,
                                            code(rawValue(FavoriteQuickAction::openNotes)))},
            {Field::showSpendable,
             PropertyDescription::attribute("showSpendable", AttributeType::Boolean, false,
                                            PropertyDefault::value(AttributeValue(true)))},
            {Field::isArchived,
             PropertyDescription::attribute("isArchived", AttributeType::Boolean, false,
                                            PropertyDefault::value(AttributeValue(false)))},
            timestampProperty(Field::timestamp),
        });
    d.makeEmpty = [] { return std::make_shared<ProfileEntity>(); };
    return d;
  }();
  return description;
}

ProfileEntity::ProfileEntity() : EntityRecord(entityDescription()) {}

std::shared_ptr<ProfileEntity> ProfileEntity::make(Values values) {
  auto profile = std::make_shared<ProfileEntity>();
  profile->setId(values.id);
  profile->setName(std::move(values.name));
  profile->setColor(std::move(values.color));
  profile->setSalaryType(values.salaryType);
  profile->setSalary(std::move(values.salary));
  profile->setBills(values.bills);
  profile->setBillSortType(values.billSortType);
  profile->setBankAccounts(values.bankAccounts);
  profile->setBankAccountSortType(values.bankAccountSortType);
  profile->setCategories(values.categories);
  profile->setCategorySortType(values.categorySortType);
  profile->setNotes(values.notes);
  profile->setNoteSortType(values.noteSortType);
  profile->setCollectionFilterType(values.collectionFilterType);
  profile->setFavoriteQuickAction(values.favoriteQuickAction);
  profile->setShowSpendable(values.showSpendable);
  profile->setIsArchived(values.isArchived);
  profile->setTimestamp(values.timestamp);
  return profile;
}


SalaryType ProfileEntity::salaryType() const {
  return fromRawValue<SalaryType>(attribute<std::int64_t>(Field::salaryType))
      .value_or(SalaryType::fixed);
}
void ProfileEntity::setSalaryType(SalaryType value) {
  setValue(Field::salaryType, rawValue(value));
}

std::vector<double> ProfileEntity::salary() const {
  return attribute<std::vector<double>>(Field::salary);
}
void ProfileEntity::setSalary(std::vector<double> value) {
  setValue(Field::salary, std::move(value));
}

const platform::PersistentModel::ModelList* ProfileEntity::billsWithoutCopy() const { return listView(Field::bills); }

BillSortType ProfileEntity::billSortType() const {
  return fromRawValue<BillSortType>(attribute<std::int64_t>(Field::billSortType))
      .value_or(BillSortType::name);
}
void ProfileEntity::setBillSortType(BillSortType value) {
  setValue(Field::billSortType, rawValue(value));
}

std::optional<BankAccountList> ProfileEntity::bankAccounts() const {
  return toMany<BankAccountEntity>(Field::bankAccounts);
}
void ProfileEntity::setBankAccounts(const std::optional<BankAccountList>& value) {
  setToMany(Field::bankAccounts, value);
}

BankAccountSortType ProfileEntity::bankAccountSortType() const {
  return fromRawValue<BankAccountSortType>(attribute<std::int64_t>(Field::bankAccountSortType))
      .value_or(BankAccountSortType::name);
}
void ProfileEntity::setBankAccountSortType(BankAccountSortType value) {
  setValue(Field::bankAccountSortType, rawValue(value));
}

std::optional<CategoryList> ProfileEntity::categories() const {
  return toMany<CategoryEntity>(Field::categories);
}
void ProfileEntity::setCategories(const std::optional<CategoryList>& value) {
  setToMany(Field::categories, value);
}

CategorySortType ProfileEntity::categorySortType() const {
  return fromRawValue<CategorySortType>(attribute<std::int64_t>(Field::categorySortType))
      .value_or(CategorySortType::name);
}
void ProfileEntity::setCategorySortType(CategorySortType value) {
  setValue(Field::categorySortType, rawValue(value));
}

std::optional<NoteList> ProfileEntity::notes() const { return toMany<NoteEntity>(Field::notes); }
void ProfileEntity::setNotes(const std::optional<NoteList>& value) {
  setToMany(Field::notes, value);
}

NoteSortType ProfileEntity::noteSortType() const {
  return fromRawValue<NoteSortType>(attribute<std::int64_t>(Field::noteSortType))
      .value_or(NoteSortType::timestampReversed);
}
void ProfileEntity::setNoteSortType(NoteSortType value) {
  setValue(Field::noteSortType, rawValue(value));
}

CollectionFilterType ProfileEntity::collectionFilterType() const {
  return fromRawValue<CollectionFilterType>(attribute<std::int64_t>(Field::collectionFilterType))
      .value_or(CollectionFilterType::off);
}
void ProfileEntity::setCollectionFilterType(CollectionFilterType value) {
  setValue(Field::collectionFilterType, rawValue(value));
}

FavoriteQuickAction ProfileEntity::favoriteQuickAction() const {
  return fromRawValue<FavoriteQuickAction>(attribute<std::int64_t>(Field::favoriteQuickAction))
      .value_or(FavoriteQuickAction::openNotes);
}
void ProfileEntity::setFavoriteQuickAction(FavoriteQuickAction value) {
  setValue(Field::favoriteQuickAction, rawValue(value));
}

bool ProfileEntity::showSpendable() const { return attribute<bool>(Field::showSpendable); }
void ProfileEntity::setShowSpendable(bool value) { setValue(Field::showSpendable, value); }
bool ProfileEntity::isArchived() const { return attribute<bool>(Field::isArchived); }
void ProfileEntity::setIsArchived(bool value) { setValue(Field::isArchived, value); }

// Figures. The bill figures come from one walk over `bills` in list order (each sum a plain
// addition in that order), kept until a bill's cost or timing or the list changes.

double ProfileEntity::incomePerYear() const {
  SalaryType type = salaryType();
  std::vector<double> values = salary();
  if (type == SalaryType::variable) {
    double sum = 0.0;
    for (double value : values) {
      sum += value;
    }
    return sum;
  }
  return values.empty() ? 0.0 : values.front() * 12.0;
}

void ProfileEntity::propertyDidChange(std::size_t property) {
  if (property == Field::bills) {
    // The figures are kept: the next read takes in the bills added at the list's end, or
    // walks the list again after any other change of it.
    figuresOutdated_ = true;
    derived_.reset();
    observationRegistrar().didChange(kBillFigures);
  }
}

void ProfileEntity::FigureWalk::add(YearFigures& figures, const std::shared_ptr<platform::PersistentModel>& member) {
  const auto& bill = static_cast<const BillEntity&>(*member);
  const BillEntity::Timing& timing = bill.timing();
  BillsCost* selection = nullptr;
  switch (timing.occurring) {
    case OccurringType::monthly:
      ++monthlyCount;
      monthlyPart += timing.cost * 12.0;
      selection = &figures.monthly;
      break;
    case OccurringType::quarterly:
      ++quarterlyCount;
      quarterlyPart += timing.cost * 4.0;
      if (timing.quarterly >= 0) {
        selection = &figures.quarterly[static_cast<std::size_t>(timing.quarterly)];
      }
      break;
    case OccurringType::yearly:
      ++yearlyCount;
      yearlyPart += timing.cost;
      if (timing.yearly >= 0) {
        selection = &figures.yearly[static_cast<std::size_t>(timing.yearly)];
      }
      break;
  }
  if (selection != nullptr) {
    selection->cost += timing.cost;
    selection->bills.push_back(std::static_pointer_cast<BillEntity>(member));
  }
  members.push_back(member);
  figures.billsPerYear = 12 * monthlyCount + 4 * quarterlyCount + yearlyCount;
  figures.costPerYear = (monthlyPart + quarterlyPart) + yearlyPart;
}

bool ProfileEntity::addedToFigures() const {
  const ModelList* list = unobservedList(Field::bills);
  const ModelList& walked = walk_.members;
  if (list == nullptr || list->size() < walked.size()) {
    return false;
  }
  for (std::size_t i = 0; i < walked.size(); ++i) {
    if ((*list)[i] != walked[i]) {
      return false;
    }
  }
  if (list->size() == walked.size()) {
    return true;
  }
  // The records handed out keep the figures they were made from.
  if (figures_.use_count() > 1) {
    figures_ = std::make_shared<YearFigures>(*figures_);
  }
  for (std::size_t i = walked.size(); i < list->size(); ++i) {
    walk_.add(*figures_, (*list)[i]);
  }
  return true;
}

const YearFigures& ProfileEntity::figures() const {
  if (figures_ && figuresOutdated_ && addedToFigures()) {
    figuresOutdated_ = false;
  }
  if (figures_ && !figuresOutdated_) {
    return *figures_;
  }
  figures_ = std::make_shared<YearFigures>();
  walk_ = FigureWalk{};
  if (const ModelList* list = unobservedList(Field::bills)) {
    walk_.members.reserve(list->size());
    for (const auto& member : *list) {
      walk_.add(*figures_, member);
    }
  }
  figuresOutdated_ = false;
  return *figures_;
}

void ProfileEntity::billFiguresChanged() {
  figures_.reset();
  walk_ = FigureWalk{};
  derived_.reset();
  observationRegistrar().didChange(kBillFigures);
}

void ProfileEntity::billEdited(const BillEntity* bill) {
  recentEdits_[billEdits_ % kRememberedEdits] = bill;
  ++billEdits_;
}

std::optional<std::vector<const BillEntity*>> ProfileEntity::billsEditedSince(std::uint64_t since) const {
  if (since > billEdits_ || billEdits_ - since > kRememberedEdits) return std::nullopt;
  std::vector<const BillEntity*> bills;
  for (std::uint64_t edit = since; edit < billEdits_; ++edit) {
    const BillEntity* bill = recentEdits_[edit % kRememberedEdits];
    if (std::find(bills.begin(), bills.end(), bill) == bills.end()) bills.push_back(bill);
  }
  return bills;
}

void ProfileEntity::registerBillReads() const {
  if (!platform::ObservationRegistrar::isTracking()) {
    return;
  }
  listView(Field::bills);
  observationRegistrar().access(kBillFigures);
}

std::int64_t ProfileEntity::billsPerYear() const {
  registerBillReads();
  return figures().billsPerYear;
}

double ProfileEntity::costPerYear() const {
  registerBillReads();
  return figures().costPerYear;
}

BillsCost ProfileEntity::monthlyBillsCost() const {
  registerBillReads();
  return figures().monthly;
}

BillsCost ProfileEntity::quarterlyBillsCost(QuarterType quarter) const {
  // A quarterly bill without a quarter month matches none.
  registerBillReads();
  return figures().quarterly[static_cast<std::size_t>(rawValue(quarter))];
}

BillsCost ProfileEntity::yearlyBillsCost(YearlyType month) const {
  // A yearly bill without a month matches none.
  registerBillReads();
  return figures().yearly[static_cast<std::size_t>(rawValue(month))];
}

std::array<BillsCost, 12> ProfileEntity::monthFigures() const {
  registerBillReads();
  const YearFigures& year = figures();
  std::array<BillsCost, 12> months;
  for (std::size_t m = 0; m < 12; ++m) {
    const BillsCost& quarterly = year.quarterly[m % 3];
    const BillsCost& yearly = year.yearly[m];
    BillsCost& month = months[m];
    month.cost = (year.monthly.cost + quarterly.cost) + yearly.cost;
    month.bills.reserve(year.monthly.bills.size() + quarterly.bills.size() + yearly.bills.size());
    month.bills.insert(month.bills.end(), year.monthly.bills.begin(), year.monthly.bills.end());
    month.bills.insert(month.bills.end(), quarterly.bills.begin(), quarterly.bills.end());
    month.bills.insert(month.bills.end(), yearly.bills.begin(), yearly.bills.end());
  }
  return months;
}

std::shared_ptr<const YearFigures> ProfileEntity::yearFigures() const {
  registerBillReads();
  figures();
  return figures_;
}

}  // namespace brivel

#include "Brivel/model/bill_entity.h"

#include <array>

#include "Brivel/model/bank_account_entity.h"
#include "Brivel/model/category_entity.h"
#include "Brivel/model/internal/entity_defaults.h"
#include "Brivel/model/profile_entity.h"

namespace brivel {

using platform::AttributeType;
using platform::PropertyDefault;
using platform::PropertyDescription;

const platform::EntityDescription& BillEntity::entityDescription() {
  static const platform::EntityDescription description = [] {
    using namespace model_internal;
    platform::EntityDescription d;
    d.name = "BillEntity";
    d.properties = platform::declareProperties(
        Field::count,
        {
            idProperty(Field::id),
            textProperty(Field::name, "name", ""),
            {Field::cost,
             PropertyDescription::attribute("cost", AttributeType::Double, false,
                                            PropertyDefault::value(platform::AttributeValue(0.0)))},
            {Field::note, PropertyDescription::attribute("note", AttributeType::String, true,
                                                         PropertyDefault::none())},
            {Field::occurring,
             PropertyDescription::attribute("occurring", AttributeType::Integer, false,
                                            code(rawValue(OccurringType::monthly)))},
            {Field::quarterly, PropertyDescription::attribute("quarterly", AttributeType::Integer,
                                                              true, PropertyDefault::none())},
            {Field::yearly, PropertyDescription::attribute("yearly", AttributeType::Integer, true,
                                                           PropertyDefault::none())},
            {Field::profile,
             PropertyDescription::toOne("profile", &ProfileEntity::entityDescription, "bills")},
            {Field::category,
             PropertyDescription::toOne("category", &CategoryEntity::entityDescription, "bills")},
            {Field::bankAccount,
             PropertyDescription::toOne("bankAccount", &BankAccountEntity::entityDescription,
                                        "bills")},
            timestampProperty(Field::timestamp),
        });
    d.ownerRelationship = "profile";
    d.makeEmpty = [] { return std::make_shared<BillEntity>(); };
    return d;
  }();
  return description;
}

BillEntity::BillEntity() : PersistentModel(entityDescription(), propertySlots()) {}

std::shared_ptr<BillEntity> BillEntity::make(Values values) {
  auto bill = std::make_shared<BillEntity>();
  bill->setId(values.id);
  bill->setName(std::move(values.name));
  bill->setCost(values.cost);
  bill->setNote(std::move(values.note));
  bill->setOccurring(values.occurring);
  bill->setQuarterly(values.quarterly);
  bill->setYearly(values.yearly);
  bill->setProfile(values.profile);
  bill->setCategory(values.category);
  bill->setBankAccount(values.bankAccount);
  bill->setTimestamp(values.timestamp);
  return bill;
}

platform::UUID BillEntity::id() const { return attribute<platform::UUID>(Field::id); }
void BillEntity::setId(platform::UUID value) { setValue(Field::id, value); }
std::string BillEntity::name() const { return attribute<std::string>(Field::name); }
void BillEntity::setName(std::string value) { setValue(Field::name, std::move(value)); }
double BillEntity::cost() const { return attribute<double>(Field::cost); }
void BillEntity::setCost(double value) { setValue(Field::cost, value); }
std::optional<std::string> BillEntity::note() const {
  return optionalAttribute<std::string>(Field::note);
}
void BillEntity::setNote(std::optional<std::string> value) {
  setOptionalAttribute(Field::note, value);
}

OccurringType BillEntity::occurring() const {
  return fromRawValue<OccurringType>(attribute<std::int64_t>(Field::occurring))
      .value_or(OccurringType::monthly);
}
void BillEntity::setOccurring(OccurringType value) {
  setValue(Field::occurring, rawValue(value));
}

std::optional<QuarterType> BillEntity::quarterly() const {
  std::optional<std::int64_t> raw = optionalAttribute<std::int64_t>(Field::quarterly);
  return raw ? fromRawValue<QuarterType>(*raw) : std::nullopt;
}
void BillEntity::setQuarterly(std::optional<QuarterType> value) {
  setOptionalAttribute(Field::quarterly, value ? std::optional(rawValue(*value)) : std::nullopt);
}

std::optional<YearlyType> BillEntity::yearly() const {
  std::optional<std::int64_t> raw = optionalAttribute<std::int64_t>(Field::yearly);
  return raw ? fromRawValue<YearlyType>(*raw) : std::nullopt;
}
void BillEntity::setYearly(std::optional<YearlyType> value) {
  setOptionalAttribute(Field::yearly, value ? std::optional(rawValue(*value)) : std::nullopt);
}

std::shared_ptr<ProfileEntity> BillEntity::profile() const {
  return toOne<ProfileEntity>(Field::profile);
}
void BillEntity::setProfile(const std::shared_ptr<ProfileEntity>& value) {
  setRelated(Field::profile, value);
}
std::shared_ptr<CategoryEntity> BillEntity::category() const {
  return toOne<CategoryEntity>(Field::category);
}
void BillEntity::setCategory(const std::shared_ptr<CategoryEntity>& value) {
  setRelated(Field::category, value);
}
std::shared_ptr<BankAccountEntity> BillEntity::bankAccount() const {
  return toOne<BankAccountEntity>(Field::bankAccount);
}
void BillEntity::setBankAccount(const std::shared_ptr<BankAccountEntity>& value) {
  setRelated(Field::bankAccount, value);
}
platform::Date BillEntity::timestamp() const {
  return attribute<platform::Date>(Field::timestamp);
}
void BillEntity::setTimestamp(platform::Date value) { setValue(Field::timestamp, value); }

double BillEntity::costPerYear() const {
  switch (occurring()) {
    case OccurringType::monthly:
      return cost() * 12.0;
    case OccurringType::quarterly:
      return cost() * 4.0;
    case OccurringType::yearly:
      break;
  }
  return cost();
}

void BillEntity::propertyDidChange(std::size_t property) {
  switch (property) {
    case Field::cost:
    case Field::occurring:
    case Field::quarterly:
    case Field::yearly:
      // The profile's figures depend on these.
      timingKnown_ = false;
      if (auto owner = unobservedTarget(Field::profile)) {
        auto& profile = static_cast<ProfileEntity&>(*owner);
        profile.billFiguresChanged();
        profile.billEdited(this);
      }
      break;
    case Field::id:
    case Field::name:
    case Field::timestamp:
      // What orders and keys the profile's bill rows.
      if (auto owner = unobservedTarget(Field::profile)) {
        static_cast<ProfileEntity&>(*owner).billEdited(this);
      }
      break;
    default:
      break;
  }
}

const BillEntity::Timing& BillEntity::timing() const {
  if (timingKnown_) {
    return timing_;
  }
  // As the observed getters read them: an unknown occurrence code is monthly, an unknown
  // quarter month or month is none.
  auto code = [this](std::size_t field) -> std::optional<std::int64_t> {
    const auto* raw = unobservedAttribute<std::int64_t>(field);
    return raw ? std::optional(*raw) : std::nullopt;
  };
  std::optional<std::int64_t> occurring = code(Field::occurring);
  timing_.occurring =
      fromRawValue<OccurringType>(occurring.value_or(0)).value_or(OccurringType::monthly);
  std::optional<std::int64_t> quarter = code(Field::quarterly);
  std::optional<QuarterType> quarterly = quarter ? fromRawValue<QuarterType>(*quarter) : std::nullopt;
  timing_.quarterly = quarterly ? static_cast<std::int8_t>(rawValue(*quarterly)) : std::int8_t{-1};
  std::optional<std::int64_t> month = code(Field::yearly);
  std::optional<YearlyType> yearly = month ? fromRawValue<YearlyType>(*month) : std::nullopt;
  timing_.yearly = yearly ? static_cast<std::int8_t>(rawValue(*yearly)) : std::int8_t{-1};
  const double* cost = unobservedAttribute<double>(Field::cost);
  timing_.cost = cost ? *cost : 0.0;
  timingKnown_ = true;
  return timing_;
}

const std::string& BillEntity::occurringLocalizedKey() const {
  static const std::array<std::string, 3> keys = {
      "localizable_monthly", "localizable_quarterly", "localizable_yearly"};
  return keys[static_cast<std::size_t>(rawValue(occurring()))];
}

const std::string& BillEntity::quarterlyLocalizedKey() const {
  static const std::array<std::string, 3> keys = {
      "localizable_quarter01", "localizable_quarter02", "localizable_quarter03"};
  return keys[static_cast<std::size_t>(rawValue(quarterly().value_or(QuarterType::quarter1)))];
}

const std::string& BillEntity::yearlyLocalizedKey() const {
  static const std::array<std::string, 12> keys = {
      "localizable_january",   "localizable_february", "localizable_march",
      "localizable_april",     "localizable_may",      "localizable_june",
      "localizable_july",      "localizable_august",   "localizable_september",
      "localizable_october",   "localizable_november", "localizable_december"};
  return keys[static_cast<std::size_t>(rawValue(yearly().value_or(YearlyType::january)))];
}

}  // namespace brivel

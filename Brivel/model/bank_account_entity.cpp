#include "Brivel/model/bank_account_entity.h"

#include "Brivel/model/bill_entity.h"
#include "Brivel/model/internal/entity_defaults.h"
#include "Brivel/model/profile_entity.h"

namespace brivel {

using platform::AttributeType;
using platform::PropertyDescription;

const platform::EntityDescription& BankAccountEntity::entityDescription() {
  static const platform::EntityDescription description = [] {
    using namespace model_internal;
    platform::EntityDescription d;
    d.name = "BankAccountEntity";
    d.properties = platform::declareProperties(
        Field::count,
        {
            idProperty(Field::id),
            textProperty(Field::name, "name", ""),
            textProperty(Field::color, "color", "appleYellow"),
            textProperty(Field::number, "number", ""),
            {Field::note, PropertyDescription::attribute("note", AttributeType::String, true,
                                                         platform::PropertyDefault::none())},
            {Field::profile, PropertyDescription::toOne(
                                 "profile", &ProfileEntity::entityDescription, "bankAccounts")},
            {Field::bills,
             PropertyDescription::toMany("bills", &BillEntity::entityDescription, "bankAccount",
                                         platform::RelationshipOptions{
                                             platform::DeleteRule::NoAction, 0, 0, "bankAccount"})},
            timestampProperty(Field::timestamp),
        });
    d.ownerRelationship = "profile";
    d.makeEmpty = [] { return std::make_shared<BankAccountEntity>(); };
    return d;
  }();
  return description;
}

BankAccountEntity::BankAccountEntity() : EntityRecord(entityDescription()) {}

std::shared_ptr<BankAccountEntity> BankAccountEntity::make(Values values) {
  auto account = std::make_shared<BankAccountEntity>();
  account->setId(values.id);
  account->setName(std::move(values.name));
  account->setColor(std::move(values.color));
  account->setNumber(std::move(values.number));
  account->setNote(std::move(values.note));
  account->setProfile(values.profile);
  account->setBills(values.bills);
  account->setTimestamp(values.timestamp);
  return account;
}

std::string BankAccountEntity::number() const { return attribute<std::string>(Field::number); }
void BankAccountEntity::setNumber(std::string value) {
  setValue(Field::number, std::move(value));
}
std::optional<std::string> BankAccountEntity::note() const {
  return optionalAttribute<std::string>(Field::note);
}
void BankAccountEntity::setNote(std::optional<std::string> value) {
  setOptionalAttribute(Field::note, value);
}

}  // namespace brivel

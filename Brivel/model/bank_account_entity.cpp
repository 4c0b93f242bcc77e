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
    d.properties = {
        PropertyDescription::attribute("id", AttributeType::Uuid, false, newUUID()),
        PropertyDescription::attribute("name", AttributeType::String, false, textDefault("")),
        PropertyDescription::attribute("color", AttributeType::String, false,
                                       textDefault("appleYellow")),
        PropertyDescription::attribute("number", AttributeType::String, false, textDefault("")),
        PropertyDescription::attribute("note", AttributeType::String, true,
                                       platform::PropertyDefault::none()),
        PropertyDescription::toOne("profile", &ProfileEntity::entityDescription, "bankAccounts"),
        PropertyDescription::toMany(
            "bills", &BillEntity::entityDescription, "bankAccount",
            platform::RelationshipOptions{platform::DeleteRule::NoAction, 0, 0, "bankAccount"}),
        PropertyDescription::attribute("timestamp", AttributeType::Date, false, currentDate()),
    };
    d.ownerRelationship = "profile";
    d.makeEmpty = [] { return std::make_shared<BankAccountEntity>(); };
    return d;
  }();
  return description;
}

BankAccountEntity::BankAccountEntity() : PersistentModel(entityDescription()) {}

std::shared_ptr<BankAccountEntity> BankAccountEntity::make(
    platform::UUID id, std::string name, std::string color, std::string number,
    std::optional<std::string> note, std::shared_ptr<ProfileEntity> profile,
    std::optional<BillList> bills, platform::Date timestamp) {
  auto account = std::make_shared<BankAccountEntity>();
  account->setId(id);
  account->setName(std::move(name));
  account->setColor(std::move(color));
  account->setNumber(std::move(number));
  account->setNote(std::move(note));
  account->setProfile(profile);
  account->setBills(bills);
  account->setTimestamp(timestamp);
  return account;
}

platform::UUID BankAccountEntity::id() const { return attribute<platform::UUID>(Field::id); }
void BankAccountEntity::setId(platform::UUID value) { setValue(Field::id, value); }
std::string BankAccountEntity::name() const { return attribute<std::string>(Field::name); }
void BankAccountEntity::setName(std::string value) { setValue(Field::name, std::move(value)); }
std::string BankAccountEntity::color() const { return attribute<std::string>(Field::color); }
void BankAccountEntity::setColor(std::string value) { setValue(Field::color, std::move(value)); }
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
std::shared_ptr<ProfileEntity> BankAccountEntity::profile() const {
  return toOne<ProfileEntity>(Field::profile);
}
void BankAccountEntity::setProfile(const std::shared_ptr<ProfileEntity>& value) {
  setRelated(Field::profile, value);
}
std::optional<BillList> BankAccountEntity::bills() const {
  return toMany<BillEntity>(Field::bills);
}
void BankAccountEntity::setBills(const std::optional<BillList>& value) {
  setToMany(Field::bills, value);
}
platform::Date BankAccountEntity::timestamp() const {
  return attribute<platform::Date>(Field::timestamp);
}
void BankAccountEntity::setTimestamp(platform::Date value) { setValue(Field::timestamp, value); }

}  // namespace brivel

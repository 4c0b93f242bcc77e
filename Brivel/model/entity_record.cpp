#include "Brivel/model/entity_record.h"

#include "Brivel/model/bank_account_entity.h"
#include "Brivel/model/bill_entity.h"
#include "Brivel/model/category_entity.h"
#include "Brivel/model/note_entity.h"
#include "Brivel/model/profile_entity.h"

namespace brivel {

template <class F>
platform::UUID EntityRecord<F>::id() const {
  return this->template attribute<platform::UUID>(F::id);
}
template <class F>
void EntityRecord<F>::setId(platform::UUID value) {
  setValue(F::id, value);
}
template <class F>
std::string EntityRecord<F>::name() const {
  return this->template attribute<std::string>(F::name);
}
template <class F>
void EntityRecord<F>::setName(std::string value) {
  setValue(F::name, std::move(value));
}
template <class F>
std::string EntityRecord<F>::color() const {
  return this->template attribute<std::string>(F::color);
}
template <class F>
void EntityRecord<F>::setColor(std::string value) {
  setValue(F::color, std::move(value));
}
template <class F>
platform::Date EntityRecord<F>::timestamp() const {
  return this->template attribute<platform::Date>(F::timestamp);
}
template <class F>
void EntityRecord<F>::setTimestamp(platform::Date value) {
  setValue(F::timestamp, value);
}

template <class F>
std::shared_ptr<ProfileEntity> EntityRecord<F>::profile() const
  requires OwnedByProfile<F>
{
  return this->template toOne<ProfileEntity>(F::profile);
}
template <class F>
void EntityRecord<F>::setProfile(const std::shared_ptr<ProfileEntity>& value)
  requires OwnedByProfile<F>
{
  setRelated(F::profile, value);
}

template <class F>
std::optional<BillList> EntityRecord<F>::bills() const
  requires ListsBills<F>
{
  return this->template toMany<BillEntity>(F::bills);
}
template <class F>
std::optional<std::size_t> EntityRecord<F>::billCount() const
  requires ListsBills<F>
{
  return this->listSize(F::bills);
}
template <class F>
void EntityRecord<F>::setBills(const std::optional<BillList>& value)
  requires ListsBills<F>
{
  this->setToMany(F::bills, value);
}

template class EntityRecord<ProfileField>;
template class EntityRecord<BankAccountField>;
template class EntityRecord<CategoryField>;
template class EntityRecord<NoteField>;

}  // namespace brivel

// BankAccountEntity: a bank account of a profile, which says where bills are paid from. Its
// `bills` list is the inverse of BillEntity::bankAccount; deleting an account leaves its
// bills in place and clears their link. `note` absent and `note` empty are distinct values.
// Identity is the record itself. Main thread only.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>

#include "Brivel/model/entities_fwd.h"
#include "platform/data/persistent_model.h"
#include "platform/foundation/date.h"
#include "platform/foundation/uuid.h"

namespace brivel {

class BankAccountEntity : public platform::PersistentModel {
 public:
  struct Field {
    static constexpr std::size_t id = 0;
    static constexpr std::size_t name = 1;
    static constexpr std::size_t color = 2;
    static constexpr std::size_t number = 3;
    static constexpr std::size_t note = 4;
    static constexpr std::size_t profile = 5;
    static constexpr std::size_t bills = 6;
    static constexpr std::size_t timestamp = 7;
  };

  // At the declared initial values: a new random id, "", "appleYellow", "", no note, no
  // profile, an empty bill list, now.
  BankAccountEntity();

  static std::shared_ptr<BankAccountEntity> make(platform::UUID id, std::string name,
                                                 std::string color, std::string number,
                                                 std::optional<std::string> note,
                                                 std::shared_ptr<ProfileEntity> profile,
                                                 std::optional<BillList> bills,
                                                 platform::Date timestamp);

  static const platform::EntityDescription& entityDescription();

  platform::UUID id() const;
  void setId(platform::UUID value);
  std::string name() const;
  void setName(std::string value);
  std::string color() const;
  void setColor(std::string value);
  std::string number() const;
  void setNumber(std::string value);
  std::optional<std::string> note() const;
  void setNote(std::optional<std::string> value);
  std::shared_ptr<ProfileEntity> profile() const;
  void setProfile(const std::shared_ptr<ProfileEntity>& value);
  std::optional<BillList> bills() const;
  void setBills(const std::optional<BillList>& value);
  platform::Date timestamp() const;
  void setTimestamp(platform::Date value);
};

}  // namespace brivel

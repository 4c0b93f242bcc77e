// CategoryEntity: a category of a profile, which groups bills. Its `bills` list is the
// inverse of BillEntity::category; deleting a category leaves its bills in place and clears
// their link. Identity is the record itself. Main thread only.
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

class CategoryEntity : public platform::PersistentModel {
 public:
  struct Field {
    static constexpr std::size_t id = 0;
    static constexpr std::size_t name = 1;
    static constexpr std::size_t color = 2;
    static constexpr std::size_t profile = 3;
    static constexpr std::size_t bills = 4;
    static constexpr std::size_t timestamp = 5;
  };

  // At the declared initial values: a new random id, "", "appleIndigo", no profile, an
  // empty bill list, now.
  CategoryEntity();

  static std::shared_ptr<CategoryEntity> make(platform::UUID id, std::string name,
                                              std::string color,
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
  std::shared_ptr<ProfileEntity> profile() const;
  void setProfile(const std::shared_ptr<ProfileEntity>& value);
  std::optional<BillList> bills() const;
  void setBills(const std::optional<BillList>& value);
  platform::Date timestamp() const;
  void setTimestamp(platform::Date value);
};

}  // namespace brivel

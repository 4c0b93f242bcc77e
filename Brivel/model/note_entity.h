// NoteEntity: a free text kept with a profile. Identity is the record itself. Main thread
// only.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "Brivel/model/entities_fwd.h"
#include "platform/data/persistent_model.h"
#include "platform/foundation/date.h"
#include "platform/foundation/uuid.h"

namespace brivel {

class NoteEntity : public platform::PersistentModel {
 public:
  struct Field {
    static constexpr std::size_t id = 0;
    static constexpr std::size_t name = 1;
    static constexpr std::size_t color = 2;
    static constexpr std::size_t text = 3;
    static constexpr std::size_t profile = 4;
    static constexpr std::size_t timestamp = 5;
  };

  // At the declared initial values: a new random id, "", "appleYellow", "", no profile, now.
  NoteEntity();

  static std::shared_ptr<NoteEntity> make(platform::UUID id, std::string name,
                                          std::string color, std::string text,
                                          std::shared_ptr<ProfileEntity> profile,
                                          platform::Date timestamp);

  static const platform::EntityDescription& entityDescription();

  platform::UUID id() const;
  void setId(platform::UUID value);
  std::string name() const;
  void setName(std::string value);
  std::string color() const;
  void setColor(std::string value);
  std::string text() const;
  void setText(std::string value);
  std::shared_ptr<ProfileEntity> profile() const;
  void setProfile(const std::shared_ptr<ProfileEntity>& value);
  platform::Date timestamp() const;
  void setTimestamp(platform::Date value);
};

}  // namespace brivel

#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "platform/data/persistent_model.h"
#include "platform/data/schema.h"
#include "platform/data/tests/test_schema.h"
#include "platform/foundation/error.h"

namespace platform::testing {
namespace {

std::vector<DeclaredProperty> declared(std::vector<std::pair<std::size_t, const char*>> keyed) {
  std::vector<DeclaredProperty> properties;
  for (const auto& [index, name] : keyed) {
    properties.push_back(
        {index, PropertyDescription::attribute(name, AttributeType::Integer, false,
                                               PropertyDefault::none())});
  }
  return properties;
}

TEST(DeclarePropertiesTest, PlacesEachPropertyAtItsIndex) {
  auto properties = declareProperties(3, declared({{2, "c"}, {0, "a"}, {1, "b"}}));
  ASSERT_EQ(properties.size(), 3u);
  EXPECT_EQ(properties[0].name, "a");
  EXPECT_EQ(properties[1].name, "b");
  EXPECT_EQ(properties[2].name, "c");
}

TEST(DeclarePropertiesTest, RefusesAGapAClashOrAnIndexPastTheEnd) {
  const struct {
    const char* what;
    std::vector<std::pair<std::size_t, const char*>> keyed;
  } cases[] = {
      {"gap", {{0, "a"}, {2, "c"}}},
      {"clash", {{0, "a"}, {0, "b"}, {1, "c"}}},
      {"past the end", {{0, "a"}, {1, "b"}, {3, "c"}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_THROW(declareProperties(3, declared(c.keyed)), Exception);
  }
}

// Inline slots must match the description they are built for.
class TooFewSlots : private PropertyStorage<1>, public PersistentModel {
 public:
  TooFewSlots() : PersistentModel(Library::entityDescription(), propertySlots()) {}
};

class InlineLibrary : private PropertyStorage<3>, public PersistentModel {
 public:
  InlineLibrary() : PersistentModel(Library::entityDescription(), propertySlots()) {}
  std::string name() const { return attribute<std::string>(Library::kName); }
  void setName(std::string v) { setValue(Library::kName, std::move(v)); }
  auto books() const { return toMany<Book>(Library::kBooks); }
};

TEST(PropertyStorageTest, InlineSlotsHoldTheDeclaredValuesAndRefuseAWrongCount) {
  EXPECT_THROW(TooFewSlots(), Exception);
  InlineLibrary library;
  EXPECT_EQ(library.name(), "");
  EXPECT_EQ(library.books(), std::optional<std::vector<std::shared_ptr<Book>>>(
                                 std::vector<std::shared_ptr<Book>>{}));
  library.setName("City");
  EXPECT_EQ(library.name(), "City");
}

}  // namespace
}  // namespace platform::testing

#include "platform/foundation/file_names.h"

#include <gtest/gtest.h>

#include "platform/foundation/paths.h"

namespace platform {
namespace {

TEST(FileNameForIDTest, NamesStayInTheirFolderAndParseBackExactly) {
  struct Case {
    std::string id;
    std::string separators;
    std::string name;
  };
  const std::vector<Case> cases = {
      {"1:123:ios:ab", "", "1:123:ios:ab"},
      {"../x", "", "..%2Fx"},
      {"..", "", "%2E%2E"},
      {"50%", "", "50%25"},
      {std::string("a\0b", 3), "", "a%00b"},
      {"a-b", "", "a-b"},
      {"a-b", "-", "a%2Db"},
      {"-1", "-", "%2D1"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(fileNamePartForID(c.id, c.separators), c.name);
    if (c.separators.empty()) {
      EXPECT_EQ(fileNameForID(c.id), c.name);
    }
    EXPECT_EQ(idFromFileNamePart(c.name, c.separators), c.id);
  }
  // Names that no identifier gives are not taken for one.
  for (const std::string name : {"a-b", "%2d1", "%2", "%zz", "a%2Fb%", "%41", "."}) {
    SCOPED_TRACE(name);
    EXPECT_EQ(idFromFileNamePart(name, "-"), std::nullopt);
  }
}

}  // namespace
}  // namespace platform

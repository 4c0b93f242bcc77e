// The string, icon and colour tables that ship with the page.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>

#include "platform/testing/temp_directory.h"
#include "web/icons.h"
#include "web/palette.h"
#include "web/strings.h"

namespace web {
namespace {

const std::filesystem::path kAssets = BRIVEL_WEB_SOURCE_ASSETS;

TEST(StringTableTest, ShippedTableHasAnEnglishTextForEveryKeyAndNoRawKeys) {
  StringTable table;
  ASSERT_TRUE(StringTable::load(kAssets / "strings" / "en.json", table).ok());
  EXPECT_GE(table.size(), 133u);
  for (const char* key : {"localizable_saved", "localizable_allPayed", "localizable_quarter03", "localizable_startBrivel",
                          "localizable_icloudDescriptionFooter", "%lld"}) {
    EXPECT_TRUE(table.contains(key)) << key;
    std::string text = table.lookup(key);
    EXPECT_FALSE(text.empty()) << key;
    EXPECT_EQ(text.find("localizable_"), std::string::npos) << key;
  }
  EXPECT_EQ(table.lookup("localizable_allPayed"), "All paid");
}

TEST(StringTableTest, MissingKeysNeverShowAsKeys) {
  StringTable table(StringTable::Texts{{"localizable_saved", "Saved"}});
  struct Case {
    const char* key;
    const char* shown;
  } cases[] = {
      {"localizable_noBillsFound", "No bills found"},
      {"localizable_quarter01", "Quarter 01"},
      {"localizable_iCloud", "I cloud"},
      {"localizable_", ""},
      {"Brivel", "Brivel"},  // a literal text that is not a key shows as written
  };
  for (const auto& c : cases) EXPECT_EQ(table.lookup(c.key), c.shown) << c.key;
}

TEST(StringTableTest, FormatsPlaceholdersWithTheirArguments) {
  struct Case {
    const char* format;
    std::vector<std::string> args;
    const char* out;
  } cases[] = {
      {"%lld", {"12"}, "12"},
      {"%@ (%li)", {"Rent", "3"}, "Rent (3)"},
      {"%2$@ before %1$@", {"a", "b"}, "b before a"},
      {"100%% of %d", {"7"}, "100% of 7"},
      {"%@ and %@", {"only"}, "only and "},
      {"50% off", {}, "50% off"},
      {"trailing %", {}, "trailing %"},
  };
  for (const auto& c : cases) EXPECT_EQ(formatWithArguments(c.format, c.args), c.out) << c.format;

  StringTable table(StringTable::Texts{{"%lld", "%lld"}});
  EXPECT_EQ(table.text({"%lld", {"4"}, false}), "4");
  EXPECT_EQ(table.text({"<b>%lld</b>", {}, true}), "<b>%lld</b>");  // verbatim: as it stands
}

TEST(StringTableTest, RefusesFilesThatAreNotATableOfTexts) {
  platform::testing::TempDirectory directory("brivel-web-strings");
  const auto& dir = directory.path();
  for (const char* content : {"[1, 2]", "{\"a\": 1}", "{broken"}) {
    std::ofstream(dir / "bad.json") << content;
    StringTable table(StringTable::Texts{{"kept", "yes"}});
    EXPECT_FALSE(StringTable::load(dir / "bad.json", table).ok()) << content;
    EXPECT_EQ(table.lookup("kept"), "yes");
  }
  StringTable table;
  EXPECT_FALSE(StringTable::load(dir / "missing.json", table).ok());
}

TEST(IconTableTest, EverySymbolAndAssetImageNameHasADrawing) {
  IconTable icons = IconTable::load(kAssets);
  const char* names[] = {
      // Symbols.
      "arrow.circlepath", "arrow.up.arrow.down", "arrowshape.up", "arrowshape.down", "calendar", "cart", "centsign",
      "checkmark", "chevron.forward", "circle", "clock", "cloud.sun", "creditcard", "doc.on.doc", "ellipsis", "envelope",
      "eye", "eye.slash", "eyeglasses", "eyeglasses.slash", "gearshape", "heart", "icloud",
      "line.3.horizontal.decrease", "paperclip", "pencil", "person", "person.2", "person.3",
      "person.crop.circle.badge.clock.fill", "person.crop.circle.badge.questionmark.fill", "person.crop.circle.fill",
      "person.crop.circle.fill.badge.checkmark", "personalhotspot", "plus", "questionmark.bubble", "star", "sun.max",
      "trash", "tray.full", "xmark",
      // Asset images.
      "brivelTips", "archivebox", "archivebox.fill", "archivebox.fill.slash", "archivebox.slash",
      "calendar.badge.arrow.down", "calendar.badge.arrow.up", "centsign.circle", "centsign.circle.badge.arrow.down",
      "centsign.circle.badge.arrow.up", "clock.badge.arrow.down", "clock.badge.arrow.up", "envelope.badge.arrow.down",
      "envelope.badge.arrow.up", "paintbrush", "paintbrush.badge.arrow.down", "paintbrush.badge.arrow.up",
      "personalhotspot.badge.arrow.down", "personalhotspot.badge.arrow.up", "line.3.horizontal.decrease.slash",
      "creditcard.badge.plus", "personalhotspot.badge.plus", "creditcard.circle.fill.badge.questionmark",
      "envelope.circle.fill.badge.checkmark", "envelope.circle.fill.badge.questionmark",
      "magnifyingglass.circle.fill.badge.questionmark", "paperclip.circle.fill.badge.questionmark",
      "person.2.circle.fill.badge.questionmark", "personalhotspot.circle.fill.badge.questionmark",
      "externaldrive.connected.to.line.below.fill.badge.person.crop",
  };
  for (const char* name : names) {
    EXPECT_TRUE(icons.contains(name)) << name;
    EXPECT_EQ(icons.url(name), "/assets/icons/" + std::string(name) + ".svg");
  }
  EXPECT_EQ(icons.url("no.such.thing"), "/assets/icons/unknown.symbol.svg");
  EXPECT_EQ(icons.url("../../etc/passwd"), "/assets/icons/unknown.symbol.svg");
}

TEST(PaletteTest, KnowsEveryNamedColourOnceWithBothAppearances) {
  std::set<std::string_view> names;
  for (const auto& c : paletteColors()) {
    EXPECT_TRUE(names.insert(c.name).second) << c.name;
    EXPECT_EQ(c.light.size(), 7u) << c.name;
    EXPECT_EQ(c.dark.size(), 7u) << c.name;
  }
  EXPECT_EQ(names.size(), 21u);
  for (const char* name : {"appleRed", "appleGray", "sonicBlue", "sonicGray", "sonicYellow", "tailsOrange"}) {
    EXPECT_TRUE(paletteColor(name)) << name;
  }
  EXPECT_FALSE(paletteColor("applered"));
  std::string css = paletteCss();
  EXPECT_NE(css.find("--c-tailsOrange:#"), std::string::npos);
  EXPECT_NE(css.find("prefers-color-scheme: dark"), std::string::npos);
}

}  // namespace
}  // namespace web

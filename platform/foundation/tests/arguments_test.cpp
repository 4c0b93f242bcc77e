#include "platform/foundation/arguments.h"

#include <gtest/gtest.h>

#include <vector>

namespace platform {
namespace {

const ArgumentSpec kSpec{.valued = {"--data-dir", "--port"}, .switches = {"--help", "-h"}, .passed = {"-Debug"}};

Expected<Arguments> parse(std::vector<const char*> words) {
  words.insert(words.begin(), "program");
  return parseArguments(static_cast<int>(words.size()), words.data(), kSpec);
}

TEST(ArgumentsTest, ReadsValuesSwitchesAndPassedWordsInAnyOrder) {
  auto parsed = parse({"-Debug", "--port", "0", "-h", "--data-dir", "a b", "--port", "8080"});
  ASSERT_TRUE(parsed.ok()) << parsed.error().localizedDescription();
  EXPECT_EQ(parsed->value("--data-dir"), "a b");
  EXPECT_EQ(parsed->value("--port"), "8080") << "the last one counts";
  EXPECT_TRUE(parsed->has("-h"));
  EXPECT_FALSE(parsed->has("--help"));
  EXPECT_EQ(parse({})->value("--port"), std::nullopt);
}

TEST(ArgumentsTest, RefusesUnknownWordsAndMissingOrEmptyValues) {
  struct Case {
    std::vector<const char*> words;
    const char* error;
  } cases[] = {
      {{"--verbose"}, "unknown argument '--verbose'"},
      {{"--port"}, "--port needs a value"},
      {{"--data-dir", ""}, "--data-dir needs a value"},
      {{"--port", "1", "8080"}, "unknown argument '8080'"},
      {{"--help=1"}, "unknown argument '--help=1'"},
  };
  for (const auto& c : cases) {
    auto parsed = parse(c.words);
    ASSERT_FALSE(parsed.ok()) << c.error;
    EXPECT_EQ(parsed.error().localizedDescription(), c.error);
  }
}

}  // namespace
}  // namespace platform

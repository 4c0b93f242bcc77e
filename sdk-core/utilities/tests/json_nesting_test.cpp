#include "sdk-core/utilities/json_nesting.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string nested(size_t depth) { return std::string(depth, '[') + std::string(depth, ']'); }

TEST(JSONNesting, CountsOpenLevelsOutsideStrings) {
  struct Case {
    std::string text;
    size_t limit;
    bool within;
  };
  for (const Case& c : {
           Case{"", 0, true},
           Case{"42", 0, true},
           Case{"{}", 0, false},
           Case{"{}", 1, true},
           Case{R"({"a":[1,{"b":[]}]})", 4, true},
           Case{R"({"a":[1,{"b":[]}]})", 3, false},
           Case{"[][][][]", 1, true},  // siblings do not add up
           // Brackets in strings are text, and an escaped quote does not end the string.
           Case{R"(["[[[[", "\"[[[[", "\\"])", 1, true},
           Case{R"(["\\"[[])", 1, false},
           // Unbalanced closers cannot make room for more openers.
           Case{"]]]]{{", 1, false},
           // Cut text: what is open so far counts.
           Case{nested(3).substr(0, 3), 3, true},
           Case{"[\"unterminated [[[[", 1, true},
       }) {
    EXPECT_EQ(UTLJSONNestingWithin(c.text, c.limit), c.within) << c.text << " limit " << c.limit;
  }
}

TEST(JSONNesting, DefaultLimitAdmitsDocumentsAndRefusesUnboundedText) {
  EXPECT_TRUE(UTLJSONNestingWithin(nested(kUTLJSONMaxNesting)));
  EXPECT_FALSE(UTLJSONNestingWithin(nested(kUTLJSONMaxNesting + 1)));
  EXPECT_FALSE(UTLJSONNestingWithin(std::string(200000, '[')));
}

}  // namespace

// The platform symbol names the app draws its icons with.
//
// A case's raw value is the symbol name; the case name is that name in lower camel case with
// the dots dropped (two irregular ones: `centSign` is "centsign", and "arrowshape" stays one
// word). The web front maps every raw value to an icon.
#pragma once

#include <array>
#include <optional>
#include <string_view>

namespace brivel {

enum class SFSymbols {
  arrowCirclepath = 0,
  arrowUpArrowDown = 1,
  arrowshapeUp = 2,
  arrowshapeDown = 3,
  calendar = 4,
  cart = 5,
  centSign = 6,
  checkmark = 7,
  chevronForward = 8,
  circle = 9,
  clock = 10,
  cloudSun = 11,
  creditcard = 12,
  docOnDoc = 13,
  ellipsis = 14,
  envelope = 15,
  eye = 16,
  eyeSlash = 17,
  eyeglasses = 18,
  eyeglassesSlash = 19,
  gearshape = 20,
  heart = 21,
  icloud = 22,
  line3HorizontalDecrease = 23,
  paperclip = 24,
  pencil = 25,
  person = 26,
  person2 = 27,
  person3 = 28,
  personCropCircleBadgeClockFill = 29,
  personCropCircleBadgeQuestionmarkFill = 30,
  personCropCircleFill = 31,
  personCropCircleFillBadgeCheckmark = 32,
  personalhotspot = 33,
  plus = 34,
  questionmarkBubble = 35,
  star = 36,
  sunMax = 37,
  trash = 38,
  trayFull = 39,
  xmark = 40,
};

// The symbol name of a case.
std::string_view rawValue(SFSymbols symbol);

// The case whose raw value is exactly `rawValue`; absent for any other text.
std::optional<SFSymbols> sfSymbolsFromRawValue(std::string_view rawValue);

// Every case, in declaration order.
extern const std::array<SFSymbols, 41> kAllSFSymbols;

}  // namespace brivel

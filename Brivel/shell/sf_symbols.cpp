#include "Brivel/shell/sf_symbols.h"

namespace brivel {
namespace {

constexpr std::array<std::string_view, 41> kRawValues = {
    "arrow.circlepath",
    "arrow.up.arrow.down",
    "arrowshape.up",
    "arrowshape.down",
    "calendar",
    "cart",
    "centsign",
    "checkmark",
    "chevron.forward",
    "circle",
    "clock",
    "cloud.sun",
    "creditcard",
    "doc.on.doc",
    "ellipsis",
    "envelope",
    "eye",
    "eye.slash",
    "eyeglasses",
    "eyeglasses.slash",
    "gearshape",
    "heart",
    "icloud",
    "line.3.horizontal.decrease",
    "paperclip",
    "pencil",
    "person",
    "person.2",
    "person.3",
    "person.crop.circle.badge.clock.fill",
    "person.crop.circle.badge.questionmark.fill",
    "person.crop.circle.fill",
    "person.crop.circle.fill.badge.checkmark",
    "personalhotspot",
    "plus",
    "questionmark.bubble",
    "star",
    "sun.max",
    "trash",
    "tray.full",
    "xmark",
};

}  // namespace

const std::array<SFSymbols, 41> kAllSFSymbols = {
    SFSymbols::arrowCirclepath,
    SFSymbols::arrowUpArrowDown,
    SFSymbols::arrowshapeUp,
    SFSymbols::arrowshapeDown,
    SFSymbols::calendar,
    SFSymbols::cart,
    SFSymbols::centSign,
    SFSymbols::checkmark,
    SFSymbols::chevronForward,
    SFSymbols::circle,
    SFSymbols::clock,
    SFSymbols::cloudSun,
    SFSymbols::creditcard,
    SFSymbols::docOnDoc,
    SFSymbols::ellipsis,
    SFSymbols::envelope,
    SFSymbols::eye,
    SFSymbols::eyeSlash,
    SFSymbols::eyeglasses,
    SFSymbols::eyeglassesSlash,
    SFSymbols::gearshape,
    SFSymbols::heart,
    SFSymbols::icloud,
    SFSymbols::line3HorizontalDecrease,
    SFSymbols::paperclip,
    SFSymbols::pencil,
    SFSymbols::person,
    SFSymbols::person2,
    SFSymbols::person3,
    SFSymbols::personCropCircleBadgeClockFill,
    SFSymbols::personCropCircleBadgeQuestionmarkFill,
    SFSymbols::personCropCircleFill,
    SFSymbols::personCropCircleFillBadgeCheckmark,
    SFSymbols::personalhotspot,
    SFSymbols::plus,
    SFSymbols::questionmarkBubble,
    SFSymbols::star,
    SFSymbols::sunMax,
    SFSymbols::trash,
    SFSymbols::trayFull,
    SFSymbols::xmark,
};

std::string_view rawValue(SFSymbols symbol) { return kRawValues.at(static_cast<size_t>(symbol)); }

std::optional<SFSymbols> sfSymbolsFromRawValue(std::string_view rawValue) {
  for (size_t i = 0; i < kRawValues.size(); ++i) {
    if (kRawValues[i] == rawValue) return static_cast<SFSymbols>(i);
  }
  return std::nullopt;
}

}  // namespace brivel

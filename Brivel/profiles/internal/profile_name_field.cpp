#include "Brivel/profiles/internal/profile_name_field.h"

#include "Brivel/shell/localized_keys.h"
#include "Brivel/shell/view_helpers.h"
#include "Brivel/shell/view_modifiers.h"

namespace brivel::profiles_internal {

using namespace platform::ui;

View profileNameField(const Binding<std::string>& name, const Binding<bool>& isFocused) {
  return (TextField(keyText(localizable_enter), name)
              .textInputAutocapitalization(TextInputAutocapitalization::words)
              .focused(isFocused)
              .submitLabel(SubmitLabel::return_) |
          TextFieldLimiterModifier{name, kProfileNameLimit})
      .multilineTextAlignment(TextAlignment::trailing)
      .accessibilityIdentifier("profileName");
}

}  // namespace brivel::profiles_internal

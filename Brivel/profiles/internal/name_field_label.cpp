#include "Brivel/profiles/internal/name_field_label.h"

#include "Brivel/shell/localized_keys.h"
#include "Brivel/shell/view_helpers.h"

namespace brivel::profiles_internal {

using namespace platform::ui;

View nameFieldLabel() { return LocalizedText(localizable_name).foregroundStyle(Color::system("secondary")); }

}  // namespace brivel::profiles_internal

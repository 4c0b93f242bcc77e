#include "Brivel/bills/internal/delete_row_label.h"

#include "Brivel/shell/localized_keys.h"
#include "Brivel/shell/view_helpers.h"
#include "Brivel/shell/view_modifiers.h"

namespace brivel::bills_internal {

using namespace platform::ui;

View deleteRowLabel() {
  return LabeledContent(LocalizedText(localizable_delete) |
                            TitleFontStyleModifier{"headline", Color::system("white"), true, "leading"},
                        SystemImage("trash").foregroundStyle(Color::system("white")));
}

}  // namespace brivel::bills_internal

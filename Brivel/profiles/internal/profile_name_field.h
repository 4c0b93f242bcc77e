// The profile-name text field of the profile forms (add, edit and the legacy import): the
// "localizable_enter" prompt, words capitalised, focus bound to `isFocused`, the return key
// as submit label, at most 30 characters, trailing alignment, identified as "profileName".
// The returned view keeps only the two bindings it is given.
//
// Threads: main thread, like the views.
#pragma once

#include <cstddef>
#include <string>

#include "platform/ui/state.h"
#include "platform/ui/view.h"

namespace brivel::profiles_internal {

// The longest profile name the forms accept, in user-perceived characters.
inline constexpr std::size_t kProfileNameLimit = 30;

platform::ui::View profileNameField(const platform::ui::Binding<std::string>& name,
                                    const platform::ui::Binding<bool>& isFocused);

}  // namespace brivel::profiles_internal

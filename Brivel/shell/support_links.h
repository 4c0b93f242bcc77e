// The app's fixed links: the support mail address and the store's write-review page.
#pragma once

namespace brivel {

// The support mail link of the settings screen and of the store failure screen.
inline constexpr const char* kSupportMailURL = "mailto:support@brivel.invalid";

// The parts of the store's write-review page of the app.
inline constexpr const char* kStoreHost = "apps.brivel.invalid";
inline constexpr const char* kStoreAppPath = "/app/id6180473925";

}  // namespace brivel

// The SDK's start-up: the one ordered function that registers the SDK's libraries with
// TELApp before the first configuration, and the launch call the app makes first thing.
//
// This target sits above every SDK library, so it is the one place that knows all of them;
// each library adds its registration call to TELRunStartupRegistrations, in the order below:
//   0. event transport — ETRunLoadTimeRegistrations(...): first of all, as its classes load
//      before the SDK's; the upload library hands in its uploader and metrics controller
//   1. installations   — TELApp::registerInternalLibrary(<library>, "tel-install")
//   2. crash reporting — TELApp::registerInternalLibrary(<library>, "telemetry-vuzirerered")
//   3. session producer — TELSessionsRegister(), which enters "TELSessions" in TELClassRegistry; TELApp
//      registers it by that name ("tel-ses") at the first configuration.
//
// Threads: main thread, at launch, before any SDK queue exists.
#pragma once

#include "platform/foundation/expected.h"

// Runs the libraries' registrations; only the first call in a process does anything.
void TELRunStartupRegistrations();

// The app's first launch step: the registrations, then TELApp::configure(), then one line
// on the system log and one on standard error saying so. What configure raises (no options
// file beside the program; a second call: "Default app has already been configured.") comes
// back as the failure: an Error whose domain is the exception's name and whose description is
// its reason.
platform::Status TELConfigureSDKAtLaunch();

// The console service tag of the installations client's lines.
#pragma once

inline constexpr const char* kTELInstallationsLoggerService = "[TelemetryInstallations]";

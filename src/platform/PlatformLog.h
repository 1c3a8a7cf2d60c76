#pragma once

#include "platform/OSLog.h"

// The subsystem every log category of the application is named under ("<subsystem>.<area>"), this
// layer's own included, so that one logging rule reaches them all. The app's loggers take it from
// here too, so the two can never drift apart.
inline constexpr char logSubsystem[] = "io.halvorn.orvanta";

// The logger of the platform layer's own failures (an unreadable defaults file, a refused
// temporary folder); the app's loggers live above this layer.
const OSLog& platformLog();

#pragma once

#include "platform/OSLog.h"

// The logger of the platform layer's own failures (an unreadable defaults file, a refused
// temporary folder); the app's loggers live above this layer.
const OSLog& platformLog();

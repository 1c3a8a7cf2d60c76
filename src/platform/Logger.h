#pragma once

#include "platform/OSLog.h"

#include <QString>

// The application's log channels, one per area, all under one subsystem. Each is made on first
// use (safe when threads race to it) and lives until the process ends.
class Logger {
public:
    static const OSLog& device();
    static const OSLog& bridge();
    static const OSLog& filesystem();
    static const OSLog& transfer();
    static const OSLog& ui();

    // "io.halvorn.orvanta": the identifier every channel's category name starts with.
    static const QString& subsystem();

    // Which levels of the app's channels are written: info and above, or with verbose the debug
    // lines too. QT_LOGGING_RULES still has the last word: Qt applies it after these rules.
    static void setVerbose(bool verbose);

    Logger() = delete;
};

#include "platform/Logger.h"

#include "platform/PlatformLog.h"

#include <QLoggingCategory>

namespace {

// Function-local statics give the one-time, thread-safe creation; the channels are leaked on
// purpose so that logging from other static destructors at exit still finds them alive.
const OSLog& makeChannel(const char* category) {
    return *new OSLog(Logger::subsystem(), QString::fromLatin1(category));
}

} // namespace

const QString& Logger::subsystem() {
    static const QString identifier = QString::fromLatin1(logSubsystem);
    return identifier;
}

void Logger::setVerbose(bool verbose) {
    // Debug lines come every few seconds from the device scan and on every paint from some views:
    // a user's terminal gets them only on request.
    QLoggingCategory::setFilterRules(subsystem() + QStringLiteral(".*.debug=") +
                                     (verbose ? QStringLiteral("true") : QStringLiteral("false")));
}

const OSLog& Logger::device() {
    static const OSLog& channel = makeChannel("device");
    return channel;
}

const OSLog& Logger::bridge() {
    static const OSLog& channel = makeChannel("bridge");
    return channel;
}

const OSLog& Logger::filesystem() {
    static const OSLog& channel = makeChannel("filesystem");
    return channel;
}

const OSLog& Logger::transfer() {
    static const OSLog& channel = makeChannel("transfer");
    return channel;
}

const OSLog& Logger::ui() {
    static const OSLog& channel = makeChannel("ui");
    return channel;
}

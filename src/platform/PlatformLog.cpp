#include "platform/PlatformLog.h"

const OSLog& platformLog() {
    static const OSLog log(QString::fromLatin1(logSubsystem), QStringLiteral("platform"));
    return log;
}

#include "platform/PlatformLog.h"

const OSLog& platformLog() {
    static const OSLog log(QStringLiteral("orvanta"), QStringLiteral("platform"));
    return log;
}

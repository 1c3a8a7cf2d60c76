// One category for the whole asynchronous layer, so its warnings can be switched on together.

#include "platform/async/AsyncLog.h"

#include "platform/PlatformLog.h"
#include "platform/async/Cancellation.h"

namespace async {

const QLoggingCategory& lcAsync() {
    // QLoggingCategory keeps the pointer to its name, so the name lives as long as the category.
    static const QByteArray name = QByteArray(logSubsystem) + ".platform.async";
    static const QLoggingCategory category(name.constData());
    return category;
}

QString describeException(std::exception_ptr error) {
    if (!error) {
        return QStringLiteral("no error");
    }
    try {
        std::rethrow_exception(error);
    } catch (const CancelledError&) {
        return QStringLiteral("cancelled");
    } catch (const std::exception& e) {
        return QString::fromUtf8(e.what());
    } catch (...) {
        return QStringLiteral("unknown error");
    }
}

} // namespace async

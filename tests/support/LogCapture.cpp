#include "LogCapture.h"

#include "platform/Logger.h"

#include <QMutex>
#include <QMutexLocker>

namespace {

// One lock for the active capture and every record list: the handler runs on whichever thread
// logs, and must never see a capture that is being destroyed.
QMutex& captureMutex() {
    static QMutex mutex;
    return mutex;
}

LogCapture* activeCapture = nullptr;

} // namespace

LogCapture::LogCapture() {
    {
        QMutexLocker lock(&captureMutex());
        m_outer = activeCapture;
        activeCapture = this;
    }
    m_previousHandler = qInstallMessageHandler(&LogCapture::handleMessage);
    // The filter overrides QT_LOGGING_RULES, which setFilterRules() could not; reinstalling the
    // previous filter later re-applies the rules to every category.
    if (!m_outer)
        m_previousFilter = QLoggingCategory::installFilter(&LogCapture::enableEveryLevel);
}

LogCapture::~LogCapture() {
    if (!m_outer)
        QLoggingCategory::installFilter(m_previousFilter);
    qInstallMessageHandler(m_previousHandler);
    QMutexLocker lock(&captureMutex());
    activeCapture = m_outer;
}

void LogCapture::enableEveryLevel(QLoggingCategory* category) {
    category->setEnabled(QtDebugMsg, true);
    category->setEnabled(QtInfoMsg, true);
    category->setEnabled(QtWarningMsg, true);
    category->setEnabled(QtCriticalMsg, true);
}

void LogCapture::handleMessage(QtMsgType level, const QMessageLogContext& context, const QString& message) {
    QMutexLocker lock(&captureMutex());
    if (!activeCapture)
        return;
    const QString category =
        context.category ? QString::fromUtf8(context.category) : QStringLiteral("default");
    activeCapture->m_records.append(LogRecord{category, level, message});
}

QString LogCapture::category(const QString& area) {
    return Logger::subsystem() + QLatin1Char('.') + area;
}

QList<LogRecord> LogCapture::records() const {
    QMutexLocker lock(&captureMutex());
    return m_records;
}

bool LogCapture::contains(const QString& category, const QString& message) const {
    QMutexLocker lock(&captureMutex());
    for (const LogRecord& record : m_records)
        if (record.category == category && record.message == message)
            return true;
    return false;
}

QStringList LogCapture::messages(const QString& category) const {
    QMutexLocker lock(&captureMutex());
    QStringList result;
    for (const LogRecord& record : m_records)
        if (category.isEmpty() || record.category == category)
            result.append(record.message);
    return result;
}

void LogCapture::clear() {
    QMutexLocker lock(&captureMutex());
    m_records.clear();
}

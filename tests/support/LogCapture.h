#pragma once

#include <QList>
#include <QLoggingCategory>
#include <QString>
#include <QStringList>
#include <QtGlobal>

struct LogRecord {
    QString category;
    QtMsgType level;
    QString message;
};

// Records every Qt log message while it lives, so that tests can check that a failure was
// logged on its category before it was shown or swallowed. Debug output of every category is
// switched on meanwhile (whatever QT_LOGGING_RULES says), and the previous message handler and
// category filter come back when it is destroyed. Messages from any thread are recorded.
// Captures may nest; the innermost one records.
class LogCapture {
public:
    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    // The full category name of one of the app's log areas: category("bridge") is
    // "io.halvorn.orvanta.bridge". Tests name areas, so the subsystem is spelled in one place.
    static QString category(const QString& area);

    QList<LogRecord> records() const;
    bool contains(const QString& category, const QString& message) const;
    // The messages of one category, or of all when category is empty, in the order logged.
    QStringList messages(const QString& category = {}) const;
    void clear();

private:
    static void handleMessage(QtMsgType level, const QMessageLogContext& context, const QString& message);
    static void enableEveryLevel(QLoggingCategory* category);

    QList<LogRecord> m_records;
    LogCapture* m_outer = nullptr;
    QtMessageHandler m_previousHandler = nullptr;
    QLoggingCategory::CategoryFilter m_previousFilter = nullptr;
};

#pragma once

#include "platform/LogArgument.h"

#include <QLoggingCategory>
#include <QString>

#include <initializer_list>
#include <memory>

// One logging subsystem and category, the way the app's log lines are written: printf-style
// formats with typed arguments. Backed by a QLoggingCategory named "<subsystem>.<category>", so
// the usual QT_LOGGING_RULES switch categories and levels on and off.
//
// Directives: %s %@ (text; %{public}s and %{private}s alike), %d %i %ld %lld (signed),
// %u %lu %llu %zu %x %X %o (unsigned), %f %e %g (double), %c, %% and %{bool}d / %{BOOL}d
// (true/false, YES/NO). Flags, width and precision work as in printf. Any argument goes with any
// directive: it is converted, never reinterpreted, so a wrong format cannot crash the app.
class OSLog {
public:
    OSLog(QString subsystem, QString category);

    const QLoggingCategory& loggingCategory() const { return *m_shared->loggingCategory; }
    QString subsystem() const { return m_shared->subsystem; }
    QString category() const { return m_shared->category; }

    template <class... A> void debug(const char* format, const A&... args) const {
        if (loggingCategory().isDebugEnabled())
            write(QtDebugMsg, formatArguments(format, {LogArgument(args)...}));
    }
    template <class... A> void info(const char* format, const A&... args) const {
        if (loggingCategory().isInfoEnabled())
            write(QtInfoMsg, formatArguments(format, {LogArgument(args)...}));
    }
    // The default level of the unified log; Qt has no level between info and warning.
    template <class... A> void notice(const char* format, const A&... args) const { info(format, args...); }
    template <class... A> void error(const char* format, const A&... args) const {
        if (loggingCategory().isCriticalEnabled())
            write(QtCriticalMsg, formatArguments(format, {LogArgument(args)...}));
    }
    template <class... A> void fault(const char* format, const A&... args) const { error(format, args...); }

    template <class... A> static QString format(const char* format, const A&... args) {
        return formatArguments(format, {LogArgument(args)...});
    }

    static QString formatArguments(const char* format, std::initializer_list<LogArgument> arguments);

private:
    void write(QtMsgType level, const QString& message) const;

    // Shared, so that copies of a logger are cheap and the category object (which Qt keeps a
    // pointer to its name of) never moves.
    struct Shared {
        QString subsystem;
        QString category;
        QByteArray name;
        std::unique_ptr<QLoggingCategory> loggingCategory;
    };
    std::shared_ptr<const Shared> m_shared;
};

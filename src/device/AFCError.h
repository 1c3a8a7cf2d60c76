#pragma once

#include "platform/Error.h"

#include <QString>

#include <optional>

// The error of every device operation. Its text names the failing library call and the number it
// returned, so that a log line or an alert says what the device refused.
class AFCError : public Error {
public:
    enum class Case {
        connectionFailed,
        sessionFailed,
        directoryListFailed,
        fileInfoFailed,
        fileOpenFailed,
        fileReadFailed,
        notConnected,
        deleteFailed,
        writeFailed,
        makeDirectoryFailed,
        renameFailed,
        appNotFileAccessible,
        deviceLocked,
    };

    AFCError(Case errorCase, QString text = QString(), std::optional<int> posixError = std::nullopt);

    static AFCError connectionFailed(QString text) {
        return AFCError(Case::connectionFailed, std::move(text));
    }
    static AFCError sessionFailed(QString text) { return AFCError(Case::sessionFailed, std::move(text)); }
    static AFCError directoryListFailed(QString text) { return {Case::directoryListFailed, std::move(text)}; }
    static AFCError fileInfoFailed(QString text) { return AFCError(Case::fileInfoFailed, std::move(text)); }
    static AFCError fileOpenFailed(QString text) { return AFCError(Case::fileOpenFailed, std::move(text)); }
    static AFCError fileReadFailed(QString text) { return AFCError(Case::fileReadFailed, std::move(text)); }
    static AFCError notConnected(QString key) { return AFCError(Case::notConnected, std::move(key)); }
    static AFCError deleteFailed(QString text) { return AFCError(Case::deleteFailed, std::move(text)); }
    static AFCError writeFailed(QString text) { return AFCError(Case::writeFailed, std::move(text)); }
    static AFCError makeDirectoryFailed(QString text) { return {Case::makeDirectoryFailed, std::move(text)}; }
    static AFCError renameFailed(QString text) { return AFCError(Case::renameFailed, std::move(text)); }
    static AFCError appNotFileAccessible(QString bundleID) {
        return {Case::appNotFileAccessible, std::move(bundleID)};
    }
    static AFCError deviceLocked() { return AFCError(Case::deviceLocked); }

    // A failure of a local file keeps its errno beside the text, so that a caller can tell a
    // full disk (ENOSPC) or a refused folder (EACCES) from a device fault without parsing text.
    static AFCError withPosixError(Case errorCase, QString text, int posixError) {
        return AFCError(errorCase, std::move(text), posixError);
    }

    Case errorCase() const { return m_case; }
    // The case's payload: the failure text, the session key (notConnected) or the bundle
    // identifier (appNotFileAccessible); empty for deviceLocked.
    const QString& text() const { return m_text; }
    std::optional<int> posixError() const { return m_posixError; }

    QString description() const override;

private:
    Case m_case;
    QString m_text;
    std::optional<int> m_posixError;
};

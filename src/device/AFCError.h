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
    // A failed AFC call: the text is call + " error " + result + suffix, and the result is kept,
    // so that a caller can tell a device that went away from a refused entry.
    static AFCError fromLibrary(Case errorCase, const char* call, int afcResult, const QString& suffix = {});
    // A failed AFC call worded otherwise; the result is still kept.
    static AFCError withLibraryResult(Case errorCase, QString text, int afcResult);

    // Whether an AFC result means the connection itself is gone (the cable was pulled, the device
    // restarted, the stream broke or stopped answering) rather than that one entry was refused.
    // After such a result nothing more can be learned on that connection, so an operation that
    // gathers answers entry by entry must fail as a whole instead of returning what it has.
    static bool meansLostConnection(int afcResult);

    Case errorCase() const { return m_case; }
    // The case's payload: the failure text, the session key (notConnected) or the bundle
    // identifier (appNotFileAccessible); empty for deviceLocked.
    const QString& text() const { return m_text; }
    std::optional<int> posixError() const { return m_posixError; }
    // The AFC result that caused the failure, when a library call failed.
    std::optional<int> libraryResult() const { return m_libraryResult; }
    bool isConnectionLost() const { return m_libraryResult && meansLostConnection(*m_libraryResult); }

    QString description() const override;

private:
    Case m_case;
    QString m_text;
    std::optional<int> m_posixError;
    std::optional<int> m_libraryResult;
};

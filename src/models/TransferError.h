#pragma once

#include "platform/Error.h"

#include <QString>

// Why a transfer failed. The engine maps file-system and device failures onto these cases.
//
// description() is the form the history and the report store ("ioError(\"Disk error\")"), not
// a sentence for the user: the alert words each case itself (transferFailedAlertText).
class TransferError : public Error {
public:
    enum class Case { fileNotFound, ioError, deviceDisconnected, diskFull, permissionDenied };

    static TransferError fileNotFound(QString message);
    static TransferError ioError(QString message);
    static TransferError deviceDisconnected();
    static TransferError diskFull();
    static TransferError permissionDenied();

    Case errorCase() const { return m_case; }
    // The payload of fileNotFound and ioError; empty for the other cases.
    const QString& message() const { return m_message; }

    QString description() const override;

    bool operator==(const TransferError& other) const {
        return m_case == other.m_case && m_message == other.m_message;
    }

private:
    TransferError(Case errorCase, QString message);

    Case m_case;
    QString m_message;
};

// Title of the alert shown when a transfer fails.
inline constexpr const char* transferFailedAlertTitle = "Transfer Failed";

// The alert's informative text; an I/O error quotes the file that was being copied.
QString transferFailedAlertText(const TransferError& error, const QString& currentFile);

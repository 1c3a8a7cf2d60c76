#include "models/TransferError.h"

namespace {

// A double-quoted literal in the form the history has always stored: quote and backslash
// escaped, common controls as \n \r \t \0, any other control as \u{hex}, the rest as it is.
QString quotedLiteral(const QString& text) {
    QString quoted;
    quoted.reserve(text.size() + 2);
    quoted += QLatin1Char('"');
    for (const QChar c : text) {
        switch (c.unicode()) {
        case '"':
            quoted += QLatin1String("\\\"");
            break;
        case '\\':
            quoted += QLatin1String("\\\\");
            break;
        case '\n':
            quoted += QLatin1String("\\n");
            break;
        case '\r':
            quoted += QLatin1String("\\r");
            break;
        case '\t':
            quoted += QLatin1String("\\t");
            break;
        case 0:
            quoted += QLatin1String("\\0");
            break;
        default:
            if (c.unicode() < 0x20 || c.unicode() == 0x7f)
                quoted += QStringLiteral("\\u{%1}").arg(c.unicode(), 0, 16);
            else
                quoted += c;
        }
    }
    quoted += QLatin1Char('"');
    return quoted;
}

} // namespace

TransferError::TransferError(Case errorCase, QString message)
    : m_case(errorCase), m_message(std::move(message)) {}

TransferError TransferError::fileNotFound(QString message) {
    return TransferError(Case::fileNotFound, std::move(message));
}

TransferError TransferError::ioError(QString message) {
    return TransferError(Case::ioError, std::move(message));
}

TransferError TransferError::deviceDisconnected() {
    return TransferError(Case::deviceDisconnected, {});
}

TransferError TransferError::diskFull() {
    return TransferError(Case::diskFull, {});
}

TransferError TransferError::permissionDenied() {
    return TransferError(Case::permissionDenied, {});
}

QString TransferError::description() const {
    switch (m_case) {
    case Case::fileNotFound:
        return QStringLiteral("fileNotFound(%1)").arg(quotedLiteral(m_message));
    case Case::ioError:
        return QStringLiteral("ioError(%1)").arg(quotedLiteral(m_message));
    case Case::deviceDisconnected:
        return QStringLiteral("deviceDisconnected");
    case Case::diskFull:
        return QStringLiteral("diskFull");
    case Case::permissionDenied:
        return QStringLiteral("permissionDenied");
    }
    return {};
}

QString transferFailedAlertText(const TransferError& error, const QString& currentFile) {
    switch (error.errorCase()) {
    case TransferError::Case::fileNotFound:
        return QStringLiteral("File not found: ") + error.message();
    case TransferError::Case::ioError:
        return QStringLiteral("An error occurred copying \"") + currentFile + QStringLiteral("\": ") +
               error.message();
    case TransferError::Case::deviceDisconnected:
        return QStringLiteral("The iOS device was disconnected during the transfer.");
    case TransferError::Case::diskFull:
        return QStringLiteral("Not enough disk space to complete the transfer.");
    case TransferError::Case::permissionDenied:
        return QStringLiteral("Permission denied. Check that you have access to the destination folder.");
    }
    return {};
}

#include "device/AFCError.h"

#include <libimobiledevice/afc.h>

AFCError::AFCError(Case errorCase, QString text, std::optional<int> posixError)
    : m_case(errorCase), m_text(std::move(text)), m_posixError(posixError) {}

AFCError AFCError::fromLibrary(Case errorCase, const char* call, int afcResult, const QString& suffix) {
    return withLibraryResult(errorCase,
                             QString::fromLatin1(call) + QStringLiteral(" error ") +
                                 QString::number(afcResult) + suffix,
                             afcResult);
}

AFCError AFCError::withLibraryResult(Case errorCase, QString text, int afcResult) {
    AFCError error(errorCase, std::move(text));
    error.m_libraryResult = afcResult;
    return error;
}

bool AFCError::meansLostConnection(int afcResult) {
    switch (static_cast<afc_error_t>(afcResult)) {
    // The socket failed or closed: the library's own answer when send or receive fails.
    case AFC_E_MUX_ERROR:
    // A reply cut short or with a broken header: the stream can no longer be trusted, and the
    // next request would be read out of step.
    case AFC_E_NOT_ENOUGH_DATA:
    case AFC_E_OP_HEADER_INVALID:
    // The service or the session stopped answering.
    case AFC_E_SERVICE_NOT_CONNECTED:
    case AFC_E_OP_TIMEOUT:
        return true;
    default:
        return false;
    }
}

QString AFCError::description() const {
    switch (m_case) {
    case Case::connectionFailed:
        return QStringLiteral("AFC connection failed: ") + m_text;
    case Case::sessionFailed:
        return QStringLiteral("AFC session failed: ") + m_text;
    case Case::directoryListFailed:
        return QStringLiteral("Directory list failed: ") + m_text;
    case Case::fileInfoFailed:
        return QStringLiteral("File info failed: ") + m_text;
    case Case::fileOpenFailed:
        return QStringLiteral("File open failed: ") + m_text;
    case Case::fileReadFailed:
        return QStringLiteral("File read failed: ") + m_text;
    case Case::notConnected:
        return QStringLiteral("No AFC session for device ") + m_text;
    case Case::deleteFailed:
        return QStringLiteral("AFC delete failed: ") + m_text;
    case Case::writeFailed:
        return QStringLiteral("AFC write failed: ") + m_text;
    case Case::makeDirectoryFailed:
        return QStringLiteral("AFC make directory failed: ") + m_text;
    case Case::renameFailed:
        return QStringLiteral("AFC rename failed: ") + m_text;
    case Case::appNotFileAccessible:
        return QStringLiteral("App ") + m_text + QStringLiteral(" does not support USB file sharing");
    case Case::deviceLocked:
        return QStringLiteral("iPhone is locked — unlock your device and try again");
    }
    return m_text;
}

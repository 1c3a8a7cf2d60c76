#include "device/AFCError.h"

AFCError::AFCError(Case errorCase, QString text, std::optional<int> posixError)
    : m_case(errorCase), m_text(std::move(text)), m_posixError(posixError) {}

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

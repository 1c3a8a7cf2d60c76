#include "device/BridgeError.h"

QString BridgeError::description() const {
    switch (m_case) {
    case Case::pairingFailed:
        return QStringLiteral("Pairing failed: ") + m_text;
    case Case::mountFailed:
        return QStringLiteral("Mount failed: ") + m_text;
    case Case::unmountFailed:
        return QStringLiteral("Unmount failed: ") + m_text;
    case Case::toolNotFound:
        return QStringLiteral("Required tool not found: ") + m_text;
    case Case::deviceNotFound:
        return QStringLiteral("Device not found: ") + m_text;
    }
    return QString();
}

#pragma once

#include "platform/Error.h"

#include <QString>

// Why a helper-tool device query failed. Every case carries one text after its fixed prefix. The
// queries raise only deviceNotFound (with the UDID); a missing tool reaches the caller as the
// runner's executableNotFound, not as toolNotFound.
class BridgeError : public Error {
public:
    enum class Case { pairingFailed, mountFailed, unmountFailed, toolNotFound, deviceNotFound };

    static BridgeError pairingFailed(QString text) {
        return BridgeError(Case::pairingFailed, std::move(text));
    }
    static BridgeError mountFailed(QString text) { return BridgeError(Case::mountFailed, std::move(text)); }
    static BridgeError unmountFailed(QString text) {
        return BridgeError(Case::unmountFailed, std::move(text));
    }
    static BridgeError toolNotFound(QString text) { return BridgeError(Case::toolNotFound, std::move(text)); }
    static BridgeError deviceNotFound(QString udid) {
        return BridgeError(Case::deviceNotFound, std::move(udid));
    }

    Case errorCase() const { return m_case; }
    const QString& text() const { return m_text; }

    QString description() const override;

private:
    BridgeError(Case errorCase, QString text) : m_case(errorCase), m_text(std::move(text)) {}

    Case m_case;
    QString m_text;
};

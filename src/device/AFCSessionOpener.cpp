#include "device/AFCSessionOpener.h"

#include "device/AFCError.h"
#include "platform/Logger.h"

#include <plist/plist.h>

#include <array>
#include <cstdlib>

namespace {

constexpr int passwordProtected = -17; // LOCKDOWN_E_PASSWORD_PROTECTED: the device is locked

QString number(int value) {
    return QString::number(value);
}

idevice_t openDevice(const QString& udid) {
    idevice_t device = nullptr;
    const idevice_error_t result = idevice_new(&device, udid.toUtf8().constData());
    if (result != IDEVICE_E_SUCCESS || !device) {
        if (device)
            idevice_free(device);
        throw AFCError::connectionFailed(QStringLiteral("idevice_new error ") + number(result));
    }
    return device;
}

// The house_arrest answer's "Error" text, "Unknown" when it is not a text.
QString errorText(plist_t errorNode) {
    char* value = nullptr;
    if (plist_get_node_type(errorNode) == PLIST_STRING)
        plist_get_string_val(errorNode, &value);
    if (!value)
        return QStringLiteral("Unknown");
    QString text = QString::fromUtf8(value);
    std::free(value);
    return text;
}

// Frees what the failed open had acquired, then fails with text + " error " + result.
[[noreturn]] void abandon(AFCSession& session, const char* what, int result) {
    session.release();
    throw AFCError::sessionFailed(QString::fromLatin1(what) + QStringLiteral(" error ") + number(result));
}

// Starts a lockdown service on the session's device and returns its descriptor, for the caller
// to free. A device that refuses because it is locked fails with deviceLocked, whichever service
// was asked for; any other failure with sessionFailed, its text naming the step that failed.
lockdownd_service_descriptor_t startService(AFCSession& session, const char* name, const char* handshakeStep,
                                            const char* startStep) {
    const lockdownd_error_t handshake =
        lockdownd_client_new_with_handshake(session.device, &session.lockdown, AFCSessionOpener::clientLabel);
    if (handshake != LOCKDOWN_E_SUCCESS || !session.lockdown)
        abandon(session, handshakeStep, handshake);

    lockdownd_service_descriptor_t service = nullptr;
    const lockdownd_error_t started = lockdownd_start_service(session.lockdown, name, &service);
    lockdownd_client_free(session.lockdown);
    session.lockdown = nullptr;
    if (started != LOCKDOWN_E_SUCCESS || !service) {
        if (service)
            lockdownd_service_descriptor_free(service);
        if (started == passwordProtected) {
            session.release();
            throw AFCError::deviceLocked();
        }
        abandon(session, startStep, started);
    }
    return service;
}

// Started by hand rather than with house_arrest_client_start_service, which keeps lockdown's
// answer to itself: a locked device must be told apart from a service that failed.
void startHouseArrest(AFCSession& session, const char* step) {
    lockdownd_service_descriptor_t service =
        startService(session, "com.apple.mobile.house_arrest", step, step);
    const house_arrest_error_t created =
        house_arrest_client_new(session.device, service, &session.houseArrest);
    lockdownd_service_descriptor_free(service);
    if (created != HOUSE_ARREST_E_SUCCESS || !session.houseArrest)
        abandon(session, step, created);
}

} // namespace

AFCSession AFCSessionOpener::openMedia(const QString& udid) {
    AFCSession session;
    session.device = openDevice(udid);

    lockdownd_service_descriptor_t service =
        startService(session, "com.apple.afc", "lockdownd handshake", "start_service");

    const afc_error_t created = afc_client_new(session.device, service, &session.afc);
    lockdownd_service_descriptor_free(service);
    if (created != AFC_E_SUCCESS || !session.afc)
        abandon(session, "afc_client_new", created);
    return session;
}

AFCSession AFCSessionOpener::openApp(const QString& udid, const QString& bundleID) {
    AFCSession session;
    session.device = openDevice(udid);

    startHouseArrest(session, "house_arrest start");

    const QByteArray bundle = bundleID.toUtf8();
    bool vended = false;
    for (const char* command : std::array{"VendContainer", "VendDocuments"}) {
        if (house_arrest_send_command(session.houseArrest, command, bundle.constData()) !=
            HOUSE_ARREST_E_SUCCESS)
            continue;
        plist_t result = nullptr;
        if (house_arrest_get_result(session.houseArrest, &result) != HOUSE_ARREST_E_SUCCESS) {
            if (result)
                plist_free(result);
            continue;
        }
        plist_t error = result ? plist_dict_get_item(result, "Error") : nullptr;
        if (!error) {
            if (result)
                plist_free(result);
            Logger::bridge().debug("house_arrest %s succeeded for %s", command, bundleID);
            vended = true;
            break;
        }
        if (qstrcmp(command, "VendContainer") == 0) {
            // The device closes the service after a refused command; the next one needs a new one.
            house_arrest_client_free(session.houseArrest);
            session.houseArrest = nullptr;
            plist_free(result);
            startHouseArrest(session, "house_arrest restart");
            continue;
        }
        const QString reason = errorText(error);
        plist_free(result);
        session.release();
        throw AFCError::sessionFailed(QStringLiteral("Container access denied for ") + bundleID +
                                      QStringLiteral(" (") + reason + QStringLiteral(")"));
    }
    if (!vended) {
        session.release();
        throw AFCError::sessionFailed(QStringLiteral("No container access for ") + bundleID);
    }

    const afc_error_t created = afc_client_new_from_house_arrest_client(session.houseArrest, &session.afc);
    if (created != AFC_E_SUCCESS || !session.afc)
        abandon(session, "afc_client_new_from_house_arrest", created);
    return session;
}

#include "DeviceClient.h"

#include <libimobiledevice/lockdown.h>

#include <algorithm>

namespace {
constexpr const char* clientLabel = "Orvanta";
}

DeviceClient::~DeviceClient() {
    // As the application does: the AFC client of a house_arrest connection does not own the
    // socket, the house_arrest client does.
    if (m_afc)
        afc_client_free(m_afc);
    if (m_houseArrest)
        house_arrest_client_free(m_houseArrest);
    if (m_device)
        idevice_free(m_device);
}

int DeviceClient::fail(const char* call, int code) {
    m_failedCall = QString::fromLatin1(call);
    return code;
}

int DeviceClient::openMedia(const QString& udid) {
    if (idevice_error_t e = idevice_new(&m_device, udid.toUtf8().constData()))
        return fail("idevice_new", e);
    lockdownd_client_t lockdown = nullptr;
    if (lockdownd_error_t e = lockdownd_client_new_with_handshake(m_device, &lockdown, clientLabel))
        return fail("lockdownd_client_new_with_handshake", e);
    lockdownd_service_descriptor_t service = nullptr;
    lockdownd_error_t started = lockdownd_start_service(lockdown, "com.apple.afc", &service);
    lockdownd_client_free(lockdown);
    if (started != LOCKDOWN_E_SUCCESS)
        return fail("lockdownd_start_service", started);
    afc_error_t made = afc_client_new(m_device, service, &m_afc);
    lockdownd_service_descriptor_free(service);
    if (made != AFC_E_SUCCESS)
        return fail("afc_client_new", made);
    return 0;
}

int DeviceClient::openApp(const QString& udid, const QString& bundleId, const QString& command,
                          QString* vendError) {
    if (idevice_error_t e = idevice_new(&m_device, udid.toUtf8().constData()))
        return fail("idevice_new", e);
    if (house_arrest_error_t e = house_arrest_client_start_service(m_device, &m_houseArrest, clientLabel))
        return fail("house_arrest_client_start_service", e);
    if (house_arrest_error_t e = house_arrest_send_command(m_houseArrest, command.toUtf8().constData(),
                                                           bundleId.toUtf8().constData()))
        return fail("house_arrest_send_command", e);
    plist_t result = nullptr;
    if (house_arrest_error_t e = house_arrest_get_result(m_houseArrest, &result))
        return fail("house_arrest_get_result", e);
    plist_t error = result ? plist_dict_get_item(result, "Error") : nullptr;
    if (error) {
        char* text = nullptr;
        plist_get_string_val(error, &text);
        if (vendError)
            *vendError = QString::fromUtf8(text ? text : "");
        free(text);
        plist_free(result);
        return fail("house_arrest_get_result", -1);
    }
    plist_free(result);
    if (afc_error_t e = afc_client_new_from_house_arrest_client(m_houseArrest, &m_afc))
        return fail("afc_client_new_from_house_arrest_client", e);
    return 0;
}

afc_error_t DeviceClient::listDirectory(const QString& path, QStringList& names) const {
    char** list = nullptr;
    afc_error_t e = afc_read_directory(m_afc, path.toUtf8().constData(), &list);
    for (char** p = list; p && *p; ++p)
        names << QString::fromUtf8(*p);
    afc_dictionary_free(list);
    return e;
}

afc_error_t DeviceClient::fileInfo(const QString& path, QStringList& pairs) const {
    char** list = nullptr;
    afc_error_t e = afc_get_file_info(m_afc, path.toUtf8().constData(), &list);
    for (char** p = list; p && *p; ++p)
        pairs << QString::fromUtf8(*p);
    afc_dictionary_free(list);
    return e;
}

afc_error_t DeviceClient::readFile(const QString& path, QByteArray& data, uint32_t chunkSize) const {
    uint64_t handle = 0;
    if (afc_error_t e = afc_file_open(m_afc, path.toUtf8().constData(), AFC_FOPEN_RDONLY, &handle))
        return e;
    QByteArray chunk(static_cast<qsizetype>(chunkSize), Qt::Uninitialized);
    afc_error_t e = AFC_E_SUCCESS;
    for (;;) {
        uint32_t got = 0;
        e = afc_file_read(m_afc, handle, chunk.data(), chunkSize, &got);
        if (e != AFC_E_SUCCESS || got == 0)
            break;
        data.append(chunk.constData(), got);
    }
    afc_error_t closed = afc_file_close(m_afc, handle);
    return e != AFC_E_SUCCESS ? e : closed;
}

afc_error_t DeviceClient::writeFile(const QString& path, const QByteArray& data, uint32_t chunkSize) const {
    uint64_t handle = 0;
    if (afc_error_t e = afc_file_open(m_afc, path.toUtf8().constData(), AFC_FOPEN_WR, &handle))
        return e;
    afc_error_t e = AFC_E_SUCCESS;
    for (qsizetype sent = 0; sent < data.size() && e == AFC_E_SUCCESS;) {
        uint32_t length = static_cast<uint32_t>(std::min<qsizetype>(chunkSize, data.size() - sent));
        uint32_t written = 0;
        e = afc_file_write(m_afc, handle, data.constData() + sent, length, &written);
        if (e == AFC_E_SUCCESS && written == 0)
            e = AFC_E_IO_ERROR;
        sent += written;
    }
    afc_error_t closed = afc_file_close(m_afc, handle);
    return e != AFC_E_SUCCESS ? e : closed;
}

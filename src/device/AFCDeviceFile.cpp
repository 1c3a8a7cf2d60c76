#include "device/AFCDeviceFile.h"

#include "device/AFCError.h"

AFCDeviceFile::AFCDeviceFile(afc_client_t afc, const QString& path, afc_file_mode_t mode,
                             const char* openCall)
    : m_afc(afc) {
    const afc_error_t result = afc_file_open(afc, path.toUtf8().constData(), mode, &m_handle);
    if (result != AFC_E_SUCCESS || m_handle == 0) {
        throw AFCError::fileOpenFailed(QString::fromLatin1(openCall) + QStringLiteral(" error ") +
                                       QString::number(result) + QStringLiteral(" for ") + path);
    }
    m_open = true;
}

uint32_t AFCDeviceFile::read(char* buffer, uint32_t length) {
    uint32_t got = 0;
    const afc_error_t result = afc_file_read(m_afc, m_handle, buffer, length, &got);
    if (result != AFC_E_SUCCESS)
        throw AFCError::fileReadFailed(QStringLiteral("afc_file_read error ") + QString::number(result));
    return got;
}

void AFCDeviceFile::writeAll(const char* data, uint32_t length) {
    uint32_t done = 0;
    while (done < length) {
        uint32_t written = 0;
        const afc_error_t result = afc_file_write(m_afc, m_handle, data + done, length - done, &written);
        if (result != AFC_E_SUCCESS || written == 0)
            throw AFCError::writeFailed(QStringLiteral("afc_file_write error ") + QString::number(result));
        done += written;
    }
}

void AFCDeviceFile::close() {
    if (!m_open)
        return;
    m_open = false;
    afc_file_close(m_afc, m_handle);
}

#include "device/AFCDeviceFile.h"

#include "device/AFCError.h"
#include "device/AFCSendRoom.h"
#include "device/AFCSessionSockets.h"

#include <libimobiledevice/afc.h>

#include <algorithm>
#include <cstdio>

AFCDeviceFile::AFCDeviceFile(afc_client_t afc, const QString& path, Mode mode, const QString& shownPath)
    : m_afc(afc), m_writing(mode != Mode::read) {
    const bool write = m_writing;
    static constexpr afc_file_mode_t modes[] = {AFC_FOPEN_RDONLY, AFC_FOPEN_WR, AFC_FOPEN_RW};
    const afc_error_t result =
        afc_file_open(afc, path.toUtf8().constData(), modes[static_cast<int>(mode)], &m_handle);
    if (result != AFC_E_SUCCESS || m_handle == 0) {
        throw AFCError::fromLibrary(AFCError::Case::fileOpenFailed,
                                    write ? "afc_file_open(WR)" : "afc_file_open", result,
                                    QStringLiteral(" for ") + (shownPath.isEmpty() ? path : shownPath));
    }
    m_open = true;
    if (write)
        m_socket = AFCSessionSockets::socketOf(afc);
}

uint32_t AFCDeviceFile::read(char* buffer, uint32_t length) {
    uint32_t got = 0;
    const afc_error_t result = afc_file_read(m_afc, m_handle, buffer, length, &got);
    if (result != AFC_E_SUCCESS)
        throw AFCError::fromLibrary(AFCError::Case::fileReadFailed, "afc_file_read", result);
    return got;
}

void AFCDeviceFile::seek(uint64_t offset) {
    const afc_error_t result = afc_file_seek(m_afc, m_handle, int64_t(offset), SEEK_SET);
    if (result != AFC_E_SUCCESS) {
        throw AFCError::fromLibrary(m_writing ? AFCError::Case::writeFailed : AFCError::Case::fileReadFailed,
                                    "afc_file_seek", result);
    }
}

void AFCDeviceFile::writeAll(const char* data, uint32_t length, uint32_t& done, std::stop_token token) {
    while (done < length) {
        const uint32_t piece = AFCSendRoom::take(m_socket, length - done, token);
        uint32_t written = 0;
        const afc_error_t result = afc_file_write(m_afc, m_handle, data + done, piece, &written);
        if (result != AFC_E_SUCCESS || written == 0)
            throw AFCError::fromLibrary(AFCError::Case::writeFailed, "afc_file_write", result);
        done += std::min(written, piece);
    }
}

int AFCDeviceFile::close() {
    if (!m_open)
        return AFC_E_SUCCESS;
    m_open = false;
    return afc_file_close(m_afc, m_handle);
}

#pragma once

#include <libimobiledevice/afc.h>
#include <libimobiledevice/house_arrest.h>
#include <libimobiledevice/libimobiledevice.h>

#include <QByteArray>
#include <QString>
#include <QStringList>

// A device opened through the real libimobiledevice the way the application opens it: the media
// AFC service, or an app container through house_arrest. Tests use it to reach the emulator with
// the client's own code, so that what passes here holds for the library as shipped.
class DeviceClient {
public:
    DeviceClient() = default;
    ~DeviceClient();
    DeviceClient(const DeviceClient&) = delete;
    DeviceClient& operator=(const DeviceClient&) = delete;

    // Each returns 0, or the failing call's error code; failedCall() names that call.
    int openMedia(const QString& udid);
    // Sends one Vend command; an "Error" answer is returned through vendError (and gives -1).
    int openApp(const QString& udid, const QString& bundleId, const QString& command,
                QString* vendError = nullptr);

    afc_client_t afc() const { return m_afc; }
    QString failedCall() const { return m_failedCall; }

    // Convenience over the AFC client; each returns the afc_error_t of the call.
    afc_error_t listDirectory(const QString& path, QStringList& names) const;
    afc_error_t fileInfo(const QString& path, QStringList& pairs) const;
    // Reads a whole file in chunks of chunkSize bytes.
    afc_error_t readFile(const QString& path, QByteArray& data, uint32_t chunkSize = 1 << 20) const;
    // Writes a whole file (mode 4) in chunks of chunkSize bytes.
    afc_error_t writeFile(const QString& path, const QByteArray& data, uint32_t chunkSize = 1 << 20) const;

private:
    int fail(const char* call, int code);

    idevice_t m_device = nullptr;
    house_arrest_client_t m_houseArrest = nullptr;
    afc_client_t m_afc = nullptr;
    QString m_failedCall;
};

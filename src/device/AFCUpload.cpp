#include "device/AFCUpload.h"

#include "device/AFCDeviceFile.h"
#include "device/AFCError.h"
#include "device/LocalChunkReader.h"
#include "device/Logger.h"
#include "platform/async/Cancellation.h"

#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

qint64 localFileSize(const QByteArray& path) {
    struct stat st {};
    if (::stat(path.constData(), &st) != 0 || !S_ISREG(st.st_mode))
        return -1;
    return st.st_size;
}

// Closes the local file however the copy ends.
class LocalSource {
public:
    explicit LocalSource(int fd) : m_fd(fd) {}
    ~LocalSource() { ::close(m_fd); }
    LocalSource(const LocalSource&) = delete;
    LocalSource& operator=(const LocalSource&) = delete;

private:
    int m_fd;
};

AFCError localFailure(const QString& text, int error) {
    return AFCError::withPosixError(
        AFCError::Case::writeFailed,
        text + QStringLiteral(" (errno ") + QString::number(error) + QLatin1Char(')'), error);
}

void removePartial(afc_client_t afc, const QString& devicePath) {
    const afc_error_t result = afc_remove_path(afc, devicePath.toUtf8().constData());
    if (result != AFC_E_SUCCESS)
        Logger::bridge().error("Could not remove partial upload %s: afc_remove_path error %d", devicePath,
                               static_cast<int>(result));
}

} // namespace

quint64 AFCUpload::run(afc_client_t afc, const QString& devicePath, const QString& localPath,
                       uint32_t chunkBytes, const Progress& progress, std::stop_token token) {
    // Opening the device file truncates it: a copy cancelled while it waited for the executor
    // must not destroy the file it was about to replace.
    async::throwIfCancelled(token);
    const QByteArray encodedPath = QFile::encodeName(localPath);
    const qint64 size = localFileSize(encodedPath);
    const int fd = ::open(encodedPath.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        // Taken before the text is built: its allocations may change errno.
        const int error = errno;
        throw localFailure(QStringLiteral("Failed to open local file ") + localPath, error);
    }
    LocalSource source(fd);
    AFCDeviceFile target(afc, devicePath, AFC_FOPEN_WR, "afc_file_open(WR)");

    quint64 sent = 0;
    quint64 nextReport = chunkBytes;
    try {
        // Reads the next chunk from disk while this one goes to the device.
        LocalChunkReader reader(fd, chunkBytes);
        for (;;) {
            async::throwIfCancelled(token);
            LocalChunkReader::Chunk chunk;
            if (!reader.next(chunk)) {
                // Ending here as at the end of the file would report a short copy as complete.
                throw localFailure(QStringLiteral("Failed to read local file ") + localPath,
                                   reader.failure());
            }
            if (chunk.size == 0)
                break;
            target.writeAll(chunk.data, static_cast<uint32_t>(chunk.size));
            sent += chunk.size;
            if (sent >= nextReport) {
                if (progress)
                    progress(static_cast<qint64>(sent), size);
                nextReport = sent + chunkBytes;
            }
        }
    } catch (...) {
        target.close();
        removePartial(afc, devicePath);
        throw;
    }
    if (progress)
        progress(static_cast<qint64>(sent), size);
    Logger::bridge().debug("AFC wrote %llu bytes to %s", sent, devicePath);
    target.close();
    return sent;
}

#include "device/AFCDownload.h"

#include "device/AFCDeviceFile.h"
#include "device/AFCError.h"
#include "device/LocalChunkWriter.h"
#include "device/Logger.h"
#include "platform/async/Cancellation.h"

#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The local file being written: closed on every path, and removed unless the copy completed. Only
// a regular file is removed: a target such as a device node or a pipe was never ours to delete.
class PartialFile {
public:
    PartialFile(int fd, QString path) : m_fd(fd), m_path(std::move(path)) {
        struct stat st {};
        m_removable = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    }
    ~PartialFile() {
        if (m_fd >= 0)
            ::close(m_fd);
        if (m_kept || !m_removable || ::unlink(QFile::encodeName(m_path).constData()) == 0)
            return;
        if (const int error = errno; error != ENOENT)
            Logger::bridge().error("Could not remove partial download %s (errno %d)", m_path, error);
    }
    PartialFile(const PartialFile&) = delete;
    PartialFile& operator=(const PartialFile&) = delete;

    int fd() const { return m_fd; }
    // Closes the file; its errno when closing reported a failed write, else 0.
    int commit() {
        const int result = ::close(std::exchange(m_fd, -1));
        if (result != 0)
            return errno;
        m_kept = true;
        return 0;
    }

private:
    int m_fd;
    QString m_path;
    bool m_kept = false;
    bool m_removable = false;
};

AFCError localWriteFailed(int error) {
    return AFCError::withPosixError(
        AFCError::Case::fileReadFailed,
        QStringLiteral("write error (errno ") + QString::number(error) + QLatin1Char(')'), error);
}

} // namespace

quint64 AFCDownload::run(afc_client_t afc, const QString& devicePath, const QString& localPath,
                         uint32_t chunkBytes, const Progress& progress, std::stop_token token) {
    // A copy cancelled while it waited for the executor must not truncate, and then remove, a
    // local file that it was about to replace.
    async::throwIfCancelled(token);
    AFCDeviceFile source(afc, devicePath, AFC_FOPEN_RDONLY, "afc_file_open");

    const int fd =
        ::open(QFile::encodeName(localPath).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        const int error = errno;
        throw AFCError::withPosixError(AFCError::Case::fileReadFailed,
                                       QStringLiteral("Failed to open output file at ") + localPath +
                                           QStringLiteral(" (errno ") + QString::number(error) +
                                           QLatin1Char(')'),
                                       error);
    }
    PartialFile target(fd, localPath);
    // Declared after the file, so that the writer thread has stopped before the file closes.
    LocalChunkWriter writer(fd, chunkBytes);
    async::throwIfCancelled(token);

    quint64 total = 0;
    quint64 nextReport = chunkBytes;
    for (;;) {
        char* buffer = writer.acquire();
        if (!buffer)
            throw localWriteFailed(writer.failure());
        const uint32_t got = source.read(buffer, chunkBytes);
        if (got == 0)
            break;
        writer.submit(got);
        total += got;
        if (total >= nextReport) {
            if (progress)
                progress(total);
            nextReport = total + chunkBytes;
        }
        async::throwIfCancelled(token);
    }
    if (!writer.finish())
        throw localWriteFailed(writer.failure());
    if (const int error = target.commit(); error != 0)
        throw localWriteFailed(error);
    source.close();
    if (progress)
        progress(total);
    return total;
}

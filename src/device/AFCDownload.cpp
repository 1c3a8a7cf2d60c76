#include "device/AFCDownload.h"

#include "device/AFCDeviceFile.h"
#include "device/AFCError.h"
#include "device/LocalChunkWriter.h"
#include "device/LocalReplacement.h"
#include "platform/Error.h"
#include "platform/async/Cancellation.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {

// The local file is what is written: its failures are write failures, with the system's words for
// the reason (a read-only disk, a full one, a refused folder).
AFCError localFailure(const QString& text, int error) {
    char buffer[256];
    const QString reason = QString::fromLocal8Bit(strerror_r(error, buffer, sizeof buffer));
    return AFCError::withPosixError(AFCError::Case::writeFailed,
                                    text + QStringLiteral(": ") + reason + QStringLiteral(" (errno ") +
                                        QString::number(error) + QLatin1Char(')'),
                                    error);
}

// Ends the writer's file however the copy leaves, before the file it writes is closed.
class WriterSession {
public:
    WriterSession(LocalChunkWriter& writer, LocalChunkWriter::Written onWritten) : m_writer(writer) {
        m_writer.begin(std::move(onWritten));
    }
    ~WriterSession() { m_writer.end(); }
    WriterSession(const WriterSession&) = delete;
    WriterSession& operator=(const WriterSession&) = delete;

private:
    LocalChunkWriter& m_writer;
};

} // namespace

quint64 AFCDownload::run(afc_client_t afc, const QString& devicePath, const QString& localPath,
                         LocalChunkWriter& writer, uint32_t chunkBytes, const Progress& progress,
                         std::stop_token token, const AFCCopyOptions& options, LeftoverJournal* journal) {
    // A copy cancelled while it waited for the executor does nothing at all.
    async::throwIfCancelled(token);
    AFCDeviceFile source(afc, devicePath, AFCDeviceFile::Mode::read);

    quint64 nextReport = chunkBytes;
    LocalChunkWriter::Written onWritten;
    if (progress) {
        onWritten = [&progress, &nextReport, chunkBytes](quint64 total) {
            if (total >= nextReport) {
                progress(total);
                nextReport = total + chunkBytes;
            }
        };
    }
    // With a known size nothing beyond it is asked for: a file that keeps growing is not read on
    // and on.
    const std::optional<quint64> limit = options.expectedSize;
    const auto wanted = [&limit, chunkBytes](quint64 done) {
        return limit ? uint32_t(std::min<quint64>(chunkBytes, *limit - done)) : chunkBytes;
    };
    // Declared before the local file, so that the writer is done with it before it closes.
    LocalReplacement target(localPath, options.replaceExisting, options.partialMark, journal);
    WriterSession session(writer, std::move(onWritten));

    // The first chunk is read before anything is made beside the target: a source that cannot be
    // read (a folder, a file that vanished) leaves nothing behind.
    char* buffer = writer.acquire();
    uint32_t got = wanted(0) > 0 ? source.read(buffer, wanted(0)) : 0;
    async::throwIfCancelled(token);
    if (const int error = target.open(); error != 0)
        throw localFailure(QStringLiteral("Failed to open output file at ") + localPath, error);
    // A file that ends within its first chunk has no next read to overlap its write with.
    writer.setFile(target.fd(), limit ? *limit <= chunkBytes : got < chunkBytes);

    quint64 total = 0;
    while (got > 0) {
        writer.submit(got);
        total += got;
        if (limit && total >= *limit)
            break;
        buffer = writer.acquire();
        if (!buffer)
            throw localFailure(QStringLiteral("write error"), writer.failure());
        async::throwIfCancelled(token);
        got = source.read(buffer, wanted(total));
    }
    if (limit) {
        // The read that would have found the end: one byte more means the file grew.
        char extra = 0;
        if (total != *limit || source.read(&extra, 1) != 0)
            throw SizeChangedError(devicePath, *limit);
    }
    if (!writer.finish())
        throw localFailure(QStringLiteral("write error"), writer.failure());
    writer.end();
    bool closeFailed = false;
    if (const int error = target.commit(&closeFailed); error != 0) {
        if (closeFailed)
            throw localFailure(QStringLiteral("write error"), error);
        if (error == EEXIST && !options.replaceExisting)
            throw NameTakenError(localPath);
        throw localFailure(QStringLiteral("Failed to move the finished download into place at ") + localPath,
                           error);
    }
    source.close();
    if (progress)
        progress(total);
    return total;
}

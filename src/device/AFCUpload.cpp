#include "device/AFCUpload.h"

#include "device/AFCDeviceFile.h"
#include "device/AFCError.h"
#include "device/AFCItemOperations.h"
#include "device/AFCLeftovers.h"
#include "device/AFCPath.h"
#include "device/LocalChunkReader.h"
#include "platform/Error.h"
#include "platform/Logger.h"
#include "platform/async/Cancellation.h"

#include <libimobiledevice/afc.h>

#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace {

AFCError localFailure(const QString& text, int error) {
    return AFCError::withPosixError(
        AFCError::Case::writeFailed,
        text + QStringLiteral(" (errno ") + QString::number(error) + QLatin1Char(')'), error);
}

// The local file being read, closed however the copy ends.
class LocalSource {
public:
    explicit LocalSource(int fd) : m_fd(fd) {}
    ~LocalSource() { ::close(m_fd); }
    LocalSource(const LocalSource&) = delete;
    LocalSource& operator=(const LocalSource&) = delete;

private:
    int m_fd;
};

// Ends the reader's file however the copy leaves, before the file it reads is closed.
class ReaderSession {
public:
    ReaderSession(LocalChunkReader& reader, int fd, bool synchronous, quint64 limit) : m_reader(reader) {
        m_reader.begin(fd, synchronous, limit);
    }
    ~ReaderSession() { m_reader.end(); }
    ReaderSession(const ReaderSession&) = delete;
    ReaderSession& operator=(const ReaderSession&) = delete;

private:
    LocalChunkReader& m_reader;
};

// The hidden file the copy writes; removed from the device unless it took the target's name.
// Written down before it exists (unless the entry of the new folder it is in covers it), so that a
// copy cut off by a lost device or a crash never leaves it behind for good.
class DevicePartial {
public:
    DevicePartial(afc_client_t afc, QString path, const AFCLeftovers& leftovers, bool journaled)
        : m_afc(afc), m_path(std::move(path)), m_journal(leftovers.journal()),
          m_entry(leftovers.partialCopy(m_path)), m_journaled(journaled) {
        if (m_journaled)
            m_journal.begin(m_entry);
    }
    ~DevicePartial() {
        if (m_kept) {
            strike();
            return;
        }
        if (!m_afc) {
            Logger::bridge().info("Partial upload %s is left for the clean-up: its connection is gone",
                                  m_path);
        } else if (const afc_error_t result = afc_remove_path(m_afc, m_path.toUtf8().constData());
                   result == AFC_E_SUCCESS || result == AFC_E_OBJECT_NOT_FOUND) {
            strike();
            return;
        } else {
            Logger::bridge().error("Could not remove partial upload %s: afc_remove_path error %d", m_path,
                                   static_cast<int>(result));
        }
        if (m_journaled)
            m_journal.released(m_entry);
    }
    DevicePartial(const DevicePartial&) = delete;
    DevicePartial& operator=(const DevicePartial&) = delete;

    const QString& path() const { return m_path; }
    void keep() { m_kept = true; }
    // The copy goes on over another session; none while there is no usable one, and the file
    // is then left to the journal's clean-up.
    void useClient(afc_client_t afc) { m_afc = afc; }

private:
    void strike() {
        if (m_journaled)
            m_journal.finished(m_entry);
    }

    afc_client_t m_afc;
    QString m_path;
    LeftoverJournal& m_journal;
    const LeftoverJournal::Entry m_entry;
    const bool m_journaled;
    bool m_kept = false;
};

// Moves the finished copy over its target. Should a device refuse to rename onto an existing
// file, the old one is removed first: by then the new file is complete, so the user holds one of
// the two at every moment. A copy that must not replace looks first: a device's rename replaces
// what it meets, and even a folder made just now may meet another program's file, or one of the
// same transfer whose name differs only in case.
void replaceTarget(afc_client_t afc, const QString& from, const QString& to, bool replaceExisting) {
    const QByteArray source = from.toUtf8();
    const QByteArray target = to.toUtf8();
    if (!replaceExisting) {
        const afc_error_t looked = AFCItemOperations::lookUp(afc, to);
        if (looked == AFC_E_SUCCESS)
            throw NameTakenError(to);
        if (looked != AFC_E_OBJECT_NOT_FOUND)
            throw AFCError::fromLibrary(AFCError::Case::writeFailed, "afc_get_file_info", looked,
                                        QStringLiteral(" for ") + to);
    }
    afc_error_t result = afc_rename_path(afc, source.constData(), target.constData());
    // An item that took the name after the look is never removed to make room.
    if (result == AFC_E_OBJECT_EXISTS && !replaceExisting)
        throw NameTakenError(to);
    if (result == AFC_E_OBJECT_EXISTS && afc_remove_path(afc, target.constData()) == AFC_E_SUCCESS)
        result = afc_rename_path(afc, source.constData(), target.constData());
    if (result != AFC_E_SUCCESS) {
        throw AFCError::fromLibrary(AFCError::Case::writeFailed, "afc_rename_path", result,
                                    QStringLiteral(": ") + from + QStringLiteral(" → ") + to);
    }
}

// Gives the finished copy, written in a staging folder, its name by a second link: the device
// refuses a taken name by itself, and the copy's own name goes with the staging folder. False
// when the device would not link, and the copy goes by look and rename instead, as the files
// after it do: a device that does not know links, or keeps them from this folder, would otherwise
// cost each of them a request in vain.
bool linkTarget(afc_client_t afc, const QString& from, const QString& to, AFCStaging& staging) {
    const afc_error_t result = AFCItemOperations::linkItem(afc, from, to);
    if (result == AFC_E_SUCCESS)
        return true;
    if (result == AFC_E_OBJECT_EXISTS)
        throw NameTakenError(to);
    if (AFCError::meansLostConnection(result))
        throw AFCError::fromLibrary(AFCError::Case::writeFailed, "afc_make_link", result,
                                    QStringLiteral(": ") + from + QStringLiteral(" → ") + to);
    if (!staging.noLinks->exchange(true))
        Logger::bridge().info("The device would not link in %s (afc error %d): its copies look and rename",
                              AFCPath::parent(staging.folder), static_cast<int>(result));
    return false;
}

} // namespace

quint64 AFCUpload::run(afc_client_t afc, const QString& devicePath, const QString& localPath,
                       LocalChunkReader& reader, uint32_t chunkBytes, const Progress& progress,
                       const AFCLeftovers& leftovers, std::stop_token token, const AFCCopyOptions& options,
                       const Reconnect& reconnect) {
    // A copy cancelled while it waited for the executor does nothing at all.
    async::throwIfCancelled(token);
    // Not blocking: opening a named pipe would otherwise wait for a writer that may never come.
    const int fd = ::open(QFile::encodeName(localPath).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        // Taken before the text is built: its allocations may change errno.
        const int error = errno;
        throw localFailure(QStringLiteral("Failed to open local file ") + localPath, error);
    }
    LocalSource source(fd);
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        const int error = errno;
        throw localFailure(QStringLiteral("Failed to open local file ") + localPath, error);
    }
    // Only a regular file is copied: a folder or a device would make an empty or endless copy,
    // and nothing is opened on the device for it.
    if (!S_ISREG(st.st_mode))
        throw localFailure(QStringLiteral("Failed to open local file ") + localPath,
                           S_ISDIR(st.st_mode) ? EISDIR : EINVAL);
    if (options.openedSource)
        *options.openedSource = FileIdentity::of(st);
    const qint64 size = st.st_size;
    // What was decided on is what is copied: no more is read, and a file of another size fails.
    const quint64 limit = options.expectedSize.value_or(quint64(size));

    // Linking needs the folder's entry in the journal, which covers the staging folder too.
    AFCStaging* const staging = options.insideNewFolder ? options.staging.get() : nullptr;
    const QString partialFolder = staging ? staging->folder : AFCPath::parent(devicePath);
    // Only a partial copy that the new folder's entry covers needs the mark, which that entry's
    // clean-up finds it by; one in a staging folder goes with it, and one with an entry of its own
    // is found by that. A device's paths are short: those keep the shorter name.
    const bool marked = options.insideNewFolder && !staging;
    const QString partialName = AFCPath::partialCopyName(marked ? options.partialMark : QString());
    DevicePartial partial(afc, *AFCPath::child(partialFolder, partialName), leftovers,
                          !options.insideNewFolder);
    quint64 sent = 0;
    {
        std::optional<AFCDeviceFile> target;
        target.emplace(afc, partial.path(), AFCDeviceFile::Mode::write, devicePath);
        // Where the copy last went on over a new session: it does so again only past that byte.
        std::optional<quint64> resumedAt;
        ReaderSession session(reader, fd, limit <= chunkBytes, limit);
        quint64 nextReport = chunkBytes;
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
            const auto size = static_cast<uint32_t>(chunk.size);
            uint32_t done = 0;
            while (done < size) {
                try {
                    target->writeAll(chunk.data, size, done, token);
                } catch (const AFCError& error) {
                    const quint64 confirmed = sent + done;
                    if (!error.isConnectionLost() || !reconnect || resumedAt == confirmed)
                        throw;
                    // Nothing more is asked over the connection out of step: its answers would
                    // be read against the wrong requests. The device keeps the file as written.
                    target->abandon();
                    target.reset();
                    partial.useClient(nullptr);
                    const afc_client_t fresh = reconnect();
                    if (!fresh)
                        throw;
                    afc = fresh;
                    partial.useClient(afc);
                    resumedAt = confirmed;
                    Logger::bridge().info("Writing %s on from byte %llu over a new session", devicePath,
                                          static_cast<unsigned long long>(confirmed));
                    target.emplace(afc, partial.path(), AFCDeviceFile::Mode::rewrite, devicePath);
                    target->seek(confirmed);
                }
            }
            sent += chunk.size;
            if (sent >= nextReport) {
                if (progress)
                    progress(static_cast<qint64>(sent), size);
                nextReport = sent + chunkBytes;
            }
        }
        // A file that shrank ended early; one that grew shows it in its size now.
        struct stat now {};
        if (sent != limit || ::fstat(fd, &now) != 0 || quint64(now.st_size) != limit)
            throw SizeChangedError(localPath, limit);
        if (const int result = target->close(); result != AFC_E_SUCCESS)
            throw AFCError::fromLibrary(AFCError::Case::writeFailed, "afc_file_close", result);
    }
    const bool linked = staging && !options.replaceExisting && !*staging->noLinks &&
                        linkTarget(afc, partial.path(), devicePath, *staging);
    if (!linked)
        replaceTarget(afc, partial.path(), devicePath, options.replaceExisting);
    partial.keep();
    if (progress)
        progress(static_cast<qint64>(sent), size);
    Logger::bridge().debug("AFC wrote %llu bytes to %s", sent, devicePath);
    return sent;
}

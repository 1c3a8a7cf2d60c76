// Checks of copied files (SHA-256 of source and copy), their sizes, and their modification dates.

#include "transfer/TransferManager.h"

#include "device/AFCBridge.h"
#include "device/AFCComponents.h"
#include "device/AFCReadStream.h"
#include "platform/Error.h"
#include "platform/Logger.h"
#include "platform/async/AsyncLog.h"
#include "platform/async/Outcome.h"
#include "services/FileSystemProvider.h"
#include "services/PreferencesViewController.h"
#include "transfer/LocalTransferFiles.h"
#include "transfer/Sha256.h"

#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool isLocal(const URL& url) {
    return url.scheme().isEmpty() || url.scheme() == QLatin1String("file");
}

// A file of this computer open for hashing; closed when the last job that reads it is done.
struct OpenFile {
    QString path;
    int fd = -1;
    ~OpenFile() {
        if (fd >= 0)
            ::close(fd);
    }
};

// Reads up to size bytes into buffer (resized to what was read); an empty buffer at the end.
void readChunk(OpenFile& file, QByteArray& buffer, qint64 size) {
    buffer.resize(size);
    for (;;) {
        const ssize_t got = ::read(file.fd, buffer.data(), size_t(size));
        if (got >= 0) {
            buffer.resize(got);
            return;
        }
        if (errno != EINTR)
            throw FileError::fromErrno(QStringLiteral("read"), file.path);
    }
}

// A device file's item; any failure to read it, a missing provider included, becomes the given error.
async::Task<FileItem> deviceItem(std::shared_ptr<FileSystemProvider> provider, URL url,
                                 TransferError unreadable) {
    if (!provider)
        throw unreadable;
    async::Task<FileItem> asking = provider->afcItem(std::move(url));
    async::detail::Outcome<FileItem> item = co_await async::detail::settle(std::move(asking));
    if (item.error())
        throw unreadable;
    co_return item.get();
}

} // namespace

async::Task<TransferManager::Verification>
TransferManager::verify(URL source, URL destination, std::shared_ptr<TransferPlacement> placement) {
    if (!PreferencesViewController::verifyTransfers())
        co_return Verification{};
    const std::weak_ptr<const bool> alive = m_alive;
    if (m_beforeVerification)
        m_beforeVerification(source, destination);

    // Both files are read and hashed at once, each on threads of its own: the check then takes
    // about as long as the slower of the two rather than both together. A source that cannot be
    // read decides the outcome whatever its copy gave.
    const std::shared_ptr<AFCBridge> bridge = placement ? placement->bridge() : nullptr;
    async::Task<QString> hashingSource = hashWith(source, m_sourceHashing, bridge);
    async::Task<QString> hashingCopy = hashWith(destination, m_copyHashing, bridge);
    async::detail::Outcome<QString> fromSource = co_await async::detail::settle(std::move(hashingSource));
    async::detail::Outcome<QString> fromCopy = co_await async::detail::settle(std::move(hashingCopy));
    if (alive.expired())
        throw async::CancelledError{};
    const std::exception_ptr failure = fromSource.error() ? fromSource.error() : fromCopy.error();
    const QString sourceDigest = failure ? QString() : fromSource.get();
    const QString destinationDigest = failure ? QString() : fromCopy.get();
    if (failure) {
        const QString description = async::describeException(failure);
        Logger::transfer().error("Verification failed: %s", description);
        co_return Verification{TransferVerificationOutcome::failed, description};
    }
    if (sourceDigest == destinationDigest)
        co_return Verification{TransferVerificationOutcome::verified, std::nullopt};
    co_return Verification{
        TransferVerificationOutcome::mismatch,
        QStringLiteral("SHA-256 mismatch (%1 != %2)").arg(sourceDigest.left(12), destinationDigest.left(12))};
}

async::Task<QString> TransferManager::sha256Hex(URL url) {
    return hashWith(std::move(url), m_sourceHashing);
}

async::Task<QString> TransferManager::hashWith(URL url, HashThreads threads,
                                               std::shared_ptr<AFCBridge> bridge) {
    if (isLocal(url)) {
        async::Task<QString> hashing = hashLocal(url, threads);
        co_return co_await hashing;
    }
    if (url.scheme() == QLatin1String("afc")) {
        async::Task<QString> hashing = hashDevice(url, threads, bridge);
        co_return co_await hashing;
    }
    throw TransferError::ioError(QStringLiteral("Unsupported URL scheme for verification"));
}

async::Task<QString> TransferManager::hashLocal(URL url, HashThreads threads) {
    const std::shared_ptr<async::SerialExecutor> hasher = threads.hash;
    const std::shared_ptr<async::SerialExecutor> reader = threads.read;
    auto file = std::make_shared<OpenFile>();
    file->path = url.toLocalFile();
    async::Task<void> opening = reader->run([file] {
        file->fd = ::open(QFile::encodeName(file->path).constData(), O_RDONLY | O_CLOEXEC);
        if (file->fd < 0)
            throw FileError::fromErrno(QStringLiteral("open"), file->path);
    });
    co_await opening;
    // Two buffers in turn: the next chunk is read on one thread while this one is hashed on
    // another, and neither buffer is touched by two jobs at once.
    auto hash = std::make_shared<Sha256>();
    std::shared_ptr<QByteArray> buffers[2] = {std::make_shared<QByteArray>(), std::make_shared<QByteArray>()};
    int current = 0;
    {
        const qint64 size = PreferencesViewController::macChunkSize();
        async::Task<void> reading =
            reader->run([file, buffer = buffers[0], size] { readChunk(*file, *buffer, size); });
        co_await reading;
    }
    while (!buffers[current]->isEmpty()) {
        const qint64 size = PreferencesViewController::macChunkSize();
        const std::shared_ptr<QByteArray> full = buffers[current];
        const std::shared_ptr<QByteArray> next = buffers[1 - current];
        async::Task<void> reading = reader->run([file, next, size] { readChunk(*file, *next, size); });
        async::Task<void> feeding = hasher->run([hash, full] { hash->update(*full); });
        async::detail::Outcome<void> fed = co_await async::detail::settle(std::move(feeding));
        async::detail::Outcome<void> read = co_await async::detail::settle(std::move(reading));
        if (fed.error())
            std::rethrow_exception(fed.error());
        if (read.error())
            std::rethrow_exception(read.error());
        current = 1 - current;
    }
    async::Task<QString> finishing = hasher->run([hash] { return hash->finalizeHex(); });
    co_return co_await finishing;
}

async::Task<QString> TransferManager::hashDevice(URL url, HashThreads threads,
                                                 std::shared_ptr<AFCBridge> through) {
    const std::shared_ptr<AFCBridge> bridge = through ? through : m_afcBridge;
    const std::optional<AFCComponents> components = afcComponents(url);
    if (!bridge || !components)
        throw TransferError::ioError(QStringLiteral("AFC bridge not available for verification"));
    const std::shared_ptr<async::SerialExecutor> executor = threads.hash;
    if (components->bundleID) {
        async::Task<void> opening = bridge->connectApp(components->udid, *components->bundleID);
        co_await opening;
    } else {
        async::Task<void> opening = bridge->connect(components->udid);
        co_await opening;
    }
    AFCReadStream stream = bridge->readStream(components->udid, components->devicePath, components->bundleID);
    auto hash = std::make_shared<Sha256>();
    for (;;) {
        // The stream reads the next chunk on the device's thread while this one is hashed.
        async::Task<std::optional<QByteArray>> reading = stream.next();
        const std::optional<QByteArray> chunk = co_await reading;
        if (!chunk)
            break;
        async::Task<void> feeding = executor->run([hash, data = *chunk] { hash->update(data); });
        co_await feeding;
    }
    async::Task<QString> finishing = executor->run([hash] { return hash->finalizeHex(); });
    co_return co_await finishing;
}

async::Task<quint64> TransferManager::fileSize(URL url) {
    if (url.scheme() == QLatin1String("afc")) {
        TransferError unreadable = TransferError::ioError(
            QStringLiteral("Unable to read AFC file size for ") + url.absoluteString());
        async::Task<FileItem> asking = deviceItem(m_fileSystemProvider, url, std::move(unreadable));
        const FileItem item = co_await asking;
        co_return item.size();
    }
    const std::shared_ptr<async::SerialExecutor> executor = m_executor;
    async::Task<quint64> measuring = executor->run([path = url.toLocalFile()] {
        struct stat st {};
        if (::stat(QFile::encodeName(path).constData(), &st) != 0)
            throw FileError::fromErrno(QStringLiteral("read"), path);
        return S_ISREG(st.st_mode) ? quint64(st.st_size) : quint64(0);
    });
    co_return co_await measuring;
}

async::Task<Date> TransferManager::modificationDate(URL url) {
    if (url.scheme() == QLatin1String("afc")) {
        TransferError unreadable =
            TransferError::ioError(QStringLiteral("Unable to read AFC metadata for ") + url.absoluteString());
        async::Task<FileItem> asking = deviceItem(m_fileSystemProvider, url, std::move(unreadable));
        const FileItem item = co_await asking;
        co_return item.modifiedDate();
    }
    const std::shared_ptr<async::SerialExecutor> executor = m_executor;
    async::Task<Date> reading = executor->run([path = url.toLocalFile()] {
        const std::optional<LocalTransferFiles::Facts> facts = LocalTransferFiles::inspect(path);
        if (!facts)
            throw FileError(ENOENT, QStringLiteral("read"), path);
        return facts->modified;
    });
    co_return co_await reading;
}

async::Task<void> TransferManager::preserveModificationDate(URL source, URL destination) {
    if (!PreferencesViewController::preserveTimestamps() || !isLocal(destination) ||
        destination.scheme().isEmpty())
        co_return;
    const std::weak_ptr<const bool> alive = m_alive;
    async::Task<Date> reading = modificationDate(source);
    async::detail::Outcome<Date> date = co_await async::detail::settle(std::move(reading));
    if (alive.expired() || date.error())
        co_return;
    // A device file without a date says nothing about when the copy was made.
    if (date.get() == Date::distantPast())
        co_return;
    const std::shared_ptr<async::SerialExecutor> executor = m_executor;
    async::Task<void> setting = executor->run([path = destination.toLocalFile(), when = date.get()] {
        try {
            LocalTransferFiles::setModificationDate(path, when);
        } catch (const FileError& error) {
            Logger::transfer().error("Failed to preserve modification date: %s", error.description());
        }
    });
    co_await setting;
}

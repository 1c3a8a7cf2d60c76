#include "services/ThumbnailCache.h"

#include "device/AFCBridge.h"
#include "device/AFCComponents.h"
#include "platform/Logger.h"
#include "platform/TemporaryDirectory.h"
#include "platform/UniformType.h"
#include "platform/async/Cancellation.h"
#include "platform/async/Continuation.h"
#include "platform/async/SerialExecutor.h"
#include "services/FileItemBuilder.h"
#include "services/ImageThumbnailer.h"
#include "services/VideoFrameThumbnailer.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QHashSeed>
#include <QList>
#include <QSet>

#include <exception>
#include <stop_token>

namespace {

const QString afcScheme = QStringLiteral("afc");
// The longest file name the usual Linux file systems take, in bytes.
constexpr qsizetype maxFileNameBytes = 255;

bool hasThumbnail(FileKind kind) {
    return kind == FileKind::image || kind == FileKind::video;
}

// Whether the type for the extension of name (what follows its last ".") is a JPEG.
bool isJpegName(const QString& name) {
    const qsizetype dot = name.lastIndexOf(u'.');
    if (dot < 0)
        return false;
    static const std::optional<UniformType> jpeg = UniformType::fromIdentifier(QStringLiteral("image/jpeg"));
    const std::optional<UniformType> type = UniformType::forFilenameExtension(name.mid(dot + 1));
    return type && jpeg && type->conformsTo(*jpeg);
}

// The hash of the item's URL text (seeded anew in every process, so names differ between runs),
// "_", and the item's name. The name comes from a device: a "/" in it would make the copy land
// in another folder, so it becomes "_"; a name too long for the file system is cut at its start,
// keeping its extension.
QString copyFileName(const QString& key, const QString& name) {
    const auto hash = static_cast<qint64>(qHash(key, QHashSeed::globalSeed()));
    const QString hashText =
        hash < 0 ? QStringLiteral("-") + QString::number(0 - quint64(hash), 16) : QString::number(hash, 16);
    const QString prefix = hashText + u'_';
    QString safe = name;
    safe.replace(u'/', u'_');
    safe.replace(QChar(u'\0'), u'_');
    while (!safe.isEmpty() && QFile::encodeName(prefix + safe).size() > maxFileNameBytes)
        safe.remove(0, safe.size() > 1 && safe.at(0).isHighSurrogate() ? 2 : 1);
    return prefix + safe;
}

// The folder for copies; empty when there is none.
QString copiesFolder(const QString& configured) {
    if (!configured.isEmpty())
        return configured;
    const QString base = runTemporaryDirectory();
    return base.isEmpty() ? QString() : base + u'/' + ThumbnailCache::copiesFolderName;
}

// Runs on the executor: the folder for copies, made when missing; empty when there is none.
QString prepareFolder(const QString& configured) {
    const QString folder = copiesFolder(configured);
    if (folder.isEmpty())
        return {};
    // A folder that cannot be made shows as the copy's own failure to write.
    QDir().mkpath(folder);
    return folder;
}

async::Task<void> openSession(AFCBridge* bridge, AFCComponents parts) {
    if (parts.bundleID) {
        async::Task<void> opening = bridge->connectApp(parts.udid, *parts.bundleID);
        co_await opening;
    } else {
        async::Task<void> opening = bridge->connect(parts.udid);
        co_await opening;
    }
}

QString describe(const std::exception& error) {
    return QString::fromUtf8(error.what());
}

} // namespace

struct ThumbnailCache::State {
    explicit State(QString folder) : temporaryFolder(std::move(folder)) {}

    void store(QImage image, const URL& url) {
        if (cache.size() >= maxCacheSize) {
            const qsizetype dropped = std::min<qsizetype>(evictionCount, cacheOrder.size());
            for (qsizetype i = 0; i < dropped; ++i)
                cache.remove(cacheOrder.at(i));
            cacheOrder.remove(0, dropped);
        }
        if (!cache.contains(url))
            cacheOrder.append(url);
        cache.insert(url, std::move(image));
    }

    const QString temporaryFolder;
    async::SerialExecutor executor{QStringLiteral("thumbnails")};
    QHash<URL, QImage> cache;
    // The keys of cache in the order they were first stored: eviction drops the oldest.
    QList<URL> cacheOrder;
    QSet<URL> inFlight;
    // Who asked, through thumbnailAwaitingOthers, for a key while it was in flight.
    QHash<URL, QList<async::Continuation<void>>> waiters;
    // Device item URL text to the whole local copy made for it.
    QHash<QString, URL> afcTempFiles;
};

// Marks a key in flight for as long as it lives, so that the mark goes however the request ends.
class ThumbnailCache::InFlightMark {
public:
    InFlightMark(std::shared_ptr<State> state, URL key) : m_state(std::move(state)), m_key(std::move(key)) {
        m_state->inFlight.insert(m_key);
    }
    ~InFlightMark() {
        m_state->inFlight.remove(m_key);
        for (const async::Continuation<void>& waiter : m_state->waiters.take(m_key))
            waiter.resume();
    }
    InFlightMark(const InFlightMark&) = delete;
    InFlightMark& operator=(const InFlightMark&) = delete;

private:
    std::shared_ptr<State> m_state;
    URL m_key;
};

ThumbnailCache& ThumbnailCache::shared() {
    static ThumbnailCache* const instance = new ThumbnailCache();
    return *instance;
}

ThumbnailCache::ThumbnailCache(QString temporaryFolder)
    : m_state(std::make_shared<State>(std::move(temporaryFolder))) {}

void ThumbnailCache::removeTemporaryCopies() {
    // Only the copies this run made: another instance may be using the folder too.
    for (const URL& copy : std::as_const(m_state->afcTempFiles))
        QFile::remove(copy.toLocalFile());
    m_state->afcTempFiles.clear();
    if (const QString folder = copiesFolder(m_state->temporaryFolder); !folder.isEmpty())
        QDir().rmdir(folder); // only when nothing else is left in it
}

ThumbnailCache::~ThumbnailCache() = default;

async::Task<QImage> ThumbnailCache::localThumbnail(FileItem item) {
    return localThumbnailIn(m_state, std::move(item));
}

async::Task<QImage> ThumbnailCache::thumbnail(FileItem item, AFCBridge* afcBridge) {
    return thumbnailIn(m_state, std::move(item), afcBridge);
}

async::Task<QImage> ThumbnailCache::thumbnailAwaitingOthers(FileItem item, AFCBridge* afcBridge) {
    const std::shared_ptr<State> state = m_state;
    const URL key = item.path();
    if (state->inFlight.contains(key)) {
        async::Task<QImage> waiting = awaitInFlight(state, key);
        co_return co_await waiting;
    }
    async::Task<QImage> making = thumbnailIn(state, std::move(item), afcBridge);
    co_return co_await making;
}

async::Task<QImage> ThumbnailCache::afcImageThumbnail(FileItem item, AFCBridge* afcBridge) {
    return afcImageThumbnailIn(m_state, std::move(item), afcBridge);
}

async::Task<std::optional<URL>> ThumbnailCache::afcLocalCopy(FileItem item, AFCBridge* afcBridge,
                                                             quint64 maxBytes) {
    return afcLocalCopyIn(m_state, std::move(item), afcBridge, maxBytes);
}

void ThumbnailCache::store(QImage image, URL url) {
    m_state->store(std::move(image), url);
}

async::Task<QImage> ThumbnailCache::generateImageThumbnail(URL url) {
    return imageAt(m_state, std::move(url));
}

async::Task<QImage> ThumbnailCache::generateVideoThumbnail(URL url) {
    return videoAt(m_state, std::move(url));
}

int ThumbnailCache::cachedCount() const {
    return int(m_state->cache.size());
}

QImage ThumbnailCache::cachedThumbnail(const URL& url) const {
    return m_state->cache.value(url);
}

async::Task<QImage> ThumbnailCache::awaitInFlight(std::shared_ptr<State> state, URL key) {
    auto start = [&state, &key](async::Continuation<void> continuation) {
        state->waiters[key].append(std::move(continuation));
    };
    co_await async::withContinuation<void>(start);
    co_return state->cache.value(key);
}

async::Task<QImage> ThumbnailCache::thumbnailIn(std::shared_ptr<State> state, FileItem item,
                                                AFCBridge* bridge) {
    const URL key = item.path();
    if (const auto cached = state->cache.constFind(key); cached != state->cache.constEnd())
        co_return cached.value();
    if (!hasThumbnail(item.kind()) || state->inFlight.contains(key))
        co_return QImage();
    if (key.scheme() != afcScheme) {
        async::Task<QImage> making = localThumbnailIn(state, item);
        co_return co_await making;
    }
    const bool isVideo = item.kind() == FileKind::video;
    if (isVideo && item.size() > videoThumbnailMaxSize)
        co_return QImage();

    const InFlightMark mark(state, key);
    if (!isVideo) {
        async::Task<QImage> making = afcImageThumbnailIn(state, item, bridge);
        QImage image = co_await making;
        if (!image.isNull())
            state->store(image, key);
        co_return image;
    }

    async::Task<std::optional<URL>> copying = afcLocalCopyIn(state, item, bridge, videoThumbnailMaxSize);
    const std::optional<URL> copy = co_await copying;
    if (!copy)
        co_return QImage();
    async::Task<QImage> making = videoAt(state, *copy);
    QImage image = co_await making;
    if (!image.isNull()) {
        state->store(image, key);
        co_return image;
    }
    // A copy no frame can be made from is of no use: it goes, and asking again copies anew.
    if (state->afcTempFiles.value(key.absoluteString()) == *copy)
        state->afcTempFiles.remove(key.absoluteString());
    async::Task<void> removing = removeFile(state, copy->toLocalFile());
    co_await removing;
    co_return QImage();
}

async::Task<QImage> ThumbnailCache::localThumbnailIn(std::shared_ptr<State> state, FileItem item) {
    const URL key = item.path();
    if (const auto cached = state->cache.constFind(key); cached != state->cache.constEnd())
        co_return cached.value();
    if (state->inFlight.contains(key) || !hasThumbnail(item.kind()))
        co_return QImage();
    const InFlightMark mark(state, key);
    async::Task<QImage> making = item.kind() == FileKind::video ? videoAt(state, key) : imageAt(state, key);
    QImage image = co_await making;
    if (!image.isNull())
        state->store(image, key);
    co_return image;
}

async::Task<QImage> ThumbnailCache::afcImageThumbnailIn(std::shared_ptr<State> state, FileItem item,
                                                        AFCBridge* bridge) {
    if (!bridge)
        co_return QImage();
    const std::optional<AFCComponents> parts = afcComponents(item.path());
    if (!parts)
        co_return QImage();

    // A JPEG copied whole before (its head was not enough) is not read again by its head.
    if (isJpegName(item.name()) && !state->afcTempFiles.contains(item.path().absoluteString())) {
        QByteArray head;
        std::optional<QString> failure;
        try {
            async::Task<void> opening = openSession(bridge, *parts);
            co_await opening;
            async::Task<QByteArray> reading =
                bridge->readFile(parts->udid, parts->devicePath, imageThumbnailHeadBytes, parts->bundleID);
            head = co_await reading;
        } catch (const std::exception& error) {
            failure = describe(error);
        }
        if (failure) {
            Logger::ui().debug("AFC JPEG thumbnail failed: %s", *failure);
            co_return QImage();
        }
        async::Task<ImageThumbnailer::HeadResult> decoding =
            state->executor.run([head] { return ImageThumbnailer::fromJpegHead(head, maxPixelSize); });
        const ImageThumbnailer::HeadResult result = co_await decoding;
        if (!result.needsWholeFile)
            co_return result.image;
        Logger::ui().debug(
            "JPEG head of %s holds neither the whole picture nor a thumbnail; reading it whole", item.name());
    }

    if (item.size() > imageThumbnailMaxSize)
        co_return QImage();
    async::Task<std::optional<URL>> copying = afcLocalCopyIn(state, item, bridge, imageThumbnailMaxSize);
    const std::optional<URL> copy = co_await copying;
    if (!copy)
        co_return QImage();
    async::Task<QImage> making = imageAt(state, *copy);
    co_return co_await making;
}

async::Task<std::optional<URL>> ThumbnailCache::afcLocalCopyIn(std::shared_ptr<State> state, FileItem item,
                                                               AFCBridge* bridge, quint64 maxBytes) {
    const QString key = item.path().absoluteString();
    async::Task<std::optional<URL>> lookingUp = rememberedCopy(state, key);
    if (std::optional<URL> remembered = co_await lookingUp)
        co_return remembered;
    if (!bridge)
        co_return std::nullopt;
    const std::optional<AFCComponents> parts = afcComponents(item.path());
    if (!parts)
        co_return std::nullopt;

    try {
        async::Task<void> opening = openSession(bridge, *parts);
        co_await opening;
    } catch (const std::exception&) {
        // The copy is tried all the same; when the session is missing, its failure says so.
    }
    quint64 size = item.size();
    if (size == 0) {
        // An unknown size is asked for, so that a file over the limit is not read at all.
        try {
            async::Task<AFCFileInfo> asking =
                bridge->fileInfo(parts->udid, parts->devicePath, parts->bundleID);
            const AFCFileInfo info = co_await asking;
            size = FileItemBuilder::unsignedNumber(info.value(QStringLiteral("st_size"))).value_or(0);
        } catch (const std::exception&) {
            // The copy itself stops at the limit.
        }
    }
    if (size > maxBytes)
        co_return std::nullopt;

    async::Task<QString> preparing =
        state->executor.run([configured = state->temporaryFolder] { return prepareFolder(configured); });
    const QString folder = co_await preparing;
    if (folder.isEmpty()) {
        Logger::ui().error("Thumbnail AFC download failed: %s",
                           QStringLiteral("no private temporary folder"));
        co_return std::nullopt;
    }
    const URL target = URL::fileURL(folder + u'/' + copyFileName(key, item.name()));

    // A listed size can be stale: the copy stops once it holds more than the limit. The bridge
    // writes beside the target and replaces it only when complete, so a stopped or failed copy
    // leaves nothing behind.
    const auto limit = std::make_shared<std::stop_source>();
    const AFCDownloadProgress watch = [limit, maxBytes](quint64 written) {
        if (written > maxBytes)
            limit->request_stop();
    };
    quint64 copied = 0;
    bool stoppedAtLimit = false;
    std::optional<QString> failure;
    try {
        async::Task<quint64> downloading = bridge->download(parts->udid, parts->devicePath, target,
                                                            parts->bundleID, watch, limit->get_token());
        copied = co_await downloading;
    } catch (const async::CancelledError&) {
        if (!limit->stop_requested())
            throw;
        stoppedAtLimit = true;
    } catch (const std::exception& error) {
        failure = describe(error);
    }
    if (failure) {
        Logger::ui().error("Thumbnail AFC download failed: %s", *failure);
        co_return std::nullopt;
    }
    if (stoppedAtLimit || copied > maxBytes) {
        if (!stoppedAtLimit) {
            async::Task<void> removing = removeFile(state, target.toLocalFile());
            co_await removing;
        }
        Logger::ui().debug("No thumbnail copy of %s: it holds more than %llu bytes", item.name(), maxBytes);
        co_return std::nullopt;
    }
    state->afcTempFiles.insert(key, target);
    co_return target;
}

async::Task<std::optional<URL>> ThumbnailCache::rememberedCopy(std::shared_ptr<State> state, QString key) {
    const auto found = state->afcTempFiles.constFind(key);
    if (found == state->afcTempFiles.constEnd())
        co_return std::nullopt;
    const URL copy = found.value();
    async::Task<bool> checking =
        state->executor.run([path = copy.toLocalFile()] { return QFileInfo(path).isFile(); });
    if (co_await checking)
        co_return copy;
    // Gone (the system empties its temporary folders): forgotten, so that it is made again.
    if (state->afcTempFiles.value(key) == copy)
        state->afcTempFiles.remove(key);
    co_return std::nullopt;
}

async::Task<QImage> ThumbnailCache::imageAt(std::shared_ptr<State> state, URL url) {
    if (!url.isFileURL())
        co_return QImage();
    async::Task<QImage> decoding = state->executor.run(
        [path = url.toLocalFile()] { return ImageThumbnailer::fromFile(path, maxPixelSize); });
    co_return co_await decoding;
}

async::Task<QImage> ThumbnailCache::videoAt(std::shared_ptr<State> state, URL url) {
    VideoFrameThumbnailer::Result result;
    if (url.isFileURL()) {
        async::Task<VideoFrameThumbnailer::Result> decoding = state->executor.run(
            [path = url.toLocalFile()] { return VideoFrameThumbnailer::frame(path, maxPixelSize); });
        result = co_await decoding;
    } else {
        result.error = QStringLiteral("not a local file");
    }
    if (result.image.isNull())
        Logger::ui().debug("Video thumbnail failed for %s: %s", url.lastPathComponent(), result.error);
    co_return result.image;
}

async::Task<void> ThumbnailCache::removeFile(std::shared_ptr<State> state, QString path) {
    // A failure to remove is of no consequence: the copy is no longer remembered.
    async::Task<void> removing = state->executor.run([path] { QFile::remove(path); });
    co_await removing;
}

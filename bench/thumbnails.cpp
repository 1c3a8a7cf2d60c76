// Speed of ThumbnailCache. Computer side: thumbnails per second for 12-megapixel JPEGs through
// the cache, beside a bare single-threaded QImageReader loop that decodes the same files at the
// same scaled size, in the same run, so that the ratio says what the cache costs whatever the
// machine. Device side, over the in-process device emulator: phone JPEGs (head read plus EXIF
// thumbnail) and HEICs (whole copy plus embedded thumbnail), per second. Meanwhile a 5 ms timer
// on the main thread measures the longest gap between its ticks: the cache must never hold the
// main thread up.
//
//     thumbnails [computer JPEGs, default 200] [rounds, default 3]
//
// Files live on /dev/shm so that the disk does not set the pace; photos are hard links to a few
// distinct pictures, so that making them costs seconds, not minutes. The best round counts.
// The last line holds the figures for scripts to read.

#include "BenchArguments.h"
#include "BenchSupport.h"
#include "device/AFCBridge.h"
#include "emulator/Emulator.h"
#include "platform/async/RunSync.h"
#include "services/ThumbnailCache.h"

#include "TestMedia.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

const QString udid = QStringLiteral("00008110-00BE4C4B00000002");
const QString album = QStringLiteral("/DCIM/100APPLE/");
constexpr auto noTimeLimit = std::chrono::hours(1);
constexpr int distinctPhotos = 4;
constexpr int devicePhotos = 50;
constexpr int deviceHeics = 20;

void writeFile(const std::filesystem::path& path, const QByteArray& bytes) {
    QFile file(QString::fromStdString(path.string()));
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.flush())
        throw std::runtime_error("cannot write " + path.string());
}

void link(const std::filesystem::path& target, const std::filesystem::path& name) {
    std::filesystem::create_hard_link(target, name);
}

// A phone-like JPEG: 4000 x 3000, a few megabytes, with a 160 x 120 EXIF thumbnail.
QByteArray photo(quint32 seed) {
    const QImage picture = quadrantImage(QSize(4000, 3000), 24, seed);
    return withExif(jpegBytes(picture, 92), 1, jpegBytes(picture.scaled(160, 120), 85));
}

void checkThumbnail(const QImage& image, const std::string& what) {
    if (image.isNull() || std::max(image.width(), image.height()) > ThumbnailCache::maxPixelSize)
        throw std::runtime_error("no proper thumbnail for " + what);
}

// The same work as the cache's, written out plainly.
QImage bareThumbnail(const QString& path) {
    QImageReader reader(path);
    reader.setAutoTransform(true);
    const QSize size = reader.size();
    const int side = ThumbnailCache::maxPixelSize;
    if (size.isValid() && std::max(size.width(), size.height()) > side)
        reader.setScaledSize(size.scaled(side, side, Qt::KeepAspectRatio));
    return reader.read();
}

FileItem itemAt(const URL& url, const QString& name, quint64 size) {
    return FileItem(url.absoluteString(), name, url, false, size, Date(), FileKind::image, std::nullopt);
}

// One request after another, as the preview pane asks while the user moves through a folder.
async::Task<int> requestAll(ThumbnailCache* cache, AFCBridge* bridge, std::vector<FileItem> items) {
    int made = 0;
    for (size_t i = 0; i < items.size(); ++i) {
        async::Task<QImage> one = cache->thumbnail(items[i], bridge);
        const QImage image = co_await one;
        checkThumbnail(image, items[i].name().toStdString());
        ++made;
    }
    co_return made;
}

// Thumbnails per second of one timed run.
double perSecond(size_t count, const std::function<void()>& run) {
    QElapsedTimer timer;
    timer.start();
    run();
    return double(count) / (double(timer.nsecsElapsed()) / 1e9);
}

int run(int argc, char** argv, const std::filesystem::path& work) {
    const std::optional<uint64_t> photoArg =
        argc > 1 ? bench::parseCount("thumbnails", "computer JPEGs", argv[1], 100000) : 200;
    const std::optional<uint64_t> roundArg =
        argc > 2 ? bench::parseCount("thumbnails", "rounds", argv[2], 100) : 3;
    if (!photoArg || !roundArg || argc > 3)
        throw std::runtime_error("usage: thumbnails [computer JPEGs] [rounds]");
    // The photos are links to a few pictures of a few MiB each; the cache keeps its thumbnails
    // in memory.
    if (!bench::roomFor("thumbnails", work, 64 << 20))
        return 2;
    const std::optional<int> photos = int(*photoArg);
    const std::optional<int> rounds = int(*roundArg);

    const std::filesystem::path local = work / "local";
    const std::filesystem::path media = work / "media";
    const std::filesystem::path deviceAlbum = media / "DCIM" / "100APPLE";
    std::filesystem::create_directories(local);
    std::filesystem::create_directories(deviceAlbum);
    for (int i = 0; i < distinctPhotos; ++i)
        writeFile(work / ("photo" + std::to_string(i) + ".jpg"), photo(quint32(i + 1)));
    for (int i = 0; i < 2; ++i) {
        const QString failure =
            writeHeic(QString::fromStdString((work / ("photo" + std::to_string(i) + ".heic")).string()),
                      quadrantImage(QSize(2016, 1512), 24, quint32(i + 7)), 6, 320);
        if (!failure.isEmpty())
            throw std::runtime_error(failure.toStdString());
    }

    std::vector<QString> computerFiles;
    std::vector<FileItem> devicePhotoItems;
    std::vector<FileItem> deviceHeicItems;
    for (int i = 0; i < *photos; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "IMG_%04d.JPG", i);
        link(work / ("photo" + std::to_string(i % distinctPhotos) + ".jpg"), local / name);
        computerFiles.push_back(QString::fromStdString((local / name).string()));
    }
    for (int i = 0; i < devicePhotos + deviceHeics; ++i) {
        const bool heic = i >= devicePhotos;
        char name[32];
        std::snprintf(name, sizeof name, heic ? "IMG_%04d.HEIC" : "IMG_%04d.JPG", 5000 + i);
        const std::filesystem::path source =
            work / (heic ? "photo" + std::to_string(i % 2) + ".heic"
                         : "photo" + std::to_string(i % distinctPhotos) + ".jpg");
        link(source, deviceAlbum / name);
        const URL url = URL::fromComponents(QStringLiteral("afc"), udid, album + QString::fromLatin1(name));
        (heic ? deviceHeicItems : devicePhotoItems)
            .push_back(itemAt(url, QString::fromLatin1(name), std::filesystem::file_size(source)));
    }
    const auto photoBytes = std::filesystem::file_size(work / "photo0.jpg");
    const auto heicBytes = std::filesystem::file_size(work / "photo0.heic");

    const auto emulator = bench::startEmulator(udid.toStdString(), media);

    QCoreApplication app(argc, argv);
    bench::quietLogging();
    bench::StallWatch stalls;
    std::vector<FileItem> computerItems;
    for (const QString& path : computerFiles)
        computerItems.push_back(FileItem(path, QFileInfo(path).fileName(), URL::fileURL(path), false,
                                         quint64(QFileInfo(path).size()), Date(), FileKind::image,
                                         std::nullopt));

    double bare = 0;
    double cached = 0;
    for (int round = 0; round < *rounds; ++round) {
        // Whichever goes second finds the files warmer in the processor's caches; they take turns.
        const auto bareRun = [&] {
            bare = std::max(bare, perSecond(computerFiles.size(), [&] {
                                for (const QString& path : computerFiles)
                                    checkThumbnail(bareThumbnail(path), path.toStdString());
                            }));
        };
        const auto cacheRun = [&] {
            // A fresh cache each round, so that nothing is served from memory.
            ThumbnailCache cache(QString::fromStdString((work / "copies").string()));
            stalls.start();
            cached = std::max(cached, perSecond(computerItems.size(), [&] {
                                  async::runSync(requestAll(&cache, nullptr, computerItems), noTimeLimit);
                              }));
            stalls.stop();
        };
        if (round % 2 == 0) {
            bareRun();
            cacheRun();
        } else {
            cacheRun();
            bareRun();
        }
    }

    AFCBridge bridge;
    double deviceJpegs = 0;
    double deviceHeicRate = 0;
    for (int round = 0; round < *rounds; ++round) {
        ThumbnailCache cache(QString::fromStdString((work / ("copies" + std::to_string(round))).string()));
        stalls.start();
        deviceJpegs = std::max(deviceJpegs, perSecond(devicePhotoItems.size(), [&] {
                                   async::runSync(requestAll(&cache, &bridge, devicePhotoItems), noTimeLimit);
                               }));
        deviceHeicRate =
            std::max(deviceHeicRate, perSecond(deviceHeicItems.size(), [&] {
                         async::runSync(requestAll(&cache, &bridge, deviceHeicItems), noTimeLimit);
                     }));
        stalls.stop();
    }

    std::printf("computer: %zu JPEGs of 4000 x 3000 (%.1f MB each), best of %d rounds\n",
                computerFiles.size(), double(photoBytes) / 1e6, *rounds);
    std::printf("  bare QImageReader loop %7.1f thumbnails/s, ThumbnailCache %7.1f thumbnails/s, ratio %.2f "
                "(target >= 0.80)\n",
                bare, cached, cached / bare);
    std::printf("device over the emulator: %d JPEGs (head read, %.1f MB each), %d HEICs of 2016 x 1512 "
                "(whole copy, %.1f MB each)\n",
                devicePhotos, double(photoBytes) / 1e6, deviceHeics, double(heicBytes) / 1e6);
    std::printf("  JPEG %7.1f thumbnails/s, HEIC %7.1f thumbnails/s\n", deviceJpegs, deviceHeicRate);
    std::printf("main thread: longest gap between ticks of a 5 ms timer %.1f ms (target <= 50)\n",
                stalls.longestMs());
    std::printf("thumbnails ratio=%.2f device_jpeg_per_s=%.1f device_heic_per_s=%.1f max_stall_ms=%.1f\n",
                cached / bare, deviceJpegs, deviceHeicRate, stalls.longestMs());
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    return bench::runInWorkFolder("thumbnails", "/dev/shm", "orvanta-bench", argc, argv, run);
}
